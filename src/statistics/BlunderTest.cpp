#include "statistics/BlunderTest.hpp"

#include <Eigen/Cholesky>
#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>

#include "statistics/Distributions.hpp"

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

namespace {

// What the test needs of one point's place in the design: its hat rows'
// products with the group matrices, so that Var(e_a) under any components
// (sigma_p^2, sigma_h^2) costs a few products.
struct PointDesign {
  bool testable = false;
  Eigen::Matrix3d redundancy;      // I - H_ii
  Eigen::Matrix3d block_inverse;   // (I - H_ii)^-1
  Eigen::Vector3d leverage;        // H_aa
  Eigen::Vector3d plan_spread;     // u_a^T M_p u_a
  Eigen::Vector3d height_spread;   // u_a^T M_h u_a
};

PointDesign DesignOf(const Eigen::Matrix<double, 7, 3>& u,
                     const ComponentSums& sums, bool estimable) {
  PointDesign design;
  design.redundancy = Eigen::Matrix3d::Identity() - u.transpose() * u;
  // A pivot of I - H_ii near 0: the point alone determines part of the
  // parameters and cannot be tested.
  const Eigen::LDLT<Eigen::Matrix3d> block(design.redundancy);
  design.testable =
      estimable && block.vectorD().minCoeff() > kSmallestBlockRedundancy;
  if (!design.testable) return design;
  design.block_inverse = block.solve(Eigen::Matrix3d::Identity());
  for (int c = 0; c < 3; ++c) {
    design.leverage(c) = u.col(c).squaredNorm();
    design.plan_spread(c) = u.col(c).dot(sums.plan_rows * u.col(c));
    design.height_spread(c) = u.col(c).dot(sums.height_rows * u.col(c));
  }
  return design;
}

// Var(e_a) = sigma_a^2 (1 - 2 H_aa) + u_a^T (sp M_p + sh M_h) u_a, never
// below what the smallest sigma0 leaves of the redundancy.
Eigen::Vector3d ResidualVariance(const PointDesign& design, double sp,
                                 double sh) {
  const Eigen::Vector3d own(sp, sp, sh);
  Eigen::Vector3d variance;
  for (int c = 0; c < 3; ++c) {
    variance(c) = own(c) * (1.0 - 2.0 * design.leverage(c)) +
                  sp * design.plan_spread(c) + sh * design.height_spread(c);
    variance(c) = std::max(variance(c), kSmallestSigma0 * kSmallestSigma0 *
                                            design.redundancy(c, c));
  }
  return variance;
}

// The components (sigma_p^2, sigma_h^2) a point is judged by: the stated
// ones, or those estimated without the point (its own share of each
// group's sum taken out).
Eigen::Vector2d JudgingComponents(const Eigen::Vector3d& e,
                                  const PointDesign& design,
                                  const Eigen::Vector2d& group_sums,
                                  const ComponentsWithoutPoint& without_point,
                                  const StatedPrecision* stated) {
  if (stated != nullptr) {
    return {stated->plan_sigma * stated->plan_sigma,
            stated->height_sigma * stated->height_sigma};
  }
  const Eigen::Vector3d weighted = design.block_inverse * e;
  const Eigen::Vector2d own(e(0) * weighted(0) + e(1) * weighted(1),
                            e(2) * weighted(2));
  const Eigen::Vector2d without = SolveComponents(
      without_point.system, (group_sums - own).cwiseMax(0.0));
  return without.cwiseMax(kSmallestSigma0 * kSmallestSigma0);
}

// The groups' sums of squares of residuals.
Eigen::Vector2d GroupSums(const std::vector<Eigen::Vector3d>& e) {
  Eigen::Vector2d sums = Eigen::Vector2d::Zero();
  for (const Eigen::Vector3d& r : e) {
    sums(0) += r(0) * r(0) + r(1) * r(1);
    sums(1) += r(2) * r(2);
  }
  return sums;
}

// At least `count` standard normal deviates, the same in every run (a
// fixed seed: a document always gives the same report), drawn once for
// the process and grown on demand.
const std::vector<double>& StandardNormals(std::size_t count) {
  static std::vector<double> normals;
  static std::mt19937_64 random(0x68656c6d657274ULL);
  static std::normal_distribution<double> normal;
  if (normals.size() < count) {
    normals.reserve(count);
    while (normals.size() < count) normals.push_back(normal(random));
  }
  return normals;
}

// The critical |w| of each group for this design: the quantile of the
// group's largest |w| over simulated noise sets at the group's share of
// the set level (see the header).
std::pair<double, double> SimulatedCriticalW(
    const std::vector<Eigen::Matrix<double, 7, 3>>& hat_rows,
    const std::vector<PointDesign>& designs,
    const ComponentsWithoutPoint& without_point, double height_ratio,
    double plan_share, double height_share) {
  const std::size_t n = designs.size();
  const std::vector<double>& noise = StandardNormals(3 * n * kSimulations);
  const double* next = noise.data();
  const Eigen::Matrix2d without_inverse = without_point.system.inverse();
  std::vector<double> plan_maxima(kSimulations);
  std::vector<double> height_maxima(kSimulations);
  std::vector<Eigen::Vector3d> e(n);
  for (int k = 0; k < kSimulations; ++k) {
    Eigen::Matrix<double, 7, 1> projection = Eigen::Matrix<double, 7, 1>::Zero();
    for (std::size_t i = 0; i < n; ++i, next += 3) {
      e[i] = {next[0], next[1], height_ratio * next[2]};
      projection += hat_rows[i] * e[i];
    }
    for (std::size_t i = 0; i < n; ++i) {
      e[i] -= hat_rows[i].transpose() * projection;  // (I - H) noise
    }
    const Eigen::Vector2d group_sums = GroupSums(e);
    double plan_max = 0.0;
    double height_max = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      if (!designs[i].testable) continue;
      // JudgingComponents with the system's inverse taken once.
      const Eigen::Vector3d weighted = designs[i].block_inverse * e[i];
      const Eigen::Vector2d own(e[i](0) * weighted(0) + e[i](1) * weighted(1),
                                e[i](2) * weighted(2));
      const Eigen::Vector2d judging =
          (without_inverse * (group_sums - own).cwiseMax(0.0))
              .cwiseMax(kSmallestSigma0 * kSmallestSigma0);
      const Eigen::Vector3d variance =
          ResidualVariance(designs[i], judging(0), judging(1));
      const Eigen::Vector3d w =
          e[i].cwiseQuotient(variance.cwiseSqrt()).cwiseAbs();
      plan_max = std::max({plan_max, w(0), w(1)});
      height_max = std::max(height_max, w(2));
    }
    plan_maxima[k] = plan_max;
    height_maxima[k] = height_max;
  }
  const auto quantile = [](std::vector<double>& values, double share) {
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(
        values.size() - 1,
        static_cast<std::size_t>((1.0 - share) * values.size()));
    return values[at];
  };
  return {quantile(plan_maxima, plan_share),
          quantile(height_maxima, height_share)};
}

