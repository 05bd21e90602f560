#include "transform/TransformRun.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "control/DelimitedText.hpp"
#include "control/PointLists.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/JsonText.hpp"
#include "io/OutputFile.hpp"
#include "io/ResultDocument.hpp"
#include "io/Streams.hpp"
#include "transform/Transformation.hpp"

namespace helmert {

const char kTransformHelp[] =
    "usage: helmert-transform RESULT.json --to-grid|--to-wgs84 [INPUT "
    "[OUTPUT]] [--control CONTROL.json] [--geojson OUT.geojson] [--dms]\n"
    "Takes a surveyor's points through a transformation written by "
    "helmert-fit.\n"
    "  RESULT.json               the transformation (helmert-fit's result)\n"
    "  --to-grid                 WGS84 points (name, lat, lon, h "
    "ellipsoidal) to the grid\n"
    "  --to-wgs84                grid points (name, easting, northing, "
    "height) to WGS84\n"
    "  INPUT                     delimited text with a header, as "
    "helmert-control reads it\n"
    "                            (absent or -: standard input)\n"
    "  OUTPUT                    the rows with the other frame's "
    "coordinates (absent or -:\n"
    "                            standard output); replaced whole or not "
    "at all\n"
    "  --control CONTROL.json    the control points RESULT was fitted to: "
    "adds each\n"
    "                            coordinate's standard deviation and how "
    "far a point lies\n"
    "                            outside the control area\n"
    "  --geojson OUT.geojson     also write the points as GeoJSON\n"
    "  --dms                     write angles sexagesimal (38°48'13.89204\"N)\n"
    "  --version                 the version and the libraries it was "
    "built with\n"
    "  -h, --help                this text\n";

namespace {

// Rows transformed and written at a time: the memory of a run.
constexpr std::size_t kBlockBytes = 1 << 20;

// A point less than this (metres) outside the control points' hull is on
// it: the transformed control points themselves lie off it by their
// residuals.
constexpr double kLeastOutsideMetres = 1.0;

bool IsStandardStream(const std::string& path) {
  return path.empty() || path == "-";
}

}  // namespace

TransformArguments ParseTransformArguments(
    const std::vector<std::string>& arguments) {
  TransformArguments parsed;
  std::vector<std::string> files;
  bool direction_given = false;
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
    if (argument == "--to-grid" || argument == "--to-wgs84") {
      if (direction_given) {
        throw TransformUsageError(
            "give one direction, --to-grid or --to-wgs84");
      }
      direction_given = true;
      parsed.to_grid = argument == "--to-grid";
      continue;
    }
    if (argument == "--dms") {
      if (parsed.dms) throw TransformUsageError("--dms is given twice");
      parsed.dms = true;
      continue;
    }
    std::string* target = nullptr;
    std::string flag;
    for (const auto& [name, path] :
         {std::make_pair("--control", &parsed.control_path),
          std::make_pair("--geojson", &parsed.geojson_path)}) {
      const std::string prefix = std::string(name) + "=";
      if (argument == name || argument.compare(0, prefix.size(), prefix) == 0) {
        target = path;
        flag = name;
      }
    }
    if (target == nullptr) {
      if (argument.size() > 1 && argument[0] == '-') {
        throw TransformUsageError("unknown option " + argument);
      }
      files.push_back(argument);
      continue;
    }
    std::string value;
    if (argument == flag) {
      if (k + 1 == arguments.size()) {
        throw TransformUsageError(flag + " needs a file name");
      }
      value = arguments[++k];
    } else {
      value = argument.substr(flag.size() + 1);
    }
    if (value.empty()) throw TransformUsageError(flag + " needs a file name");
    if (!target->empty()) throw TransformUsageError(flag + " is given twice");
    *target = value;
  }
  if (files.empty() || files.size() > 3) {
    throw TransformUsageError(
        "expected RESULT.json and at most an input and an output");
  }
  if (!direction_given) {
    throw TransformUsageError("give a direction, --to-grid or --to-wgs84");
  }
  if (parsed.dms && parsed.to_grid) {
    throw TransformUsageError("--dms writes angles: it goes with --to-wgs84");
  }
  parsed.result_path = files[0];
  if (files.size() > 1) parsed.input_path = files[1];
  if (files.size() > 2) parsed.output_path = files[2];
  std::vector<std::string> inputs = {parsed.result_path};
  if (!IsStandardStream(parsed.input_path)) inputs.push_back(parsed.input_path);
  if (!parsed.control_path.empty()) inputs.push_back(parsed.control_path);
  for (const std::string* output : {&parsed.output_path, &parsed.geojson_path}) {
    if (IsStandardStream(*output)) continue;
    for (const std::string& input : inputs) {
      if (SameFileOrName(*output, input)) {
        throw TransformUsageError("the output " + *output +
                                  " would replace an input");
      }
    }
  }
  if (!IsStandardStream(parsed.output_path) && !parsed.geojson_path.empty() &&
      SameFileOrName(parsed.output_path, parsed.geojson_path)) {
    throw TransformUsageError("OUTPUT and --geojson name the same file");
  }
  return parsed;
}

