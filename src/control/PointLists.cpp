#include "control/PointLists.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include <iconv.h>

#include "common/Error.hpp"
#include "control/Angles.hpp"
#include "control/DelimitedText.hpp"
#include "io/ControlPoints.hpp"
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

const ColumnRole kName{"point name",
                      {"name", "id", "point", "point_name", "point_id"}};
const ColumnRole kLatitude{"latitude",
                           {"lat", "latitude", "lat_wgs84", "latitude_wgs84"}};
const ColumnRole kLongitude{
    "longitude",
    {"lon", "long", "longitude", "lon_wgs84", "long_wgs84", "longitude_wgs84"}};
const ColumnRole kEllipsoidalHeight{
    "ellipsoidal height",
    {"h", "height", "ellipsoidal_height", "h_ell", "height_ellipsoidal",
     "ell_height", "h_wgs84", "height_wgs84"}};
const ColumnRole kEasting{"easting", {"e", "easting"}};
const ColumnRole kNorthing{"northing", {"n", "northing"}};
const ColumnRole kGridHeight{"height", {"h", "height"}};

// A header as the roles name it: in lower case, without a unit or a
// qualifier in parentheses or brackets ("Easting (m)" is "easting",
// "Latitude [deg]" is "latitude"), blanks and hyphens as underscores
// ("Ellipsoidal Height" is "ellipsoidal_height").
std::string HeaderKey(const std::string& header) {
  std::string key = header.substr(0, header.find_first_of("(["));
  while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
    key.pop_back();
  }
  std::size_t first = 0;
  while (first < key.size() && (key[first] == ' ' || key[first] == '\t')) {
    ++first;
  }
  key = Lower(key.substr(first));
  for (char& c : key) {
    if (c == ' ' || c == '-' || c == '\t') c = '_';
  }
  return key;
}

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
    const std::string name = HeaderKey(header.fields[k]);
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

