// libFuzzer target over helmert-report's path. The first byte chooses what
// the rest of the input is: even, a result document evaluated on a fixed
// set of control points; odd, a control-point document evaluated with a
// fixed result document. Every accepted input must give a text report, a
// JSON report that parses back as an object, and a plot, with no number in
// any of them infinite or not a number. A refusal (Error)
// is a correct answer; anything else that escapes, traps or is reported by
// a sanitizer is a finding.
#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FiniteOutput.hpp"
#include "common/Error.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"
#include "report/Report.hpp"
#include "report/ReportForms.hpp"

namespace {

// Four points of examples/ordos.json and a result document fitted to all
// sixteen.
constexpr char kControl[] =
    R"({"define":{"srcpoints":[110.6957641,38.5965729,1441.31,)"
    R"(110.1516174,38.56754,1369.725,110.0923033,38.4109669,1244.028,)"
    R"(110.1926326,38.903275,1199.846],"despoints":[473451.987,4273805.54,)"
    R"(1498.708,426018.095,4270880.082,1427.458,420677.322,4253548.617,)"
    R"(1301.885,429921.314,4308118.445,1257.358]}})";
constexpr char kResult[] =
    R"({"R":[0.9999999999551121,4.871420465680077e-8,-0.0000066996560368788)"
    R"(409,-4.878365318045613e-8,0.9999999999731342,-0.00000518299159770151)"
    R"(7,0.00000669965553154823,0.0000051829922509036039,0.9999999999282512)"
    R"(],"T":[-39.67487822915914,81.05938610404601,82.73389921995451],"S":0)"
    R"(.999991031377671,"L0":111.0})";

constexpr std::size_t kMostPoints = 256;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const bool control_from_input = (data[0] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string control = control_from_input ? text : std::string(kControl);
  try {
    std::vector<std::string> names;
    helmert::ControlPoints points =
        helmert::ParseControlPointDocument(control, "control.json", &names);
    if (points.source.size() > kMostPoints) return 0;
    helmert::ValidateControlPoints(points, "control.json");
    // --write-control: every other point dropped, the copy must read back
    // with the others, their names and their numbers exactly.
    if (points.source.size() >= 6) {
      std::vector<bool> drop(points.source.size());
      for (std::size_t i = 0; i < drop.size(); i += 2) drop[i] = true;
      std::vector<std::string> kept_names;
      const helmert::ControlPoints kept = helmert::ParseControlPointDocument(
          helmert::ControlDocumentWithout(control, "control.json", drop),
          "copy.json", &kept_names);
      if (kept.source.size() != points.source.size() / 2 ||
          kept_names.size() != kept.source.size()) {
        std::abort();
      }
      for (std::size_t i = 1, k = 0; i < drop.size(); i += 2, ++k) {
        if (kept.source[k].longitude_degrees !=
                points.source[i].longitude_degrees ||
            kept.destination[k].z != points.destination[i].z ||
            (!names.empty() && kept_names[k] != names[i])) {
          std::abort();
        }
      }
    }
    const helmert::StoredTransformation stored = helmert::ParseResultDocument(
        control_from_input ? std::string(kResult) : text, "result.json");
    const helmert::TransformationReport report = helmert::BuildReport(
        "control.json", std::move(points), "result.json", stored, nullptr, "",
        names);
    const std::string text = helmert::FormatTextReport(report);
    const std::string plot = helmert::FormatResidualPlot(report);
    const std::string json = helmert::FormatJsonReport(report);
    if (text.empty() || plot.find("</svg>") == std::string::npos) {
      std::abort();
    }
    // Names reach the text only escaped: no control character but the
    // line ends.
    for (const char c : text) {
      const unsigned char u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\n') || u == 0x7F) std::abort();
    }
    // A name may hold "inf" or "nan" as a word of its own: then the
    // outputs, which show it, cannot be searched for such numbers.
    bool names_hold_no_number_words = true;
    for (const std::string& name : names) {
      names_hold_no_number_words =
          names_hold_no_number_words && helmert::fuzzing::AllNumbersFinite(name);
    }
    for (const std::string* output : {&text, &plot, &json}) {
      if (names_hold_no_number_words &&
          !helmert::fuzzing::AllNumbersFinite(*output)) {
        std::abort();
      }
    }
    rapidjson::Document document;
    document.Parse(json.data(), json.size());
    if (document.HasParseError() || !document.IsObject()) std::abort();
  } catch (const helmert::Error&) {
  }
  return 0;
}
