#include "io/ControlPointDocument.hpp"

#include <fcntl.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "common/Error.hpp"
#include "io/JsonText.hpp"

namespace helmert {

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The member `name` of `object`, which must be an object, or null when the
// member is missing. FindMember returns the first of duplicate names.
const JsonValue* FindMember(const JsonValue& object, const char* name) {
  const auto member = object.FindMember(name);
  return member == object.MemberEnd() ? nullptr : &member->value;
}

const JsonValue& RequireArray(const JsonValue& define, const char* name,
                              const std::string& path) {
  const JsonValue* array = FindMember(define, name);
  if (array == nullptr) {
    throw Error(path + ": \"define\" has no member " + Quoted(name));
  }
  if (!array->IsArray()) {
    throw Error(path + ": \"define\"." + Quoted(name) + " is not an array");
  }
  return *array;
}

// Reads one flat array of numbers into points of three coordinates, in
// array order. Refuses an empty array, an element that is not a number
// (naming its index) and a size that is not a multiple of 3.
template <typename PointT>
std::vector<PointT> ReadPointList(const JsonValue& array,
                                  const std::string& member,
                                  const std::string& path) {
  const std::string where = path + ": \"define\"." + Quoted(member);
  const rapidjson::SizeType size = array.Size();
  if (size == 0) throw Error(where + " is empty");
  for (rapidjson::SizeType i = 0; i < size; ++i) {
    if (!array[i].IsNumber()) {
      throw Error(where + " element " + std::to_string(i) + " is not a number");
    }
  }
  if (size % 3 != 0) {
    throw Error(where + " holds " + std::to_string(size) +
                " numbers, not a whole number of (x, y, z) triples");
  }
  std::vector<PointT> points;
  points.reserve(size / 3);
  for (rapidjson::SizeType i = 0; i < size; i += 3) {
    points.push_back({array[i].GetDouble(), array[i + 1].GetDouble(),
                      array[i + 2].GetDouble()});
  }
  return points;
}

// The point names: an array of as many distinct strings as points.
std::vector<std::string> ReadPointNames(const JsonValue& list,
                                        std::size_t count,
                                        const std::string& path) {
  const std::string where = path + ": \"define\".\"names\"";
  if (!list.IsArray()) throw Error(where + " is not an array");
  if (list.Size() != count) {
    throw Error(where + " holds " + std::to_string(list.Size()) +
                " names for " + std::to_string(count) + " points");
  }
  std::vector<std::string> names;
  std::unordered_set<std::string> seen;
  for (rapidjson::SizeType i = 0; i < list.Size(); ++i) {
    if (!list[i].IsString()) {
      throw Error(where + " element " + std::to_string(i) + " is not a string");
    }
    names.emplace_back(list[i].GetString(), list[i].GetStringLength());
    if (!seen.insert(names.back()).second) {
      throw Error(where + " names \"" + names.back() + "\" twice");
    }
  }
  return names;
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat status;
  // A directory opens for reading on this platform but has no content.
  if (descriptor < 0 || ::fstat(descriptor, &status) != 0 ||
      S_ISDIR(status.st_mode)) {
    if (descriptor >= 0) ::close(descriptor);
    throw Error("Error opening file: " + path);
  }
  std::string text;
  try {
    if (S_ISREG(status.st_mode) && status.st_size > 0) {
      text.reserve(static_cast<std::size_t>(status.st_size));
    }
    char chunk[1 << 16];
    for (;;) {
      const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
      if (count == 0) break;
      if (count < 0) {
        if (errno == EINTR) continue;
        throw Error("Error reading file: " + path + ": " +
                    std::strerror(errno));
      }
      text.append(chunk, static_cast<std::size_t>(count));
    }
  } catch (...) {
    ::close(descriptor);
    throw;
  }
  ::close(descriptor);
  return text;
}

ControlPoints ParseControlPointDocument(const std::string& text,
                                        const std::string& path,
                                        std::vector<std::string>* names) {
  JsonDocument document;
  ParseJsonObject(text, path, document);
  const JsonValue* define = FindMember(document, "define");
  if (define == nullptr) {
    throw Error(path + ": the document has no member \"define\"");
  }
  if (!define->IsObject()) {
    throw Error(path + ": \"define\" is not an object");
  }

  ControlPoints points;
  points.source = ReadPointList<GeodeticPoint>(
      RequireArray(*define, "srcpoints", path), "srcpoints", path);
  points.destination = ReadPointList<Point3>(
      RequireArray(*define, "despoints", path), "despoints", path);
  if (points.source.size() != points.destination.size()) {
    throw Error(path + ": \"srcpoints\" holds " +
                std::to_string(points.source.size()) +
                " points but \"despoints\" holds " +
                std::to_string(points.destination.size()));
  }
  if (names != nullptr) {
    names->clear();
    const JsonValue* list = FindMember(*define, "names");
    if (list != nullptr) {
      *names = ReadPointNames(*list, points.source.size(), path);
    }
  }
  return points;
}

std::string ControlDocumentWithout(const std::string& text,
                                   const std::string& path,
                                   const std::vector<bool>& drop) {
  JsonDocument document;
  ParseJsonObject(text, path, document);
  JsonValue& define = document.FindMember("define")->value;
  // Elements erased back to front, so that the indices ahead stay valid.
  const auto erase = [&drop](JsonValue& array, std::size_t width) {
    for (std::size_t k = drop.size(); k-- > 0;) {
      if (!drop[k]) continue;
      const auto first = array.Begin() + width * k;
      array.Erase(first, first + width);
    }
  };
  erase(define.FindMember("srcpoints")->value, 3);
  erase(define.FindMember("despoints")->value, 3);
  const auto names = define.FindMember("names");
  if (names != define.MemberEnd()) erase(names->value, 1);
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  writer.SetIndent(' ', 2);
  writer.SetFormatOptions(rapidjson::kFormatSingleLineArray);
  document.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

}  // namespace helmert
