// Writes the control-point documents of tests/data that are made from known
// parameters: source points on a grid around a site, projected into their
// zone and mapped by a known similarity.
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

#include "estimation/BursaWolf.hpp"
#include "geodesy/GaussKruger.hpp"

namespace {

using helmert::Point3;

void Write(const std::vector<Point3>& source,
           const std::vector<Point3>& destination, const char* format) {
  std::printf("{\n  \"define\": {\n    \"srcpoints\": [\n");
  for (std::size_t i = 0; i < source.size(); ++i) {
    std::printf("      %.7f, %.7f, %.3f%s\n", source[i].x, source[i].y,
                source[i].z, i + 1 < source.size() ? "," : "");
  }
  std::printf("    ],\n    \"despoints\": [\n");
  for (std::size_t i = 0; i < destination.size(); ++i) {
    std::printf("      ");
    std::printf(format, destination[i].x, destination[i].y, destination[i].z);
    std::printf("%s\n", i + 1 < destination.size() ? "," : "");
  }
  std::printf("    ]\n  }\n}\n");
}

}  // namespace

// Noise in [-0.005, 0.005) m from a fixed linear congruential sequence, the
// same on every machine.
double NextNoise(unsigned long long& state) {
  state = state * 6364136223846793005ULL + 1442695040888963407ULL;
  return (static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5) * 0.01;
}

int WriteBlunderFixture() {
  helmert::TransformParameters parameters;
  parameters.T_x = -41.2;
  parameters.T_y = 76.9;
  parameters.T_z = 80.3;
  parameters.R_x = -4.9e-6;
  parameters.R_y = 6.1e-6;
  parameters.R_z = 1.3e-7;
  parameters.Scale = 0.9999912;
  std::vector<Point3> source;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const int k = row * 4 + column;
      source.push_back({113.52 + 0.045 * column + 0.0023 * k,
                        34.68 + 0.04 * row - 0.0011 * k,
                        95.0 + 3.5 * k - 0.2 * k * k});
    }
  }
  const double central_meridian = helmert::SelectCentralMeridian(source);
  unsigned long long state = 20261209;
  std::vector<Point3> destination;
  for (const Point3& zone_point :
       helmert::ProjectToZone(source, central_meridian)) {
    Point3 mapped = helmert::ForwardTransform(parameters, zone_point);
    mapped.x += NextNoise(state);
    mapped.y += NextNoise(state);
    mapped.z += NextNoise(state);
    destination.push_back(mapped);
  }
  destination[6].x += 0.3;
  destination[6].y -= 0.4;
  Write(source, destination, "%.4f, %.4f, %.4f");
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  if (std::strcmp(argv[1], "blunder") == 0) return WriteBlunderFixture();
  const bool exact = std::strcmp(argv[1], "similarity") == 0;
  const double centre_longitude = exact ? 117.28 : -70.62;
  const double centre_latitude = exact ? 31.84 : -33.46;
  helmert::TransformParameters parameters;
  if (exact) {
    parameters.T_x = -35.712;
    parameters.T_y = 120.068;
    parameters.T_z = 4.25;
    parameters.R_x = 0.000002;
    parameters.R_y = -0.0000035;
    parameters.R_z = 0.0000125;
    parameters.Scale = 1.0000186;
  } else {
    parameters.T_x = 212.4;
    parameters.T_y = -95.3;
    parameters.T_z = -31.8;
    parameters.R_x = 3.1e-6;
    parameters.R_y = -1.7e-6;
    parameters.R_z = -8.2e-6;
    parameters.Scale = 1.0000420;
  }

  std::vector<Point3> source;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) {
      if (!exact && row == 2 && column >= 2) continue;
      const int k = row * 4 + column;
      source.push_back({centre_longitude + 0.06 * column - 0.09 + 0.0031 * k,
                        centre_latitude + 0.05 * row - 0.05 - 0.0017 * k,
                        (exact ? 28.0 : 560.0) + 7.25 * k - 0.5 * k * k});
    }
  }
  const double central_meridian = helmert::SelectCentralMeridian(source);
  std::vector<Point3> destination;
  for (const Point3& zone_point :
       helmert::ProjectToZone(source, central_meridian)) {
    destination.push_back(helmert::ForwardTransform(parameters, zone_point));
  }
  Write(source, destination,
        exact ? "%.17g, %.17g, %.17g" : "%.3f, %.3f, %.3f");
  return 0;
}
