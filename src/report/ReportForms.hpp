// The forms of helmert-report's report: each a pure function of the report
// model (TransformationReport, built once by BuildReport) to the whole text
// of one output, in a file of its own. None computes a figure: each lays out
// the model's. Names and paths in them are well-formed, printable UTF-8
// (the model holds them so). A new form is one function here, one file,
// and one row of the run's outputs table (ReportRun.cpp).
#pragma once

#include <string>

#include "report/Report.hpp"

namespace helmert {

// The console report (ReportText.cpp): UTF-8 text, one section a stage,
// metres with five decimals, standardized residuals with two, ending with
// the PROJ pipelines for cct.
std::string FormatTextReport(const TransformationReport& report);

// The JSON report (ReportJson.cpp): one object with the transformation,
// the points, the summary, the check, the trend and the precision, numbers
// as the shortest digits that read back to the same double; indented by
// two, with a final line end.
std::string FormatJsonReport(const TransformationReport& report);

// The points as a GeoJSON feature collection (GeoJson.cpp): WGS84
// longitude and latitude of each point, its name, number, residuals and
// test, for a GIS.
std::string FormatGeoJson(const TransformationReport& report);

// The residual plot as SVG (ResidualPlot.cpp, ResidualPlot.hpp): the points
// at their zone positions, their plan residuals as magnified arrows, their
// height residuals as the markers' colour, flagged points ringed, a header
// with the figures and a legend.
std::string FormatResidualPlot(const TransformationReport& report);

}  // namespace helmert
