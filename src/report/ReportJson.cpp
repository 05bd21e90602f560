// The report as one JSON document. A value that could not be computed (a
// standardized residual of a point that cannot be tested) is written as
// null: JSON has no not-a-number.
#include <rapidjson/prettywriter.h>

#include <cmath>
#include <string>

#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "report/ReportForms.hpp"
#include "report/StringOutput.hpp"
#include "report/Utf8.hpp"

namespace helmert {

namespace {

using JsonWriter = rapidjson::PrettyWriter<StringOutput>;

void Number(JsonWriter& writer, double value) {
  if (std::isfinite(value)) {
    writer.Double(value);
  } else {
    writer.Null();
  }
}

void Triple(JsonWriter& writer, const char* key, const Point3& p) {
  writer.Key(key);
  writer.StartArray();
  Number(writer, p.x);
  Number(writer, p.y);
  Number(writer, p.z);
  writer.EndArray();
}

void Member(JsonWriter& writer, const char* key, double value) {
  writer.Key(key);
  Number(writer, value);
}

void Member(JsonWriter& writer, const char* key, const std::string& value) {
  writer.Key(key);
  const std::string text = PrintableUtf8(value);
  writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void WriteTransformation(const TransformationReport& report,
                         JsonWriter& writer) {
  const TransformParameters& p = report.stored.parameters;
  writer.Key("transformation");
  writer.StartObject();
  Member(writer, "central_meridian_degrees",
         report.stored.central_meridian_degrees);
  // The zone's scale factor on its meridian, when the result has one.
  if (report.stored.scale_factor) {
    Member(writer, "scale_factor", *report.stored.scale_factor);
  }
  // A numbered 3-degree zone, or null for a zone at a named meridian.
  writer.Key("zone");
  if (report.named_meridian) {
    writer.Null();
  } else {
    writer.Int(ZoneNumber(report.stored.central_meridian_degrees));
  }
  if (report.zone_prefix != 0) {
    writer.Key("zone_prefix");
    writer.Int(report.zone_prefix);
  }
  Member(writer, "points_central_meridian_degrees",
         report.points_central_meridian_degrees);
  Member(writer, "convention",
         std::string("grid = S * M * zone + T; M = [1 -R_z R_y; R_z 1 -R_x; "
                     "-R_y R_x 1], linearised position-vector rotation about "
                     "the zone's origin"));
  Triple(writer, "translation_m", {p.T_x, p.T_y, p.T_z});
  Triple(writer, "rotation_rad", {p.R_x, p.R_y, p.R_z});
  Triple(writer, "rotation_arcsec",
         {p.R_x * kArcSecondsPerRadian, p.R_y * kArcSecondsPerRadian,
          p.R_z * kArcSecondsPerRadian});
  Member(writer, "scale", p.Scale);
  Member(writer, "scale_ppm", (p.Scale - 1.0) * kPartsPerMillion);
  writer.EndObject();
}

// Points are numbered from 1 in every output.
void PointNumber(JsonWriter& writer, std::size_t index) {
  writer.Uint64(index + 1);
}

void WritePoints(const TransformationReport& report, JsonWriter& writer) {
  const Assessment& a = report.assessment;
  writer.Key("points");
  writer.StartArray();
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    const PointAssessment& point = a.points[i];
    writer.StartObject();
    writer.Key("number");
    PointNumber(writer, i);
    Member(writer, "name", report.labels[i]);
    Triple(writer, "residual_m", point.residual);
    Member(writer, "horizontal_m", point.horizontal);
    Triple(writer, "redundancy", point.redundancy);
    Triple(writer, "standardized", point.standardized);
    writer.Key("largest_component");
    if (std::isfinite(point.largest)) {
      writer.String(&kComponentNames[point.largest_component], 1);
    } else {
      writer.Null();
    }
    writer.Key("flagged");
    writer.Bool(point.flagged);
    Triple(writer, "mdb_m", point.mdb);
    Member(writer, "external_reliability_m", point.external_reliability);
    writer.EndObject();
  }
  writer.EndArray();
}

void WriteGroupGlobalTest(const char* key, const GroupGlobalTest& test,
                          JsonWriter& writer) {
  writer.Key(key);
  writer.StartObject();
  Member(writer, "sigma_stated_m", test.sigma_stated);
  Member(writer, "sigma_estimated_m", test.sigma_estimated);
  Member(writer, "ratio", test.ratio);
  Member(writer, "degrees_of_freedom", test.redundancy);
  Member(writer, "probability", test.probability);
  Member(writer, "level", test.level);
  writer.Key("passed");
  writer.Bool(test.passed);
  writer.EndObject();
}

void WriteSummary(const TransformationReport& report, JsonWriter& writer) {
  const Assessment& a = report.assessment;
  writer.Key("summary");
  writer.StartObject();
  writer.Key("points");
  writer.Uint64(a.points.size());
  if (!report.duplicated_points.empty()) {
    // Pairs of point numbers (from 1): the same pair given twice.
    writer.Key("duplicated_points");
    writer.StartArray();
    for (const auto& [first, second] : report.duplicated_points) {
      writer.StartArray();
      PointNumber(writer, first);
      PointNumber(writer, second);
      writer.EndArray();
    }
    writer.EndArray();
  }
  writer.Key("fitted_points");
  writer.Bool(a.fitted_points);
  Member(writer, "gradient_cosine", a.gradient_cosine);
  writer.Key("degrees_of_freedom");
  writer.Int(a.degrees_of_freedom);
  Member(writer, "rms_horizontal_m", a.rms_horizontal);
  Member(writer, "rms_vertical_m", a.rms_vertical);
  Member(writer, "max_horizontal_m",
         a.points[a.max_horizontal_point].horizontal);
  writer.Key("max_horizontal_point");
  PointNumber(writer, a.max_horizontal_point);
  Member(writer, "max_vertical_m",
         std::fabs(a.points[a.max_vertical_point].residual.z));
  writer.Key("max_vertical_point");
  PointNumber(writer, a.max_vertical_point);
  Member(writer, "sigma0_m", a.sigma0);
  Member(writer, "plan_sigma_m", a.plan.Sigma());
  Member(writer, "plan_degrees_of_freedom", a.plan.redundancy);
  Member(writer, "height_sigma_m", a.height.Sigma());
  Member(writer, "height_degrees_of_freedom", a.height.redundancy);
  Member(writer, "blunder_set_level", a.set_level);
  Member(writer, "blunder_component_level", a.component_level);
  Member(writer, "plan_critical_w", a.plan_critical_w);
  Member(writer, "height_critical_w", a.height_critical_w);
  // Whether the precision was stated (--sigma-plan, --sigma-height) or
  // estimated from the residuals, and how the critical values were found.
  Member(writer, "precision", std::string(a.precision_stated ? "stated"
                                                             : "estimated"));
  Member(writer, "critical_values",
         std::string(a.precision_stated          ? "normal"
                     : a.critical_values_simulated ? "simulated for the design"
                                                   : "approximated"));
  writer.Key("global_test");
  if (a.global_test) {
    writer.StartObject();
    WriteGroupGlobalTest("plan", a.global_test->plan, writer);
    WriteGroupGlobalTest("height", a.global_test->height, writer);
    writer.Key("passed");
    writer.Bool(a.global_test->Passed());
    writer.EndObject();
  } else {
    writer.Null();
  }
  Member(writer, "largest_plan_mdb_m", a.largest_plan_mdb);
  Member(writer, "largest_height_mdb_m", a.largest_height_mdb);
  Member(writer, "largest_external_reliability_m",
         a.largest_external_reliability);
  writer.Key("worst_point");
  if (a.blunder_test_available) {
    PointNumber(writer, a.worst_point);
  } else {
    writer.Null();
  }
  writer.Key("flagged_points");
  writer.StartArray();
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    if (a.points[i].flagged) PointNumber(writer, i);
  }
  writer.EndArray();
  writer.EndObject();
}

void WriteCheck(const TransformationReport& report, JsonWriter& writer) {
  writer.Key("check_against_fit");
  const Assessment& a = report.assessment;
  if (!a.check) {
    writer.Null();
    return;
  }
  writer.StartObject();
  Member(writer, "fit", report.fit_path);
  Member(writer, "fit_plan_sigma_m", report.reference->plan.Sigma());
  Member(writer, "fit_height_sigma_m", report.reference->height.Sigma());
  Member(writer, "rms_horizontal_m", a.rms_horizontal);
  Member(writer, "predicted_rms_horizontal_m",
         a.check->predicted_rms_horizontal);
  Member(writer, "rms_vertical_m", a.rms_vertical);
  Member(writer, "predicted_rms_vertical_m", a.check->predicted_rms_vertical);
  Member(writer, "chi_square", a.check->chi_square);
  writer.Key("degrees_of_freedom");
  writer.Int(a.check->degrees_of_freedom);
  Member(writer, "probability", a.check->probability);
  Member(writer, "test_level", kCheckTestLevel);
  writer.Key("agrees");
  writer.Bool(a.check->agrees);
  writer.EndObject();
}

// One model's trend per component, or null when the points do not allow it.
void WriteTrendModel(const TrendAnalysis& trend, int model, const char* key,
                     JsonWriter& writer) {
  writer.Key(key);
  if (!trend.model_available[model]) {
    writer.Null();
    return;
  }
  writer.StartObject();
  for (int c = 0; c < 3; ++c) {
    const ComponentTrend& component = trend.models[model][c];
    writer.Key(&kComponentNames[c], 1);
    writer.StartObject();
    Member(writer, "explained_share", component.explained_share);
    Member(writer, "rms_m", component.rms);
    Member(writer, "f", component.f);
    Member(writer, "probability", component.probability);
    writer.Key("systematic");
    writer.Bool(component.Matters());
    writer.EndObject();
  }
  writer.EndObject();
}

void WriteTrend(const TrendAnalysis& trend, JsonWriter& writer) {
  writer.Key("systematic");
  writer.StartObject();
  writer.Key("detected");
  writer.Bool(trend.detected);
  writer.Key("tested");
  writer.Bool(trend.available);
  Member(writer, "explained_share", trend.explained_share);
  Member(writer, "set_level", kTrendSetLevel);
  Member(writer, "component_level", trend.models[0][0].level);
  writer.Key("tests");
  writer.Int(trend.tests);
  // "components": the quadratic surface's, as before the other models.
  WriteTrendModel(trend, 0, "components", writer);
  WriteTrendModel(trend, 1, "cubic", writer);
  WriteTrendModel(trend, 2, "height", writer);
  writer.EndObject();
}

void WritePrecision(const Assessment& a, JsonWriter& writer) {
  writer.Key("precision");
  if (!a.precision) {
    writer.Null();
    return;
  }
  const ParameterPrecision& precision = *a.precision;
  writer.StartObject();
  writer.Key("order");
  writer.StartArray();
  for (const char* name : {"T_x", "T_y", "T_z", "R_x", "R_y", "R_z", "Scale"}) {
    writer.String(name);
  }
  writer.EndArray();
  writer.Key("units");
  writer.StartArray();
  for (const char* unit : {"m", "m", "m", "rad", "rad", "rad", "1"}) {
    writer.String(unit);
  }
  writer.EndArray();
  writer.Key("standard_deviation");
  writer.StartArray();
  for (int j = 0; j < 7; ++j) Number(writer, precision.standard_deviation(j));
  writer.EndArray();
  for (const auto& [key, matrix] :
       {std::pair<const char*, const ParameterMatrix*>{"covariance",
                                                       &precision.covariance},
        {"correlation", &precision.correlation}}) {
    writer.Key(key);
    writer.StartArray();
    for (int j = 0; j < 7; ++j) {
      writer.StartArray();
      for (int k = 0; k < 7; ++k) Number(writer, (*matrix)(j, k));
      writer.EndArray();
    }
    writer.EndArray();
  }
  writer.EndObject();
}

}  // namespace

std::string FormatJsonReport(const TransformationReport& report) {
  std::string text;
  // About 360 bytes a point; reserved once, so that the text is not copied
  // as it grows (pages reserved but not written cost no memory).
  text.reserve(4096 + 400 * report.assessment.points.size());
  StringOutput output(text);
  JsonWriter writer(output);
  writer.SetIndent(' ', 2);
  writer.SetFormatOptions(rapidjson::kFormatSingleLineArray);
  writer.StartObject();
  Member(writer, "control", report.control_path);
  Member(writer, "result", report.result_path);
  WriteTransformation(report, writer);
  WritePoints(report, writer);
  WriteSummary(report, writer);
  WriteCheck(report, writer);
  WriteTrend(report.assessment.trend, writer);
  WritePrecision(report.assessment, writer);
  writer.Key("proj");
  writer.StartObject();
  Member(writer, "grid_to_wgs84", report.grid_to_wgs84);
  Member(writer, "wgs84_to_grid", report.wgs84_to_grid);
  writer.EndObject();
  Member(writer, "verdict", report.verdict);
  writer.EndObject();
  text += '\n';
  return text;
}

}  // namespace helmert
