// The result document: one compact JSON line that takes local-grid points
// back to the zone,
//   {"R":[9 numbers],"T":[T_x,T_y,T_z],"S":Scale,"L0":central meridian}
// where R is M^-1 row by row. A destination point minus T, multiplied by R,
// divided by S, is the projected point (easting, northing, height) of the
// zone with central meridian L0 (degrees); the inverse projection of that
// zone then gives longitude and latitude. Numbers are written by RapidJSON's
// Writer::Double (Grisu2 shortest digits, whole values with ".0"), no spaces,
// no line end.
#pragma once

#include <string>

#include "estimation/BursaWolf.hpp"

namespace helmert {

// The document text for the fitted parameters and the central meridian
// (degrees). Throws Error when a value is not finite: such a value has no
// JSON form, and no document is better than a broken one.
std::string FormatResultDocument(const TransformParameters& parameters,
                                 double central_meridian_degrees);

// Replaces the file at path with the text. Throws Error "Error writing file:
// <path>: <reason>" when the file cannot be opened, written or closed.
void WriteResultDocument(const std::string& path, const std::string& text);

}  // namespace helmert
