// The report of helmert-report: a transformation read from a result
// document, evaluated on a control-point document, as UTF-8 text for the
// console and as a JSON document for scripts.
#pragma once

#include <string>
#include <vector>

#include "common/Point3.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"
#include "report/Assessment.hpp"

namespace helmert {

// Radians to arc-seconds: 180 * 3600 / pi.
inline constexpr double kArcSecondsPerRadian = 206264.80624709636;

// Everything the report shows, computed once for all its forms.
struct TransformationReport {
  std::string control_path;
  std::string result_path;
  StoredTransformation stored;
  std::vector<Point3> source;     // longitude, latitude (deg), height (m)
  std::vector<Point3> projected;  // in the document's zone (metres)
  std::vector<Point3> destination;
  // The central meridian that helmert-fit would choose for these points; it
  // differs from the document's when the points lie in another zone.
  double points_central_meridian_degrees = 0.0;
  Assessment assessment;
  std::string grid_to_wgs84;  // PROJ pipelines
  std::string wgs84_to_grid;
};

// Projects the points into the document's zone and assesses the document's
// transformation on them. The points must have passed
// ValidateControlPoints. Throws Error, naming both documents, when the
// residuals are too large to be represented.
TransformationReport BuildReport(const std::string& control_path,
                                 ControlPoints points,
                                 const std::string& result_path,
                                 const StoredTransformation& stored);

// The 3-degree zone number of a central meridian: L0 / 3, counted eastward
// from Greenwich through 1..120 (L0 = 0 is zone 120, L0 = -72 zone 96).
int ZoneNumber(double central_meridian_degrees);

std::string FormatTextReport(const TransformationReport& report);
std::string FormatJsonReport(const TransformationReport& report);

}  // namespace helmert