namespace {

// The input, line by line, read a block at a time.
class LineReader {
 public:
  LineReader(int descriptor, std::string path)
      : descriptor_(descriptor), path_(std::move(path)) {}
  // The next line without its line end; false at the end of the input.
  bool Next(std::string& line) {
    for (;;) {
      const std::size_t end = buffer_.find('\n', at_);
      if (end != std::string::npos || (done_ && at_ < buffer_.size())) {
        const std::size_t stop = end == std::string::npos ? buffer_.size() : end;
        line.assign(buffer_, at_, stop - at_);
        at_ = stop + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++number_;
        return true;
      }
      if (done_) return false;
      buffer_.erase(0, std::min(at_, buffer_.size()));
      at_ = 0;
      char chunk[1 << 16];
      const ssize_t count = ::read(descriptor_, chunk, sizeof chunk);
      if (count < 0) {
        if (errno == EINTR) continue;
        throw Error("Error reading file: " + path_ + ": " +
                    std::strerror(errno));
      }
      if (count == 0) done_ = true;
      buffer_.append(chunk, static_cast<std::size_t>(count));
    }
  }
  std::size_t number() const { return number_; }  // of the last line, from 1

 private:
  int descriptor_;
  std::string path_;
  std::string buffer_;
  std::size_t at_ = 0;
  bool done_ = false;
  std::size_t number_ = 0;
};

// Where the rows go: standard output, or a file replaced at the end.
class Sink {
 public:
  Sink(std::ostream* stream, OutputFile* file) : stream_(stream), file_(file) {}
  void Write(const std::string& text) {
    if (file_ != nullptr) {
      file_->Append(text);
    } else {
      stream_->write(text.data(), static_cast<std::streamsize>(text.size()));
      RequireWritten(*stream_);
    }
  }

 private:
  std::ostream* stream_;
  OutputFile* file_;
};

char Separator(Delimiter delimiter) {
  switch (delimiter) {
    case Delimiter::kTab:
      return '\t';
    case Delimiter::kSemicolon:
      return ';';
    case Delimiter::kComma:
      return ',';
    case Delimiter::kWhitespace:
      break;
  }
  return ' ';
}

// A field as the delimited text writes it: quoted when it holds the
// separator, a quote, or blanks where a reader would trim them.
void AppendField(std::string& line, const std::string& field, char separator) {
  const bool quote =
      field.find(separator) != std::string::npos ||
      field.find('"') != std::string::npos ||
      (!field.empty() && (field.front() == ' ' || field.front() == '\t' ||
                          field.back() == ' ' || field.back() == '\t')) ||
      (separator == ' ' && field.empty());
  if (!quote) {
    line += field;
    return;
  }
  line += '"';
  for (const char c : field) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

// A number to a fixed count of decimals, with the list's decimal mark.
std::string Fixed(double value, int decimals, bool decimal_comma) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value,
                                    std::chars_format::fixed, decimals);
  std::string number(text, result.ptr);
  if (number == "-0" || number.find_first_not_of("-0.") == std::string::npos) {
    if (!number.empty() && number[0] == '-') number.erase(0, 1);
  }
  if (decimal_comma) std::replace(number.begin(), number.end(), '.', ',');
  return number;
}

