// The run of helmert-control: two point lists in, one control-point
// document out.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "common/Error.hpp"

namespace helmert {

inline constexpr char kControlUsage[] =
    "usage: helmert-control WGS84.csv GRID.csv CONTROL.json "
    "[--grid EPSG:CODE | --central-meridian DEG [--scale-factor K]]";

// What --help prints: the usage line and a line for every option.
extern const char kControlHelp[];

// Wrong usage of the command line (exit status 1).
class ControlUsageError : public Error {
 public:
  using Error::Error;
};

struct ControlArguments {
  bool help = false;  // --help or -h
  bool version = false;  // --version
  std::string wgs84_path;
  std::string grid_path;
  std::string control_path;
  // The grid's central meridian as given (decimal degrees or sexagesimal,
  // "114" or "114:10:42.8"), empty when not given.
  std::string central_meridian;
  // The grid's scale factor on its central meridian as given ("0.9996"),
  // empty when not given.
  std::string scale_factor;
  // The grid's code in PROJ's database ("EPSG:27700"), empty when not
  // given; it gives both the central meridian and the scale factor.
  std::string grid;
  // The lists' encoding when they are not UTF-8 ("GBK"), empty when not
  // given.
  std::string encoding;
};

// The arguments after the program name: three files and, anywhere, each at
// most once, "--central-meridian DEG", "--scale-factor K" and
// "--grid CODE" (or "--option=VALUE"); --grid with neither of the others.
// Throws ControlUsageError for anything else, and when the output is one
// of the inputs.
ControlArguments ParseControlArguments(
    const std::vector<std::string>& arguments);

// Reads both lists, matches their points by name, writes the control-point
// document (through OutputFile: whole or not at all) and then prints on
// `out` how many points matched and the names found in one list only.
// Throws Error, before writing anything, for a list it refuses, a central
// meridian that is not an angle within [-180, 180], a scale factor outside
// [0.99, 1.01], a grid code that is not a transverse Mercator grid in
// PROJ's database (ReadGridDefinition) and fewer than 3 matched points.
void RunHelmertControl(const ControlArguments& arguments, std::ostream& out);

}  // namespace helmert
