// Plan and height precision apart: two variance components estimated from
// the residuals of the unweighted fit.
//
// GNSS heights are typically two to three times noisier than plan
// positions, so one sigma0 for all three components flags clean heights and
// hides plan blunders. Two components, sigma_p^2 for easting and northing
// and sigma_h^2 for height, come from Helmert's variance component
// estimation for the unweighted fit (Koch, Parameter Estimation and
// Hypothesis Testing in Linear Models, 2nd ed., 1999, section 3.6.4):
//
//   U    the rows of J (J^T J)^-1/2, so that the hat matrix is H = U U^T;
//        row a of U is u_a (one row per residual component);
//   M_k  the sum of u_a u_a^T over the rows a of group k (k = plan, height);
//   e_k  the group's residuals, n_k its number of observations (2n, n).
//
//   E[e_k^T e_k] = sum_l sigma_l^2 tr(P_k (I - H) P_l (I - H)), where
//     tr(P_k (I - H) P_k (I - H)) = n_k - 2 tr(M_k) + tr(M_k M_k),
//     tr(P_k (I - H) P_l (I - H)) = tr(M_k M_l) for k != l:
//
// a 2 x 2 linear system in (sigma_p^2, sigma_h^2) (ComponentSums::system),
// solved with negative solutions, possible with few points, taken as 0.
// The group's redundancy n_k - tr(M_k) is its share of the 3n - 7 degrees
// of freedom. For check points (parameters not fitted to them) H is 0: the
// components are the groups' mean squares.
//
// Without one point (the blunder test's precision, BlunderTest.hpp): the
// point's share e_i^T (I - H_ii)^-1 e_i, split by group, leaves the groups'
// sums, and its 2 plan and 1 height observations leave the system's
// diagonal.
#pragma once

#include <Eigen/Core>
#include <functional>
#include <vector>

#include "common/Point3.hpp"

namespace helmert {

using ParameterMatrix = Eigen::Matrix<double, 7, 7>;

// The rows u_a of U for the three residual components of point i, as the
// columns of a 7 x 3 matrix: H_ab = u_a . u_b. Computed on demand from the
// Jacobian's rows (a million points need no second copy of them); empty
// (no function) for check points, whose H is 0.
using HatRows = std::function<Eigen::Matrix<double, 7, 3>(std::size_t)>;

// One variance component: easting and northing together, or height.
struct VarianceComponent {
  double variance = 0;    // m^2
  double redundancy = 0;  // the group's degrees of freedom (may be fractional)
  double Sigma() const;   // metres
};

// What the components are estimated from: the groups' sums of squares,
// U's group matrices M_k and the 2 x 2 system.
struct ComponentSums {
  Eigen::Vector2d sum_of_squares = Eigen::Vector2d::Zero();  // plan, height
  ParameterMatrix plan_rows = ParameterMatrix::Zero();       // M_p
  ParameterMatrix height_rows = ParameterMatrix::Zero();     // M_h
  Eigen::Matrix2d system = Eigen::Matrix2d::Zero();
};

// The two components and what they came from.
struct VarianceComponents {
  ComponentSums sums;
  VarianceComponent plan;    // easting and northing
  VarianceComponent height;
  // sigma_p^2 M_p + sigma_h^2 M_h: with R^-1 on both sides, the covariance
  // of the parameters when plan and height differ.
  ParameterMatrix Spread() const;
};

// Estimates the components from the residuals (forward map minus
// destination, metres) and, for fitted points, their hat rows (empty for
// check points).
VarianceComponents EstimateVarianceComponents(
    const std::vector<Point3>& residuals, const HatRows& hat_rows);

// The system without one point: its 2 plan and 1 height observations
// less. `remains` says whether both groups keep observations to estimate
// from. (The point's share of the groups' sums is the caller's: it needs
// the point's redundancy block.)
struct ComponentsWithoutPoint {
  Eigen::Matrix2d system;
  bool remains = false;
};
ComponentsWithoutPoint SystemWithoutPoint(const ComponentSums& sums);

// Solves the system for the components; negative solutions are taken as 0.
Eigen::Vector2d SolveComponents(const Eigen::Matrix2d& system,
                                const Eigen::Vector2d& sums);

}  // namespace helmert
