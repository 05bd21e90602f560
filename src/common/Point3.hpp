// Plain value records that flow between the stages of a run.
#pragma once

namespace helmert {

// Three coordinates of one control point. Which frame they belong to is
// told by the list that holds the point:
//   source point:           (longitude in degrees, latitude in degrees,
//                            ellipsoidal height in metres), WGS84;
//   projected source point: (easting in metres with the 500000 m false
//                            easting included, northing in metres from the
//                            equator, height in metres) in the chosen zone;
//   destination point:      (easting, northing, height) of the local grid,
//                            in metres, matched axis by axis with the
//                            projected source point.
struct Point3 {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

}  // namespace helmert
