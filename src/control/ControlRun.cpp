#include "control/ControlRun.hpp"

#include <cmath>

#include "control/Angles.hpp"
#include "control/PointLists.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/OutputFile.hpp"
#include "io/Streams.hpp"

namespace helmert {

const char kControlHelp[] =
    "usage: helmert-control WGS84.csv GRID.csv CONTROL.json "
    "[--central-meridian DEG]\n"
    "Matches two point lists by name and writes helmert-fit's control-point "
    "document.\n"
    "  WGS84.csv                 name, lat, lon, h (ellipsoidal) columns; "
    "angles decimal or sexagesimal\n"
    "  GRID.csv                  name, easting, northing, height columns "
    "(metres)\n"
    "  CONTROL.json              the document written (replaced whole or not "
    "at all)\n"
    "  --central-meridian DEG    the grid's central meridian, written as "
    "\"central_meridian\"\n"
    "  -h, --help                this text\n";

namespace {

// The names, comma-separated, at most `most` of them.
std::string NameList(const std::vector<std::string>& names) {
  constexpr std::size_t kMost = 20;
  std::string list;
  for (std::size_t k = 0; k < names.size() && k < kMost; ++k) {
    list += (k == 0 ? "" : ", ") + ShownText(names[k]);
  }
  if (names.size() > kMost) {
    list += " and " + std::to_string(names.size() - kMost) + " more";
  }
  return list;
}

}  // namespace

ControlArguments ParseControlArguments(
    const std::vector<std::string>& arguments) {
  ControlArguments parsed;
  std::vector<std::string> files;
  const std::string flag = "--central-meridian";
  bool meridian_given = false;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string& argument = arguments[k];
    if (argument == "--help" || argument == "-h") {
      parsed.help = true;
      return parsed;
    }
    std::string value;
    if (argument == flag) {
      if (k + 1 == arguments.size()) {
        throw ControlUsageError(flag + " needs a value in degrees");
      }
      value = arguments[++k];
    } else if (argument.compare(0, flag.size() + 1, flag + "=") == 0) {
      value = argument.substr(flag.size() + 1);
    } else if (argument.size() > 1 && argument[0] == '-') {
      throw ControlUsageError("unknown option " + argument);
    } else {
      files.push_back(argument);
      continue;
    }
    if (meridian_given) throw ControlUsageError(flag + " is given twice");
    if (value.empty()) throw ControlUsageError(flag + " needs a value in degrees");
    meridian_given = true;
    parsed.central_meridian = value;
  }
  if (files.size() != 3) {
    throw ControlUsageError(
        "expected three files, WGS84.csv, GRID.csv and CONTROL.json");
  }
  parsed.wgs84_path = files[0];
  parsed.grid_path = files[1];
  parsed.control_path = files[2];
  if (SameFileOrName(parsed.control_path, parsed.wgs84_path) ||
      SameFileOrName(parsed.control_path, parsed.grid_path)) {
    throw ControlUsageError("the output " + parsed.control_path +
                            " would replace an input");
  }
  return parsed;
}

void RunHelmertControl(const ControlArguments& arguments, std::ostream& out) {
  std::optional<std::string> meridian_text;
  if (!arguments.central_meridian.empty()) {
    const AngleReading meridian = ReadAngle(arguments.central_meridian,
                                            AngleAxis::kLongitude, false);
    if (!meridian.ok || !(std::fabs(meridian.degrees) <= 180.0)) {
      throw Error("--central-meridian " + arguments.central_meridian +
                  ": not a longitude within [-180, 180] degrees");
    }
    meridian_text = JsonNumberText(
        meridian.plain_number ? arguments.central_meridian : "",
        meridian.degrees);
  }
  const std::vector<ListedPoint> wgs84 =
      ReadWgs84Points(ReadTextFile(arguments.wgs84_path), arguments.wgs84_path);
  const std::vector<ListedPoint> grid =
      ReadGridPoints(ReadTextFile(arguments.grid_path), arguments.grid_path);
  const MatchedPoints matched = MatchByName(wgs84, grid);
  if (matched.wgs84.size() < 3) {
    throw Error(arguments.wgs84_path + ", " + arguments.grid_path + ": " +
                std::to_string(matched.wgs84.size()) +
                " point name(s) in both lists; a fit needs at least 3");
  }
  OutputFile control(arguments.control_path);
  control.Write(ControlDocumentText(matched, meridian_text));

  const std::string wgs84_path = ShownText(arguments.wgs84_path);
  const std::string grid_path = ShownText(arguments.grid_path);
  out << "helmert-control: " << matched.wgs84.size()
      << " points matched by name (" << wgs84.size() << " in " << wgs84_path
      << ", " << grid.size() << " in " << grid_path << ")\n";
  if (!matched.only_wgs84.empty()) {
    out << "  only in " << wgs84_path << ": " << NameList(matched.only_wgs84)
        << "\n";
  }
  if (!matched.only_grid.empty()) {
    out << "  only in " << grid_path << ": " << NameList(matched.only_grid)
        << "\n";
  }
  out << "  written to " << ShownText(arguments.control_path) << "\n";
  // The document replaces the old one only once the console has the
  // summary.
  RequireWritten(out);
  control.Commit();
}

}  // namespace helmert
