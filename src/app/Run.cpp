#include "app/Run.hpp"

#include <sstream>
#include <vector>

#include "app/FitCheck.hpp"
#include "common/Error.hpp"
#include "estimation/Estimation.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"

namespace helmert {

namespace {

// "中央经线: " in GBK, with an ASCII colon and space.
constexpr char kCentralMeridianLabel[] = "\xD6\xD0\xD1\xEB\xBE\xAD\xCF\xDF: ";

}  // namespace

std::string FitControlPoints(const ControlPoints& points,
                             const std::string& control_name, std::ostream& out,
                             std::ostream& warnings) {
  ValidateControlPoints(points, control_name);
  const double central_meridian = SelectCentralMeridian(points.source);
  const std::vector<Point3> projected =
      ProjectToZone(points.source, central_meridian);

  const double condition = GeometryConditionRatio(projected);
  if (!(condition >= kMinimumGeometryConditionRatio)) {
    std::ostringstream message;
    message << control_name
            << ": the control points lie on one straight line (or coincide),"
               " so the rotation about it is not determined (geometry ratio "
            << condition << " < " << kMinimumGeometryConditionRatio << ")";
    throw Error(message.str());
  }

  out << kCentralMeridianLabel << central_meridian << std::endl;

  TransformParameters parameters;
  try {
    parameters =
        EstimateParameters(projected, points.destination, out, warnings);
  } catch (const Error& error) {
    throw Error(control_name + ": " + error.what());
  }

  PrintFitCheck(parameters, central_meridian, points.source, projected,
                points.destination, out);
  out.flush();
  return FormatResultDocument(parameters, central_meridian);
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
  const std::string document =
      FitControlPoints(points, control_path, out, warnings);
  WriteResultDocument(result_path, document);
}

}  // namespace helmert
