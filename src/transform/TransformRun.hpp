// The run of helmert-transform: a surveyor's points taken through a
// fitted transformation, to the grid or to WGS84, as a filter.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "common/Error.hpp"

namespace helmert {

inline constexpr char kTransformUsage[] =
    "usage: helmert-transform RESULT.json --to-grid|--to-wgs84 [INPUT "
    "[OUTPUT]] [--control CONTROL.json] [--geojson OUT.geojson] [--dms]";

// What --help prints: the usage line and a line for every option.
extern const char kTransformHelp[];

// Wrong usage of the command line (exit status 1).
class TransformUsageError : public Error {
 public:
  using Error::Error;
};

struct TransformArguments {
  bool help = false;     // --help or -h
  bool version = false;  // --version
  std::string result_path;
  bool to_grid = false;  // --to-grid; else --to-wgs84
  std::string input_path;   // "-" or empty: standard input
  std::string output_path;  // "-" or empty: standard output
  std::string control_path;  // empty: no precision or extent
  std::string geojson_path;  // empty: none
  bool dms = false;          // angles written sexagesimal
};

// The arguments after the program name: the result document, exactly one
// of --to-grid and --to-wgs84, at most an input and an output, and the
// options, each at most once ("--control PATH" or "--control=PATH").
// Throws TransformUsageError for anything else, and when an output is one
// of the inputs or both outputs are one file.
TransformArguments ParseTransformArguments(
    const std::vector<std::string>& arguments);

// Reads the result (and the control points), then the input's rows one
// block at a time: each row transformed and written in order, every other
// column as it was. `in` and `out` stand for standard input and output;
// `summary` receives one line at the end. Throws Error, naming file, line
// and column, for a row it cannot read or a point beyond the zone's
// series; files written are replaced only when the whole run succeeded.
void RunHelmertTransform(const TransformArguments& arguments, int in,
                         std::ostream& out, std::ostream& summary);

}  // namespace helmert
