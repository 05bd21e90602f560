// Judging a transformation against control points: the residuals of the
// forward map, a blunder test per point, summary figures and, when the
// parameters were fitted to these very points, their precision.
//
// Model: least squares with unit weights, observations the 3n destination
// coordinates, J the analytic 3n x 7 Jacobian of the forward map at the given
// parameters (BursaWolfJacobian). The figures are those of the linearised
// problem at those parameters; the map is linear in T and the angles and
// bilinear with the scale, so at the solution they are exact to first order.
//
// Blunder test (data snooping with an externally estimated sigma0): for
// point i with residual block e_i and the 3 x 3 block H_ii of the hat matrix
// H = J (J^T J)^-1 J^T, the sum of squares without the point is
// SSR - e_i^T (I - H_ii)^-1 e_i, on 3n - 7 - 3 degrees of freedom; its
// sigma0_(i) and the redundancy numbers r = diag(I - H_ii) give the
// standardized residuals w = e / (sigma0_(i) sqrt(r)). A bad point thus
// cannot hide itself by inflating the sigma0 it is judged by. For check
// points (parameters not fitted to them) H is 0: r = 1 and the sum without
// the point is simply SSR - |e_i|^2, on 3n - 3 degrees of freedom.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <optional>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"

namespace helmert {

// A standardized residual beyond this flags its point: for normally
// distributed errors one in about 370 components exceeds it by chance.
inline constexpr double kBlunderThreshold = 3.0;

// The parameters count as fitted to the points when the residual vector is
// this close to orthogonal to the Jacobian's columns (the cosine of its angle
// with their span; the normal equations J^T e = 0 hold at a least-squares
// solution). The solver stops once a step gains less than 1e-6 of the cost,
// which leaves a cosine of up to about 1e-3 (5e-4 seen on the example);
// check points give about sqrt(7 / 3n), above 1e-2 up to some 20,000
// points. Beyond that the two readings differ by under 0.04 % in the degrees
// of freedom and the redundancy numbers.
inline constexpr double kMostFittedGradientCosine = 1e-2;

// sigma0 without a point is never taken below this (metres): residuals at
// the rounding level of coordinates in the millions of metres (1e-9 m) would
// otherwise standardize to arbitrary values. One micrometre is far below
// any survey's precision.
inline constexpr double kSmallestSigma0 = 1e-6;

struct PointAssessment {
  Point3 residual;        // forward map minus destination (metres)
  double horizontal = 0;  // hypot(dE, dN) (metres)
  Point3 redundancy;      // diagonal of I - H_ii (1 for check points)
  Point3 standardized;    // w per component; not-a-number if not testable
  double largest = 0;     // max |w|; not-a-number if not testable
  bool flagged = false;   // largest > kBlunderThreshold
};

using ParameterMatrix = Eigen::Matrix<double, 7, 7>;

// In the parameters' fixed order T_x, T_y, T_z (metres), R_x, R_y, R_z
// (radians), Scale (factor).
struct ParameterPrecision {
  ParameterMatrix cofactor;     // (J^T J)^-1
  ParameterMatrix covariance;   // sigma0^2 (J^T J)^-1
  ParameterMatrix correlation;  // from (J^T J)^-1, so defined when sigma0 = 0
  Eigen::Matrix<double, 7, 1> standard_deviation;
};

struct Assessment {
  std::vector<PointAssessment> points;
  // Whether the parameters are the least-squares solution for these points
  // (see kMostFittedGradientCosine), and the cosine that decided it.
  bool fitted_points = false;
  double gradient_cosine = 0;
  int degrees_of_freedom = 0;  // 3n - 7 for fitted points, 3n otherwise
  double sum_of_squares = 0;   // of all residual components (m^2)
  double sigma0 = 0;           // sqrt(sum_of_squares / dof) (metres)
  double rms_horizontal = 0;   // sqrt(mean of dE^2 + dN^2) (metres)
  double rms_vertical = 0;     // sqrt(mean of dH^2) (metres)
  std::size_t max_horizontal_point = 0;
  std::size_t max_vertical_point = 0;
  // Whether any point could be tested: needs 3n - 10 > 0 (fitted) or
  // 3n - 3 > 0 (check points), and a point that does not alone determine
  // part of the parameters.
  bool blunder_test_available = false;
  std::size_t worst_point = 0;  // largest max |w| among testable points
  std::size_t flagged_count = 0;
  // Present for fitted points only.
  std::optional<ParameterPrecision> precision;
};

// Assesses the parameters on the pairs (projected_source[i],
// destination[i]) (metres, zone and local grid). Requires equally long,
// non-empty lists of finite coordinates.
Assessment AssessTransformation(const TransformParameters& parameters,
                                const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination);

}  // namespace helmert
