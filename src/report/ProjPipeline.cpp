#include "report/ProjPipeline.hpp"

#include <charconv>
#include <cmath>

#include "geodesy/Constants.hpp"

namespace helmert {

namespace {

// The fewest digits that read back to the same double; whole numbers (the
// central meridian, the false easting) without an exponent.
std::string Shortest(double value) {
  char text[64];
  const bool whole = value == std::trunc(value) && std::fabs(value) < 1e15;
  const auto result = whole ? std::to_chars(text, text + sizeof text, value,
                                            std::chars_format::fixed)
                            : std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// "+step +proj=affine" taking p to matrix * p + offset.
std::string AffineStep(const Eigen::Matrix3d& matrix,
                       const Eigen::Vector3d& offset) {
  std::string step = "+step +proj=affine";
  const char* const axes[] = {"x", "y", "z"};
  for (int row = 0; row < 3; ++row) {
    step += std::string(" +") + axes[row] + "off=" + Shortest(offset(row));
  }
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      step += " +s" + std::to_string(row + 1) + std::to_string(column + 1) +
              "=" + Shortest(matrix(row, column));
    }
  }
  return step;
}

std::string ZoneProjection(const StoredTransformation& stored) {
  return "+proj=tmerc +lat_0=0 +lon_0=" +
         Shortest(stored.central_meridian_degrees) +
         " +k=" + Shortest(stored.scale_factor.value_or(1.0)) +
         " +x_0=" + Shortest(kFalseEasting) +
         " +y_0=" + Shortest(kFalseNorthing) + " +ellps=WGS84";
}

// The reverse map as one affine step: p_zone = matrix p_grid + offset.
struct AffineMap {
  Eigen::Matrix3d matrix;
  Eigen::Vector3d offset;
};

AffineMap ReverseMap(const StoredTransformation& stored) {
  const TransformParameters& p = stored.parameters;
  return {
      stored.zone_from_grid_rotation / p.Scale,
      -(stored.zone_from_grid_rotation * Eigen::Vector3d(p.T_x, p.T_y, p.T_z)) /
          p.Scale};
}

}  // namespace

bool ReverseMapIsFinite(const StoredTransformation& stored) {
  const AffineMap reverse = ReverseMap(stored);
  return reverse.matrix.allFinite() && reverse.offset.allFinite();
}

std::string GridToWgs84Pipeline(const StoredTransformation& stored) {
  const AffineMap reverse = ReverseMap(stored);
  const Eigen::Matrix3d& matrix = reverse.matrix;
  const Eigen::Vector3d& offset = reverse.offset;
  return "+proj=pipeline " + AffineStep(matrix, offset) + " +step +inv " +
         ZoneProjection(stored) +
         " +step +proj=unitconvert +xy_in=rad +xy_out=deg";
}

std::string Wgs84ToGridPipeline(const StoredTransformation& stored) {
  const TransformParameters& p = stored.parameters;
  const Eigen::Matrix3d matrix = RotationMatrix(p.R_x, p.R_y, p.R_z) * p.Scale;
  return "+proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad "
         "+step " +
         ZoneProjection(stored) + " " +
         AffineStep(matrix, Eigen::Vector3d(p.T_x, p.T_y, p.T_z));
}

}  // namespace helmert
