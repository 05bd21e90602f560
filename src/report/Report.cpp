#include "report/Report.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <tuple>

#include "common/Error.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "report/Printf.hpp"
#include "report/ProjPipeline.hpp"
#include "io/Streams.hpp"
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

const char* TrendModelName(TrendModel model) {
  switch (model) {
    case TrendModel::kQuadratic:
      return "quadratic";
    case TrendModel::kCubic:
      return "cubic";
    case TrendModel::kHeight:
      return "height";
  }
  return "";
}

const char* PatternCause(TrendPattern pattern) {
  switch (pattern) {
    case TrendPattern::kHeight:
      return "heights that are not ellipsoidal in both frames (orthometric "
             "or normal heights in one: the geoid between them)";
    case TrendPattern::kPlan:
      return "the grid's scale or rotation changes across the site: another "
             "central meridian or another projection (name the grid's own "
             "with \"central_meridian\")";
    case TrendPattern::kAll:
      return "the relation between the two datums is not a similarity over "
             "this extent (a distorted network, or a site too large for "
             "seven parameters)";
    case TrendPattern::kProportionalToHeight:
      return "proportional to the height: the grid's scale factor acts on "
             "the heights (name it with \"scale_factor\")";
    case TrendPattern::kCubicPlan:
      return "cubic in plan: the grid is not a transverse Mercator zone (an "
             "oblique Mercator or stereographic grid)";
    case TrendPattern::kNone:
      break;
  }
  return "";
}

std::string MeridianText(double degrees) {
  std::string text = Printf("%.8f", degrees);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

std::string SystematicVerdict(const TransformationReport& report) {
  const Assessment& a = report.assessment;
  // A grid that is not a transverse Mercator zone first: whatever its
  // scale does to the heights, no scale factor mends it.
  if (report.height_scaling &&
      a.trend.Pattern() != TrendPattern::kCubicPlan) {
    return "systematic residuals in dH: the grid's scale factor acts on the "
           "heights: " +
           HeightScalingAdvice(*report.height_scaling);
  }
  const TrendPattern pattern = a.trend.Pattern();
  if (pattern == TrendPattern::kNone) return "";
  std::string components;
  int strongest = -1;
  int strongest_model = -1;
  for (int c = 0; c < 3; ++c) {
    const int model = a.trend.StrongestModel(c);
    if (model < 0) continue;
    components += (components.empty() ? "d" : ", d");
    components += kComponentNames[c];
    if (strongest < 0 || a.trend.models[model][c].rms >
                             a.trend.models[strongest_model][strongest].rms) {
      strongest = c;
      strongest_model = model;
    }
  }
  const ComponentTrend& trend = a.trend.models[strongest_model][strongest];
  return "systematic residuals in " + components + ": " +
         PatternCause(pattern) +
         Printf(" (d%c: %s trend %.1f mm RMS, %.1f %% explained, P = %.2g)",
                kComponentNames[strongest],
                TrendModelName(static_cast<TrendModel>(strongest_model)),
                trend.rms * 1e3, trend.explained_share * 100.0,
                trend.probability);
}

namespace {

// The flagged points, at most five named, and the figures of the test.
std::string FlaggedVerdict(const TransformationReport& report,
                           const std::vector<std::string>& labels) {
  const Assessment& a = report.assessment;
  constexpr std::size_t kListed = 5;
  std::string points;
  std::size_t listed = 0;
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    if (!a.points[i].flagged) continue;
    if (listed++ < kListed) {
      points += (points.empty() ? "" : ", ") + labels[i] + " (" +
                kComponentNames[a.points[i].largest_component] + ")";
    }
  }
  if (listed > kListed) points += Printf(" and %zu more", listed - kListed);
  const PointAssessment& worst = a.points[a.worst_point];
  return "check point(s) " + points +
         Printf(" (largest |w| %.2f; flagged beyond %.2f in plan, %.2f in "
                "height, %g %% a data set)",
                worst.largest, a.plan_critical_w, a.height_critical_w,
                a.set_level * 100.0);
}

}  // namespace

