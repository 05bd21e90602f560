// Residual statistics, data snooping and parameter covariance of a
// Bursa-Wolf transformation. The Jacobian is reduced to its 7 x 7 triangle
// by blocks (JacobianTriangle), with its columns scaled to unit norm
// afterwards: the translation columns are of size 1 and the rotation
// columns of size of the coordinates (millions of metres), and (J^T J)^-1 is
// taken from the scaled triangle, never by inverting J^T J itself.
#include "report/Assessment.hpp"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <limits>

#include "estimation/JacobianTriangle.hpp"
#include "report/Distributions.hpp"

namespace helmert {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// Below this ratio of its smallest to largest diagonal element the scaled
// triangle is taken as singular: the points do not determine all seven
// parameters (collinear or coincident check points).
constexpr double kSmallestTriangleRatio = 1e-12;

// An eigenvalue of I - H_ii below this means the point alone determines a
// combination of the parameters: its residual there is zero whatever its
// error, and the point cannot be tested.
constexpr double kSmallestBlockRedundancy = 1e-10;

Eigen::Vector3d AsVector(const Point3& p) { return {p.x, p.y, p.z}; }

// The Jacobian at the parameters, reduced to its column-scaled triangle, and
// whether the points determine all seven parameters.
struct Geometry {
  ScaledTriangle scaled;
  bool determined = false;
  const Eigen::TriangularView<const ParameterTriangle, Eigen::Upper> Upper()
      const {
    return scaled.triangle.triangularView<Eigen::Upper>();
  }
  // Row block i of J D.
  Eigen::Matrix<double, 3, 7> ScaledRows(const TransformParameters& parameters,
                                         const Point3& source) const {
    return BursaWolfJacobian(parameters, source) *
           scaled.column_scale.asDiagonal();
  }
};

// Residuals, their sums of squares, RMS and largest values.
void AssessResiduals(const TransformParameters& parameters,
                     const std::vector<Point3>& projected_source,
                     const std::vector<Point3>& destination,
                     Assessment& assessment) {
  const std::size_t n = projected_source.size();
  assessment.points.resize(n);
  double sum_horizontal = 0.0;
  double sum_vertical = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    PointAssessment& point = assessment.points[i];
    const Point3 predicted = ForwardTransform(parameters, projected_source[i]);
    point.residual = {predicted.x - destination[i].x,
                      predicted.y - destination[i].y,
                      predicted.z - destination[i].z};
    point.horizontal = std::hypot(point.residual.x, point.residual.y);
    const double horizontal_squared = point.residual.x * point.residual.x +
                                      point.residual.y * point.residual.y;
    const double vertical_squared = point.residual.z * point.residual.z;
    sum_horizontal += horizontal_squared;
    sum_vertical += vertical_squared;
    const PointAssessment& widest =
        assessment.points[assessment.max_horizontal_point];
    if (point.horizontal > widest.horizontal) {
      assessment.max_horizontal_point = i;
    }
    const PointAssessment& highest =
        assessment.points[assessment.max_vertical_point];
    if (std::fabs(point.residual.z) > std::fabs(highest.residual.z)) {
      assessment.max_vertical_point = i;
    }
  }
  const double count = static_cast<double>(n);
  assessment.sum_of_squares = sum_horizontal + sum_vertical;
  assessment.rms_horizontal = std::sqrt(sum_horizontal / count);
  assessment.rms_vertical = std::sqrt(sum_vertical / count);
}

