#include "io/ControlPoints.hpp"

#include <charconv>
#include <cmath>

#include "common/Error.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/JsonText.hpp"

namespace helmert {

namespace {

// Smallest number of control points that determines seven parameters: each
// point gives three observations.
constexpr std::size_t kMinimumControlPoints = 3;

// "\"srcpoints\" point 3", counting from 1 as the user does.
std::string PointName(const char* member, std::size_t index) {
  return std::string("\"") + member + "\" point " + std::to_string(index + 1);
}

// Refuses a length beyond kMostMetres.
void RequireMetres(double metres, const char* member, std::size_t index,
                   const char* axis, const std::string& path) {
  if (!(std::fabs(metres) <= kMostMetres)) {
    throw Error(path + ": " + PointName(member, index) + ": " + axis + " " +
                ShortestNumberText(metres) +
                " m is beyond 1e8 m from the origin");
  }
}

// Geocentric X, Y, Z of a point near the Earth's surface have a norm
// between the polar radius less the deepest depression (6356.3 km) and the
// equatorial radius plus the highest mountain (6387.0 km); these bounds
// leave room for coordinates of another datum and aircraft heights.
constexpr double kLeastGeocentricNorm = 6.30e6;  // metres
constexpr double kMostGeocentricNorm = 6.45e6;   // metres

// Refuses a source point given as geocentric X, Y, Z, saying so.
void RefuseIfGeocentric(const GeodeticPoint& point, std::size_t index,
                        const std::string& path) {
  const double norm = std::sqrt(point.longitude_degrees *
                                    point.longitude_degrees +
                                point.latitude_degrees * point.latitude_degrees +
                                point.height_metres * point.height_metres);
  if (norm >= kLeastGeocentricNorm && norm <= kMostGeocentricNorm) {
    throw Error(path + ": " + PointName("srcpoints", index) + " (" +
                ShortestNumberText(point.longitude_degrees) + ", " +
                ShortestNumberText(point.latitude_degrees) + ", " +
                ShortestNumberText(point.height_metres) +
                ") looks like geocentric X, Y, Z (its length is " +
                std::to_string(static_cast<long>(std::lround(norm / 1e3))) +
                " km, the Earth's radius): give longitude and latitude in "
                "degrees and the ellipsoidal height (cct +proj=cart "
                "+ellps=WGS84 +inv converts them)");
  }
}

}  // namespace

double ZoneCentralMeridian(const ControlPoints& points) {
  if (points.central_meridian_degrees) return *points.central_meridian_degrees;
  return SelectCentralMeridian(points.source);
}

Zone ZoneOf(const ControlPoints& points) {
  return Zone{ZoneCentralMeridian(points), points.scale_factor.value_or(1.0)};
}

void ValidateControlPoints(const ControlPoints& points,
                           const std::string& path) {
  const std::size_t count = points.source.size();
  if (count < kMinimumControlPoints) {
    throw Error(path + ": " + std::to_string(count) +
                " control point(s); the seven parameters need at least 3");
  }
  if (points.central_meridian_degrees) {
    const double meridian = *points.central_meridian_degrees;
    if (!(meridian >= -180.0 && meridian <= 180.0)) {
      throw Error(path + ": \"define\".\"central_meridian\" " +
                  ShortestNumberText(meridian) +
                  " is outside [-180, 180] degrees");
    }
  }
  if (points.scale_factor) {
    const double factor = *points.scale_factor;
    if (!(factor >= kLeastScaleFactor && factor <= kMostScaleFactor)) {
      throw Error(path + ": \"define\".\"scale_factor\" " +
                  ShortestNumberText(factor) +
                  " is outside [0.99, 1.01] (a grid's scale factor on its "
                  "central meridian, such as UTM's 0.9996)");
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    const GeodeticPoint& point = points.source[i];
    const bool longitude_valid = point.longitude_degrees >= -180.0 &&
                                 point.longitude_degrees <= 180.0;
    const bool latitude_valid =
        point.latitude_degrees > -90.0 && point.latitude_degrees < 90.0;
    if (!longitude_valid || !latitude_valid) RefuseIfGeocentric(point, i, path);
    if (!longitude_valid) {
      throw Error(path + ": " + PointName("srcpoints", i) + ": longitude " +
                  ShortestNumberText(point.longitude_degrees) +
                  " is outside [-180, 180]");
    }
    if (!latitude_valid) {
      // A latitude of 90 to 180 with a longitude below 90 is the pair the
      // wrong way round: "srcpoints" takes the longitude first.
      const bool swapped = std::fabs(point.latitude_degrees) <= 180.0 &&
                           std::fabs(point.longitude_degrees) < 90.0;
      throw Error(path + ": " + PointName("srcpoints", i) + ": latitude " +
                  ShortestNumberText(point.latitude_degrees) +
                  " is not strictly between -90 and 90" +
                  (swapped ? "; \"srcpoints\" takes the longitude first, "
                             "then the latitude"
                           : ""));
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
