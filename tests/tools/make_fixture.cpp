// Writes the control-point documents of tests/data that are made from known
// parameters (FixtureTruth.hpp): source points on a grid around a site,
// projected into their zone and mapped by a known similarity.
//
//   make_fixture similarity   > tests/data/similarity-hefei.json
//   make_fixture west         > tests/data/santiago-west.json
//   make_fixture blunder      > tests/data/blunder-zhengzhou.json
//
// "similarity" writes the destinations with 17 significant digits, so that
// the fit reproduces them to rounding level; "west" rounds them to the
// millimetre, in a zone west of Greenwich and south of the equator;
// "blunder" adds noise of a few millimetres to 16 points and displaces the
// destination of point 6 by 0.5 m (0.3 m east, 0.4 m south).
#include <cstdio>
#include <cstring>
#include <vector>

#include "FixtureTruth.hpp"
#include "UniformNoise.hpp"
#include "estimation/BursaWolf.hpp"
#include "geodesy/GaussKruger.hpp"

namespace {

using helmert::GeodeticPoint;
using helmert::Point3;

void Write(const std::vector<GeodeticPoint>& source,
           const std::vector<Point3>& destination, const char* format) {
  std::printf("{\n  \"define\": {\n    \"srcpoints\": [\n");
  for (std::size_t i = 0; i < source.size(); ++i) {
    std::printf("      %.7f, %.7f, %.3f%s\n", source[i].longitude_degrees,
                source[i].latitude_degrees, source[i].height_metres,
                i + 1 < source.size() ? "," : "");
  }
  std::printf("    ],\n    \"despoints\": [\n");
  for (std::size_t i = 0; i < destination.size(); ++i) {
    std::printf("      ");
    std::printf(format, destination[i].x, destination[i].y, destination[i].z);
    std::printf("%s\n", i + 1 < destination.size() ? "," : "");
  }
  std::printf("    ]\n  }\n}\n");
}

// The source points' projections into their own zone, mapped.
std::vector<Point3> Mapped(const std::vector<GeodeticPoint>& source,
                           const helmert::TransformParameters& parameters) {
  const double central_meridian = helmert::SelectCentralMeridian(source);
  std::vector<Point3> destination;
  for (const Point3& zone_point :
       helmert::ProjectToZone(source, central_meridian)) {
    destination.push_back(helmert::ForwardTransform(parameters, zone_point));
  }
  return destination;
}

int WriteBlunderFixture() {
  std::vector<GeodeticPoint> source;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const int k = row * 4 + column;
      source.push_back({113.52 + 0.045 * column + 0.0023 * k,
                        34.68 + 0.04 * row - 0.0011 * k,
                        95.0 + 3.5 * k - 0.2 * k * k});
    }
  }
  // Noise within 5 mm.
  helmert::testing::UniformNoise noise(20261209);
  constexpr double kNoiseMetres = 0.005;
  std::vector<Point3> destination =
      Mapped(source, helmert::testing::kZhengzhouTruth);
  for (Point3& point : destination) {
    point.x += kNoiseMetres * noise();
    point.y += kNoiseMetres * noise();
    point.z += kNoiseMetres * noise();
  }
  Point3& blunder = destination[helmert::testing::kZhengzhouBlunderPoint];
  blunder.x += helmert::testing::kZhengzhouBlunderEast;
  blunder.y += helmert::testing::kZhengzhouBlunderNorth;
  Write(source, destination, "%.4f, %.4f, %.4f");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  if (std::strcmp(argv[1], "blunder") == 0) return WriteBlunderFixture();
  const bool exact = std::strcmp(argv[1], "similarity") == 0;
  const double centre_longitude = exact ? 117.28 : -70.62;
  const double centre_latitude = exact ? 31.84 : -33.46;
  std::vector<GeodeticPoint> source;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) {
      if (!exact && row == 2 && column >= 2) continue;
      const int k = row * 4 + column;
      source.push_back({centre_longitude + 0.06 * column - 0.09 + 0.0031 * k,
                        centre_latitude + 0.05 * row - 0.05 - 0.0017 * k,
                        (exact ? 28.0 : 560.0) + 7.25 * k - 0.5 * k * k});
    }
  }
  Write(source,
        Mapped(source, exact ? helmert::testing::kHefeiTruth
                             : helmert::testing::kSantiagoTruth),
        exact ? "%.17g, %.17g, %.17g" : "%.3f, %.3f, %.3f");
  return 0;
}