// Whether the parameters are the least-squares fit to these points: the
// cosine of the residual vector with the span of J, with the degrees of
// freedom and sigma0 that follow.
void DecideFitted(const TransformParameters& parameters,
                  const std::vector<Point3>& projected_source,
                  const Geometry& geometry, Assessment& assessment) {
  const std::size_t n = projected_source.size();
  const double count = static_cast<double>(n);
  if (geometry.determined) {
    ParameterVector gradient = ParameterVector::Zero();
    for (std::size_t i = 0; i < n; ++i) {
      gradient +=
          geometry.ScaledRows(parameters, projected_source[i]).transpose() *
          AsVector(assessment.points[i].residual);
    }
    // The residual's component in the span of J: Q^T e = R^-T (J D)^T e.
    const ParameterVector projected =
        geometry.Upper().transpose().solve(gradient);
    const double residual_norm = std::sqrt(assessment.sum_of_squares);
    assessment.gradient_cosine =
        residual_norm > 0.0 ? projected.norm() / residual_norm : 0.0;
    // Residuals at rounding level leave the cosine to chance; parameters
    // that reproduce the points exactly are their least-squares fit.
    const bool exact =
        std::sqrt(assessment.sum_of_squares / (3.0 * count)) <= kSmallestSigma0;
    assessment.fitted_points =
        n >= 3 &&
        (exact || assessment.gradient_cosine <= kMostFittedGradientCosine);
  } else {
    assessment.gradient_cosine = kNotANumber;
  }
  const int observations = static_cast<int>(3 * n);
  assessment.degrees_of_freedom =
      assessment.fitted_points ? observations - 7 : observations;
  assessment.sigma0 =
      std::sqrt(assessment.sum_of_squares / assessment.degrees_of_freedom);
}

// The rows u_a of U = J D R^-1 for the three residual components of a
// point, as columns: H_ab = u_a . u_b.
Eigen::Matrix<double, 7, 3> HatRows(const TransformParameters& parameters,
                                    const Point3& source,
                                    const Geometry& geometry) {
  return geometry.Upper().transpose().solve(
      geometry.ScaledRows(parameters, source).transpose());
}

// The two components from the groups' sums of squares: Helmert's 2 x 2
// system (see the header); negative solutions, possible with few points,
// are taken as 0.
Eigen::Vector2d SolveComponents(const Eigen::Matrix2d& system,
                                const Eigen::Vector2d& sums) {
  const Eigen::Vector2d variances = system.partialPivLu().solve(sums);
  return variances.cwiseMax(0.0);
}

// What the components need of the points: the groups' sums of squares and
// U's group matrices M_k.
struct ComponentSums {
  Eigen::Vector2d sum_of_squares = Eigen::Vector2d::Zero();  // plan, height
  ParameterMatrix plan_rows = ParameterMatrix::Zero();       // M_p
  ParameterMatrix height_rows = ParameterMatrix::Zero();     // M_h
  Eigen::Matrix2d system = Eigen::Matrix2d::Zero();
};

ComponentSums SumComponents(const TransformParameters& parameters,
                            const std::vector<Point3>& projected_source,
                            const Geometry& geometry,
                            const Assessment& assessment) {
  ComponentSums sums;
  const std::size_t n = assessment.points.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Point3& e = assessment.points[i].residual;
    sums.sum_of_squares += Eigen::Vector2d(e.x * e.x + e.y * e.y, e.z * e.z);
    if (!assessment.fitted_points) continue;
    const Eigen::Matrix<double, 7, 3> u =
        HatRows(parameters, projected_source[i], geometry);
    sums.plan_rows += u.leftCols<2>() * u.leftCols<2>().transpose();
    sums.height_rows += u.col(2) * u.col(2).transpose();
  }
  const double plan_count = 2.0 * static_cast<double>(n);
  const double height_count = static_cast<double>(n);
  const ParameterMatrix& mp = sums.plan_rows;
  const ParameterMatrix& mh = sums.height_rows;
  const double cross = (mp * mh).trace();
  sums.system << plan_count - 2.0 * mp.trace() + (mp * mp).trace(), cross,
      cross, height_count - 2.0 * mh.trace() + (mh * mh).trace();
  return sums;
}

// The |w| beyond which a component is flagged: the two-sided
// kBlunderTestLevel point of Student's t with `dof` degrees of freedom, by
// bisection on the F(1, dof) tail of w^2 (3 for many degrees of freedom).
double CriticalW(double dof) {
  double low = 0.0;
  double high = 1e3;
  for (int step = 0; step < 60; ++step) {
    const double middle = 0.5 * (low + high);
    if (FUpperTail(middle * middle, 1.0, dof) < kBlunderTestLevel) {
      high = middle;
    } else {
      low = middle;
    }
  }
  return high;
}

