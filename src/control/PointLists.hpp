// The two point lists a surveyor starts from, and the control-point
// document made of them.
//
// The WGS84 list (a GNSS receiver's export) has a name column ("name",
// "id" or "point"), a latitude ("lat", "latitude"), a longitude ("lon",
// "long", "longitude") and an ellipsoidal height ("h", "height",
// "ellipsoidal_height"). The grid list (the archive's coordinates) has a
// name column, an easting ("e", "easting"), a northing ("n", "northing")
// and a height ("h", "height"). Headers are matched case-insensitively;
// other columns are ignored. Grid headers "x" and "y" are refused: in
// Gauss-Krueger practice X is the northing, elsewhere the easting.
//
// Every refusal is an Error of one line "FILE:LINE: column "HEADER": ...".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace helmert {

// One point of a list: its name, the line it stands on, and its three
// coordinates, each as a value and as the text of a JSON number (the
// field's own text where it is one, so that the document holds exactly
// the number the file held).
struct ListedPoint {
  std::string name;
  std::size_t line = 0;
  std::array<double, 3> values{};
  std::array<std::string, 3> texts;
};

struct DelimitedRow;

// A list file's text as UTF-8: UTF-16 with a byte-order mark (what
// spreadsheets save as "Unicode text") converted, any other text converted
// from `encoding` (GBK, LATIN1, CP1252: iconv's names) when one is given,
// else taken as UTF-8 as it stands. Throws Error for an encoding iconv does
// not know and for a text that is not in it, naming the byte.
// A UTF-8 text is returned as it stands, without a copy.
std::string DecodeListText(std::string text, const std::string& encoding,
                           const std::string& path);

// The columns of a list: the name's and the three coordinates', in the
// document's order (longitude, latitude, height or easting, northing,
// height), as indices into the header's fields.
struct PointColumns {
  std::size_t name = 0;
  std::size_t coordinates[3] = {0, 0, 0};
};

// Finds the columns of a WGS84 (`wgs84`) or a grid list by the header
// names above. Throws Error "PATH:LINE: no column for the latitude (...)",
// for a role that two columns name, and for grid headers x and y.
PointColumns FindPointColumns(const DelimitedRow& header, bool wgs84,
                              const std::string& path);

// Reads one row's name and coordinates as the lists are read: exactly the
// header's number of fields (for a comma-separated list, `comma_delimited`,
// a likely decimal comma named), angles decimal or sexagesimal, a decimal
// comma where `decimal_comma`, ranges checked (latitude strictly inside
// +-90, longitude within [-180, 180], metres within 1e8). Throws Error
// "PATH:LINE: column "HEADER": ..." naming what is wrong. (Distinct names
// and one decimal mark a list are the caller's checks.)
ListedPoint ReadListedPoint(const DelimitedRow& row, const DelimitedRow& header,
                            const PointColumns& columns, bool wgs84,
                            bool decimal_comma, bool comma_delimited,
                            const std::string& path);

// The points of one list, held compactly for lists of millions of rows:
// each point's line, name and three number texts one after another in
// blocks of memory that never move, and one pointer a point.
class PointList {
 public:
  std::size_t size() const { return points_.size(); }
  bool empty() const { return points_.empty(); }
  std::string_view Name(std::size_t i) const;
  // The JSON number text of coordinate k (document order) and its value.
  std::string_view Text(std::size_t i, int k) const;
  double Value(std::size_t i, int k) const;
  std::size_t Line(std::size_t i) const;

  void Reserve(std::size_t points) { points_.reserve(points); }
  void Add(const ListedPoint& point);

 private:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // the unused rest of the newest block
  std::size_t free_bytes_ = 0;
  std::vector<const char*> points_;
};

// The WGS84 points: texts are longitude, latitude (degrees) and height
// (metres), in the document's order. Angles may be decimal degrees or
// sexagesimal (see ReadAngle); latitudes strictly inside +-90, longitudes
// within [-180, 180]. The text is released before the names are checked
// distinct, so that a list of millions of rows is not held twice.
PointList ReadWgs84Points(std::string text, const std::string& path);

// The grid points: easting, northing, height (metres).
PointList ReadGridPoints(std::string text, const std::string& path);

// The points in both lists, paired by name in the WGS84 list's order (as
// indices into the lists), and the points found in one list only (in that
// list's order).
struct MatchedPoints {
  std::vector<std::size_t> wgs84;
  std::vector<std::size_t> grid;  // grid[i] is wgs84[i]'s point
  std::vector<std::size_t> only_wgs84;
  std::vector<std::size_t> only_grid;
};
MatchedPoints MatchByName(const PointList& wgs84, const PointList& grid);

// The control-point document of the matched points: "srcpoints",
// "despoints", "names" and, when given, "central_meridian" and
// "scale_factor" (their JSON number texts), indented by two spaces, with a
// final line end. Written in pieces of about a megabyte to `write`, so
// that the document of millions of points is never held whole.
void WriteControlDocument(
    const PointList& wgs84, const PointList& grid, const MatchedPoints& matched,
    const std::optional<std::string>& central_meridian_text,
    const std::optional<std::string>& scale_factor_text,
    const std::function<void(const std::string&)>& write);

// The same document as one text.
std::string ControlDocumentText(
    const PointList& wgs84, const PointList& grid, const MatchedPoints& matched,
    const std::optional<std::string>& central_meridian_text,
    const std::optional<std::string>& scale_factor_text = std::nullopt);

// A name as a JSON string: quote, backslash and control characters
// escaped, everything else as it stands (the names are UTF-8).
std::string JsonString(const std::string& text);

// The text of a JSON number for the value: `text` itself when it is a
// plain JSON decimal (no plus sign, no leading zeros, digits on both sides
// of a point, no exponent) of at most 32 characters, else the shortest
// digits that read back to the value.
std::string JsonNumberText(const std::string& text, double value);

}  // namespace helmert
