#include "report/BlunderTest.hpp"

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <limits>

#include "report/Distributions.hpp"

namespace helmert {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// An eigenvalue of I - H_ii below this means the point alone determines a
// combination of the parameters: its residual there is zero whatever its
// error, and the point cannot be tested.
constexpr double kSmallestBlockRedundancy = 1e-10;

Eigen::Vector3d AsVector(const Point3& p) { return {p.x, p.y, p.z}; }

// Standardizes the residual by its variances, flags it beyond the critical
// values, and keeps the test's count and worst point.
void Judge(const Eigen::Vector3d& e, const Eigen::Vector3d& variance,
           const Eigen::Vector3d& critical, std::size_t i, PointTest& point,
           BlunderTest& test, double& worst, double& chi_square) {
  const Eigen::Vector3d w = e.cwiseQuotient(variance.cwiseSqrt());
  point.standardized = {w(0), w(1), w(2)};
  w.cwiseAbs().maxCoeff(&point.largest_component);
  point.largest = w.cwiseAbs().maxCoeff();
  point.flagged = (w.cwiseAbs().array() > critical.array()).any();
  if (point.flagged) ++test.flagged_count;
  test.available = true;
  chi_square += w.squaredNorm();
  if (point.largest > worst) {
    worst = point.largest;
    test.worst_point = i;
  }
}

}  // namespace

double ComponentLevel(double tests) {
  return SidakShare(kBlunderSetLevel, 1.0, std::max(tests, 1.0));
}

double CriticalW(double dof, double tests, double group_level) {
  // P(max |w| <= c) = E_S[(2 Phi(c S) - 1)^m] with S^2 = chi^2_dof / dof:
  // m standardized residuals that share one estimated precision. The
  // expectation by the midpoint rule over S in (0, 4), in the log domain
  // for the chi density.
  constexpr int kSteps = 2000;
  constexpr double kLargestS = 4.0;
  const double h = kLargestS / kSteps;
  const double log_norm = std::lgamma(dof / 2.0) + (dof / 2.0) * std::log(2.0);
  const auto exceeded = [&](double c) {
    double sum = 0.0;
    for (int k = 0; k < kSteps; ++k) {
      const double s = (k + 0.5) * h;
      const double x = s * s * dof;  // chi^2_dof
      const double density = std::exp((dof / 2.0 - 1.0) * std::log(x) -
                                       x / 2.0 - log_norm) *
                             2.0 * s * dof;
      const double inside = std::erf(c * s / std::sqrt(2.0));
      sum += (1.0 - std::pow(inside, tests)) * density * h;
    }
    return sum;
  };
  double low = 0.0;
  double high = 50.0;
  for (int step = 0; step < 50; ++step) {
    const double middle = 0.5 * (low + high);
    if (exceeded(middle) < group_level) {
      high = middle;
    } else {
      low = middle;
    }
  }
  return high;
}

namespace {

// The critical |w| of the plan and of the height components: the set level
// shared between the two groups by their numbers of independent residual
// components (their redundancies), each group's maximum judged with its
// own estimated precision (`plan_dof`, `height_dof`).
void SetCriticalValues(double plan_tests, double height_tests, double plan_dof,
                       double height_dof, BlunderTest& test) {
  const double tests = plan_tests + height_tests;
  test.component_level = ComponentLevel(tests);
  const double plan_level = SidakShare(kBlunderSetLevel, plan_tests, tests);
  const double height_level = SidakShare(kBlunderSetLevel, height_tests, tests);
  test.plan_critical_w = CriticalW(plan_dof, plan_tests, plan_level);
  test.height_critical_w = CriticalW(height_dof, height_tests, height_level);
}

}  // namespace