// Data snooping, point by point, with the components estimated without the
// point; or, against a fit, with the fit's prediction. Returns the sums the
// components came from, which the parameters' precision needs too.
ComponentSums SnoopForBlunders(const TransformParameters& parameters,
                               const std::vector<Point3>& projected_source,
                               const Geometry& geometry,
                               const FitReference* reference,
                               Assessment& assessment) {
  const std::size_t n = assessment.points.size();
  const ComponentSums sums =
      SumComponents(parameters, projected_source, geometry, assessment);
  const Eigen::Vector2d variances =
      SolveComponents(sums.system, sums.sum_of_squares);
  assessment.plan = {variances(0),
                     2.0 * static_cast<double>(n) - sums.plan_rows.trace()};
  assessment.height = {variances(1),
                       static_cast<double>(n) - sums.height_rows.trace()};

  const int dof_without_point = assessment.degrees_of_freedom - 3;
  // The degrees of freedom of the precision each component is judged by,
  // the same for every point, and the |w| that flags it.
  const Eigen::Vector3d dof =
      reference != nullptr ? Eigen::Vector3d(reference->plan.redundancy,
                                             reference->plan.redundancy,
                                             reference->height.redundancy)
                           : Eigen::Vector3d(assessment.plan.redundancy - 2.0,
                                             assessment.plan.redundancy - 2.0,
                                             assessment.height.redundancy - 1.0)
                                 .cwiseMax(1.0);
  assessment.plan_critical_w = CriticalW(dof(0));
  assessment.height_critical_w = CriticalW(dof(2));
  const Eigen::Vector3d critical(assessment.plan_critical_w,
                                 assessment.plan_critical_w,
                                 assessment.height_critical_w);
  // One point fewer: 2 plan and 1 height observation fewer in the system.
  const Eigen::Matrix2d system_without =
      sums.system - Eigen::Vector2d(2.0, 1.0).asDiagonal().toDenseMatrix();
  const bool groups_remain = system_without(0, 0) > 0.5 &&
                             system_without(1, 1) > 0.5 &&
                             system_without.determinant() > 0.0;
  CheckAgainstFit check;
  double predicted_plan = 0.0;
  double predicted_height = 0.0;
  double worst = -1.0;
  for (std::size_t i = 0; i < n; ++i) {
    PointAssessment& point = assessment.points[i];
    const Eigen::Vector3d e = AsVector(point.residual);
    Eigen::Matrix<double, 7, 3> u = Eigen::Matrix<double, 7, 3>::Zero();
    if (assessment.fitted_points) {
      u = HatRows(parameters, projected_source[i], geometry);
    }
    const Eigen::Matrix3d redundancy =
        Eigen::Matrix3d::Identity() - u.transpose() * u;
    point.redundancy = {redundancy(0, 0), redundancy(1, 1), redundancy(2, 2)};
    point.standardized = {kNotANumber, kNotANumber, kNotANumber};
    point.largest = kNotANumber;

    Eigen::Vector3d variance;
    if (reference != nullptr) {
      // The fit's prediction: its components plus its parameters' spread.
      const Eigen::Matrix<double, 3, 7> rows =
          BursaWolfJacobian(parameters, projected_source[i]);
      const Eigen::Matrix3d spread =
          rows * reference->covariance * rows.transpose();
      const double sp =
          std::max(reference->plan.variance, kSmallestSigma0 * kSmallestSigma0);
      const double sh = std::max(reference->height.variance,
                                 kSmallestSigma0 * kSmallestSigma0);
      variance = Eigen::Vector3d(sp, sp, sh) + spread.diagonal();
      predicted_plan += variance(0) + variance(1);
      predicted_height += variance(2);
    } else {
      // A pivot of I - H_ii near 0: the point alone determines part of the
      // parameters and cannot be tested.
      const Eigen::LDLT<Eigen::Matrix3d> block(redundancy);
      if (dof_without_point <= 0 || !groups_remain ||
          !(block.vectorD().minCoeff() > kSmallestBlockRedundancy)) {
        continue;
      }
      // The point's own share of each group's sum of squares.
      const Eigen::Vector3d weighted = block.solve(e);
      const Eigen::Vector2d own(e(0) * weighted(0) + e(1) * weighted(1),
                                e(2) * weighted(2));
      const Eigen::Vector2d without = SolveComponents(
          system_without, (sums.sum_of_squares - own).cwiseMax(0.0));
      const double sp = std::max(without(0), kSmallestSigma0 * kSmallestSigma0);
      const double sh = std::max(without(1), kSmallestSigma0 * kSmallestSigma0);
      const ParameterMatrix spread =
          sp * sums.plan_rows + sh * sums.height_rows;
      const Eigen::Vector3d own_variance(sp, sp, sh);
      for (int c = 0; c < 3; ++c) {
        const double leverage = u.col(c).squaredNorm();
        variance(c) = own_variance(c) * (1.0 - 2.0 * leverage) +
                      u.col(c).dot(spread * u.col(c));
        // Never below what the smallest sigma0 leaves of the redundancy.
        variance(c) = std::max(
            variance(c), kSmallestSigma0 * kSmallestSigma0 * redundancy(c, c));
      }
    }
    const Eigen::Vector3d w = e.cwiseQuotient(variance.cwiseSqrt());
    point.standardized = {w(0), w(1), w(2)};
    w.cwiseAbs().maxCoeff(&point.largest_component);
    point.largest = w.cwiseAbs().maxCoeff();
    point.flagged = (w.cwiseAbs().array() > critical.array()).any();
    if (point.flagged) ++assessment.flagged_count;
    assessment.blunder_test_available = true;
    check.chi_square += w.squaredNorm();
    if (point.largest > worst) {
      worst = point.largest;
      assessment.worst_point = i;
    }
  }
  if (reference != nullptr) {
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
    assessment.check = check;
  }
  return sums;
}