std::string DecodeListText(const std::string& text,
                           const std::string& encoding,
                           const std::string& path) {
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
      static_cast<unsigned char>(text[1]) == 0xFE) {
    return FromUtf16(text, /*big_endian=*/false, path);
  }
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFE &&
      static_cast<unsigned char>(text[1]) == 0xFF) {
    return FromUtf16(text, /*big_endian=*/true, path);
  }
  if (encoding.empty()) return text;
  const iconv_t converter = ::iconv_open("UTF-8", encoding.c_str());
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    throw Error("--encoding " + encoding + ": not an encoding iconv knows");
  }
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  std::size_t in_left = text.size();
  char* next = out.data();
  std::size_t out_left = out.size();
  const std::size_t result = ::iconv(converter, &in, &in_left, &next, &out_left);
  ::iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) {
    throw Error(path + ": not " + encoding + " text at byte " +
                std::to_string(text.size() - in_left + 1));
  }
  out.resize(out.size() - out_left);
  return out;
}

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
      const std::string name = HeaderKey(header.fields[k]);
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
                            bool decimal_comma, bool comma_delimited,
                            const std::string& path) {
  const auto fail = [&](std::size_t column, const std::string& problem) {
    throw Error(path + ":" + std::to_string(row.line) + ": column " +
                Quoted(header.fields[column]) + ": " + problem);
  };
  if (row.fields.size() != header.fields.size()) {
    // Every row has the header's fields: one more or fewer shifts the
    // columns and reads the wrong numbers. In a comma-separated list an
    // unquoted decimal comma splits a number into two fields, the second
    // of digits alone.
    std::string likely;
    if (comma_delimited && row.fields.size() > header.fields.size()) {
      for (std::size_t k = 1; k < row.fields.size(); ++k) {
        const std::string& f = row.fields[k];
        if (!f.empty() && f.size() <= 6 &&
            f.find_first_not_of("0123456789") == std::string::npos) {
          likely =
              ": decimal commas in a comma-separated list? quote such numbers "
              "(\"1368,157\") or separate the fields with semicolons";
          break;
        }
      }
    }
    throw Error(path + ":" + std::to_string(row.line) + ": the line has " +
                std::to_string(row.fields.size()) + " fields, the header " +
                std::to_string(header.fields.size()) + likely);
  }
  const auto field = [&](std::size_t column) -> const std::string& {
    return row.fields[column];
  };
  ListedPoint point;
  point.line = row.line;
  point.name = field(columns.name);
  if (point.name.empty()) fail(columns.name, "the point has no name");
  if (!IsUtf8(point.name)) {
    fail(columns.name,
         "the name is not UTF-8 text (a list saved as GBK or Latin-1? give "
         "helmert-control --encoding GBK or --encoding LATIN1)");
  }
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
      if (k == 0 && !(std::fabs(value) <= 180.0)) {
        fail(column, Quoted(text) + " is outside [-180, 180]");
      }
      // The poles themselves have no longitude; the zone's series none.
      if (k == 1 && !(std::fabs(value) < 90.0)) {
        fail(column, Quoted(text) + " is not strictly between -90 and 90");
      }
    } else if (!ReadNumber(text, decimal_comma, &value)) {
      fail(column, Quoted(text) + " is not a number");
    } else if (!(std::fabs(value) <= kMostMetres)) {
      fail(column, Quoted(text) +
                       " is beyond 1e8 m from the origin (nothing on or near "
                       "the Earth needs it)");
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
  // Row by row: only the points are held, not the table of fields.
  DelimitedRowReader reader(text, path);
  const DelimitedRow& header = reader.header();
  const PointColumns columns = FindPointColumns(header, wgs84, path);
  std::vector<ListedPoint> points;
  const bool comma = reader.DecimalCommaAllowed();
  const bool comma_delimited = reader.delimiter() == Delimiter::kComma;
  // One decimal mark a column: the rows that use each in each coordinate
  // column, and the first field of each form. (The bundled export writes
  // its seconds with a point and its heights with a comma: each column
  // keeps to one.)
  struct MarkUse {
    std::size_t rows = 0;
    std::size_t line = 0;
    std::string text;
  } uses[3][2];  // per coordinate column: decimal point, decimal comma
  DelimitedRow row;
  while (reader.Next(row)) {
    ListedPoint point = ReadListedPoint(row, header, columns, wgs84, comma,
                                        comma_delimited, path);
    if (comma) {
      for (int k = 0; k < 3; ++k) {
        const std::string& text = row.fields[columns.coordinates[k]];
        const int form = text.find(',') != std::string::npos   ? 1
                         : text.find('.') != std::string::npos ? 0
                                                               : -1;
        if (form < 0) continue;
        MarkUse& use = uses[k][form];
        if (use.rows++ == 0) {
          use.line = row.line;
          use.text = text;
        }
      }
    }
    points.push_back(std::move(point));
  }
  // Distinct names: the points sorted by name, each name with the first
  // line it stands on; refused at the earliest line that repeats one.
  std::vector<std::size_t> order(points.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) {
                     return points[a].name < points[b].name;
                   });
  const ListedPoint* repeated = nullptr;
  const ListedPoint* first = nullptr;
  std::size_t group = 0;  // where the run of the current name starts
  for (std::size_t k = 1; k < order.size(); ++k) {
    const ListedPoint& b = points[order[k]];
    if (points[order[k - 1]].name != b.name) {
      group = k;
      continue;
    }
    // The run's first point is its earliest (the sort is stable).
    if (repeated == nullptr || b.line < repeated->line) {
      repeated = &b;
      first = &points[order[group]];
    }
  }
  if (repeated != nullptr) {
    throw Error(path + ":" + std::to_string(repeated->line) + ": column " +
                Quoted(header.fields[columns.name]) + ": " +
                Quoted(repeated->name) + " is also the name on line " +
                std::to_string(first->line) + "; names must be distinct");
  }
  for (int k = 0; k < 3; ++k) {
    if (uses[k][0].rows == 0 || uses[k][1].rows == 0) continue;
    // Refused at the first field of the form fewer rows use: a height
    // 1.368 among decimal commas is 1368 mm written the other way.
    const int minority = uses[k][0].rows < uses[k][1].rows ? 0 : 1;
    const MarkUse& odd = uses[k][minority];
    const MarkUse& usual = uses[k][1 - minority];
    throw Error(path + ":" + std::to_string(odd.line) + ": column " +
                Quoted(header.fields[columns.coordinates[k]]) + ": " +
                Quoted(odd.text) +
                (minority == 0 ? " has a decimal point" : " has a decimal comma") +
                " where " + std::to_string(usual.rows) +
                " other rows of the column use a decimal " +
                (minority == 0 ? "comma" : "point") + " (from line " +
                std::to_string(usual.line) +
                "): give the list one decimal mark");
  }
  return points;
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
