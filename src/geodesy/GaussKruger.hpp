// Gauss-Krueger (ellipsoidal transverse Mercator) projection of a 3-degree
// zone, in the power-series form of the USGS transverse Mercator formulas
// (J. P. Snyder, Map Projections - A Working Manual, USGS Professional Paper
// 1395, 1987, pp. 60-64):
//   - the meridian arc to the sixth power of the eccentricity;
//   - the easting to the fifth and the northing to the sixth power of the
//     longitude difference;
//   - the inverse through the rectifying and footpoint latitudes, with the
//     footpoint series to the fourth power of e1. No iteration.
// GaussKrugerForward and GaussKrugerInverse keep the central meridian true
// to scale; a zone with a scale factor k0 on its central meridian (UTM's
// 0.9996, a national grid's) is that projection scaled by k0 about the
// zone's origin (ZoneForward, ZoneInverse).
//
// Accuracy: within 3 degrees of the central meridian the forward series
// agrees with PROJ's exact transverse Mercator within 0.1 mm up to 30
// degrees of latitude, 0.14 mm at 40, 0.41 mm at 50, 0.76 mm at 60 and
// 0.96 mm at 70 (the truncated meridian arc dominates); the
// forward-inverse round trip within 1.5 degrees of it and up to 60 degrees of
// latitude returns the longitude within 1e-9 and the latitude within 1e-8
// degrees. Farther out the series lose accuracy; nothing is checked here.
//
// Deliberately not done: no zone number in front of the easting, no southern
// false northing, no range checks. The caller validates its input once, at
// the boundary.
#pragma once

#include <vector>

#include "common/Point3.hpp"

namespace helmert {

// Geodetic coordinates of one point (degrees, longitude positive east,
// latitude positive north).
struct GeodeticPair {
  double longitude_degrees = 0.0;
  double latitude_degrees = 0.0;
};

// Plane coordinates of one point in a zone (metres, false easting and false
// northing included).
struct PlanePair {
  double easting = 0.0;
  double northing = 0.0;
};

// The central meridian (degrees, a whole multiple of 3 within (-180, 180])
// of the 3-degree zone nearest to the mean longitude of all source points:
// 3 * floor((mean + 1.5) / 3). A mean exactly halfway between two central
// meridians goes to the eastern one (115.5 gives 117). When the longitudes
// span more than 180 degrees the site lies across the 180th meridian: the
// mean is taken with the negative longitudes shifted by 360, and the zone
// wrapped into (-180, 180] (179.5 and -179.5 give 180). Reads the longitude
// of each point only. Requires at least one point and longitudes within
// [-180, 180]; throws Error otherwise.
double SelectCentralMeridian(const std::vector<GeodeticPoint>& source_points);

// The number of the 3-degree zone with this central meridian (degrees, a
// whole multiple of 3 within [-180, 180]): L0 / 3, counted eastward from
// Greenwich through 1..120 (L0 = 0 is zone 120, L0 = -72 zone 96, L0 = 180
// and -180 are both zone 60).
int ZoneNumber(double central_meridian_degrees);

// The longitude (degrees) brought into (-180, 180] by one turn at most.
double WrapLongitude(double longitude_degrees);

// A difference of longitudes (degrees) brought into [-180, 180) by one turn
// at most.
double ReduceLongitudeDifference(double difference_degrees);

// Length of the meridian from the equator to latitude_radians (metres,
// negative south of the equator), on the ellipsoid with the given semi-major
// axis (metres) and first eccentricity squared.
double MeridianArc(double latitude_radians, double semi_major_axis,
                   double eccentricity_squared);

// Projects geodetic (degrees) to plane (metres) coordinates of the zone with
// the given central meridian (degrees), false easting and false northing
// (metres), on the ellipsoid with the given semi-major axis (metres) and
// flattening. The longitude's difference to the central meridian is taken
// within [-180, 180), so that a zone at 180 degrees takes points on both
// sides of the 180th meridian.
PlanePair GaussKrugerForward(const GeodeticPair& geodetic,
                             double central_meridian_degrees,
                             double false_easting, double false_northing,
                             double semi_major_axis, double flattening);

// The inverse of GaussKrugerForward with the same parameters: plane
// coordinates (metres) of the zone to geodetic coordinates (degrees). The
// longitude is the central meridian plus the computed difference, not brought
// into any range.
GeodeticPair GaussKrugerInverse(const PlanePair& plane,
                                double central_meridian_degrees,
                                double false_easting, double false_northing,
                                double semi_major_axis, double flattening);

// A transverse Mercator zone on WGS84 with the tool's false easting
// (500000 m) and no false northing: its central meridian (degrees) and the
// scale factor on it (1: true to scale, the Gauss-Krueger zones).
// A meridian alone converts to the zone true to scale at it.
struct Zone {
  Zone() = default;
  Zone(double central_meridian, double scale_factor_on_meridian = 1.0)
      : central_meridian_degrees(central_meridian),
        scale_factor(scale_factor_on_meridian) {}
  double central_meridian_degrees = 0.0;
  double scale_factor = 1.0;
};

// Geodetic (degrees) to plane (metres) coordinates of the zone: easting
// 500000 + k0 * Y, northing k0 * X, where (Y, X) is GaussKrugerForward's
// offset from the false origin. With k0 = 1 the result is GaussKrugerForward's
// to the last bit.
PlanePair ZoneForward(const GeodeticPair& geodetic, const Zone& zone);

// The zone's inverse series: plane (metres) to geodetic (degrees)
// coordinates, GaussKrugerInverse of ((easting - 500000) / k0,
// northing / k0). With k0 = 1 the result is GaussKrugerInverse's to the last
// bit. Like that series, not the exact inverse of ZoneForward: a round trip
// misses by up to about a millimetre at 3.5 degrees from the meridian.
GeodeticPair ZoneInverse(const PlanePair& plane, const Zone& zone);

// The exact inverse of ZoneForward: the geodetic point (degrees) whose
// ZoneForward is the plane point, found by iteration from ZoneInverse
// (g <- g + ZoneInverse(p) - ZoneInverse(ZoneForward(g)); the two series
// differ by at most a millimetre, so each step gains some five digits).
// A point taken to the zone and back returns within 1e-8 mm anywhere
// within 3.5 degrees of the meridian and 80 degrees of latitude.
GeodeticPair ZoneInverseExact(const PlanePair& plane, const Zone& zone);

// The points of `geodetic` as (easting, northing, height) of the zone
// (ZoneForward); the height is carried over unchanged. In list order.
std::vector<Point3> ProjectToZone(const std::vector<GeodeticPoint>& geodetic,
                                  const Zone& zone);

}  // namespace helmert
