// The run of helmert-report: read a control-point document and a result
// document, assess the transformation on the points, print the report and
// write the optional plot and JSON report.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "common/Error.hpp"
#include "statistics/BlunderTest.hpp"

namespace helmert {

inline constexpr char kReportUsage[] =
    "usage: helmert-report CONTROL.json RESULT.json [--fit FIT.json] "
    "[--svg PLOT.svg] [--json REPORT.json] [--geojson POINTS.geojson] "
    "[--without NAMES_OR_NUMBERS --write-control NEW.json] "
    "[--sigma-plan M --sigma-height M]";

// What --help prints: the usage line and a line for every option.
inline constexpr char kReportHelp[] =
    "usage: helmert-report CONTROL.json RESULT.json [--fit FIT.json] "
    "[--svg PLOT.svg] [--json REPORT.json] [--geojson POINTS.geojson] "
    "[--without NAMES_OR_NUMBERS --write-control NEW.json] "
    "[--sigma-plan M --sigma-height M]\n"
    "Checks a transformation written by helmert-fit against control points.\n"
    "  CONTROL.json                 control points (helmert-fit's input "
    "form)\n"
    "  RESULT.json                  the transformation (helmert-fit's "
    "result)\n"
    "  --fit FIT.json               the points RESULT was fitted on: judge "
    "CONTROL's as check points\n"
    "  --svg PLOT.svg               write the residual plot\n"
    "  --json REPORT.json           write the report as JSON\n"
    "  --geojson POINTS.geojson     write the points and residuals as "
    "GeoJSON\n"
    "  --without LIST               points to leave out (names or numbers "
    "from 1, comma-separated)\n"
    "  --write-control NEW.json     write CONTROL without them (goes with "
    "--without)\n"
    "  --sigma-plan M               the survey's standard deviation of an "
    "easting or a northing\n"
    "                               (metres, GNSS and grid together): test "
    "against it\n"
    "  --sigma-height M             the same of a height (goes with "
    "--sigma-plan)\n"
    "  --version                    the version and the libraries it was "
    "built with\n"
    "  -h, --help                   this text\n";

// Wrong usage of the command line (exit status 1).
class UsageError : public Error {
 public:
  using Error::Error;
};

struct ReportArguments {
  bool help = false;  // --help or -h: print kReportHelp, nothing else
  bool version = false;  // --version: the version line, nothing else
  std::string control_path;
  std::string result_path;
  // The control-point document RESULT was fitted on: CONTROL's points are
  // then check points judged against that fit. Empty: none.
  std::string fit_path;
  std::string svg_path;      // empty: no plot
  std::string json_path;     // empty: no JSON report
  std::string geojson_path;  // empty: no GeoJSON
  // Points to leave out of a new control-point document (names or numbers
  // from 1, separated by commas), and where to write it.
  std::string without;
  std::string write_control_path;
  // The survey's precision as given (metres), both or neither, and as read.
  std::string sigma_plan;
  std::string sigma_height;
  StatedPrecision stated;
};

// The arguments after the program name: two documents and the options
// "--fit PATH", "--svg PATH", "--json PATH", "--geojson PATH", "--without
// LIST" with "--write-control PATH", "--sigma-plan M" with "--sigma-height
// M" (or "--svg=PATH"), in any order, each at most once; a standard
// deviation above 0 and at most 100 m. Throws UsageError for anything else, and when an
// output path is one of the input paths or both outputs share one.
ReportArguments ParseReportArguments(const std::vector<std::string>& arguments);

// Reads and checks both documents (the same readers, checks and messages as
// helmert-fit), builds the report, writes the requested files to their
// temporaries, checks that each can replace its target, prints the text
// report on `out`, and only then replaces the files. Throws Error on any
// failure, also when the report could not be written to `out`; no output
// file is left half-written, and none is replaced unless all are and the
// report was printed.
void RunHelmertReport(const ReportArguments& arguments, std::ostream& out);

}  // namespace helmert
