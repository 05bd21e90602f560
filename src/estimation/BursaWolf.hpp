// The seven-parameter Bursa-Wolf (Helmert) similarity between two frames of
// plane coordinates and height:
//
//   destination = Scale * (M * source) + T
//
// with the LINEARISED, POSITION-VECTOR rotation
//
//       |  1    -R_z   R_y |
//   M = |  R_z   1    -R_x |        M * p = p + (R_x, R_y, R_z) x p
//       | -R_y   R_x   1   |
//
// A positive R_z turns a point from the x axis toward the y axis (and R_x
// from y toward z, R_y from z toward x); the axes stay fixed. The angles
// enter linearly: no sine or cosine, no sequence of elementary rotations, and
// M is never orthonormalised, so it is not a rotation for large angles. Its
// determinant is 1 + R_x^2 + R_y^2 + R_z^2 >= 1: M is always invertible, and
// the reverse map uses its true inverse, not its transpose.
//
// The rotations act about the origin of the zone's plane coordinates, not
// about the centroid of the points.
//
// This is the plain model: it needs Eigen alone. The solver's residual
// (BursaWolfResidual) and the fit live in the estimation library.
#pragma once

#include <Eigen/Core>

#include "common/Point3.hpp"

namespace helmert {

// Seven doubles side by side in this fixed order; the same order is used for
// the solver's parameter blocks, the residual's arguments and the console.
struct TransformParameters {
  double T_x = 0.0;    // translation along x (metres)
  double T_y = 0.0;    // translation along y (metres)
  double T_z = 0.0;    // translation along z (metres)
  double R_x = 0.0;    // rotation about x (radians)
  double R_y = 0.0;    // rotation about y (radians)
  double R_z = 0.0;    // rotation about z (radians)
  double Scale = 1.0;  // scale factor itself (1 = no change), not ppm
};

// M, built from the three angles (radians).
Eigen::Matrix3d RotationMatrix(double rx_radians, double ry_radians,
                               double rz_radians);

// The exact inverse of M, by Eigen's fixed-size 3x3 inverse (cofactors of
// column 0, determinant, one reciprocal, adjugate times that reciprocal).
// Depends on the angles only; the scale is not part of it.
Eigen::Matrix3d InverseRotationMatrix(double rx_radians, double ry_radians,
                                      double rz_radians);

// The forward map in the one fixed order shared by the fit and the check:
// rotate (each row's products summed left to right), then scale, then
// translate. Source coordinates are plain doubles; the parameters may be
// doubles or Jets.
template <typename T>
void ApplyBursaWolf(const T& t_x, const T& t_y, const T& t_z, const T& r_x,
                    const T& r_y, const T& r_z, const T& scale, double x,
                    double y, double z, T predicted[3]) {
  const T q_x = (x - r_z * y) + r_y * z;
  const T q_y = (r_z * x + y) - r_x * z;
  const T q_z = (-r_y * x + r_x * y) + z;
  predicted[0] = q_x * scale + t_x;
  predicted[1] = q_y * scale + t_y;
  predicted[2] = q_z * scale + t_z;
}

// The predicted destination point of a projected source point (metres).
Point3 ForwardTransform(const TransformParameters& parameters,
                        const Point3& source);

// The point of the source plane that ForwardTransform takes to the
// destination point: M^-1 * (destination - T), each component then divided
// by Scale. Up to rounding the exact inverse of ForwardTransform for any
// finite parameters with Scale != 0, whatever the size of the angles.
Point3 ReverseTransform(const TransformParameters& parameters,
                        const Point3& destination);

// The same with M^-1 given (InverseRotationMatrix of the same angles), for
// mapping many points back.
Point3 ReverseTransform(const TransformParameters& parameters,
                        const Eigen::Matrix3d& inverse_rotation,
                        const Point3& destination);

// The 3 x 7 Jacobian of ForwardTransform(source) with respect to the seven
// parameters in their fixed order, at the given parameters: rows x, y, z of
// the predicted point; columns T_x, T_y, T_z (identity), R_x, R_y, R_z
// (Scale times the derivative of M * source) and Scale (M * source).
// Exact: the map is linear in T and in the angles, bilinear with the scale.
using JacobianRows = Eigen::Matrix<double, 3, 7>;
JacobianRows BursaWolfJacobian(const TransformParameters& parameters,
                               const Point3& source);

// The three angles (radians) of the linearised rotation matrix whose inverse
// is `inverse_rotation` (M^-1, as a result document holds it):
// R_x = M(2,1), R_y = M(0,2), R_z = M(1,0) of M = inverse_rotation^-1, and
// how far M is from RotationMatrix of those angles (the largest absolute
// difference of an element). A matrix written from fitted angles gives a
// deviation at rounding level. A singular inverse_rotation gives no angles.
struct RecoveredAngles {
  bool invertible = false;
  double R_x = 0.0;
  double R_y = 0.0;
  double R_z = 0.0;
  double deviation = 0.0;
};
RecoveredAngles AnglesFromInverseRotation(
    const Eigen::Matrix3d& inverse_rotation);

}  // namespace helmert
