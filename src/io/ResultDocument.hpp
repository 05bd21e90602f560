// The result document: one compact JSON line that takes local-grid points
// back to the zone,
//   {"R":[9 numbers],"T":[T_x,T_y,T_z],"S":Scale,"L0":central meridian}
// where R is M^-1 row by row. A destination point minus T, multiplied by R,
// divided by S, is the projected point (easting, northing, height) of the
// zone with central meridian L0 (degrees); the inverse projection of that
// zone then gives longitude and latitude. A zone with a scale factor on its
// central meridian (a control-point document's "scale_factor") adds a
// member "k0" after "L0"; without one the document has no such member. Numbers are written by RapidJSON's
// Writer::Double (Grisu2 shortest digits, whole values with ".0"), no spaces,
// no line end.
#pragma once

#include <Eigen/Core>
#include <optional>
#include <string>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {

// The document text for the fitted parameters and the central meridian
// (degrees). Throws Error when a value is not finite: such a value has no
// JSON form, and no document is better than a broken one.
std::string FormatResultDocument(
    const TransformParameters& parameters, double central_meridian_degrees,
    std::optional<double> scale_factor = std::nullopt);

// What a result document holds, as read back.
struct StoredTransformation {
  // "R" as written: M^-1, which takes (destination - T) to the zone's frame
  // before the division by the scale.
  Eigen::Matrix3d zone_from_grid_rotation = Eigen::Matrix3d::Identity();
  // The fitted parameters: T and the scale as written ("T", "S"), the
  // angles recovered from M, the inverse of "R": R_x = M(2,1),
  // R_y = M(0,2), R_z = M(1,0).
  TransformParameters parameters;
  double central_meridian_degrees = 0.0;  // "L0" (degrees)
  std::optional<double> scale_factor;     // "k0", when the document has it
  // The zone of "L0" and "k0" (1 without it).
  Zone zone() const {
    return Zone{central_meridian_degrees, scale_factor.value_or(1.0)};
  }
};

// How far the inverse of "R" may be from the linearised rotation matrix of
// the angles read off it. A document written by helmert-fit is within
// rounding (1e-16); a larger deviation means a matrix of another form,
// whose transformation the seven parameters cannot express.
inline constexpr double kMostRotationMatrixDeviation = 1e-9;

// Parses a result document's text; `path` is used in messages only. Refuses,
// with a one-line message naming the path and the member (elements
// counted from 1): invalid JSON (with
// the byte offset), a root that is not an object, a missing member, "R" that
// is not an array of 9 numbers, "T" not an array of 3, "S" that is not a
// positive number, "L0" that is not a number within [-180, 180] (any
// meridian, not only a 3-degree zone's), "k0" (when present) that is not a
// number within [0.99, 1.01], a singular "R" and one whose inverse is not a linearised
// rotation matrix
// within kMostRotationMatrixDeviation. Other members are ignored, as in the
// control-point document.
StoredTransformation ParseResultDocument(const std::string& text,
                                         const std::string& path);

}  // namespace helmert
