#include "io/JsonText.hpp"

#include <charconv>

#include <rapidjson/error/en.h>

#include "common/Error.hpp"

namespace helmert {

std::string ShortestNumberText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void ParseJsonObject(const std::string& text, const std::string& path,
                     JsonDocument& document) {
  // The iterative parser accepts exactly the grammar of the default one but
  // keeps its stack on the heap: a document of a few megabytes of brackets
  // would overflow the call stack of the recursive parser.
  document.Parse<rapidjson::kParseIterativeFlag>(text.data(), text.size());
  if (document.HasParseError()) {
    throw Error(path + ": invalid JSON at byte offset " +
                std::to_string(document.GetErrorOffset()) + ": " +
                rapidjson::GetParseError_En(document.GetParseError()));
  }
  if (!document.IsObject()) {
    throw Error(path + ": the document is not a JSON object");
  }
}

void ThrowIfParseError(const JsonReader& reader, const std::string& path) {
  if (reader.HasParseError()) {
    throw Error(path + ": invalid JSON at byte offset " +
                std::to_string(reader.GetErrorOffset()) + ": " +
                rapidjson::GetParseError_En(reader.GetParseErrorCode()));
  }
}

}  // namespace helmert
