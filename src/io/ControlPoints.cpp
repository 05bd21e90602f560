#include "io/ControlPoints.hpp"

#include <charconv>
#include <cmath>

#include "common/Error.hpp"

namespace helmert {

namespace {

// Smallest number of control points that determines seven parameters: each
// point gives three observations.
constexpr std::size_t kMinimumControlPoints = 3;

// The shortest text that reads back to the same double.
std::string NumberText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// Refuses a length beyond kMostMetres.
void RequireMetres(double metres, const char* member, std::size_t index,
                   const char* axis, const std::string& path) {
  if (!(std::fabs(metres) <= kMostMetres)) {
    throw Error(path + ": \"" + member + "\" point " + std::to_string(index) +
                ": " + axis + " " + NumberText(metres) +
                " m is beyond 1e8 m from the origin");
  }
}

}  // namespace

void ValidateControlPoints(const ControlPoints& points,
                           const std::string& path) {
  const std::size_t count = points.source.size();
  if (count < kMinimumControlPoints) {
    throw Error(path + ": " + std::to_string(count) +
                " control point(s); the seven parameters need at least 3");
  }
  for (std::size_t i = 0; i < count; ++i) {
    const GeodeticPoint& point = points.source[i];
    if (!(point.longitude_degrees >= -180.0 &&
          point.longitude_degrees <= 180.0)) {
      throw Error(path + ": \"srcpoints\" point " + std::to_string(i) +
                  ": longitude " + NumberText(point.longitude_degrees) +
                  " is outside [-180, 180]");
    }
    if (!(point.latitude_degrees > -90.0 && point.latitude_degrees < 90.0)) {
      throw Error(path + ": \"srcpoints\" point " + std::to_string(i) +
                  ": latitude " + NumberText(point.latitude_degrees) +
                  " is not strictly between -90 and 90");
    }
    RequireMetres(point.height_metres, "srcpoints", i, "height", path);
  }
  for (std::size_t i = 0; i < points.destination.size(); ++i) {
    const Point3& point = points.destination[i];
    RequireMetres(point.x, "despoints", i, "easting", path);
    RequireMetres(point.y, "despoints", i, "northing", path);
    RequireMetres(point.z, "despoints", i, "height", path);
  }
}

}  // namespace helmert
