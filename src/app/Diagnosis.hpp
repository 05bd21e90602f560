// What a refused fit most likely means. A fit is refused when its
// closed-form minimum is not plausible (rotations beyond 1e-3 rad, a scale
// beyond 1 +- 1e-2, a mirror image); the refusal should then say which of
// the usual mistakes the numbers point to, and what to do about it.
#pragma once

#include <string>
#include <vector>

#include "estimation/BursaWolf.hpp"
#include "io/ControlPoints.hpp"

namespace helmert {

// The likely cause of an implausible fit, as one clause for the refusal's
// message. Each cause is confirmed by correcting it and fitting again in
// closed form: the first correction that makes the fit plausible is named.
// In this order:
//   1. the grid in feet: the scale (or the plan scale, with heights in
//      metres) is that of international or US survey feet;
//   2. easting and northing swapped in every destination point, or a grid
//      whose axes point west and south (both negated, perhaps swapped);
//   3. longitude and latitude swapped in every source point;
//   4. source angles in radians;
//   5. source angles in packed degrees-minutes-seconds (DD.MMSS), when
//      every one of them reads as such (minutes and seconds below 60);
//   6. a grid whose central meridian differs from the zone's: the rotation
//      about the vertical implies it (delta longitude = -R_z / sin(mean
//      latitude)); a meridian within 0.05 degrees of a multiple of 3 is
//      taken as that multiple;
//   7. one wrong point: the fit without it (BestFitWithoutOnePoint), named
//      only when the other points determine their fit, with its likely
//      fault (easting and northing swapped, a digit slip).
// Otherwise the usual causes, listed. `zone` is the zone the points were
// projected into; `refused` the refused parameters.
std::string DiagnoseImplausibleFit(const ControlPoints& points,
                                   const Zone& zone,
                                   const TransformParameters& refused);

// What an accepted fit's numbers point to, as warning lines (without
// "warning: "), each naming what to do; none for a clean fit:
//   - a Scale beyond any datum's whose effect on the heights matters
//     (GridScaleOnHeights): the grid's scale factor, to be named;
//   - plan residuals beyond kLeastAdvisedPlanRms whose sum of squares
//     (with the heights') a zone at a neighbouring meridian (3 and 6
//     degrees either side, and the one the rotation about the vertical
//     implies) cuts to less than a quarter: that meridian, to be named.
//     Near the equator the rotation cannot show a wrong meridian, its
//     scale across the site can.
// `projected` are the source points in `zone`, `parameters` the fit's.
std::vector<std::string> AdviseOnFit(const ControlPoints& points,
                                     const Zone& zone,
                                     const std::vector<Point3>& projected,
                                     const TransformParameters& parameters);

// Plan residuals whose RMS is at most this (metres) are a survey's, not a
// wrong zone's.
inline constexpr double kLeastAdvisedPlanRms = 0.05;

}  // namespace helmert
