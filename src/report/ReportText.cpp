// The text report for the console: UTF-8, one section a stage, the
// figures of the report model and nothing computed here but their layout.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/Streams.hpp"
#include "report/Printf.hpp"
#include "report/ReportForms.hpp"

namespace helmert {

namespace {

constexpr const char* kParameterNames[7] = {"T_x", "T_y", "T_z",  "R_x",
                                            "R_y", "R_z", "Scale"};

// "  1.2345" or "     n/a" for a value that could not be computed, at
// least one space before it even when it overflows the width; a value that
// rounds to zero is written without a sign.
std::string Fixed(double value, int width, int decimals) {
  if (!std::isfinite(value)) return Printf(" %*s", width - 1, "n/a");
  if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;
  return Printf(" %*.*f", width - 1, decimals, value);
}

// As text += Fixed(value, width, decimals) for the per-point lines, without
// printf: to_chars writes the same correctly rounded digits as "%.*f".
void AppendFixed(std::string& text, double value, int width, int decimals) {
  static const double kHalfUnit[] = {0.5 * std::pow(10.0, -2),
                                     0.5 * std::pow(10.0, -5)};
  if (!std::isfinite(value) || (decimals != 2 && decimals != 5)) {
    text += Fixed(value, width, decimals);
    return;
  }
  if (std::fabs(value) < kHalfUnit[decimals == 5]) value = 0.0;
  char digits[400];  // "%.5f" of the largest double and its sign
  const std::to_chars_result end =
      std::to_chars(digits, digits + sizeof digits, value,
                    std::chars_format::fixed, decimals);
  const std::size_t length = static_cast<std::size_t>(end.ptr - digits);
  text += ' ';
  const std::size_t field = static_cast<std::size_t>(width - 1);
  if (length < field) text.append(field - length, ' ');
  text.append(digits, length);
}

// The label right-aligned in `width` characters, as "%*s" would.
void AppendRight(std::string& text, const std::string& label,
                 std::size_t width) {
  if (label.size() < width) text.append(width - label.size(), ' ');
  text += label;
}

// What the zone prefix in the easting means at this meridian, if it is the
// number of the 3-degree or the 6-degree zone there.
std::string PrefixMeaning(int prefix, double l0) {
  if (ZoneNumber(l0) == prefix && std::fmod(l0, 3.0) == 0.0) {
    return Printf(" (3-degree zone %d)", prefix);
  }
  if (std::fmod(l0 + 3.0, 6.0) == 0.0 &&
      static_cast<int>(std::lround((l0 + 3.0) / 6.0 + 60.0)) % 60 ==
          prefix % 60) {
    return Printf(" (6-degree zone %d)", prefix);
  }
  return "";
}

void AppendTransformation(const TransformationReport& report,
                          std::string& text) {
  const StoredTransformation& stored = report.stored;
  const TransformParameters& p = stored.parameters;
  const double l0 = stored.central_meridian_degrees;
  text += "Transformation\n";
  if (report.named_meridian) {
    text += "  zone        transverse Mercator zone at central meridian L0 = " +
            MeridianText(l0) + "°, scale " +
            Printf("%.10g", stored.scale_factor.value_or(1.0)) +
            " on it, false easting 500000 m, no zone prefix, WGS84\n";
  } else {
    text += Printf(
        "  zone        3-degree Gauss-Krüger zone %d, central meridian L0 = "
        "%.0f°, false easting 500000 m, no zone prefix, WGS84\n",
        ZoneNumber(l0), l0);
  }
  if (report.zone_prefix != 0) {
    text += Printf("  grid        zone prefix %d in the easting%s\n",
                   report.zone_prefix,
                   PrefixMeaning(report.zone_prefix, l0).c_str());
  }
  text +=
      "  model       grid = S · M · zone + T, seven-parameter Bursa-Wolf "
      "(Helmert)\n"
      "              M = [1 -R_z R_y; R_z 1 -R_x; -R_y R_x 1]: linearised "
      "rotation,\n"
      "              position-vector convention (R_z > 0 turns east toward "
      "north)\n"
      "              zone = (E, N, ellipsoidal height) of the WGS84 point in "
      "the zone,\n"
      "              grid = (E, N, h) of the local grid; the result document "
      "holds M^-1\n"
      "  note        the rotations act about the zone's origin (the equator "
      "on L0), millions\n"
      "              of metres from the points: T and the angles are strongly "
      "correlated\n"
      "              and meaningful only as a set\n";
  text += Printf("  T_x   %16.4f m\n", p.T_x);
  text += Printf("  T_y   %16.4f m\n", p.T_y);
  text += Printf("  T_z   %16.4f m\n", p.T_z);
  const double angles[3] = {p.R_x, p.R_y, p.R_z};
  for (int k = 0; k < 3; ++k) {
    text += Printf("  %s   %16.6e rad  %12.6f″\n", kParameterNames[3 + k],
                   angles[k], angles[k] * kArcSecondsPerRadian);
  }
  text += Printf("  Scale %16.10f    %12.4f ppm\n", p.Scale,
                 (p.Scale - 1.0) * kPartsPerMillion);
  if (report.points_central_meridian_degrees != l0) {
    text += report.named_meridian
                ? "  warning     the control-point document's zone has central "
                  "meridian " +
                      MeridianText(report.points_central_meridian_degrees) +
                      "°; the points are evaluated in the result's, L0 = " +
                      MeridianText(l0) + "°\n"
                : Printf("  warning     these points lie nearest to central "
                         "meridian %.0f°; they are evaluated in the "
                         "document's zone, L0 = %.0f°\n",
                         report.points_central_meridian_degrees, l0);
  }
}

void AppendResiduals(const TransformationReport& report, std::string& text) {
  const Assessment& a = report.assessment;
  text +=
      "\nResiduals (forward map minus destination, metres; w = standardized "
      "residual)\n";
  text +=
      "   point          dE          dN          dH       horiz     w_E     "
      "w_N     w_H\n";
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    const PointAssessment& point = a.points[i];
    AppendRight(text, report.shown_labels[i], 8);
    AppendFixed(text, point.residual.x, 12, 5);
    AppendFixed(text, point.residual.y, 12, 5);
    AppendFixed(text, point.residual.z, 12, 5);
    AppendFixed(text, point.horizontal, 12, 5);
    AppendFixed(text, point.standardized.x, 8, 2);
    AppendFixed(text, point.standardized.y, 8, 2);
    AppendFixed(text, point.standardized.z, 8, 2);
    text += point.flagged ? Printf("  FLAGGED %c\n",
                                   kComponentNames[point.largest_component])
                          : "\n";
  }
  if (!a.blunder_test_available) {
    text += a.fitted_points
                ? "Blunder test: not available (it needs at least 4 fitted "
                  "points)\n"
                : "Blunder test: not available\n";
    return;
  }
  const PointAssessment& worst = a.points[a.worst_point];
  text += Printf("Worst point: %s, largest |w| = %.2f in %c (%s)\n",
                 report.shown_labels[a.worst_point].c_str(), worst.largest,
                 kComponentNames[worst.largest_component],
                 worst.flagged ? "flagged: check this point"
                               : "not flagged: no blunder found");
  const char* judged_by =
      a.check ? "each residual against the fit's prediction"
      : a.precision_stated
          ? "the stated plan and height precision"
      : a.fitted_points
          ? "plan and height precision estimated without the point, "
            "redundancy numbers from the fit"
          : "plan and height precision estimated without the point";
  const char* distribution = a.precision_stated ? "normal distribution"
                             : a.critical_values_simulated
                                 ? "simulated for this design"
                                 : "Student's t";
  text += Printf(
      "Flagged (|w| beyond %.2f in plan, %.2f in height, %s at "
      "%.2g %% a component, %g %% a data set; %s): %zu of %zu\n",
      a.plan_critical_w, a.height_critical_w, distribution,
      a.component_level * 100.0, a.set_level * 100.0, judged_by,
      a.flagged_count, a.points.size());
  if (a.trend.detected) {
    text +=
        "  (the residuals are systematic, see below: the flags may point at "
        "the pattern rather than at a point)\n";
  }
}

// The check points against the fit's prediction, or what --fit would add.
void AppendCheck(const TransformationReport& report, std::string& text) {
  const Assessment& a = report.assessment;
  if (a.fitted_points) return;
  if (!a.check) {
    text +=
        "\nCheck points: judged only against each other. Give --fit "
        "FIT.json, the control\n"
        "  points the transformation was fitted on, to test each one "
        "against the fit's own\n"
        "  precision and the set against what the fit predicts.\n";
    return;
  }
  const CheckAgainstFit& check = *a.check;
  text += "\nCheck points against the fit on " + ShownText(report.fit_path) +
          "\n";
  text += Printf("  fit precision       plan %.2f mm, height %.2f mm\n",
                 report.reference->plan.Sigma() * 1e3,
                 report.reference->height.Sigma() * 1e3);
  text += Printf("  RMS horizontal      %.5f m (the fit predicts %.5f m)\n",
                 a.rms_horizontal, check.predicted_rms_horizontal);
  text += Printf("  RMS vertical        %.5f m (the fit predicts %.5f m)\n",
                 a.rms_vertical, check.predicted_rms_vertical);
  text += Printf(
      "  sum of w²           %.2f over %d residuals, P = %.3g (F test): %s\n",
      check.chi_square, check.degrees_of_freedom, check.probability,
      check.agrees
          ? "the check points agree with the fit"
          : "the check points do NOT agree with what the fit predicts");
}

// The trends of the residuals, and what a pattern means.
void AppendTrend(const TransformationReport& report, std::string& text) {
  const TrendAnalysis& trend = report.assessment.trend;
  text +=
      "\nSystematic residuals (trends per component: quadratic and cubic in "
      "E and N, and\n  proportional to the height)\n";
  if (!trend.available) {
    text += "  not tested: it needs at least 9 points spread over an area\n";
    return;
  }
  for (int m = 0; m < kTrendModels; ++m) {
    if (!trend.model_available[m]) continue;
    for (int c = 0; c < 3; ++c) {
      const ComponentTrend& component = trend.models[m][c];
      text += Printf(
          "  d%c %-9s %7.2f mm RMS, explains %5.1f %%, F = %8.2f, P = "
          "%.3g%s\n",
          kComponentNames[c], TrendModelName(static_cast<TrendModel>(m)),
          component.rms * 1e3, component.explained_share * 100.0, component.f,
          component.probability, component.Matters() ? "  SYSTEMATIC" : "");
    }
  }
  if (!trend.model_available[static_cast<int>(TrendModel::kCubic)]) {
    text += "  (no cubic trend: it needs at least 16 points)\n";
  }
  if (!trend.detected) {
    text += Printf(
        "  no pattern that matters (one needs P below %.2g, %g %% a data set "
        "over %d tests,\n  at least %.0f %% explained and %.0f mm RMS)\n",
        trend.models[0][0].level, kTrendSetLevel * 100.0, trend.tests,
        kLeastTrendShare * 100.0, kLeastTrendMetres * 1e3);
    return;
  }
  text += Printf(
      "  SYSTEMATIC: its likely cause:\n    %s.\n"
      "  A seven-parameter similarity cannot represent it; the flags above "
      "may point at\n  the pattern rather than at a point.\n",
      PatternCause(trend.Pattern()));
}

void AppendSummary(const TransformationReport& report, std::string& text) {
  const Assessment& a = report.assessment;
  const std::size_t n = a.points.size();
  text += "\nSummary\n";
  text += Printf("  points              %zu\n", n);
  if (!report.duplicated_points.empty()) {
    // A point given twice counts twice in the degrees of freedom: the
    // precision and the tests then claim more than the survey shows.
    constexpr std::size_t kListed = 5;
    text += "  duplicated          ";
    for (std::size_t k = 0;
         k < std::min(kListed, report.duplicated_points.size()); ++k) {
      const auto& [first, second] = report.duplicated_points[k];
      text += (k > 0 ? ", " : "") + report.shown_labels[first] + " = " +
              report.shown_labels[second];
    }
    if (report.duplicated_points.size() > kListed) {
      text += Printf(" and %zu more", report.duplicated_points.size() - kListed);
    }
    text +=
        " (the same pair twice: each counts twice in the degrees of "
        "freedom)\n";
  }
  text += Printf(
      "  degrees of freedom  %d (%s)\n", a.degrees_of_freedom,
      a.fitted_points
          ? "3n - 7: the parameters are the least-squares fit to these points"
          : "3n: check points, the parameters were not fitted to them");
  text += Printf("  RMS horizontal      %.5f m\n", a.rms_horizontal);
  text += Printf("  RMS vertical        %.5f m\n", a.rms_vertical);
  text += Printf("  max horizontal      %.5f m at point %s\n",
                 a.points[a.max_horizontal_point].horizontal,
                 report.shown_labels[a.max_horizontal_point].c_str());
  text += Printf("  max vertical        %.5f m at point %s\n",
                 std::fabs(a.points[a.max_vertical_point].residual.z),
                 report.shown_labels[a.max_vertical_point].c_str());
  text += Printf(
      "  sigma0              %.5f m (sqrt(sum of squared residuals "
      "/ %d), pooled)\n",
      a.sigma0, a.degrees_of_freedom);
  text += Printf("  plan precision      %.2f mm (%.1f degrees of freedom)\n",
                 a.plan.Sigma() * 1e3, a.plan.redundancy);
  text += Printf("  height precision    %.2f mm (%.1f degrees of freedom)\n",
                 a.height.Sigma() * 1e3, a.height.redundancy);
  if (a.global_test) {
    const std::pair<const char*, const GroupGlobalTest*> groups[] = {
        {"plan  ", &a.global_test->plan}, {"height", &a.global_test->height}};
    for (const auto& [name, group] : groups) {
      text += Printf(
          "  global test %s  %.2f mm stated, %.2f mm estimated: %.2f times, "
          "P = %.3g (chi² on %.1f, level %.3g): %s\n",
          name, group->sigma_stated * 1e3, group->sigma_estimated * 1e3,
          group->ratio, group->probability, group->redundancy, group->level,
          group->passed ? "passed" : "FAILED");
    }
  } else {
    text +=
        "  global test         none: no precision stated (--sigma-plan, "
        "--sigma-height); the\n"
        "                      residuals are judged against their own "
        "scatter only\n";
  }
  if (a.blunder_test_available) {
    text += Printf(
        "  reliability         largest MDB %.1f mm in plan, %.1f mm in "
        "height; largest\n"
        "                      external reliability %.1f mm (%.0f %% power, "
        "precision %s)\n",
        a.largest_plan_mdb * 1e3, a.largest_height_mdb * 1e3,
        a.largest_external_reliability * 1e3, kReliabilityPower * 100.0,
        a.precision_stated ? "stated" : "estimated");
  }
}

// Per point, the smallest bias the test finds with the stated power, and
// what such a bias does to the transformed points.
void AppendReliability(const TransformationReport& report,
                       std::string& text) {
  const Assessment& a = report.assessment;
  if (!a.blunder_test_available) return;
  text += Printf(
      "\nReliability (minimal detectable bias at the test's level, %.0f %% "
      "power; precision %s; metres)\n",
      kReliabilityPower * 100.0, a.precision_stated ? "stated" : "estimated");
  text += "   point       MDB_E       MDB_N       MDB_H    external\n";
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    const PointAssessment& point = a.points[i];
    AppendRight(text, report.shown_labels[i], 8);
    AppendFixed(text, point.mdb.x, 12, 4);
    AppendFixed(text, point.mdb.y, 12, 4);
    AppendFixed(text, point.mdb.z, 12, 4);
    AppendFixed(text, point.external_reliability, 12, 4);
    text += "\n";
  }
}

