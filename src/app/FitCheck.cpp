#include "app/FitCheck.hpp"

#include <cmath>
#include <iomanip>
#include <string>

#include "app/ConsoleText.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {

namespace {

// GBK bytes of the console labels.
constexpr char kHorizontalLabel[] =  // "水平残差： "
    "\xCB\xAE\xC6\xBD\xB2\xD0\xB2\xEE\xA3\xBA\x20";
constexpr char kVerticalLabel[] =  // "垂直残差", no colon
    "\xB4\xB9\xD6\xB1\xB2\xD0\xB2\xEE";
constexpr char kGeodeticLabel[] =  // "经纬度残差："
    "\xBE\xAD\xCE\xB3\xB6\xC8\xB2\xD0\xB2\xEE\xA3\xBA";

}  // namespace

void PrintFitCheck(const TransformParameters& parameters,
                   double central_meridian_degrees,
                   const std::vector<Point3>& source,
                   const std::vector<Point3>& projected_source,
                   const std::vector<Point3>& destination, std::ostream& out) {
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

  if (destination.empty()) return;
  const Eigen::Matrix3d inverse =
      InverseRotationMatrix(parameters.R_x, parameters.R_y, parameters.R_z);
  for (std::size_t j = 0; j < destination.size(); ++j) {
    const Point3 zone_point =
        ReverseTransform(parameters, inverse, destination[j]);
    const GeodeticPair back = GaussKrugerInverse(
        {zone_point.x, zone_point.y}, central_meridian_degrees, kFalseEasting,
        kFalseNorthing, kWgs84SemiMajorAxis, kWgs84Flattening);
    const Point3& original = source[j];
    text += kGeodeticLabel;
    AppendFixed10(text, back.longitude_degrees - original.x);
    text += ' ';
    AppendFixed10(text, back.latitude_degrees - original.y);
    text += ' ';
    AppendFixed10(text, zone_point.z - original.z);
    text += '\t';
    AppendFixed10(text, back.longitude_degrees);
    text += "-->";
    AppendFixed10(text, original.x);
    text += ' ';
    AppendFixed10(text, back.latitude_degrees);
    text += "-->";
    AppendFixed10(text, original.y);
    text += ' ';
    AppendFixed10(text, zone_point.z);
    text += "-->";
    AppendFixed10(text, original.z);
    text += '\n';
    console.LineDone();
  }
  // The geodetic lines leave the stream in fixed notation with 10 decimals,
  // as if they had been written through it.
  out << std::fixed << std::setprecision(10);
  console.Flush();
}

}  // namespace helmert
