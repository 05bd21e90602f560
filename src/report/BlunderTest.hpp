// The blunder test: each residual component standardized by the standard
// deviation it has, and flagged beyond a critical value.
//
// Fitted points (data snooping with externally estimated components; Baarda,
// A testing procedure for use in geodetic networks, 1968, with Pope's
// tau-test idea of estimating the precision without the point): for point
// i with residual block e_i and the 3 x 3 block H_ii of the hat matrix, the
// variance components (VarianceComponents.hpp) are estimated again without
// the point, its share e_i^T (I - H_ii)^-1 e_i taken from each group's sum
// (split by component) and its 2 plan and 1 height observations from the
// system. Each residual component e_a is divided by the standard deviation
// it has under those components:
//
//   Var(e) = (I - H) S (I - H)^T,  S the diagonal of the components,
//   Var(e_a) = sigma_a^2 (1 - 2 H_aa) + u_a^T (sum_k sigma_k^2 M_k) u_a.
//
// A bad point cannot hide itself by inflating the precision it is judged
// by. Because the precision is itself estimated, w follows Student's t with
// the component group's degrees of freedom less the point's.
//
// Error rate per data set (Sidak's correction, Z. Sidak, Rectangular
// confidence regions for the means of multivariate normal distributions,
// JASA 62, 1967, for the studentized maximum modulus): a surveyor reads one
// report per data set, so the level is set for the whole set. The m
// independent residual components (the redundancy, 3n - 7 for fitted
// points) share it: each is tested at the equivalent
//
//   alpha_c = 1 - (1 - kBlunderSetLevel)^(1/m),
//
// and the plan and the height group each get the share of the set level
// that their redundancy m_g has, 1 - (1 - kBlunderSetLevel)^(m_g/m). The
// critical |w| of a group is the point c where the largest of its m_g
// standardized residuals, which share one estimated precision with nu
// degrees of freedom, exceeds c with that share:
//
//   P(max |w| > c) = 1 - E_S[(2 Phi(c S) - 1)^m_g],  S^2 = chi^2_nu / nu,
//
// (Student's t for each component alone, but without Sidak's surplus for
// the shared precision). A component is flagged when |w| exceeds its
// group's c, kept in the record with both levels so that every output
// prints the ones the test used. A point whose I - H_ii has a pivot near 0
// determines part of the parameters alone and cannot be tested.
//
// Check points against a fit (FitReference): the fit's own components and
// the covariance C of its parameters predict each check point's residual,
//
//   Var(e_c) = sigma_c^2 + (J_i C J_i^T)_cc,
//
// and w = e_c / sqrt(Var(e_c)) is judged by Student's t with the fit's
// degrees of freedom, at the same per-set level; the mean of the squared w over all check points is
// F-distributed (the fit's precision is estimated), and below
// kCheckTestLevel the check points do not agree with what the fit predicts.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <vector>

#include "common/Point3.hpp"
#include "report/VarianceComponents.hpp"

namespace helmert {

// The blunder test's level per data set: the chance that a clean set gets
// any flag at all.
inline constexpr double kBlunderSetLevel = 0.05;

// The level per component that keeps kBlunderSetLevel over `tests`
// independent components (Sidak).
double ComponentLevel(double tests);

// The check points' test against a fit's prediction (the mean of their w^2
// against F): they are said not to agree with it below this probability.
inline constexpr double kCheckTestLevel = 0.01;

// sigma0 without a point is never taken below this (metres): residuals at
// the rounding level of coordinates in the millions of metres (1e-9 m) would
// otherwise standardize to arbitrary values. One micrometre is far below
// any survey's precision.
inline constexpr double kSmallestSigma0 = 1e-6;

// The test of one point.
struct PointTest {
  Point3 redundancy;          // diagonal of I - H_ii (1 for check points)
  Point3 standardized;        // w per component; not-a-number if not testable
  double largest = 0;         // max |w|; not-a-number if not testable
  int largest_component = 0;  // 0 E, 1 N, 2 H: the component of `largest`
  bool flagged = false;       // some |w| beyond its component's critical w
};

struct BlunderTest {
  std::vector<PointTest> points;
  // The levels the test used: per data set and per component.
  double set_level = kBlunderSetLevel;
  double component_level = 0;
  // The |w| beyond which a plan or a height component is flagged.
  double plan_critical_w = 0;
  double height_critical_w = 0;
  // Whether any point could be tested.
  bool available = false;
  std::size_t worst_point = 0;  // largest max |w| among testable points
  std::size_t flagged_count = 0;
};

// The |w| that the largest of `tests` standardized residuals sharing one
// precision estimate with `dof` degrees of freedom exceeds with a chance of
// `group_level`.
double CriticalW(double dof, double tests, double group_level);

// Data snooping of points judged against each other: fitted points with
// their hat rows, or check points without a fit to judge them by (no hat
// rows). `degrees_of_freedom` is 3n - 7 or 3n.
BlunderTest SnoopForBlunders(const std::vector<Point3>& residuals,
                             const HatRows& hat_rows,
                             const VarianceComponents& components,
                             int degrees_of_freedom);

// What a fit predicts for other points: its components and the covariance
// of its parameters (T_x, T_y, T_z, R_x, R_y, R_z, Scale).
struct FitReference {
  VarianceComponent plan;
  VarianceComponent height;
  ParameterMatrix covariance;
};

// The check points' agreement with a fit's prediction.
struct CheckAgainstFit {
  double predicted_rms_horizontal = 0;  // sqrt(mean of Var(dE) + Var(dN))
  double predicted_rms_vertical = 0;    // sqrt(mean of Var(dH))
  double chi_square = 0;                // sum of the squared w
  int degrees_of_freedom = 0;           // 3 per check point
  double probability = 0;               // P(F >= mean of the w^2)
  bool agrees = true;                   // probability >= kCheckTestLevel
};

struct CheckPointTest {
  BlunderTest test;
  CheckAgainstFit check;
};

// Check points judged against the fit: `jacobian_rows` are the 3 x 7
// Jacobians of the forward map at the check points.
CheckPointTest JudgeCheckPoints(
    const std::vector<Point3>& residuals,
    const std::vector<Eigen::Matrix<double, 3, 7>>& jacobian_rows,
    const FitReference& reference);

}  // namespace helmert
