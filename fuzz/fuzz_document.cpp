// libFuzzer target over the whole input path: document text -> parse ->
// checks -> zone -> projection -> geometry check -> fit -> fit check ->
// result document, which must parse back as a JSON object; no number in the
// console or the result is infinite or not a number. A refusal (Error)
// is a correct answer; anything else that escapes, traps or is reported by a
// sanitizer is a finding.
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "FiniteOutput.hpp"
#include "app/Run.hpp"
#include "common/Error.hpp"
#include "io/ControlPointDocument.hpp"

namespace {

// Keeps each input fast enough for the fuzzer to explore widely; larger
// point counts take the same code paths.
constexpr std::size_t kMostPointsToFit = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::ostringstream console;
  std::ostringstream warnings;
  try {
    const helmert::ControlPoints points =
        helmert::ParseControlPointDocument(text, "fuzz.json");
    if (points.source.size() > kMostPointsToFit) return 0;
    const std::string result =
        helmert::FitControlPoints(points, "fuzz.json", console, warnings);
    rapidjson::Document document;
    document.Parse(result.data(), result.size());
    // "R", "T", "S", "L0", and "k0" when the document names a scale
    // factor.
    const rapidjson::SizeType members = points.scale_factor ? 5 : 4;
    if (document.HasParseError() || !document.IsObject() ||
        document.MemberCount() != members ||
        !helmert::fuzzing::AllNumbersFinite(result)) {
      std::abort();
    }
  } catch (const helmert::Error&) {
  }
  // The console, also of a refused fit, prints no number that is not
  // finite; the solver's own report is the library's and is left out.
  const std::string printed = console.str();
  const std::size_t parameters = printed.find("T_x = ");
  if (parameters != std::string::npos &&
      !helmert::fuzzing::AllNumbersFinite(printed.substr(parameters))) {
    std::abort();
  }
  return 0;
}
