#include "control/ControlRun.hpp"

#include <charconv>
#include <cmath>

#include "control/Angles.hpp"
#include "control/GridByCode.hpp"
#include "control/PointLists.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ControlPoints.hpp"
#include "io/OutputFile.hpp"
#include "io/Streams.hpp"

namespace helmert {

const char kControlHelp[] =
    "usage: helmert-control WGS84.csv GRID.csv CONTROL.json "
    "[--grid EPSG:CODE | --central-meridian DEG [--scale-factor K]]\n"
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
    "  --scale-factor K          the grid's scale factor on its central "
    "meridian (0.99 to 1.01),\n"
    "                            written as \"scale_factor\"\n"
    "  --grid EPSG:CODE          a transverse Mercator grid by its code in "
    "PROJ's database:\n"
    "                            writes its central meridian and scale "
    "factor\n"
    "  --encoding NAME           the lists' encoding when not UTF-8 (GBK, "
    "LATIN1; UTF-16 with\n"
    "                            a byte-order mark is read as such)\n"
    "  --version                 the version and the libraries it was built "
    "with\n"
    "  -h, --help                this text\n";

namespace {

// The names of the points, comma-separated, at most `most` of them.
std::string NameList(const PointList& points,
                     const std::vector<std::size_t>& names) {
  constexpr std::size_t kMost = 20;
  std::string list;
  for (std::size_t k = 0; k < names.size() && k < kMost; ++k) {
    list +=
        (k == 0 ? "" : ", ") + ShownText(std::string(points.Name(names[k])));
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
  struct ValuedOption {
    const char* flag;
    const char* what;  // what the value is, for the refusal of none
    std::string* value;
  };
  const ValuedOption options[] = {
      {"--central-meridian", "a value in degrees", &parsed.central_meridian},
      {"--scale-factor", "a value such as 0.9996", &parsed.scale_factor},
      {"--grid", "a code such as EPSG:27700", &parsed.grid},
      {"--encoding", "an encoding such as GBK", &parsed.encoding},
  };
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    const std::string& argument = arguments[k];
    if (argument == "--help" || argument == "-h") {
      parsed.help = true;
      return parsed;
    }
    if (argument == "--version") {
      parsed.version = true;
      return parsed;
    }
    const ValuedOption* option = nullptr;
    std::string value;
    for (const ValuedOption& candidate : options) {
      const std::string flag = candidate.flag;
      if (argument == flag) {
        if (k + 1 == arguments.size()) {
          throw ControlUsageError(flag + " needs " + candidate.what);
        }
        option = &candidate;
        value = arguments[++k];
      } else if (argument.compare(0, flag.size() + 1, flag + "=") == 0) {
        option = &candidate;
        value = argument.substr(flag.size() + 1);
      }
      if (option != nullptr) break;
    }
    if (option == nullptr) {
      if (argument.size() > 1 && argument[0] == '-') {
        throw ControlUsageError("unknown option " + argument);
      }
      files.push_back(argument);
      continue;
    }
    const std::string flag = option->flag;
    if (!option->value->empty()) {
      throw ControlUsageError(flag + " is given twice");
    }
    if (value.empty()) throw ControlUsageError(flag + " needs " + option->what);
    *option->value = value;
  }
  if (!parsed.grid.empty() &&
      !(parsed.central_meridian.empty() && parsed.scale_factor.empty())) {
    throw ControlUsageError(
        "--grid gives the central meridian and the scale factor: give "
        "either --grid or --central-meridian and --scale-factor");
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
  std::optional<std::string> scale_text;
  std::optional<GridDefinition> grid_definition;
  if (!arguments.grid.empty()) {
    grid_definition = ReadGridDefinition(arguments.grid);
    meridian_text =
        JsonNumberText("", grid_definition->central_meridian_degrees);
    scale_text = JsonNumberText("", grid_definition->scale_factor);
  }
  if (!arguments.scale_factor.empty()) {
    const std::string& text = arguments.scale_factor;
    double factor = 0.0;
    const auto read =
        std::from_chars(text.data(), text.data() + text.size(), factor);
    if (read.ec != std::errc() || read.ptr != text.data() + text.size() ||
        !(factor >= kLeastScaleFactor && factor <= kMostScaleFactor)) {
      throw Error("--scale-factor " + text +
                  ": not a scale factor within [0.99, 1.01] (the grid's on "
                  "its central meridian, such as UTM's 0.9996)");
    }
    scale_text = JsonNumberText(text, factor);
  }
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
  const PointList wgs84 = ReadWgs84Points(
      DecodeListText(ReadTextFile(arguments.wgs84_path), arguments.encoding,
                     arguments.wgs84_path),
      arguments.wgs84_path);
  const PointList grid = ReadGridPoints(
      DecodeListText(ReadTextFile(arguments.grid_path), arguments.encoding,
                     arguments.grid_path),
      arguments.grid_path);
  const MatchedPoints matched = MatchByName(wgs84, grid);
  if (matched.wgs84.size() < 3) {
    throw Error(arguments.wgs84_path + ", " + arguments.grid_path + ": " +
                std::to_string(matched.wgs84.size()) +
                " point name(s) in both lists; a fit needs at least 3");
  }
  OutputFile control(arguments.control_path);
  WriteControlDocument(
      wgs84, grid, matched, meridian_text, scale_text,
      [&control](const std::string& piece) { control.Append(piece); });
  control.Finish();

  const std::string wgs84_path = ShownText(arguments.wgs84_path);
  const std::string grid_path = ShownText(arguments.grid_path);
  out << "helmert-control: " << matched.wgs84.size()
      << " points matched by name (" << wgs84.size() << " in " << wgs84_path
      << ", " << grid.size() << " in " << grid_path << ")\n";
  if (!matched.only_wgs84.empty()) {
    out << "  only in " << wgs84_path << ": "
        << NameList(wgs84, matched.only_wgs84) << "\n";
  }
  if (!matched.only_grid.empty()) {
    out << "  only in " << grid_path << ": "
        << NameList(grid, matched.only_grid) << "\n";
  }
  if (grid_definition) {
    out << "  grid " << grid_definition->code << " "
        << ShownText(grid_definition->Description()) << "\n";
    if (grid_definition->west_south) {
      out << "  its axes point west and south: give easting = -westing, "
             "northing = -southing in the grid list\n";
    }
  }
  out << "  written to " << ShownText(arguments.control_path) << "\n";
  // The document replaces the old one only once the console has the
  // summary.
  RequireWritten(out);
  control.Commit();
}

}  // namespace helmert
