// Bursa-Wolf model with the linearised position-vector rotation; the inverse
// matrix is Eigen's general fixed-size 3x3 inverse, whose digits the result
// document carries.
#include "estimation/BursaWolf.hpp"

#include <Eigen/LU>

namespace helmert {

Eigen::Matrix3d RotationMatrix(double rx_radians, double ry_radians,
                               double rz_radians) {
  Eigen::Matrix3d m;
  // Position-vector convention: M = I + [R]x, the cross-product matrix of
  // the angle vector.
  m << 1.0, -rz_radians, ry_radians,  //
      rz_radians, 1.0, -rx_radians,   //
      -ry_radians, rx_radians, 1.0;
  return m;
}

Eigen::Matrix3d InverseRotationMatrix(double rx_radians, double ry_radians,
                                      double rz_radians) {
  return RotationMatrix(rx_radians, ry_radians, rz_radians).inverse();
}

Point3 ForwardTransform(const TransformParameters& parameters,
                        const Point3& source) {
  double predicted[3];
  ApplyBursaWolf(parameters.T_x, parameters.T_y, parameters.T_z, parameters.R_x,
                 parameters.R_y, parameters.R_z, parameters.Scale, source.x,
                 source.y, source.z, predicted);
  return {predicted[0], predicted[1], predicted[2]};
}

JacobianRows BursaWolfJacobian(const TransformParameters& parameters,
                               const Point3& source) {
  const double s = parameters.Scale;
  const Point3 rotated = ForwardTransform(
      {0.0, 0.0, 0.0, parameters.R_x, parameters.R_y, parameters.R_z, 1.0},
      source);
  const double x = source.x;
  const double y = source.y;
  const double z = source.z;
  JacobianRows jacobian;
  jacobian << 1.0, 0.0, 0.0, 0.0, s * z, -s * y, rotated.x,  //
      0.0, 1.0, 0.0, -s * z, 0.0, s * x, rotated.y,          //
      0.0, 0.0, 1.0, s * y, -s * x, 0.0, rotated.z;
  return jacobian;
}

Point3 ReverseTransform(const TransformParameters& parameters,
                        const Point3& destination) {
  return ReverseTransform(
      parameters,
      InverseRotationMatrix(parameters.R_x, parameters.R_y, parameters.R_z),
      destination);
}

Point3 ReverseTransform(const TransformParameters& parameters,
                        const Eigen::Matrix3d& inverse,
                        const Point3& destination) {
  const double v[3] = {destination.x - parameters.T_x,
                       destination.y - parameters.T_y,
                       destination.z - parameters.T_z};
  double w[3];
  for (int row = 0; row < 3; ++row) {
    w[row] = inverse(row, 0) * v[0] + inverse(row, 1) * v[1] +
             inverse(row, 2) * v[2];
  }
  // A division by the scale, not a multiplication by its reciprocal.
  return {w[0] / parameters.Scale, w[1] / parameters.Scale,
          w[2] / parameters.Scale};
}

RecoveredAngles AnglesFromInverseRotation(
    const Eigen::Matrix3d& inverse_rotation) {
  RecoveredAngles angles;
  const Eigen::Matrix3d m = inverse_rotation.inverse();
  if (!m.allFinite()) return angles;
  angles.invertible = true;
  angles.R_x = m(2, 1);
  angles.R_y = m(0, 2);
  angles.R_z = m(1, 0);
  angles.deviation = (RotationMatrix(angles.R_x, angles.R_y, angles.R_z) - m)
                         .cwiseAbs()
                         .maxCoeff();
  return angles;
}

}  // namespace helmert