void AppendPrecision(const TransformationReport& report, std::string& text) {
  const Assessment& a = report.assessment;
  text += "\nPrecision of the parameters";
  if (!a.precision) {
    text += ": not available, the parameters were not fitted to these points\n";
    return;
  }
  text += " (sigma0² (JᵀJ)⁻¹, analytic Jacobian at these parameters)\n";
  const Eigen::Matrix<double, 7, 1>& sd = a.precision->standard_deviation;
  for (int j = 0; j < 3; ++j) {
    text += Printf("  σ %-5s %14.4f m\n", kParameterNames[j], sd(j));
  }
  for (int j = 3; j < 6; ++j) {
    text += Printf("  σ %-5s %14.6e rad  %10.6f″\n", kParameterNames[j], sd(j),
                   sd(j) * kArcSecondsPerRadian);
  }
  text += Printf("  σ %-5s %14.6e      %10.4f ppm\n", kParameterNames[6], sd(6),
                 sd(6) * kPartsPerMillion);
  text += "Correlation\n        ";
  for (const char* name : kParameterNames) text += Printf("%7s", name);
  text += "\n";
  for (int j = 0; j < 7; ++j) {
    text += Printf("  %-6s", kParameterNames[j]);
    for (int k = 0; k < 7; ++k) {
      text += Fixed(a.precision->correlation(j, k), 7, 3);
    }
    text += "\n";
  }
}

}  // namespace

std::string FormatTextReport(const TransformationReport& report) {
  std::string text;
  // Two lines of about 90 and 60 bytes a point, reserved once.
  text.reserve(8192 + 160 * report.assessment.points.size());
  text += "helmert-report\n";
  text += "  control points  " + ShownText(report.control_path) +
          Printf(" (%zu points)\n", report.assessment.points.size());
  text += "  transformation  " + ShownText(report.result_path) + "\n\n";
  AppendTransformation(report, text);
  AppendResiduals(report, text);
  AppendCheck(report, text);
  AppendSummary(report, text);
  AppendReliability(report, text);
  AppendTrend(report, text);
  AppendPrecision(report, text);
  text += "\nPROJ pipelines (for cct; coordinates in the order shown)\n";
  text += "  local grid (E N h) -> WGS84 (longitude latitude in degrees, h):\n";
  text += "    " + report.grid_to_wgs84 + "\n";
  text += "  WGS84 (longitude latitude in degrees, h) -> local grid (E N h):\n";
  text += "    " + report.wgs84_to_grid + "\n";
  text += "\nVerdict: " + report.shown_verdict + "\n";
  return text;
}

}  // namespace helmert
