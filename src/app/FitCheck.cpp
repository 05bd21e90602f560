#include "app/FitCheck.hpp"

#include <cmath>
#include <iomanip>
#include <string>

#include "app/ConsoleLabels.hpp"
#include "app/ConsoleText.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {

void PrintFitCheck(const TransformParameters& parameters,
                   const Zone& zone,
                   const std::vector<GeodeticPoint>& source,
                   const std::vector<Point3>& projected_source,
                   const std::vector<Point3>& destination, std::ostream& out) {
  PrintPlaneResiduals(parameters, projected_source, destination, out);
  PrintGeodeticResiduals(parameters, zone, source,
                         destination, out);
}

void PrintPlaneResiduals(const TransformParameters& parameters,
                         const std::vector<Point3>& projected_source,
                         const std::vector<Point3>& destination,
                         std::ostream& out) {
  ConsoleBuffer console(out);
  std::string& text = console.text();
  for (std::size_t i = 0; i < projected_source.size(); ++i) {
    const Point3 predicted = ForwardTransform(parameters, projected_source[i]);
    const Point3& observed = destination[i];
    const double dy = predicted.y - observed.y;
    const double dx = predicted.x - observed.x;
    const double horizontal = std::sqrt(dy * dy + dx * dx);
    const double vertical = predicted.z - observed.z;
    text += kHorizontalLabel;
    AppendGeneral(text, horizontal);
    text += '\t';
    text += kVerticalLabel;
    AppendGeneral(text, vertical);
    text += '\n';
    console.LineDone();
  }
  console.Flush();
}

void PrintGeodeticResiduals(const TransformParameters& parameters,
                            const Zone& zone,
                            const std::vector<GeodeticPoint>& source,
                            const std::vector<Point3>& destination,
                            std::ostream& out) {
  if (destination.empty()) return;
  ConsoleBuffer console(out);
  std::string& text = console.text();
  const Eigen::Matrix3d inverse =
      InverseRotationMatrix(parameters.R_x, parameters.R_y, parameters.R_z);
  for (std::size_t j = 0; j < destination.size(); ++j) {
    const Point3 zone_point =
        ReverseTransform(parameters, inverse, destination[j]);
    const GeodeticPair back = ZoneInverse({zone_point.x, zone_point.y}, zone);
    const GeodeticPoint& original = source[j];
    // Longitudes compared modulo 360 and printed within (-180, 180]: only
    // a site across the 180th meridian needs either.
    const double longitude = WrapLongitude(back.longitude_degrees);
    text += kGeodeticLabel;
    AppendFixed10(text, ReduceLongitudeDifference(longitude -
                                                  original.longitude_degrees));
    text += ' ';
    AppendFixed10(text, back.latitude_degrees - original.latitude_degrees);
    text += ' ';
    AppendFixed10(text, zone_point.z - original.height_metres);
    text += '\t';
    AppendFixed10(text, longitude);
    text += "-->";
    AppendFixed10(text, original.longitude_degrees);
    text += ' ';
    AppendFixed10(text, back.latitude_degrees);
    text += "-->";
    AppendFixed10(text, original.latitude_degrees);
    text += ' ';
    AppendFixed10(text, zone_point.z);
    text += "-->";
    AppendFixed10(text, original.height_metres);
    text += '\n';
    console.LineDone();
  }
  // The geodetic lines leave the stream in fixed notation with 10 decimals,
  // as if they had been written through it.
  out << std::fixed << std::setprecision(10);
  console.Flush();
}

}  // namespace helmert
