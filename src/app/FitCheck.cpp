#include "app/FitCheck.hpp"

#include <cmath>
#include <iomanip>

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
  for (std::size_t i = 0; i < projected_source.size(); ++i) {
    const Point3 predicted = ForwardTransform(parameters, projected_source[i]);
    const Point3& observed = destination[i];
    const double dy = predicted.y - observed.y;
    const double dx = predicted.x - observed.x;
    const double horizontal = std::sqrt(dy * dy + dx * dx);
    const double vertical = predicted.z - observed.z;
    out << kHorizontalLabel << horizontal << "\t" << kVerticalLabel << vertical
        << std::endl;
  }

  for (std::size_t j = 0; j < destination.size(); ++j) {
    const Point3 zone_point = ReverseTransform(parameters, destination[j]);
    const GeodeticPair back = GaussKrugerInverse(
        {zone_point.x, zone_point.y}, central_meridian_degrees, kFalseEasting,
        kFalseNorthing, kWgs84SemiMajorAxis, kWgs84Flattening);
    const Point3& original = source[j];
    out << std::fixed << std::setprecision(10);
    out << kGeodeticLabel << back.longitude_degrees - original.x << " "
        << back.latitude_degrees - original.y << " "
        << zone_point.z - original.z << "\t" << back.longitude_degrees << "-->"
        << original.x << " " << back.latitude_degrees << "-->" << original.y
        << " " << zone_point.z << "-->" << original.z << std::endl;
  }
}

}  // namespace helmert
