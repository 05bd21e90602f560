// The control points of a run, whatever document they came from: source
// point i (WGS84) and destination point i (local grid) describe the same
// physical point.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/Point3.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {

struct ControlPoints {
  std::vector<GeodeticPoint> source;  // longitude, latitude (deg), height (m)
  std::vector<Point3> destination;    // easting, northing, height (metres)
  // The grid's central meridian (degrees, within [-180, 180]) when the
  // document names it; the zone is then a transverse Mercator zone at that
  // meridian, not the 3-degree zone nearest to the points.
  std::optional<double> central_meridian_degrees;
  // The grid's scale factor on its central meridian when the document
  // names it (within [kLeastScaleFactor, kMostScaleFactor]): the zone is
  // then scaled by it, so that the fit's Scale is the datum's alone and the
  // heights are not scaled by the grid's factor.
  std::optional<double> scale_factor;
};

// The range of a grid's scale factor on its central meridian: UTM's 0.9996
// and every national grid's lie far inside it.
inline constexpr double kLeastScaleFactor = 0.99;
inline constexpr double kMostScaleFactor = 1.01;

// The zone the points are projected into: ZoneCentralMeridian and the
// document's scale factor (1 when it names none).
Zone ZoneOf(const ControlPoints& points);

// The central meridian (degrees) of the zone the points are projected into:
// the document's own when it names one, else the 3-degree zone's nearest to
// the points' mean longitude (SelectCentralMeridian).
double ZoneCentralMeridian(const ControlPoints& points);

// No coordinate in metres (source height, destination easting, northing or
// height) lies farther from 0: nothing on or near the Earth needs it, zone
// prefixes stay far inside it (at most 6.05e7 m), and beyond it a double no
// longer resolves the millimetre sums of the fit.
inline constexpr double kMostMetres = 1e8;

// Checks what the fit needs of the points beyond the document's form: at
// least 3 control points (seven parameters need at least 9 observations),
// a named central meridian within [-180, 180], a named scale factor within
// [kLeastScaleFactor, kMostScaleFactor], source longitudes within
// [-180, 180] and latitudes strictly between -90
// and 90 (the projection series is meaningless at the poles), and every
// length within kMostMetres of 0. `path` names the document in messages.
// Throws Error naming the point (counted from 1) and the value; a source
// point that is a geocentric X, Y, Z (a norm near the Earth's radius) or a
// latitude-longitude pair is named as such, with what to do.
void ValidateControlPoints(const ControlPoints& points,
                           const std::string& path);

}  // namespace helmert