// The parameters' precision: (J^T J)^-1 = D R^-1 R^-T D for the scaled
// triangle R, and with two components D R^-1 (sum_k sigma_k^2 M_k) R^-T D.
ParameterPrecision EstimatePrecision(const Geometry& geometry,
                                     const ComponentSums& sums,
                                     const Assessment& assessment) {
  ParameterPrecision precision;
  const ParameterMatrix inverse_triangle =
      geometry.Upper().solve(ParameterMatrix::Identity());
  const auto scale = geometry.scaled.column_scale.asDiagonal();
  precision.cofactor =
      scale * (inverse_triangle * inverse_triangle.transpose()) * scale;
  const double variance = assessment.sigma0 * assessment.sigma0;
  const ParameterMatrix& cofactor = precision.cofactor;
  precision.covariance = variance * cofactor;
  for (int j = 0; j < 7; ++j) {
    precision.standard_deviation(j) = std::sqrt(precision.covariance(j, j));
    for (int k = 0; k < 7; ++k) {
      precision.correlation(j, k) =
          cofactor(j, k) / std::sqrt(cofactor(j, j) * cofactor(k, k));
    }
  }
  const ParameterMatrix spread = assessment.plan.variance * sums.plan_rows +
                                 assessment.height.variance * sums.height_rows;
  precision.covariance_by_components =
      scale * inverse_triangle * spread * inverse_triangle.transpose() * scale;
  return precision;
}

