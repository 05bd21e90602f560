// A grid's scale factor taken for a datum's: what Scale says about the
// heights.
//
// The model has one Scale for plan and height. A transverse Mercator grid
// with a scale factor k0 on its central meridian (UTM 0.9996, a national
// grid's) scales easting and northing by k0 but not the heights; fitted in a
// zone true to scale, Scale takes k0 from the plan and applies it to the
// heights as well, which then come out wrong by (k0 - 1) times their
// distance from the site's mean height. No relation between two datums
// changes scale by more than a few parts in 1e5, so a Scale beyond that
// points at the grid.
#pragma once

#include <optional>
#include <string>

namespace helmert {

// |Scale - 1| beyond this is not a datum's (the largest datum scale
// changes are about 1e-5; 3e-5 leaves room for a network's own scale).
inline constexpr double kMostDatumScaleDeviation = 3e-5;
// The heights' error from the scale below this (metres) changes nothing a
// surveyor decides.
inline constexpr double kLeastHeightScalingMetres = 5e-3;
// A usual grid scale factor is named when Scale lies this close to it.
inline constexpr double kUsualFactorTolerance = 2e-5;

// What a Scale beyond a datum's does to the heights.
struct HeightScaling {
  double scale = 1.0;                // the fit's Scale
  double height_range_metres = 0.0;  // of the grid heights
  double height_error_metres = 0.0;  // range times |Scale - 1|
  std::optional<double> named_factor;  // the zone's own, as given
  // The usual grid scale factor nearest to the grid's implied one, when
  // one lies within kUsualFactorTolerance of it (0.9996 for UTM,
  // 0.9996012717 for the British National Grid, ...).
  std::optional<double> usual_factor;
};

// The scaling of the heights when |Scale - 1| exceeds
// kMostDatumScaleDeviation and the heights' range (metres) times it
// exceeds kLeastHeightScalingMetres; none otherwise. `named_factor` is the
// scale factor the zone already has (a document's "scale_factor"): the
// grid's own is then about named_factor * Scale, and that is what the
// usual factors are compared with (1 among them: a factor named for a
// grid that has none).
std::optional<HeightScaling> GridScaleOnHeights(
    double scale, double height_range_metres,
    std::optional<double> named_factor = std::nullopt);

// One clause for a warning or a verdict: "Scale = 0.9996 (-400 ppm) is no
// datum's: it scales the heights too, by up to 152 mm over their 380 m;
// if the grid's scale factor is 0.9996, add "scale_factor": 0.9996 to
// "define"".
std::string HeightScalingAdvice(const HeightScaling& scaling);

}  // namespace helmert