BlunderTest SnoopForBlunders(const std::vector<Point3>& residuals,
                             const HatRows& hat_rows,
                             const VarianceComponents& components,
                             int degrees_of_freedom) {
  BlunderTest test;
  const std::size_t n = residuals.size();
  test.points.resize(n);
  const ComponentSums& sums = components.sums;
  const int dof_without_point = degrees_of_freedom - 3;
  // The degrees of freedom of the precision each component is judged by,
  // the same for every point, and the |w| that flags it.
  const Eigen::Vector3d dof =
      Eigen::Vector3d(components.plan.redundancy - 2.0,
                      components.plan.redundancy - 2.0,
                      components.height.redundancy - 1.0)
          .cwiseMax(1.0);
  SetCriticalValues(std::max(components.plan.redundancy, 1.0),
                    std::max(components.height.redundancy, 1.0), dof(0),
                    dof(2), test);
  const Eigen::Vector3d critical(test.plan_critical_w, test.plan_critical_w,
                                 test.height_critical_w);
  const ComponentsWithoutPoint without_point = SystemWithoutPoint(sums);
  double worst = -1.0;
  double chi_square = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    PointTest& point = test.points[i];
    const Eigen::Vector3d e = AsVector(residuals[i]);
    Eigen::Matrix<double, 7, 3> u = Eigen::Matrix<double, 7, 3>::Zero();
    if (hat_rows) u = hat_rows(i);
    const Eigen::Matrix3d redundancy =
        Eigen::Matrix3d::Identity() - u.transpose() * u;
    point.redundancy = {redundancy(0, 0), redundancy(1, 1), redundancy(2, 2)};
    point.standardized = {kNotANumber, kNotANumber, kNotANumber};
    point.largest = kNotANumber;
    // A pivot of I - H_ii near 0: the point alone determines part of the
    // parameters and cannot be tested.
    const Eigen::LDLT<Eigen::Matrix3d> block(redundancy);
    if (dof_without_point <= 0 || !without_point.remains ||
        !(block.vectorD().minCoeff() > kSmallestBlockRedundancy)) {
      continue;
    }
    // The point's own share of each group's sum of squares.
    const Eigen::Vector3d weighted = block.solve(e);
    const Eigen::Vector2d own(e(0) * weighted(0) + e(1) * weighted(1),
                              e(2) * weighted(2));
    const Eigen::Vector2d without = SolveComponents(
        without_point.system, (sums.sum_of_squares - own).cwiseMax(0.0));
    const double sp = std::max(without(0), kSmallestSigma0 * kSmallestSigma0);
    const double sh = std::max(without(1), kSmallestSigma0 * kSmallestSigma0);
    const ParameterMatrix spread = sp * sums.plan_rows + sh * sums.height_rows;
    const Eigen::Vector3d own_variance(sp, sp, sh);
    Eigen::Vector3d variance;
    for (int c = 0; c < 3; ++c) {
      const double leverage = u.col(c).squaredNorm();
      variance(c) = own_variance(c) * (1.0 - 2.0 * leverage) +
                    u.col(c).dot(spread * u.col(c));
      // Never below what the smallest sigma0 leaves of the redundancy.
      variance(c) = std::max(
          variance(c), kSmallestSigma0 * kSmallestSigma0 * redundancy(c, c));
    }
    Judge(e, variance, critical, i, point, test, worst, chi_square);
  }
  return test;
}

CheckPointTest JudgeCheckPoints(
    const std::vector<Point3>& residuals,
    const std::vector<Eigen::Matrix<double, 3, 7>>& jacobian_rows,
    const FitReference& reference) {
  CheckPointTest judged;
  BlunderTest& test = judged.test;
  CheckAgainstFit& check = judged.check;
  const std::size_t n = residuals.size();
  test.points.resize(n);
  // Judged by the fit's precision, with the fit's degrees of freedom.
  const Eigen::Vector3d dof(reference.plan.redundancy,
                            reference.plan.redundancy,
                            reference.height.redundancy);
  // Check points: every residual is independent of the fit's precision's
  // estimate; all 2n plan and n height components are tested.
  SetCriticalValues(2.0 * static_cast<double>(n), static_cast<double>(n),
                    dof(0), dof(2), test);
  const Eigen::Vector3d critical(test.plan_critical_w, test.plan_critical_w,
                                 test.height_critical_w);
  const double sp =
      std::max(reference.plan.variance, kSmallestSigma0 * kSmallestSigma0);
  const double sh =
      std::max(reference.height.variance, kSmallestSigma0 * kSmallestSigma0);
  double predicted_plan = 0.0;
  double predicted_height = 0.0;
  double worst = -1.0;
  for (std::size_t i = 0; i < n; ++i) {
    PointTest& point = test.points[i];
    point.redundancy = {1.0, 1.0, 1.0};
    // The fit's prediction: its components plus its parameters' spread.
    const Eigen::Matrix<double, 3, 7>& rows = jacobian_rows[i];
    const Eigen::Matrix3d spread =
        rows * reference.covariance * rows.transpose();
    const Eigen::Vector3d variance =
        Eigen::Vector3d(sp, sp, sh) + spread.diagonal();
    predicted_plan += variance(0) + variance(1);
    predicted_height += variance(2);
    Judge(AsVector(residuals[i]), variance, critical, i, point, test, worst,
          check.chi_square);
  }
  const double count = static_cast<double>(n);
  check.predicted_rms_horizontal = std::sqrt(predicted_plan / count);
  check.predicted_rms_vertical = std::sqrt(predicted_height / count);
  check.degrees_of_freedom = static_cast<int>(3 * n);
  // The fit's precision is itself estimated: the mean square of the w is
  // F-distributed, with the fit's degrees of freedom (averaged over the
  // components in the harmonic sense) in the denominator.
  const double fit_dof = 3.0 / (1.0 / dof(0) + 1.0 / dof(1) + 1.0 / dof(2));
  check.probability = FUpperTail(check.chi_square / check.degrees_of_freedom,
                                 check.degrees_of_freedom, fit_dof);
  check.agrees = check.probability >= kCheckTestLevel;
  return judged;
}

}  // namespace helmert
