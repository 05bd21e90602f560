#include "control/PointLists.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

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

std::string DecodeListText(std::string text, const std::string& encoding,
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

std::string_view PointList::Name(std::size_t i) const {
  const char* record = points_[i];
  std::uint64_t size = 0;
  std::memcpy(&size, record + 8, 8);
  return {record + 19, static_cast<std::size_t>(size)};
}

std::string_view PointList::Text(std::size_t i, int k) const {
  const char* record = points_[i];
  const std::string_view name = Name(i);
  const char* at = name.data() + name.size();
  for (int j = 0; j < k; ++j) at += static_cast<unsigned char>(record[16 + j]);
  return {at, static_cast<unsigned char>(record[16 + k])};
}

double PointList::Value(std::size_t i, int k) const {
  // The text reads back to the value it was made of (copied from the
  // field that was read, or the value's shortest digits).
  const std::string_view text = Text(i, k);
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::size_t PointList::Line(std::size_t i) const {
  std::uint64_t line = 0;
  std::memcpy(&line, points_[i], 8);
  return static_cast<std::size_t>(line);
}

void PointList::Add(const ListedPoint& point) {
  // The record: the line (8 bytes), the name's size (8), the three texts'
  // sizes (1 each: a number text has at most 32 characters), the name, the
  // three texts.
  const std::size_t bytes = 19 + point.name.size() + point.texts[0].size() +
                            point.texts[1].size() + point.texts[2].size();
  if (bytes > free_bytes_) {
    const std::size_t block = std::max(bytes, kBlockBytes);
    blocks_.push_back(std::make_unique<char[]>(block));
    free_ = blocks_.back().get();
    free_bytes_ = block;
  }
  char* at = free_;
  const std::uint64_t line = point.line;
  const std::uint64_t name_size = point.name.size();
  std::memcpy(at, &line, 8);
  std::memcpy(at + 8, &name_size, 8);
  for (int k = 0; k < 3; ++k) {
    at[16 + k] =
        static_cast<char>(static_cast<unsigned char>(point.texts[k].size()));
  }
  at += 19;
  std::memcpy(at, point.name.data(), point.name.size());
  at += point.name.size();
  for (const std::string& text : point.texts) {
    std::memcpy(at, text.data(), text.size());
    at += text.size();
  }
  points_.push_back(free_);
  free_ += bytes;
  free_bytes_ -= bytes;
}

namespace {

// The names of a list by their hash, for lists of millions of points: an
// open-addressed table of one 64-bit slot a point at most half full, each
// slot a fragment of the name's hash (24 bits) and the point's index + 1
// (40 bits; 0 is an empty slot).
class NameIndex {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  explicit NameIndex(const PointList& list) : list_(list) {
    std::size_t capacity = 16;
    while (capacity < 2 * list.size()) capacity *= 2;
    slots_.assign(capacity, 0);
    mask_ = capacity - 1;
  }

  // Enters point i; returns the point entered before it under the same
  // name, if any (and then leaves i out).
  std::size_t Insert(std::size_t i) {
    const std::string_view name = list_.Name(i);
    const std::uint64_t hash = Hash(name);
    const std::size_t at = SlotOf(name, hash);
    if (slots_[at] != 0) return Entered(at);
    slots_[at] = ((hash >> 40) << 40) | (i + 1);
    return kNone;
  }

  // The point of that name, or kNone.
  std::size_t Find(std::string_view name) const {
    const std::size_t at = SlotOf(name, Hash(name));
    return slots_[at] == 0 ? kNone : Entered(at);
  }

 private:
  static constexpr std::uint64_t kIndexMask = (std::uint64_t{1} << 40) - 1;
  static std::uint64_t Hash(std::string_view name) {
    return std::hash<std::string_view>{}(name);
  }
  std::size_t Entered(std::size_t at) const {
    return static_cast<std::size_t>(slots_[at] & kIndexMask) - 1;
  }
  // The slot that holds the name, or the empty slot where it would go.
  std::size_t SlotOf(std::string_view name, std::uint64_t hash) const {
    const std::uint64_t fragment = hash >> 40;
    std::size_t at = hash & mask_;
    while (slots_[at] != 0 && !((slots_[at] >> 40) == fragment &&
                                list_.Name(Entered(at)) == name)) {
      at = (at + 1) & mask_;
    }
    return at;
  }
  const PointList& list_;
  std::vector<std::uint64_t> slots_;
  std::size_t mask_ = 0;
};

PointList ReadPoints(std::string text, const std::string& path, bool wgs84) {
  PointList points;
  DelimitedRow header;
  PointColumns columns;
  // One decimal mark a column: the rows that use each in each coordinate
  // column, and the first field of each form. (The bundled export writes
  // its seconds with a point and its heights with a comma: each column
  // keeps to one.)
  struct MarkUse {
    std::size_t rows = 0;
    std::size_t line = 0;
    std::string text;
  } uses[3][2];  // per coordinate column: decimal point, decimal comma
  {
    // Row by row: only the points are held, not the table of fields.
    DelimitedRowReader reader(text, path);
    header = reader.header();
    columns = FindPointColumns(header, wgs84, path);
    points.Reserve(static_cast<std::size_t>(
        std::count(text.begin(), text.end(), '\n')) + 1);
    const bool comma = reader.DecimalCommaAllowed();
    const bool comma_delimited = reader.delimiter() == Delimiter::kComma;
    DelimitedRow row;
    while (reader.Next(row)) {
      const ListedPoint point = ReadListedPoint(row, header, columns, wgs84,
                                                comma, comma_delimited, path);
      if (comma) {
        for (int k = 0; k < 3; ++k) {
          const std::string& field = row.fields[columns.coordinates[k]];
          const int form = field.find(',') != std::string::npos   ? 1
                           : field.find('.') != std::string::npos ? 0
                                                                  : -1;
          if (form < 0) continue;
          MarkUse& use = uses[k][form];
          if (use.rows++ == 0) {
            use.line = row.line;
            use.text = field;
          }
        }
      }
      points.Add(point);
    }
  }
  // The points hold what they need of the text.
  std::string().swap(text);
  // Distinct names: refused at the earliest line that repeats one, naming
  // the first line of that name.
  NameIndex names(points);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::size_t first = names.Insert(i);
    if (first == NameIndex::kNone) continue;
    throw Error(path + ":" + std::to_string(points.Line(i)) + ": column " +
                Quoted(header.fields[columns.name]) + ": " +
                Quoted(std::string(points.Name(i))) +
                " is also the name on line " +
                std::to_string(points.Line(first)) +
                "; names must be distinct");
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

void AppendJsonString(std::string& json, std::string_view text) {
  json += '"';
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
  json += '"';
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

PointList ReadWgs84Points(std::string text, const std::string& path) {
  return ReadPoints(std::move(text), path, true);
}

PointList ReadGridPoints(std::string text, const std::string& path) {
  return ReadPoints(std::move(text), path, false);
}

MatchedPoints MatchByName(const PointList& wgs84, const PointList& grid) {
  NameIndex grid_names(grid);
  for (std::size_t i = 0; i < grid.size(); ++i) grid_names.Insert(i);
  MatchedPoints matched;
  matched.wgs84.reserve(wgs84.size());
  matched.grid.reserve(wgs84.size());
  std::vector<bool> grid_matched(grid.size(), false);
  for (std::size_t i = 0; i < wgs84.size(); ++i) {
    const std::size_t found = grid_names.Find(wgs84.Name(i));
    if (found == NameIndex::kNone) {
      matched.only_wgs84.push_back(i);
      continue;
    }
    matched.wgs84.push_back(i);
    matched.grid.push_back(found);
    grid_matched[found] = true;
  }
  for (std::size_t i = 0; i < grid.size(); ++i) {
    if (!grid_matched[i]) matched.only_grid.push_back(i);
  }
  return matched;
}

std::string JsonString(const std::string& text) {
  std::string json;
  AppendJsonString(json, text);
  return json;
}

void WriteControlDocument(
    const PointList& wgs84, const PointList& grid, const MatchedPoints& matched,
    const std::optional<std::string>& central_meridian_text,
    const std::optional<std::string>& scale_factor_text,
    const std::function<void(const std::string&)>& write) {
  constexpr std::size_t kPieceBytes = std::size_t{1} << 20;
  std::string piece;
  piece.reserve(kPieceBytes + 4096);
  const auto written = [&] {
    if (piece.size() < kPieceBytes) return;
    write(piece);
    piece.clear();
  };
  const auto numbers = [&](const char* member, const PointList& list,
                           const std::vector<std::size_t>& order) {
    piece += "    \"";
    piece += member;
    piece += "\": [\n";
    for (std::size_t i = 0; i < order.size(); ++i) {
      piece += "      ";
      for (int k = 0; k < 3; ++k) {
        piece += list.Text(order[i], k);
        if (k < 2) piece += ", ";
      }
      piece += i + 1 < order.size() ? ",\n" : "\n";
      written();
    }
    piece += "    ],\n";
  };
  piece += "{\n  \"define\": {\n";
  numbers("srcpoints", wgs84, matched.wgs84);
  numbers("despoints", grid, matched.grid);
  piece += "    \"names\": [";
  for (std::size_t i = 0; i < matched.wgs84.size(); ++i) {
    if (i > 0) piece += ", ";
    AppendJsonString(piece, wgs84.Name(matched.wgs84[i]));
    written();
  }
  piece += "]";
  if (central_meridian_text) {
    piece += ",\n    \"central_meridian\": " + *central_meridian_text;
  }
  if (scale_factor_text) {
    piece += ",\n    \"scale_factor\": " + *scale_factor_text;
  }
  piece += "\n  }\n}\n";
  write(piece);
}

std::string ControlDocumentText(
    const PointList& wgs84, const PointList& grid, const MatchedPoints& matched,
    const std::optional<std::string>& central_meridian_text,
    const std::optional<std::string>& scale_factor_text) {
  std::string text;
  WriteControlDocument(wgs84, grid, matched, central_meridian_text,
                       scale_factor_text,
                       [&text](const std::string& piece) { text += piece; });
  return text;
}

}  // namespace helmert
