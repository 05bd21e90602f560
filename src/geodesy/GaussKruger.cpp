// Gauss-Krueger projection after the USGS transverse Mercator formulas
// (Snyder 1987, equations 3-21, 8-9 to 8-10 and 8-12 to 8-25), with the scale
// factor on the central meridian fixed at 1.
//
// Deviations from Snyder's presentation, each kept for the printed digits:
//   - degrees become radians by multiplication with kDegreeToRadian, and the
//     longitude difference is formed in radians (lambda*K - L0*K);
//   - e^2 is formed as f + f - f*f;
//   - the constant terms -58 e'^2 and -330 e'^2 of the forward series and
//     -9 e'^2, -252 e'^2 and +8 e'^2 of the inverse use e'^2 itself, as in
//     Snyder, not eta^2.
#include "geodesy/GaussKruger.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/Error.hpp"
#include "geodesy/Constants.hpp"

namespace helmert {

namespace {

double EccentricitySquared(double flattening) {
  return flattening + flattening - flattening * flattening;
}

// Coefficient of the latitude term of the meridian arc.
double MeridianArcM1(double e2) {
  const double e4 = e2 * e2;
  const double e6 = e4 * e2;
  return 1.0 - e2 / 4.0 - 3.0 * e4 / 64.0 - 5.0 * e6 / 256.0;
}

}  // namespace

double SelectCentralMeridian(const std::vector<GeodeticPoint>& source_points) {
  if (source_points.empty()) {
    throw Error("no source points to choose the central meridian from");
  }
  double least = source_points.front().longitude_degrees;
  double most = least;
  for (const GeodeticPoint& point : source_points) {
    least = std::min(least, point.longitude_degrees);
    most = std::max(most, point.longitude_degrees);
  }
  // A site across the 180th meridian (longitudes near 180 and near -180)
  // spans more than half the globe in plain numbers; its mean is taken
  // with the western longitudes counted past 180.
  const bool across_antimeridian = most - least > kHalfTurnDegrees;
  double sum = 0.0;
  for (const GeodeticPoint& point : source_points) {
    const double longitude = point.longitude_degrees;
    sum += across_antimeridian && longitude < 0.0
               ? longitude + 2.0 * kHalfTurnDegrees
               : longitude;
  }
  const double mean = sum / static_cast<double>(source_points.size());
  if (!(std::fabs(mean) <= 2.0 * kHalfTurnDegrees)) {
    throw Error("mean source longitude " + std::to_string(mean) +
                " is outside [-180, 180]");
  }
  // The floor, not the truncation toward zero: truncation would move zones
  // west of -1.5 degrees up to one zone toward the prime meridian.
  const double zone =
      std::floor((mean + kZoneWidthDegrees / 2.0) / kZoneWidthDegrees);
  return WrapLongitude(kZoneWidthDegrees * zone);
}

double WrapLongitude(double longitude_degrees) {
  if (longitude_degrees > kHalfTurnDegrees) {
    return longitude_degrees - 2.0 * kHalfTurnDegrees;
  }
  if (longitude_degrees <= -kHalfTurnDegrees) {
    return longitude_degrees + 2.0 * kHalfTurnDegrees;
  }
  return longitude_degrees;
}

double ReduceLongitudeDifference(double difference_degrees) {
  if (difference_degrees >= kHalfTurnDegrees) {
    return difference_degrees - 2.0 * kHalfTurnDegrees;
  }
  if (difference_degrees < -kHalfTurnDegrees) {
    return difference_degrees + 2.0 * kHalfTurnDegrees;
  }
  return difference_degrees;
}

int ZoneNumber(double central_meridian_degrees) {
  const int zone =
      static_cast<int>(central_meridian_degrees / kZoneWidthDegrees);
  return zone > 0 ? zone : zone + kZoneCount;
}

double MeridianArc(double latitude_radians, double semi_major_axis,
                   double eccentricity_squared) {
  const double e2 = eccentricity_squared;
  const double e4 = e2 * e2;
  const double e6 = e4 * e2;
  const double m1 = MeridianArcM1(e2);
  const double m2 = 3.0 * e2 / 8.0 + 3.0 * e4 / 32.0 + 45.0 * e6 / 1024.0;
  const double m3 = 15.0 * e4 / 256.0 + 45.0 * e6 / 1024.0;
  const double m4 = 35.0 * e6 / 3072.0;
  const double b = latitude_radians;
  return semi_major_axis * (m1 * b - m2 * std::sin(2.0 * b) +
                            m3 * std::sin(4.0 * b) - m4 * std::sin(6.0 * b));
}

PlanePair GaussKrugerForward(const GeodeticPair& geodetic,
                             double central_meridian_degrees,
                             double false_easting, double false_northing,
                             double semi_major_axis, double flattening) {
  const double e2 = EccentricitySquared(flattening);
  const double ep2 = e2 / (1.0 - e2);  // second eccentricity squared

  const double b = geodetic.latitude_degrees * kDegreeToRadian;
  const double sin_b = std::sin(b);
  const double cos_b = std::cos(b);
  // Radius of curvature in the prime vertical.
  const double nu = semi_major_axis / std::sqrt(1.0 - e2 * sin_b * sin_b);
  const double t = std::tan(b);
  const double t2 = t * t;
  const double t4 = t2 * t2;
  const double eta2 = ep2 * cos_b * cos_b;
  const double eta4 = eta2 * eta2;

  // The longitude taken to within half a turn of the central meridian:
  // only a zone at 180 degrees has points whose plain difference exceeds it.
  double longitude = geodetic.longitude_degrees;
  const double difference = longitude - central_meridian_degrees;
  if (difference >= kHalfTurnDegrees) longitude -= 2.0 * kHalfTurnDegrees;
  if (difference < -kHalfTurnDegrees) longitude += 2.0 * kHalfTurnDegrees;
  const double l =
      longitude * kDegreeToRadian - central_meridian_degrees * kDegreeToRadian;
  const double a1 = l * cos_b;
  const double a2 = a1 * a1;
  const double a3 = a2 * a1;
  const double a4 = a3 * a1;
  const double a5 = a4 * a1;
  const double a6 = a5 * a1;

  const double easting_part =
      nu * (a1 + (1.0 - t2 + eta2) * a3 / 6.0 +
            (5.0 - 18.0 * t2 + t4 + 72.0 * eta2 - 58.0 * ep2) * a5 / 120.0);
  const double northing_part =
      MeridianArc(b, semi_major_axis, e2) +
      nu * t *
          (a2 / 2.0 + (5.0 - t2 + 9.0 * eta2 + 4.0 * eta4) * a4 / 24.0 +
           (61.0 - 58.0 * t2 + t4 + 600.0 * eta2 - 330.0 * ep2) * a6 / 720.0);

  return {easting_part + false_easting, northing_part + false_northing};
}

GeodeticPair GaussKrugerInverse(const PlanePair& plane,
                                double central_meridian_degrees,
                                double false_easting, double false_northing,
                                double semi_major_axis, double flattening) {
  const double e2 = EccentricitySquared(flattening);
  const double r = std::sqrt(1.0 - e2);
  const double ep2 = e2 / (1.0 - e2);
  const double e1 = (1.0 - r) / (1.0 + r);
  const double e1_2 = e1 * e1;
  const double e1_3 = e1_2 * e1;
  const double e1_4 = e1_3 * e1;

  // Rectifying latitude, then the footpoint latitude by Snyder's series.
  const double meridian_distance = plane.northing - false_northing;
  const double mu = meridian_distance / (semi_major_axis * MeridianArcM1(e2));
  const double j1 = 3.0 * e1 / 2.0 - 27.0 * e1_3 / 32.0;
  const double j2 = 21.0 * e1_2 / 16.0 - 55.0 * e1_4 / 32.0;
  const double j3 = 151.0 * e1_3 / 96.0;
  const double j4 = 1097.0 * e1_4 / 512.0;
  const double phi1 = mu + j1 * std::sin(2.0 * mu) + j2 * std::sin(4.0 * mu) +
                      j3 * std::sin(6.0 * mu) + j4 * std::sin(8.0 * mu);

  const double c1 = std::cos(phi1);
  const double sin_phi1 = std::sin(phi1);
  const double t1 = std::tan(phi1);
  const double tt1 = t1 * t1;        // Snyder's T1
  const double cc1 = ep2 * c1 * c1;  // Snyder's C1
  const double q = 1.0 - e2 * sin_phi1 * sin_phi1;
  const double nu1 = semi_major_axis / std::sqrt(q);  // prime vertical
  const double rho1 = semi_major_axis * (1.0 - e2) / std::sqrt(q * q * q);
  const double d = (plane.easting - false_easting) / nu1;
  const double d2 = d * d;
  const double d3 = d2 * d;
  const double d4 = d3 * d;
  const double d5 = d4 * d;
  const double d6 = d5 * d;

  const double longitude = ((d - (1.0 + 2.0 * tt1 + cc1) * d3 / 6.0 +
                             (5.0 - 2.0 * cc1 + 28.0 * tt1 - 3.0 * cc1 * cc1 +
                              8.0 * ep2 + 24.0 * tt1 * tt1) *
                                 d5 / 120.0) /
                                c1 +
                            central_meridian_degrees * kDegreeToRadian) /
                           kDegreeToRadian;
  const double latitude =
      (phi1 -
       (nu1 * t1 / rho1) *
           (d2 / 2.0 -
            (5.0 + 3.0 * tt1 + 10.0 * cc1 - 4.0 * cc1 * cc1 - 9.0 * ep2) * d4 /
                24.0 +
            (61.0 + 90.0 * tt1 + 298.0 * cc1 + 45.0 * tt1 * tt1 - 252.0 * ep2 -
             3.0 * cc1 * cc1) *
                d6 / 720.0)) /
      kDegreeToRadian;
  return {longitude, latitude};
}

PlanePair ZoneForward(const GeodeticPair& geodetic, const Zone& zone) {
  // The offsets from the false origin come out of the series exactly
  // (adding a false easting of 0 changes no bit), so that k0 = 1 multiplies
  // by one and the sum with the false easting is the series' own.
  const PlanePair offset =
      GaussKrugerForward(geodetic, zone.central_meridian_degrees, 0.0, 0.0,
                         kWgs84SemiMajorAxis, kWgs84Flattening);
  const double k0 = zone.scale_factor;
  return {k0 * offset.easting + kFalseEasting,
          k0 * offset.northing + kFalseNorthing};
}

GeodeticPair ZoneInverse(const PlanePair& plane, const Zone& zone) {
  // The series subtracts its false easting and northing first; doing it
  // here, then dividing by k0 (by one, exactly, for k0 = 1), gives it the
  // same differences.
  const double k0 = zone.scale_factor;
  return GaussKrugerInverse({(plane.easting - kFalseEasting) / k0,
                             (plane.northing - kFalseNorthing) / k0},
                            zone.central_meridian_degrees, 0.0, 0.0,
                            kWgs84SemiMajorAxis, kWgs84Flattening);
}

GeodeticPair ZoneInverseExact(const PlanePair& plane, const Zone& zone) {
  constexpr int kMostSteps = 8;
  // Below this (metres) the forward map of the estimate is the point.
  constexpr double kArrived = 1e-11;
  const GeodeticPair target = ZoneInverse(plane, zone);
  GeodeticPair estimate = target;
  for (int step = 0; step < kMostSteps; ++step) {
    const PlanePair forward = ZoneForward(estimate, zone);
    if (std::hypot(forward.easting - plane.easting,
                   forward.northing - plane.northing) <= kArrived) {
      break;
    }
    const GeodeticPair back = ZoneInverse(forward, zone);
    estimate.longitude_degrees +=
        target.longitude_degrees - back.longitude_degrees;
    estimate.latitude_degrees += target.latitude_degrees - back.latitude_degrees;
  }
  return estimate;
}

std::vector<Point3> ProjectToZone(const std::vector<GeodeticPoint>& geodetic,
                                  const Zone& zone) {
  std::vector<Point3> projected;
  projected.reserve(geodetic.size());
  for (const GeodeticPoint& point : geodetic) {
    const PlanePair plane =
        ZoneForward({point.longitude_degrees, point.latitude_degrees}, zone);
    projected.push_back({plane.easting, plane.northing, point.height_metres});
  }
  return projected;
}

}  // namespace helmert
