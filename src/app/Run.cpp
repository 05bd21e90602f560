#include "app/Run.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/ConsoleLabels.hpp"
#include "app/Diagnosis.hpp"
#include "app/FitCheck.hpp"
#include "common/Error.hpp"
#include "estimation/Estimation.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/OutputFile.hpp"
#include "io/ResultDocument.hpp"
#include "io/Streams.hpp"

namespace helmert {

namespace {

// Whether the parameter lines of the console (default stream format, six
// significant digits) read the same for both parameter sets.
bool PrintSame(const TransformParameters& a, const TransformParameters& b) {
  const double first[] = {a.T_x, a.T_y, a.T_z, a.R_x, a.R_y, a.R_z, a.Scale};
  const double second[] = {b.T_x, b.T_y, b.T_z, b.R_x, b.R_y, b.R_z, b.Scale};
  for (int k = 0; k < 7; ++k) {
    char one[32];
    char other[32];
    std::snprintf(one, sizeof one, "%g", first[k]);
    std::snprintf(other, sizeof other, "%g", second[k]);
    if (std::strcmp(one, other) != 0) return false;
  }
  return true;
}

bool AllFinite(const TransformParameters& p) {
  for (double v : {p.T_x, p.T_y, p.T_z, p.R_x, p.R_y, p.R_z, p.Scale}) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace

FitOutcome WithConsoleRule(FitOutcome fit) {
  if (!fit.exact_minimum_used && fit.usable && AllFinite(fit.minimum) &&
      !PrintSame(fit.parameters, fit.minimum)) {
    fit.parameters = fit.minimum;
    fit.exact_minimum_used = true;
  }
  return fit;
}

void ReportFit(const FitOutcome& fit, std::ostream& out,
               std::ostream& warnings) {
  const TransformParameters& p = fit.parameters;
  out << fit.full_report << "\n";
  out << kParameterBlockLabel;
  out << "T_x = " << p.T_x << "\n";
  out << "T_y = " << p.T_y << "\n";
  out << "T_z = " << p.T_z << "\n";
  out << "R_x = " << p.R_x << "\n";
  out << "R_y = " << p.R_y << "\n";
  out << "R_z = " << p.R_z << "\n";
  out << "Scale = " << p.Scale << "\n";
  if (fit.replacement_matters) {
    out.flush();
    warnings << "warning: the solver stopped short of the least-squares "
                "minimum by up to "
             << fit.largest_parameter_deviations
             << " standard deviations of a parameter (residuals up to "
             << fit.largest_residual_change
             << " m apart); its closed form is used instead" << std::endl;
  }
}

std::string FitControlPoints(const ControlPoints& points,
                             const std::string& control_name, std::ostream& out,
                             std::ostream& warnings,
                             std::vector<std::string>* advice) {
  ValidateControlPoints(points, control_name);
  const Zone zone = ZoneOf(points);
  const std::vector<Point3> projected = ProjectToZone(points.source, zone);

  // Every refusal is decided before anything is printed.
  FitOutcome fit;
  try {
    fit = WithConsoleRule(EstimateParameters(projected, points.destination));
    RequireUsableFit(fit);
  } catch (const ImplausibleFit& refused) {
    throw Error(control_name + ": " + refused.what() + ": " +
                DiagnoseImplausibleFit(points, zone, refused.parameters()));
  } catch (const Error& error) {
    throw Error(control_name + ": " + error.what());
  }

  out << kCentralMeridianLabel << zone.central_meridian_degrees << std::endl;

  ReportFit(fit, out, warnings);
  const TransformParameters& parameters = fit.parameters;

  PrintFitCheck(parameters, zone, points.source, projected, points.destination,
                out);
  out.flush();
  if (advice != nullptr) {
    *advice = AdviseOnFit(points, zone, projected, parameters);
  }
  return FormatResultDocument(parameters, zone.central_meridian_degrees,
                              points.scale_factor);
}

void RunHelmertFit(const std::string& control_path,
                   const std::string& result_path, std::ostream& out,
                   std::ostream& warnings) {
  ControlPoints points;
  {
    // The text lives only as long as the parse needs it.
    const std::string text = ReadTextFile(control_path);
    points = ParseControlPointDocument(text, control_path);
  }
  // The control-point document is never the result, under any name.
  if (SameExistingFile(control_path, result_path)) {
    throw Error(result_path + ": is the control-point document " +
                control_path + "; the result would replace it");
  }
  // Prepared before the fit: an unwritable destination ends the run before
  // anything is printed.
  OutputFile result(result_path);
  std::vector<std::string> advice;
  result.Write(FitControlPoints(points, control_path, out, warnings, &advice));
  // A report that did not reach the console is a failed run: the result
  // is not replaced.
  RequireWritten(out);
  result.Commit();
  // What the numbers point to, once the run has succeeded: a failed run
  // says one line only.
  for (const std::string& line : advice) {
    warnings << "warning: " << control_path << ": " << line << std::endl;
  }
}

}  // namespace helmert
