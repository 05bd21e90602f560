#include "control/PointLists.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "common/Error.hpp"
#include "control/Angles.hpp"
#include "control/DelimitedText.hpp"
#include "io/Streams.hpp"

namespace helmert {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// One column a list needs: what it holds and the headers that name it.
struct ColumnRole {
  const char* meaning;  // "latitude"
  std::vector<const char*> headers;
};

const ColumnRole kName{"point name", {"name", "id", "point"}};
const ColumnRole kLatitude{"latitude", {"lat", "latitude"}};
const ColumnRole kLongitude{"longitude", {"lon", "long", "longitude"}};
const ColumnRole kEllipsoidalHeight{"ellipsoidal height",
                                    {"h", "height", "ellipsoidal_height"}};
const ColumnRole kEasting{"easting", {"e", "easting"}};
const ColumnRole kNorthing{"northing", {"n", "northing"}};
const ColumnRole kGridHeight{"height", {"h", "height"}};

std::string HeaderList(const ColumnRole& role) {
  std::string list;
  for (std::size_t k = 0; k < role.headers.size(); ++k) {
    list += (k == 0 ? "" : k + 1 == role.headers.size() ? " or " : ", ");
    list += Quoted(role.headers[k]);
  }
  return list;
}

// The index of the one column the role names in the header.
std::size_t FindColumn(const DelimitedRow& header, const ColumnRole& role,
                       const std::string& path) {
  std::size_t found = header.fields.size();
  for (std::size_t k = 0; k < header.fields.size(); ++k) {
    const std::string name = Lower(header.fields[k]);
    for (const char* alias : role.headers) {
      if (name != alias) continue;
      if (found != header.fields.size()) {
        throw Error(path + ":" + std::to_string(header.line) + ": columns " +
                    Quoted(header.fields[found]) + " and " +
                    Quoted(header.fields[k]) + " both name the " +
                    role.meaning + "; keep one");
      }
      found = k;
    }
  }
  if (found == header.fields.size()) {
    throw Error(path + ":" + std::to_string(header.line) + ": no column for the " +
                role.meaning + " (a header " + HeaderList(role) + ")");
  }
  return found;
}

// Whether the text is well-formed UTF-8.
bool IsUtf8(const std::string& text) {
  char32_t c = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8Sequence(text, at, &c);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

PointColumns FindPointColumns(const DelimitedRow& header, bool wgs84,
                              const std::string& path) {
  PointColumns columns;
  columns.name = FindColumn(header, kName, path);
  if (wgs84) {
    columns.coordinates[0] = FindColumn(header, kLongitude, path);
    columns.coordinates[1] = FindColumn(header, kLatitude, path);
    columns.coordinates[2] = FindColumn(header, kEllipsoidalHeight, path);
  } else {
    for (std::size_t k = 0; k < header.fields.size(); ++k) {
      const std::string name = Lower(header.fields[k]);
      if (name == "x" || name == "y") {
        throw Error(path + ":" + std::to_string(header.line) + ": column " +
                    Quoted(header.fields[k]) +
                    ": x and y are ambiguous (in Gauss-Kruger practice X is "
                    "the northing and Y the easting, elsewhere the reverse): "
                    "name the columns \"easting\" and \"northing\"");
      }
    }
    columns.coordinates[0] = FindColumn(header, kEasting, path);
    columns.coordinates[1] = FindColumn(header, kNorthing, path);
    columns.coordinates[2] = FindColumn(header, kGridHeight, path);
  }
  return columns;
}

ListedPoint ReadListedPoint(const DelimitedRow& row, const DelimitedRow& header,
                            const PointColumns& columns, bool wgs84,
                            bool decimal_comma, const std::string& path) {
  const auto fail = [&](std::size_t column, const std::string& problem) {
    throw Error(path + ":" + std::to_string(row.line) + ": column " +
                Quoted(header.fields[column]) + ": " + problem);
  };
  const auto field = [&](std::size_t column) -> const std::string& {
    if (column >= row.fields.size()) {
      fail(column, "missing (the line has " +
                       std::to_string(row.fields.size()) + " fields)");
    }
    return row.fields[column];
  };
  ListedPoint point;
  point.line = row.line;
  point.name = field(columns.name);
  if (point.name.empty()) fail(columns.name, "the point has no name");
  if (!IsUtf8(point.name)) fail(columns.name, "the name is not UTF-8 text");
  for (int k = 0; k < 3; ++k) {
    const std::size_t column = columns.coordinates[k];
    const std::string& text = field(column);
    double value = 0.0;
    bool plain = true;
    if (wgs84 && k < 2) {
      const AngleAxis axis =
          k == 0 ? AngleAxis::kLongitude : AngleAxis::kLatitude;
      const AngleReading angle = ReadAngle(text, axis, decimal_comma);
      if (!angle.ok) fail(column, Quoted(text) + " " + angle.problem);
      value = angle.degrees;
      plain = angle.plain_number;
      const double limit = k == 0 ? 180.0 : 90.0;
      if (!(std::fabs(value) <= limit)) {
        fail(column, Quoted(text) + " is outside [" +
                         std::to_string(static_cast<int>(-limit)) + ", " +
                         std::to_string(static_cast<int>(limit)) + "]");
      }
    } else if (!ReadNumber(text, decimal_comma, &value)) {
      fail(column, Quoted(text) + " is not a number");
    }
    point.values[k] = value;
    point.texts[k] = plain ? JsonNumberText(NumberText(text, decimal_comma), value)
                           : JsonNumberText("", value);
  }
  return point;
}

namespace {

std::vector<ListedPoint> ReadPoints(const std::string& text,
                                    const std::string& path, bool wgs84) {
  const DelimitedText table = ReadDelimitedText(text, path);
  const DelimitedRow& header = table.header;
  const PointColumns columns = FindPointColumns(header, wgs84, path);
  std::vector<ListedPoint> points;
  std::unordered_map<std::string, std::size_t> line_of_name;
  const bool comma = table.DecimalCommaAllowed();
  for (const DelimitedRow& row : table.rows) {
    ListedPoint point =
        ReadListedPoint(row, header, columns, wgs84, comma, path);
    const auto inserted = line_of_name.emplace(point.name, row.line);
    if (!inserted.second) {
      throw Error(path + ":" + std::to_string(row.line) + ": column " +
                  Quoted(header.fields[columns.name]) + ": " +
                  Quoted(point.name) + " is also the name on line " +
                  std::to_string(inserted.first->second) +
                  "; names must be distinct");
    }
    points.push_back(std::move(point));
  }
  return points;
}

// The name as a JSON string: quote, backslash and control characters
// escaped, everything else as it stands (the names are UTF-8).
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      json += escape;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// JSON's number grammar: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsJsonNumber(const std::string& text) {
  std::size_t at = 0;
  const auto digits = [&] {
    const std::size_t start = at;
    while (at < text.size() && IsDigit(text[at])) ++at;
    return at > start;
  };
  if (at < text.size() && text[at] == '-') ++at;
  if (at < text.size() && text[at] == '0') {
    ++at;
  } else if (!digits()) {
    return false;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (!digits()) return false;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (!digits()) return false;
  }
  return at == text.size();
}

void AppendNumbers(std::string& text, const char* member,
                   const std::vector<const ListedPoint*>& points, bool last) {
  text += std::string("    \"") + member + "\": [\n";
  for (std::size_t i = 0; i < points.size(); ++i) {
    const ListedPoint& p = *points[i];
    text += "      " + p.texts[0] + ", " + p.texts[1] + ", " + p.texts[2] +
            (i + 1 < points.size() ? ",\n" : "\n");
  }
  text += last ? "    ]\n" : "    ],\n";
}

}  // namespace

std::string JsonNumberText(const std::string& text, double value) {
  // Copied when it is a plain decimal of a sensible length: an exponent
  // ("0e484400") or hundreds of digits may be JSON that the tools' reader
  // refuses as beyond a double, whatever value it stands for.
  constexpr std::size_t kLongestCopiedText = 32;
  if (IsJsonNumber(text) && text.find_first_of("eE") == std::string::npos &&
      text.size() <= kLongestCopiedText) {
    return text;
  }
  char digits[32];
  const std::to_chars_result result =
      std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

std::vector<ListedPoint> ReadWgs84Points(const std::string& text,
                                         const std::string& path) {
  return ReadPoints(text, path, true);
}

std::vector<ListedPoint> ReadGridPoints(const std::string& text,
                                        const std::string& path) {
  return ReadPoints(text, path, false);
}

MatchedPoints MatchByName(const std::vector<ListedPoint>& wgs84,
                          const std::vector<ListedPoint>& grid) {
  std::unordered_map<std::string, const ListedPoint*> grid_by_name;
  for (const ListedPoint& p : grid) grid_by_name.emplace(p.name, &p);
  MatchedPoints matched;
  std::unordered_map<std::string, bool> in_wgs84;
  for (const ListedPoint& p : wgs84) {
    in_wgs84.emplace(p.name, true);
    const auto found = grid_by_name.find(p.name);
    if (found == grid_by_name.end()) {
      matched.only_wgs84.push_back(p.name);
      continue;
    }
    matched.wgs84.push_back(&p);
    matched.grid.push_back(found->second);
  }
  for (const ListedPoint& p : grid) {
    if (in_wgs84.count(p.name) == 0) matched.only_grid.push_back(p.name);
  }
  return matched;
}

std::string ControlDocumentText(
    const MatchedPoints& matched,
    const std::optional<std::string>& central_meridian_text,
    const std::optional<std::string>& scale_factor_text) {
  std::string text = "{\n  \"define\": {\n";
  AppendNumbers(text, "srcpoints", matched.wgs84, false);
  AppendNumbers(text, "despoints", matched.grid, false);
  text += "    \"names\": [";
  for (std::size_t i = 0; i < matched.wgs84.size(); ++i) {
    text += (i == 0 ? "" : ", ") + JsonString(matched.wgs84[i]->name);
  }
  text += "]";
  if (central_meridian_text) {
    text += ",\n    \"central_meridian\": " + *central_meridian_text;
  }
  if (scale_factor_text) {
    text += ",\n    \"scale_factor\": " + *scale_factor_text;
  }
  text += "\n  }\n}\n";
  return text;
}

}  // namespace helmert