std::string ReportVerdict(const TransformationReport& report,
                          const std::vector<std::string>& labels) {
  const Assessment& a = report.assessment;
  if (a.check && !a.check->agrees) {
    return Printf(
        "the check points do not agree with the fit (sum of w² %.2f over %d "
        "residuals, P = %.3g below %g)",
        a.check->chi_square, a.check->degrees_of_freedom,
        a.check->probability, kCheckTestLevel);
  }
  if (a.global_test && !a.global_test->Passed()) {
    // The residuals exceed the survey's own precision: by how much, and
    // what the pattern test points to.
    std::string groups;
    const std::pair<const char*, const GroupGlobalTest*> tested[] = {
        {"plan", &a.global_test->plan}, {"height", &a.global_test->height}};
    for (const auto& [name, group] : tested) {
      if (group->passed) continue;
      groups += Printf("%s%.1f times the stated precision in %s (%.3g mm "
                       "estimated, %.3g mm stated, P = %.2g)",
                       groups.empty() ? "" : " and ", group->ratio, name,
                       group->sigma_estimated * 1e3, group->sigma_stated * 1e3,
                       group->probability);
    }
    std::string cause = SystematicVerdict(report);
    // A few flagged points may be the cause; many flags only repeat that
    // the precision is not the stated one.
    const std::size_t few = std::max<std::size_t>(1, a.points.size() / 10);
    if (cause.empty() && a.flagged_count > 0 && a.flagged_count <= few) {
      cause = FlaggedVerdict(report, labels);
    }
    if (cause.empty()) {
      cause =
          "no pattern or single point explains it: the survey is less "
          "precise than stated, or the grid's coordinates carry errors of "
          "their own";
    }
    return "the residuals are " + groups + ": " + cause;
  }
  const std::string systematic = SystematicVerdict(report);
  if (!systematic.empty()) return systematic;
  if (a.flagged_count > 0) return FlaggedVerdict(report, labels);
  const std::string judged =
      a.global_test
          ? Printf("; within the stated precision, plan %.1f mm and height "
                   "%.1f mm",
                   a.global_test->plan.sigma_stated * 1e3,
                   a.global_test->height.sigma_stated * 1e3)
          : Printf("; judged against their own scatter only: plan %.1f mm, "
                   "height %.1f mm: state the survey's with --sigma-plan and "
                   "--sigma-height to test them",
                   a.plan.Sigma() * 1e3, a.height.Sigma() * 1e3);
  if (!a.blunder_test_available) {
    return "the transformation fits these points as far as they can be "
           "tested (no blunder test with so few points)" +
           judged;
  }
  const PointAssessment& worst = a.points[a.worst_point];
  return "the transformation fits these points" +
         Printf(" (largest |w| %.2f in %c at point %s, within %.2f in plan "
                "and %.2f in height; no systematic pattern%s)",
                worst.largest, kComponentNames[worst.largest_component],
                labels[a.worst_point].c_str(), a.plan_critical_w,
                a.height_critical_w,
                a.check ? "; the check points agree with the fit" : "") +
         judged;
}

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
      ProjectToZone(points.source, stored.zone()), points.destination);
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
                                 std::vector<std::string> names,
                                 const StatedPrecision* stated) {
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
  // Names as the outputs can carry them: well-formed, printable UTF-8 in
  // JSON and SVG, every control escaped in the text.
  for (std::string& name : names) {
    report.shown_labels.push_back(ShownText(name));
    name = PrintableUtf8(name);
  }
  report.labels = std::move(names);
  report.control_path = control_path;
  report.result_path = result_path;
  report.fit_path = fit_path;
  report.stored = stored;
  const double l0 = stored.central_meridian_degrees;
  report.points_central_meridian_degrees = ZoneCentralMeridian(points);
  report.named_meridian = points.central_meridian_degrees.has_value() ||
                          stored.scale_factor.has_value() ||
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
  report.projected = ProjectToZone(points.source, stored.zone());
  if (!points.destination.empty()) {
    const auto [lowest, highest] = std::minmax_element(
        points.destination.begin(), points.destination.end(),
        [](const Point3& a, const Point3& b) { return a.z < b.z; });
    report.height_scaling =
        GridScaleOnHeights(stored.parameters.Scale, highest->z - lowest->z,
                           stored.scale_factor);
  }
  report.source = std::move(points.source);
  report.destination = std::move(points.destination);
  report.assessment = AssessTransformation(stored.parameters, report.projected,
                                           report.destination, reference,
                                           stated);
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
  // A transformation fitted on another site or grid: every figure below
  // would judge the wrong question.
  const double rms = std::sqrt(report.assessment.sum_of_squares /
                               static_cast<double>(report.source.size()));
  const bool same_meridian =
      std::fabs(ReduceLongitudeDifference(
          report.points_central_meridian_degrees - l0)) < 1e-9;
  if (same_meridian && rms <= kMostResidualRmsMetres &&
      report.farthest_from_meridian_degrees > kMostDegreesFromMeridian) {
    // The transformation belongs to the points; the zone's series does not
    // reach them.
    throw Error(Printf(
        "%s: points of %s up to %.2f degrees from the central meridian %s; "
        "the zone's series is used only within %.1f degrees",
        result_path.c_str(), control_path.c_str(),
        report.farthest_from_meridian_degrees, MeridianText(l0).c_str(),
        kMostDegreesFromMeridian));
  }
  if (report.farthest_from_meridian_degrees > kMostDegreesFromMeridian ||
      rms > kMostResidualRmsMetres) {
    throw Error(Printf(
        "%s: the transformation does not belong to the points of %s: their "
        "central meridian is %s, the transformation's L0 = %s (points up to "
        "%.2f degrees from it), and the residuals' RMS is %.6g m (at most "
        "%.1f degrees and %.0f m)",
        result_path.c_str(), control_path.c_str(),
        MeridianText(report.points_central_meridian_degrees).c_str(),
        MeridianText(l0).c_str(), report.farthest_from_meridian_degrees, rms,
        kMostDegreesFromMeridian, kMostResidualRmsMetres));
  }
  report.verdict = ReportVerdict(report, report.labels);
  report.shown_verdict = ReportVerdict(report, report.shown_labels);
  report.grid_to_wgs84 = GridToWgs84Pipeline(stored);
  report.wgs84_to_grid = Wgs84ToGridPipeline(stored);
  return report;
}

}  // namespace helmert
