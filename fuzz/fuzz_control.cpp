// libFuzzer target over helmert-control's readers: arbitrary bytes as a
// WGS84 list (first byte odd) or a grid list (even). A list is either
// refused with Error or read; a list that is read, matched with itself,
// must give a control-point document that the tools' own reader accepts,
// with the same names and the same numbers (to the last bits: the
// reader rounds decimal text as RapidJSON does by default, within a few
// ulps of the correctly rounded double, more for long digit strings with
// large exponents: 1e-12 relative bounds it).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Error.hpp"
#include "control/PointLists.hpp"
#include "io/ControlPointDocument.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < 1) return 0;
  const bool wgs84 = (data[0] & 1) != 0;
  // The second bit: the text taken as GBK (iconv), as --encoding GBK does;
  // UTF-16 with a byte-order mark is decoded whatever the bit.
  const bool gbk = (data[0] & 2) != 0;
  const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
  helmert::PointList points;
  try {
    const std::string text =
        helmert::DecodeListText(raw, gbk ? "GBK" : "", "fuzz.csv");
    points = wgs84 ? helmert::ReadWgs84Points(text, "fuzz.csv")
                   : helmert::ReadGridPoints(text, "fuzz.csv");
  } catch (const helmert::Error&) {
    return 0;
  }
  const helmert::MatchedPoints matched = helmert::MatchByName(points, points);
  if (matched.wgs84.size() != points.size()) std::abort();
  if (points.empty()) return 0;
  const std::string document =
      helmert::ControlDocumentText(points, points, matched, std::string("114.5"));
  std::vector<std::string> names;
  const helmert::ControlPoints read =
      helmert::ParseControlPointDocument(document, "fuzz.json", &names);
  if (read.source.size() != points.size() || names.size() != points.size() ||
      !read.central_meridian_degrees) {
    std::abort();
  }
  const auto same = [](double a, double b) {
    return std::fabs(a - b) <= 1e-12 * std::fabs(b);
  };
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (names[i] != points.Name(i) ||
        !same(read.source[i].longitude_degrees, points.Value(i, 0)) ||
        !same(read.source[i].latitude_degrees, points.Value(i, 1)) ||
        !same(read.source[i].height_metres, points.Value(i, 2))) {
      std::abort();
    }
  }
  return 0;
}
