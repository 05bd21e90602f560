// The control points with their residuals as an RFC 7946 GeoJSON
// FeatureCollection, for QGIS, GDAL and other GIS: one Point feature per
// control point at its WGS84 longitude and latitude from the control-point
// document (longitude first) and its ellipsoidal height, which is what RFC
// 7946 means by the third coordinate. A value that could not be computed (a
// standardized residual of a point that cannot be tested) is null.
#include <rapidjson/writer.h>

#include <cmath>
#include <string>

#include "report/ReportForms.hpp"
#include "report/StringOutput.hpp"

namespace helmert {

namespace {

using Writer = rapidjson::Writer<StringOutput>;

void Number(Writer& writer, const char* key, double value) {
  writer.Key(key);
  if (std::isfinite(value)) {
    writer.Double(value);
  } else {
    writer.Null();
  }
}

}  // namespace

std::string FormatGeoJson(const TransformationReport& report) {
  const Assessment& a = report.assessment;
  std::string text;
  // About 330 bytes a feature, reserved once.
  text.reserve(256 + 360 * a.points.size());
  // One feature a line, for people and line tools: each written by a
  // writer of its own, the collection's brackets and commas by hand.
  text += "{\"type\":\"FeatureCollection\",\"features\":[\n";
  StringOutput output(text);
  Writer writer(output);  // reset for each feature, its stack kept
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    const PointAssessment& point = a.points[i];
    const GeodeticPoint& where = report.source[i];
    if (i > 0) text += ",\n";
    writer.Reset(output);
    writer.StartObject();
    writer.Key("type");
    writer.String("Feature");
    writer.Key("geometry");
    writer.StartObject();
    writer.Key("type");
    writer.String("Point");
    writer.Key("coordinates");
    writer.StartArray();
    writer.Double(where.longitude_degrees);
    writer.Double(where.latitude_degrees);
    writer.Double(where.height_metres);
    writer.EndArray();
    writer.EndObject();
    writer.Key("properties");
    writer.StartObject();
    writer.Key("name");
    writer.String(report.labels[i].c_str(),
                  static_cast<rapidjson::SizeType>(report.labels[i].size()));
    writer.Key("number");
    writer.Uint64(i + 1);
    Number(writer, "dE_m", point.residual.x);
    Number(writer, "dN_m", point.residual.y);
    Number(writer, "dH_m", point.residual.z);
    Number(writer, "horizontal_m", point.horizontal);
    Number(writer, "w_E", point.standardized.x);
    Number(writer, "w_N", point.standardized.y);
    Number(writer, "w_H", point.standardized.z);
    writer.Key("flagged");
    writer.Bool(point.flagged);
    writer.Key("flagged_component");
    if (point.flagged) {
      writer.String(&kComponentNames[point.largest_component], 1);
    } else {
      writer.Null();
    }
    writer.EndObject();
    writer.EndObject();
  }
  text += "\n]}\n";
  return text;
}

}  // namespace helmert