// Quadratic trends of the residual components in easting and northing.
TrendAnalysis AnalyseTrend(const std::vector<Point3>& projected_source,
                           const Assessment& assessment) {
  constexpr int kTerms = 6;  // 1, x, y, x^2, xy, y^2
  constexpr std::size_t kLeastPoints = 9;
  TrendAnalysis trend;
  const std::size_t n = projected_source.size();
  if (n < kLeastPoints) return trend;
  Point3 mean;
  for (const Point3& p : projected_source) {
    mean = {mean.x + p.x, mean.y + p.y, 0.0};
  }
  mean = {mean.x / n, mean.y / n, 0.0};
  double extent = 0.0;
  for (const Point3& p : projected_source) {
    extent =
        std::max({extent, std::fabs(p.x - mean.x), std::fabs(p.y - mean.y)});
  }
  if (!(extent > 0.0)) return trend;
  using Terms = Eigen::Matrix<double, kTerms, 1>;
  Eigen::Matrix<double, kTerms, kTerms> normal =
      Eigen::Matrix<double, kTerms, kTerms>::Zero();
  Eigen::Matrix<double, kTerms, 3> right =
      Eigen::Matrix<double, kTerms, 3>::Zero();
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  Eigen::Vector3d sum_of_squares = Eigen::Vector3d::Zero();
  for (std::size_t i = 0; i < n; ++i) {
    const double x = (projected_source[i].x - mean.x) / extent;
    const double y = (projected_source[i].y - mean.y) / extent;
    const Terms terms = (Terms() << 1.0, x, y, x * x, x * y, y * y).finished();
    const Eigen::Vector3d e = AsVector(assessment.points[i].residual);
    normal += terms * terms.transpose();
    right += terms * e.transpose();
    sum += e;
    sum_of_squares += e.cwiseProduct(e);
  }
  const Eigen::LDLT<Eigen::Matrix<double, kTerms, kTerms>> solver(normal);
  if (solver.info() != Eigen::Success ||
      !(solver.vectorD().cwiseAbs().minCoeff() >
        1e-9 * solver.vectorD().cwiseAbs().maxCoeff())) {
    return trend;  // the points lie on a line or a conic: no trend to fit
  }
  trend.available = true;
  double explained = 0.0;
  double total = 0.0;
  const double count = static_cast<double>(n);
  for (int c = 0; c < 3; ++c) {
    const Terms coefficients = solver.solve(right.col(c));
    const double variation = sum_of_squares(c) - sum(c) * sum(c) / count;
    const double unexplained =
        std::max(0.0, sum_of_squares(c) - coefficients.dot(right.col(c)));
    const double by_trend = std::max(0.0, variation - unexplained);
    ComponentTrend& component = trend.components[c];
    if (variation > 0.0) component.explained_share = by_trend / variation;
    component.rms = std::sqrt(by_trend / count);
    component.f =
        unexplained > 0.0
            ? (by_trend / (kTerms - 1)) / (unexplained / (count - kTerms))
            : (by_trend > 0.0 ? std::numeric_limits<double>::max() : 0.0);
    component.probability = FUpperTail(component.f, kTerms - 1, count - kTerms);
    if (component.probability < kTrendTestLevel &&
        component.explained_share >= kLeastTrendShare &&
        component.rms >= kLeastTrendMetres) {
      trend.detected = true;
    }
    explained += by_trend;
    total += variation;
  }
  trend.explained_share = total > 0.0 ? explained / total : 0.0;
  return trend;
}

}  // namespace

double VarianceComponent::Sigma() const { return std::sqrt(variance); }

Assessment AssessTransformation(const TransformParameters& parameters,
                                const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination,
                                const FitReference* reference) {
  Assessment assessment;
  AssessResiduals(parameters, projected_source, destination, assessment);

  Geometry geometry;
  geometry.scaled =
      ColumnScaledTriangle(projected_source.size(), [&](std::size_t i) {
        return BursaWolfJacobian(parameters, projected_source[i]);
      });
  const Eigen::VectorXd diagonal =
      geometry.scaled.triangle.diagonal().cwiseAbs();
  geometry.determined =
      geometry.scaled.AllColumnsPresent() &&
      diagonal.minCoeff() > kSmallestTriangleRatio * diagonal.maxCoeff();

  DecideFitted(parameters, projected_source, geometry, assessment);
  if (reference != nullptr) {
    // Check points by definition: the reference is the fit.
    assessment.fitted_points = false;
    assessment.degrees_of_freedom =
        static_cast<int>(3 * projected_source.size());
    assessment.sigma0 =
        std::sqrt(assessment.sum_of_squares / assessment.degrees_of_freedom);
  }
  const ComponentSums sums = SnoopForBlunders(parameters, projected_source,
                                              geometry, reference, assessment);
  if (assessment.fitted_points) {
    assessment.precision = EstimatePrecision(geometry, sums, assessment);
  }
  assessment.trend = AnalyseTrend(projected_source, assessment);
  return assessment;
}

FitReference ReferenceOf(const Assessment& fitted) {
  return {fitted.plan, fitted.height,
          fitted.precision->covariance_by_components};
}

}  // namespace helmert
