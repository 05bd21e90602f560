// The report model of helmert-report: a transformation read from a result
// document, evaluated on a control-point document, with every figure its
// forms show (ReportForms.hpp), computed once.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/GridScale.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"
#include "statistics/Assessment.hpp"

namespace helmert {

// Everything the report shows, computed once for all its forms.
struct TransformationReport {
  std::string control_path;
  std::string result_path;
  std::string fit_path;  // empty: no --fit
  std::optional<FitReference> reference;
  StoredTransformation stored;
  // The points' names from the document, or their numbers from 1: what
  // every output calls point i. `labels` are well-formed printable UTF-8
  // (a byte or control that is not becomes U+FFFD) for the JSON, GeoJSON
  // and SVG forms; `shown_labels` have controls, bidirectional overrides
  // and bytes that are not UTF-8 escaped (ShownText) for the text.
  std::vector<std::string> labels;
  std::vector<std::string> shown_labels;
  std::vector<GeodeticPoint> source;
  std::vector<Point3> projected;  // in the document's zone (metres)
  std::vector<Point3> destination;
  // The central meridian that helmert-fit would choose for these points
  // (the control-point document's named one, or the 3-degree zone's
  // nearest to them); it differs from the result's when the points lie in
  // another zone.
  double points_central_meridian_degrees = 0.0;
  // The zone is a transverse Mercator zone at a meridian that a document
  // named, not a numbered 3-degree zone: the control-point document names
  // one, or "L0" is not a multiple of 3.
  bool named_meridian = false;
  // The zone number in front of the grid's easting, read off T_x
  // (GridZonePrefix); 0: none.
  int zone_prefix = 0;
  // The largest distance of a point from the result's meridian (degrees of
  // longitude).
  double farthest_from_meridian_degrees = 0.0;
  // Pairs of points (indices from 0) whose source and grid coordinates are
  // both the same: each pair counts twice in the degrees of freedom.
  std::vector<std::pair<std::size_t, std::size_t>> duplicated_points;
  // The Scale is a grid's scale factor, which scales the heights as well
  // (GridScaleOnHeights over the grid heights' range); none otherwise.
  std::optional<HeightScaling> height_scaling;
  Assessment assessment;
  // One line a surveyor can act on, with the numbers that decide it (see
  // ReportVerdict); every form shows it, the text with shown_labels.
  std::string verdict;
  std::string shown_verdict;
  std::string grid_to_wgs84;  // PROJ pipelines
  std::string wgs84_to_grid;
};

// The zone number in front of a grid's easting, as T_x shows it: T_x within
// 100 km of k * 1e6 m for k from 1 to 120 (the grid's false easting less
// the zone's 500 km, plus the rotation's lever arm, stays far below that).
// 0 when T_x is no such value.
int GridZonePrefix(double translation_x_metres);

// Points lying farther than this from the result's central meridian
// (degrees of longitude), or residuals whose RMS (metres, all three
// components) exceeds the second, mean the transformation does not belong
// to the points: it was fitted on another site or another grid.
inline constexpr double kMostDegreesFromMeridian = 3.5;
inline constexpr double kMostResidualRmsMetres = 100.0;

// The verdict, the first of these that holds:
//   "the check points do not agree with the fit" (with --fit, the F test);
//   "the residuals are K times the stated precision in GROUP (...): CAUSE"
//     (with a stated precision, the global test; CAUSE from the pattern
//     test, the flags, or neither);
//   "systematic residuals in dH: the grid's scale factor acts on the
//     heights" (height_scaling, with what to do);
//   "systematic residuals in COMPONENTS: CAUSE" (the trend test, the cause
//     that fits the components that carry the pattern);
//   "check point(s) NAME (component), ..." (the blunder test's flags);
//   "the transformation fits these points";
// each followed by the figures that decide it; "fits" also says whether
// the residuals were judged against a stated precision or against their
// own scatter only (with the precision found).
// Points are called by `labels` (the report's labels or shown_labels).
std::string ReportVerdict(const TransformationReport& report,
                          const std::vector<std::string>& labels);

// The "systematic residuals ..." clause of the verdict when the residuals
// carry a pattern (the grid's scale factor, or the trend test's), else
// empty.
std::string SystematicVerdict(const TransformationReport& report);

// A trend model's name as the outputs give it: "quadratic", "cubic",
// "height".
const char* TrendModelName(TrendModel model);

// What a pattern says, as the report's verdict gives it: the cause that
// fits the components and models that carry it.
const char* PatternCause(TrendPattern pattern);

// A meridian in degrees as a surveyor writes it: 114, 114.17855556.
std::string MeridianText(double degrees);

// Projects the points into the document's zone and assesses the document's
// transformation on them. The points must have passed
// ValidateControlPoints. With `fit_points` (the control points the
// transformation was fitted on, from fit_path), the points are check points
// judged against that fit. `names` are the points' names (empty: the points
// are numbered from 1). With `stated`, the points are tested against the
// survey's stated precision. Throws Error, naming the documents, when points lie
// beyond kMostDegreesFromMeridian of the meridian they belong to (the
// zone's series does not reach them), when the transformation does not
// belong to the points (another meridian beyond that limit, or
// kMostResidualRmsMetres), the residuals are too large to be
// represented, the reverse map overflows, or the transformation is not the
// least-squares fit to `fit_points`.
TransformationReport BuildReport(const std::string& control_path,
                                 ControlPoints points,
                                 const std::string& result_path,
                                 const StoredTransformation& stored,
                                 const ControlPoints* fit_points = nullptr,
                                 const std::string& fit_path = "",
                                 std::vector<std::string> names = {},
                                 const StatedPrecision* stated = nullptr);

}  // namespace helmert
