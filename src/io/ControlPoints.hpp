// The control points of a run, whatever document they came from: source
// point i (WGS84) and destination point i (local grid) describe the same
// physical point.
#pragma once

#include <string>
#include <vector>

#include "common/Point3.hpp"

namespace helmert {

struct ControlPoints {
  std::vector<GeodeticPoint> source;  // longitude, latitude (deg), height (m)
  std::vector<Point3> destination;    // easting, northing, height (metres)
};

// Checks what the fit needs of the points beyond the document's form: at
// least 3 control points (seven parameters need at least 9 observations),
// source longitudes within [-180, 180] and latitudes strictly between -90
// and 90 (the projection series is meaningless at the poles). `path` names
// the document in messages. Throws Error naming the point and the value.
void ValidateControlPoints(const ControlPoints& points,
                           const std::string& path);

}  // namespace helmert
