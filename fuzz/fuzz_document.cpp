// libFuzzer target over the whole input path: document text -> parse ->
// checks -> zone -> projection -> geometry check -> fit -> fit check ->
// result document, which must parse back as a JSON object. A refusal (Error)
// is a correct answer; anything else that escapes, traps or is reported by a
// sanitizer is a finding.
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>

#include "app/Run.hpp"
#include "common/Error.hpp"
#include "io/ControlPointDocument.hpp"

namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Keeps each input fast enough for the fuzzer to explore widely; larger
// point counts take the same code paths.
constexpr std::size_t kMostPointsToFit = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  NullBuffer null;
  std::ostream sink(&null);
  try {
    const helmert::ControlPoints points =
        helmert::ParseControlPointDocument(text, "fuzz.json");
    if (points.source.size() > kMostPointsToFit) return 0;
    const std::string result =
        helmert::FitControlPoints(points, "fuzz.json", sink, sink);
    rapidjson::Document document;
    document.Parse(result.data(), result.size());
    if (document.HasParseError() || !document.IsObject() ||
        document.MemberCount() != 4) {
      std::abort();
    }
  } catch (const helmert::Error&) {
  }
  return 0;
}
