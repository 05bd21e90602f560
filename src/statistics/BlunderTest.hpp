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
// Stated precision (Baarda's w-test): when the user states the survey's
// standard deviations sigma_p (each plan component) and sigma_h (height),
// S is theirs, w = e_a / sqrt(Var(e_a)) is standard normal for a clean
// point, and the critical |w| is the normal distribution's at the
// component level. The global test of each group then compares the
// estimated component with the stated one: r_k sigma_k_hat^2 / sigma_k^2
// is chi-square with the group's redundancy r_k, tested (upper tail) at
// the group's Sidak share of kBlunderSetLevel.
//
// Levels for few points: with the precision estimated, w of a small set is
// far from independent of the precision it is divided by, and the Sidak
// approximation above lets through up to 8 % of clean sets with a flag (8
// points). Up to kMostSimulatedPoints points the critical values are
// therefore found for the data set's own design: kSimulations sets of
// normal noise (with the estimated ratio of the components) are taken
// through the fit's I - H and the same test, and each group's critical
// |w| is the quantile of its largest |w| at the group's share (a fixed
// seed: the same document gives the same report).
//
// Internal reliability (Baarda): a bias grad in component a of point i
// moves its residual by (1 - H_aa) grad, so the test finds it with 80 %
// power when (1 - H_aa) grad / sqrt(Var(e_a)) reaches
// delta_0 = c + z_0.80, c the component's critical |w|:
//
//   MDB_a = delta_0 sqrt(Var(e_a)) / (1 - H_aa),
//
// with Var(e_a) from the stated precision, or from the estimated
// components. External reliability: such a bias moves the fitted
// parameters by (J^T J)^-1 J_a^T MDB_a and so the transformed coordinates
// of point j by H_ja MDB_a; the largest norm over the control points j
// (every point up to kMostReliabilityPoints points; beyond, the point
// itself and the points extreme in 26 directions, where the largest of an
// affine function's norm lies on the points' convex hull), and over the
// point's three components, is the point's external reliability.
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
#include <optional>
#include <vector>

#include "common/Point3.hpp"
#include "statistics/VarianceComponents.hpp"

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

// The survey's precision as the user states it (metres): the standard
// deviation of one plan component and of the height of a control point's
// grid-minus-transformed difference, GNSS and grid together.
struct StatedPrecision {
  double plan_sigma = 0;
  double height_sigma = 0;
};

// The power the minimal detectable bias is found with.
inline constexpr double kReliabilityPower = 0.8;
// The critical values are simulated for the design up to this many points,
// from this many noise sets.
inline constexpr std::size_t kMostSimulatedPoints = 300;
inline constexpr int kSimulations = 4000;
// External reliability looks at every control point up to this many.
inline constexpr std::size_t kMostReliabilityPoints = 2000;

// The test of one point.
struct PointTest {
  Point3 redundancy;          // diagonal of I - H_ii (1 for check points)
  Point3 standardized;        // w per component; not-a-number if not testable
  double largest = 0;         // max |w|; not-a-number if not testable
  int largest_component = 0;  // 0 E, 1 N, 2 H: the component of `largest`
  bool flagged = false;       // some |w| beyond its component's critical w
  // The minimal detectable bias of each component (metres) and the largest
  // effect of such a bias on the transformed coordinates of any control
  // point (metres); not-a-number where the point cannot be tested.
  Point3 mdb;
  double external_reliability = 0;
};

// The global test of one group against its stated precision.
struct GroupGlobalTest {
  double sigma_stated = 0;     // metres
  double sigma_estimated = 0;  // the variance component's (metres)
  double ratio = 0;            // estimated over stated
  double redundancy = 0;       // the chi-square's degrees of freedom
  double probability = 1;      // P(chi^2 >= r sigma_hat^2 / sigma^2)
  double level = 0;            // the group's share of the set level
  bool passed = true;          // probability >= level
};
struct GlobalTest {
  GroupGlobalTest plan;
  GroupGlobalTest height;
  bool Passed() const { return plan.passed && height.passed; }
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
  // The precision was stated (normal w, global test), not estimated.
  bool stated = false;
  // The critical values were simulated for the design, not approximated.
  bool simulated = false;
  std::optional<GlobalTest> global;  // with a stated precision
  // The largest MDB of a plan and of a height component, and the largest
  // external reliability, over the testable points (metres).
  double largest_plan_mdb = 0;
  double largest_height_mdb = 0;
  double largest_external_reliability = 0;
};

// The |w| that the largest of `tests` standardized residuals sharing one
// precision estimate with `dof` degrees of freedom exceeds with a chance of
// `group_level`.
double CriticalW(double dof, double tests, double group_level);

// Data snooping of points judged against each other: fitted points with
// their hat rows, or check points without a fit to judge them by (no hat
// rows). `degrees_of_freedom` is 3n - 7 or 3n. With `stated`, the w-test
// and the global test against that precision. `reliability_points` are
// the points whose transformed coordinates external reliability looks at
// (empty: every point).
BlunderTest SnoopForBlunders(
    const std::vector<Point3>& residuals, const HatRows& hat_rows,
    const VarianceComponents& components, int degrees_of_freedom,
    const StatedPrecision* stated = nullptr,
    const std::vector<std::size_t>& reliability_points = {});

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