GroupGlobalTest GlobalTestOf(const VarianceComponent& component,
                             double sigma_stated, double level) {
  GroupGlobalTest test;
  test.sigma_stated = sigma_stated;
  test.sigma_estimated = component.Sigma();
  test.ratio = test.sigma_estimated / sigma_stated;
  test.redundancy = component.redundancy;
  test.level = level;
  if (component.redundancy > 0.0) {
    test.probability = ChiSquareUpperTail(
        component.redundancy * test.ratio * test.ratio, component.redundancy);
  }
  test.passed = !(test.probability < level);
  return test;
}

}  // namespace

BlunderTest SnoopForBlunders(const std::vector<Point3>& residuals,
                             const HatRows& hat_rows,
                             const VarianceComponents& components,
                             int degrees_of_freedom,
                             const StatedPrecision* stated,
                             const std::vector<std::size_t>& reliability_points) {
  BlunderTest test;
  const std::size_t n = residuals.size();
  test.points.resize(n);
  test.stated = stated != nullptr;
  const ComponentSums& sums = components.sums;
  const int dof_without_point = degrees_of_freedom - 3;
  const double plan_tests = std::max(components.plan.redundancy, 1.0);
  const double height_tests = std::max(components.height.redundancy, 1.0);
  const double tests = plan_tests + height_tests;
  test.component_level = ComponentLevel(tests);
  const double plan_share = SidakShare(kBlunderSetLevel, plan_tests, tests);
  const double height_share = SidakShare(kBlunderSetLevel, height_tests, tests);
  const ComponentsWithoutPoint without_point = SystemWithoutPoint(sums);
  const bool estimable =
      stated != nullptr || (dof_without_point > 0 && without_point.remains);
  const auto rows_of = [&](std::size_t i) {
    return hat_rows ? hat_rows(i) : Eigen::Matrix<double, 7, 3>::Zero().eval();
  };

  if (stated != nullptr) {
    // Known precision: each |w| is normal; the groups' shares give every
    // component the same level.
    test.plan_critical_w = NormalQuantile(1.0 - test.component_level / 2.0);
    test.height_critical_w = test.plan_critical_w;
    const double group_level = SidakShare(kBlunderSetLevel, 1.0, 2.0);
    test.global = GlobalTest{
        GlobalTestOf(components.plan, stated->plan_sigma, group_level),
        GlobalTestOf(components.height, stated->height_sigma, group_level)};
  } else if (hat_rows && n <= kMostSimulatedPoints && estimable) {
    std::vector<Eigen::Matrix<double, 7, 3>> rows(n);
    std::vector<PointDesign> designs(n);
    for (std::size_t i = 0; i < n; ++i) {
      rows[i] = rows_of(i);
      designs[i] = DesignOf(rows[i], sums, estimable);
    }
    const double plan_sigma = components.plan.Sigma();
    const double height_sigma = components.height.Sigma();
    const double ratio =
        plan_sigma > 0.0 && height_sigma > 0.0 ? height_sigma / plan_sigma : 1.0;
    const auto critical = SimulatedCriticalW(rows, designs, without_point,
                                             ratio, plan_share, height_share);
    test.plan_critical_w = critical.first;
    test.height_critical_w = critical.second;
    test.simulated = true;
  } else {
    // The degrees of freedom of the precision each component is judged by,
    // the same for every point.
    const double plan_dof = std::max(components.plan.redundancy - 2.0, 1.0);
    const double height_dof = std::max(components.height.redundancy - 1.0, 1.0);
    test.plan_critical_w = CriticalW(plan_dof, plan_tests, plan_share);
    test.height_critical_w = CriticalW(height_dof, height_tests, height_share);
  }
  const Eigen::Vector3d critical(test.plan_critical_w, test.plan_critical_w,
                                 test.height_critical_w);
  // The non-centrality a bias must reach to be found with the stated
  // power, per component.
  const double power_quantile = NormalQuantile(kReliabilityPower);
  const Eigen::Vector3d non_centrality =
      critical + Eigen::Vector3d::Constant(power_quantile);
  // The components the MDB is computed with: the stated, or the estimated.
  const double mdb_sp =
      stated != nullptr ? stated->plan_sigma * stated->plan_sigma
                        : std::max(components.plan.variance,
                                   kSmallestSigma0 * kSmallestSigma0);
  const double mdb_sh =
      stated != nullptr ? stated->height_sigma * stated->height_sigma
                        : std::max(components.height.variance,
                                   kSmallestSigma0 * kSmallestSigma0);

  // The points whose transformed coordinates external reliability looks
  // at: their hat rows, transposed and stacked (3 rows a point), so that
  // one product gives a bias's effect on all of them.
  Eigen::Matrix<double, Eigen::Dynamic, 7> watched;
  if (hat_rows) {
    const std::size_t count =
        reliability_points.empty() ? n : reliability_points.size();
    watched.resize(static_cast<Eigen::Index>(3 * count), 7);
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t j =
          reliability_points.empty() ? k : reliability_points[k];
      watched.middleRows<3>(static_cast<Eigen::Index>(3 * k)) =
          rows_of(j).transpose();
    }
  }
  Eigen::Matrix<double, Eigen::Dynamic, 3> effects;

  std::vector<Eigen::Vector3d> e(n);
  for (std::size_t i = 0; i < n; ++i) {
    e[i] = AsVector(residuals[i]);
  }
  const Eigen::Vector2d group_sums = sums.sum_of_squares;
  double worst = -1.0;
  double chi_square = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    PointTest& point = test.points[i];
    const Eigen::Matrix<double, 7, 3> u = rows_of(i);
    const PointDesign design = DesignOf(u, sums, estimable);
    point.redundancy = {design.redundancy(0, 0), design.redundancy(1, 1),
                        design.redundancy(2, 2)};
    point.standardized = {kNotANumber, kNotANumber, kNotANumber};
    point.largest = kNotANumber;
    point.mdb = {kNotANumber, kNotANumber, kNotANumber};
    point.external_reliability = kNotANumber;
    if (!design.testable) continue;
    const Eigen::Vector2d judging =
        JudgingComponents(e[i], design, group_sums, without_point, stated);
    Judge(e[i], ResidualVariance(design, judging(0), judging(1)), critical, i,
          point, test, worst, chi_square);

    // Reliability.
    const Eigen::Vector3d variance = ResidualVariance(design, mdb_sp, mdb_sh);
    double mdb[3];
    for (int c = 0; c < 3; ++c) {
      mdb[c] = non_centrality(c) * std::sqrt(variance(c)) /
               design.redundancy(c, c);
    }
    // The effect of each component's bias on the point itself and on the
    // watched points: H_ja MDB_a, column a.
    const Eigen::Matrix<double, 7, 3> moved =
        u * Eigen::Vector3d(mdb[0], mdb[1], mdb[2]).asDiagonal();
    double external = (u.transpose() * moved).colwise().norm().maxCoeff();
    if (watched.rows() > 0) {
      effects.noalias() = watched * moved;
      for (Eigen::Index k = 0; k < effects.rows(); k += 3) {
        external = std::max(
            external, effects.middleRows<3>(k).colwise().norm().maxCoeff());
      }
    }
    point.mdb = {mdb[0], mdb[1], mdb[2]};
    point.external_reliability = external;
    test.largest_plan_mdb = std::max({test.largest_plan_mdb, mdb[0], mdb[1]});
    test.largest_height_mdb = std::max(test.largest_height_mdb, mdb[2]);
    test.largest_external_reliability =
        std::max(test.largest_external_reliability, external);
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