// An angle as degrees, minutes and seconds with a hemisphere letter:
// 38°48'13.89204"N; five decimals of a second (0.3 mm).
std::string Sexagesimal(double degrees, bool latitude, bool decimal_comma) {
  const char hemisphere =
      latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
  // In units of 1e-5 arc-seconds, rounded once.
  const long long units =
      std::llround(std::fabs(degrees) * 3600.0 * 100000.0);
  const long long whole = units / (3600LL * 100000LL);
  const long long minutes = units / (60LL * 100000LL) % 60;
  const long long seconds = units % (60LL * 100000LL);
  char text[64];
  std::snprintf(text, sizeof text, "%lld°%02lld'%02lld%c%05lld\"%c", whole,
                minutes, seconds / 100000, decimal_comma ? ',' : '.',
                seconds % 100000, hemisphere);
  return text;
}

}  // namespace

void RunHelmertTransform(const TransformArguments& arguments, int in,
                         std::ostream& out, std::ostream& summary) {
  const StoredTransformation stored = ParseResultDocument(
      ReadTextFile(arguments.result_path), arguments.result_path);
  const PointTransformer transformer(stored);
  std::optional<ControlKnowledge> control;
  if (!arguments.control_path.empty()) {
    const ControlPoints points = ParseControlPointDocument(
        ReadTextFile(arguments.control_path), arguments.control_path);
    ValidateControlPoints(points, arguments.control_path);
    control = KnowledgeFromControl(points, arguments.control_path, stored,
                                   arguments.result_path);
  }

  // The input, and the outputs prepared before any work.
  const std::string input_name =
      IsStandardStream(arguments.input_path) ? "standard input"
                                             : arguments.input_path;
  int descriptor = in;
  if (!IsStandardStream(arguments.input_path)) {
    descriptor = ::open(arguments.input_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) throw Error("Error opening file: " + input_name);
  }
  struct Closer {
    int descriptor;
    bool own;
    ~Closer() {
      if (own) ::close(descriptor);
    }
  } closer{descriptor, descriptor != in};
  std::unique_ptr<OutputFile> output_file;
  if (!IsStandardStream(arguments.output_path)) {
    output_file = std::make_unique<OutputFile>(arguments.output_path);
  }
  std::unique_ptr<OutputFile> geojson_file;
  if (!arguments.geojson_path.empty()) {
    geojson_file = std::make_unique<OutputFile>(arguments.geojson_path);
  }
  Sink sink(&out, output_file.get());

  LineReader reader(descriptor, input_name);
  std::string line;
  bool have_header = false;
  DelimitedRow header;
  Delimiter delimiter = Delimiter::kComma;
  while (!have_header && reader.Next(line)) {
    if (reader.number() == 1 && line.compare(0, 3, kByteOrderMark) == 0) {
      line.erase(0, 3);
    }
    if (IsBlankLine(line)) continue;
    delimiter = FindDelimiter(line);
    header = {reader.number(),
              SplitLine(line, delimiter, input_name, reader.number())};
    have_header = true;
  }
  if (!have_header) throw Error(input_name + ": no header row");
  const bool wgs84_in = arguments.to_grid;
  const PointColumns columns = FindPointColumns(header, wgs84_in, input_name);
  const bool comma_allowed =
      delimiter == Delimiter::kSemicolon || delimiter == Delimiter::kTab;
  const char separator = Separator(delimiter);

  // The output's header: the coordinate columns, in their order in the
  // input, renamed to the other frame's (easting, northing, height or lat,
  // lon, h); the precision and extent columns after the last.
  std::vector<std::size_t> positions(columns.coordinates, columns.coordinates + 3);
  std::sort(positions.begin(), positions.end());
  const char* const grid_names[3] = {"easting", "northing", "height"};
  const char* const wgs84_names[3] = {"lat", "lon", "h"};
  // Which output coordinate each of the three positions holds: 0 easting or
  // latitude, 1 northing or longitude, 2 height.
  std::vector<std::string> out_header = header.fields;
  for (int k = 0; k < 3; ++k) {
    out_header[positions[k]] =
        arguments.to_grid ? grid_names[k] : wgs84_names[k];
  }
  const std::vector<std::string> extra =
      !control ? std::vector<std::string>{}
      : arguments.to_grid
          ? std::vector<std::string>{"sigma_e", "sigma_n", "sigma_h", "outside"}
          : std::vector<std::string>{"sigma_lat_m", "sigma_lon_m", "sigma_h",
                                     "outside"};
  std::string block;
  block.reserve(kBlockBytes + 4096);
  for (std::size_t k = 0; k < out_header.size(); ++k) {
    if (k > 0) block += separator;
    AppendField(block, out_header[k], separator);
  }
  for (const std::string& name : extra) {
    block += separator;
    block += name;
  }
  block += '\n';

  std::string geojson = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  std::size_t count = 0;
  std::size_t outside_count = 0;
  double farthest_outside = 0.0;
  double largest_sigma = 0.0;
  std::optional<bool> decimal_comma;  // the list's mark, from its first row
  std::string row_text;
  DelimitedRow row;  // its fields' strings reused from row to row
  while (reader.Next(line)) {
    if (IsBlankLine(line)) continue;
    row.line = reader.number();
    SplitLineInto(line, delimiter, input_name, row.line, row.fields);
    if (!decimal_comma) {
      // The list's decimal mark, as its first row writes its coordinates.
      decimal_comma = false;
      for (const std::size_t column : columns.coordinates) {
        if (comma_allowed && column < row.fields.size() &&
            row.fields[column].find(',') != std::string::npos) {
          decimal_comma = true;
        }
      }
    }
    const ListedPoint point =
        ReadListedPoint(row, header, columns, wgs84_in, comma_allowed,
                        delimiter == Delimiter::kComma, input_name);
    // Where the row stands, for a refusal.
    const auto where = [&] {
      return input_name + ":" + std::to_string(row.line);
    };
    Point3 zone;
    Point3 grid;
    GeodeticPoint wgs84;
    if (arguments.to_grid) {
      wgs84 = {point.values[0], point.values[1], point.values[2]};
      const double away = transformer.DegreesFromMeridian(wgs84.longitude_degrees);
      if (!(away <= kMostTransformDegreesFromMeridian)) {
        throw Error(where() + ": column \"" +
                    header.fields[columns.coordinates[0]] + "\": longitude " +
                    ShortestNumberText(wgs84.longitude_degrees) + " is " +
                    Fixed(away, 2, false) +
                    " degrees from the zone's central meridian " +
                    ShortestNumberText(stored.central_meridian_degrees) +
                    "; the zone's series is used only within 3.5 degrees");
      }
      grid = transformer.ToGrid(wgs84, &zone);
    } else {
      grid = {point.values[0], point.values[1], point.values[2]};
      wgs84 = transformer.ToWgs84(grid, &zone);
      const double away = transformer.DegreesFromMeridian(wgs84.longitude_degrees);
      if (!(away <= kMostTransformDegreesFromMeridian) ||
          !(std::fabs(wgs84.latitude_degrees) < 90.0)) {
        throw Error(
            where() + ": the grid point (" + ShortestNumberText(grid.x) + ", " +
            ShortestNumberText(grid.y) + ") lies " + Fixed(away, 2, false) +
            " degrees from the zone's central meridian " +
            ShortestNumberText(stored.central_meridian_degrees) +
            "; the zone's series is used only within 3.5 degrees");
      }
    }
    std::string values[3];
    const bool mark = *decimal_comma;
    if (arguments.to_grid) {
      values[0] = Fixed(grid.x, 4, mark);
      values[1] = Fixed(grid.y, 4, mark);
      values[2] = Fixed(grid.z, 4, mark);
    } else if (arguments.dms) {
      values[0] = Sexagesimal(wgs84.latitude_degrees, true, mark);
      values[1] = Sexagesimal(wgs84.longitude_degrees, false, mark);
      values[2] = Fixed(wgs84.height_metres, 4, mark);
    } else {
      values[0] = Fixed(wgs84.latitude_degrees, 9, mark);
      values[1] = Fixed(wgs84.longitude_degrees, 9, mark);
      values[2] = Fixed(wgs84.height_metres, 4, mark);
    }
    row_text.clear();
    const std::size_t fields = std::max(row.fields.size(), out_header.size());
    for (std::size_t k = 0; k < fields; ++k) {
      if (k > 0) row_text += separator;
      const auto at = std::find(positions.begin(), positions.end(), k);
      if (at != positions.end()) {
        AppendField(row_text, values[at - positions.begin()], separator);
      } else {
        AppendField(row_text, k < row.fields.size() ? row.fields[k] : "",
                    separator);
      }
    }
    Eigen::Vector3d sigma = Eigen::Vector3d::Zero();
    double outside = 0.0;
    if (control) {
      sigma = arguments.to_grid ? control->precision.OfGridPoint(zone)
                                : control->precision.OfZonePoint(zone);
      if (!arguments.to_grid) std::swap(sigma(0), sigma(1));  // lat, lon
      outside = control->area.DistanceOutside(grid.x, grid.y);
      // A control point on the hull, transformed, lies off it by its
      // residual: only what a surveyor would call outside counts.
      if (outside < kLeastOutsideMetres) outside = 0.0;
      for (int c = 0; c < 3; ++c) {
        row_text += separator;
        row_text += Fixed(sigma(c), 4, mark);
      }
      row_text += separator;
      if (outside > 0.0) row_text += Fixed(outside, 1, mark);
      largest_sigma = std::max(largest_sigma, sigma.maxCoeff());
      if (outside > 0.0) {
        ++outside_count;
        farthest_outside = std::max(farthest_outside, outside);
      }
    }
    row_text += '\n';
    block += row_text;
    if (geojson_file) {
      geojson += count == 0 ? "" : ",\n";
      geojson +=
          "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\","
          "\"coordinates\":[" +
          ShortestNumberText(wgs84.longitude_degrees) + "," +
          ShortestNumberText(wgs84.latitude_degrees) + "," +
          ShortestNumberText(wgs84.height_metres) +
          "]},\"properties\":{\"name\":" + JsonString(point.name) +
          ",\"line\":" + std::to_string(row.line) +
          ",\"easting_m\":" + ShortestNumberText(grid.x) +
          ",\"northing_m\":" + ShortestNumberText(grid.y) +
          ",\"height_m\":" + ShortestNumberText(grid.z);
      if (control) {
        const char* const keys[3] = {
            arguments.to_grid ? "sigma_e_m" : "sigma_lat_m",
            arguments.to_grid ? "sigma_n_m" : "sigma_lon_m", "sigma_h_m"};
        for (int c = 0; c < 3; ++c) {
          geojson += std::string(",\"") + keys[c] +
                     "\":" + ShortestNumberText(sigma(c));
        }
        geojson +=
            ",\"outside_m\":" +
            (outside > 0.0 ? ShortestNumberText(outside) : std::string("null"));
      }
      geojson += "}}";
      if (geojson.size() >= kBlockBytes) {
        geojson_file->Append(geojson);
        geojson.clear();
      }
    }
    ++count;
    if (block.size() >= kBlockBytes) {
      sink.Write(block);
      block.clear();
    }
  }
  sink.Write(block);
  if (geojson_file) {
    geojson += "\n]}\n";
    geojson_file->Append(geojson);
    geojson_file->Finish();
  }
  if (output_file) output_file->Finish();
  // All or none: every output checked before any replaces its target.
  std::vector<OutputFile*> files;
  if (output_file) files.push_back(output_file.get());
  if (geojson_file) files.push_back(geojson_file.get());
  RequireWritten(out);
  CommitAll(files);

  std::string line_out = "helmert-transform: " + std::to_string(count) +
                         (count == 1 ? " point" : " points") +
                         (arguments.to_grid ? " to the grid" : " to WGS84");
  if (control) {
    line_out += "; " + std::to_string(outside_count) +
                " outside the control area";
    if (outside_count > 0) {
      line_out += " (up to " +
                  (farthest_outside >= 1000.0
                       ? Fixed(farthest_outside / 1000.0, 1, false) + " km)"
                       : Fixed(farthest_outside, 0, false) + " m)");
    }
    line_out += "; largest standard deviation " +
                Fixed(largest_sigma * 1000.0, 1, false) + " mm";
  }
  summary << line_out << std::endl;
}

}  // namespace helmert
