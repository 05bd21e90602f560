// Plain value records that flow between the stages of a run. The type says
// the frame: a WGS84 point in degrees is a GeodeticPoint, a point of a plane
// grid in metres is a Point3.
#pragma once

namespace helmert {

// A point of a plane grid and its height, in metres: either a projected
// source point (easting with the 500000 m false easting included, northing
// from the equator, ellipsoidal height) in the chosen zone, or a destination
// point (easting, northing, height) of the local grid, matched axis by axis
// with the projected source point. Also a residual vector in the same axes.
struct Point3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// A source point on WGS84: longitude and latitude in decimal degrees
// (positive east and north), ellipsoidal height in metres.
struct GeodeticPoint {
  double longitude_degrees = 0.0;
  double latitude_degrees = 0.0;
  double height_metres = 0.0;
};

}  // namespace helmert
