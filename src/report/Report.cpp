#include "report/Report.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <tuple>

#include "common/Error.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "report/ProjPipeline.hpp"
#include "report/Utf8.hpp"

namespace helmert {

namespace {

// Pairs of points whose source and grid coordinates are all equal: each
// later point with the first of its kind, in the later point's order.
std::vector<std::pair<std::size_t, std::size_t>> DuplicatedPoints(
    const std::vector<GeodeticPoint>& source,
    const std::vector<Point3>& destination) {
  const auto coordinates = [&](std::size_t i) {
    const GeodeticPoint& s = source[i];
    const Point3& d = destination[i];
    return std::make_tuple(s.longitude_degrees, s.latitude_degrees,
                           s.height_metres, d.x, d.y, d.z);
  };
  std::vector<std::size_t> order(source.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  // Equal points side by side, each group in document order.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return std::make_pair(coordinates(a), a) < std::make_pair(coordinates(b), b);
  });
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  std::size_t first = 0;
  for (std::size_t k = 1; k < order.size(); ++k) {
    if (coordinates(order[k]) == coordinates(order[k - 1])) {
      pairs.emplace_back(order[first], order[k]);
    } else {
      first = k;
    }
  }
  std::sort(pairs.begin(), pairs.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  return pairs;
}

}  // namespace

int GridZonePrefix(double translation_x_metres) {
  constexpr double kZonePrefixMetres = 1e6;
  constexpr double kLargestOffsetMetres = 1e5;
  const double prefix = std::round(translation_x_metres / kZonePrefixMetres);
  if (!(prefix >= 1.0 && prefix <= kZoneCount)) return 0;
  if (!(std::fabs(translation_x_metres - prefix * kZonePrefixMetres) <=
        kLargestOffsetMetres)) {
    return 0;
  }
  return static_cast<int>(prefix);
}

namespace {

// What the fit on `points` (the document at fit_path) predicts for other
// points; refused when the transformation is not that fit.
FitReference ReferenceFromFit(const ControlPoints& points,
                              const std::string& fit_path,
                              const StoredTransformation& stored) {
  const Assessment fitted = AssessTransformation(
      stored.parameters,
      ProjectToZone(points.source, stored.central_meridian_degrees),
      points.destination);
  if (!fitted.fitted_points || !fitted.precision) {
    throw Error(fit_path +
                ": the transformation is not the least-squares fit to these "
                "points, so it cannot predict the check points");
  }
  return ReferenceOf(fitted);
}

}  // namespace

TransformationReport BuildReport(const std::string& control_path,
                                 ControlPoints points,
                                 const std::string& result_path,
                                 const StoredTransformation& stored,
                                 const ControlPoints* fit_points,
                                 const std::string& fit_path,
                                 std::vector<std::string> names) {
  TransformationReport report;
  if (fit_points != nullptr) {
    report.reference = ReferenceFromFit(*fit_points, fit_path, stored);
  }
  const FitReference* reference =
      report.reference ? &*report.reference : nullptr;
  if (names.empty()) {
    for (std::size_t i = 0; i < points.source.size(); ++i) {
      names.push_back(std::to_string(i + 1));
    }
  }
  // Names as the outputs can carry them: well-formed, printable UTF-8.
  for (std::string& name : names) name = PrintableUtf8(name);
  report.labels = std::move(names);
  report.control_path = control_path;
  report.result_path = result_path;
  report.fit_path = fit_path;
  report.stored = stored;
  const double l0 = stored.central_meridian_degrees;
  report.points_central_meridian_degrees = ZoneCentralMeridian(points);
  report.named_meridian = points.central_meridian_degrees.has_value() ||
                          std::fmod(l0, kZoneWidthDegrees) != 0.0;
  report.zone_prefix = GridZonePrefix(stored.parameters.T_x);
  for (const GeodeticPoint& point : points.source) {
    report.farthest_from_meridian_degrees =
        std::max(report.farthest_from_meridian_degrees,
                 std::fabs(ReduceLongitudeDifference(point.longitude_degrees -
                                                     l0)));
  }
  report.duplicated_points =
      DuplicatedPoints(points.source, points.destination);
  report.projected =
      ProjectToZone(points.source, stored.central_meridian_degrees);
  report.source = std::move(points.source);
  report.destination = std::move(points.destination);
  report.assessment = AssessTransformation(stored.parameters, report.projected,
                                           report.destination, reference);
  // A result document of absurd values (a scale or translation near the
  // largest double) takes the points beyond the range of numbers: every
  // figure of the report would be infinite or undefined.
  if (!std::isfinite(report.assessment.sum_of_squares)) {
    throw Error(result_path + ": the transformation takes the points of " +
                control_path + " beyond the range of numbers");
  }
  // Likewise a scale near the smallest double: its reverse map, which the
  // PROJ pipeline and every use of the document need, overflows.
  if (!ReverseMapIsFinite(stored)) {
    throw Error(result_path +
                ": the transformation's reverse map overflows (\"S\" is too "
                "small to divide by)");
  }
  report.grid_to_wgs84 = GridToWgs84Pipeline(stored);
  report.wgs84_to_grid = Wgs84ToGridPipeline(stored);
  return report;
}

}  // namespace helmert
