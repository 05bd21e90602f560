// The stages of the assessment, composed. The Jacobian is evaluated once
// per point and reduced to its 7 x 7 triangle by blocks
// (JacobianTriangle), with its columns scaled to unit norm afterwards: the
// translation columns are of size 1 and the rotation columns of size of the
// coordinates (millions of metres), and (J^T J)^-1 is taken from the scaled
// triangle, never by inverting J^T J itself.
#include "statistics/Assessment.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "estimation/JacobianTriangle.hpp"

namespace helmert {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// Below this ratio of its smallest to largest diagonal element the scaled
// triangle is taken as singular: the points do not determine all seven
// parameters (collinear or coincident check points).
constexpr double kSmallestTriangleRatio = 1e-12;

Eigen::Vector3d AsVector(const Point3& p) { return {p.x, p.y, p.z}; }

// The residuals of the forward map and their summary figures.
struct ResidualFigures {
  std::vector<Point3> residuals;  // forward map minus destination (metres)
  std::vector<double> horizontal;
  double sum_of_squares = 0;
  double rms_horizontal = 0;
  double rms_vertical = 0;
  std::size_t max_horizontal_point = 0;
  std::size_t max_vertical_point = 0;
};

ResidualFigures ComputeResiduals(const TransformParameters& parameters,
                                 const std::vector<Point3>& projected_source,
                                 const std::vector<Point3>& destination) {
  ResidualFigures figures;
  const std::size_t n = projected_source.size();
  figures.residuals.resize(n);
  figures.horizontal.resize(n);
  double sum_horizontal = 0.0;
  double sum_vertical = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Point3 predicted = ForwardTransform(parameters, projected_source[i]);
    const Point3 e = {predicted.x - destination[i].x,
                      predicted.y - destination[i].y,
                      predicted.z - destination[i].z};
    figures.residuals[i] = e;
    figures.horizontal[i] = std::hypot(e.x, e.y);
    sum_horizontal += e.x * e.x + e.y * e.y;
    sum_vertical += e.z * e.z;
    if (figures.horizontal[i] >
        figures.horizontal[figures.max_horizontal_point]) {
      figures.max_horizontal_point = i;
    }
    if (std::fabs(e.z) >
        std::fabs(figures.residuals[figures.max_vertical_point].z)) {
      figures.max_vertical_point = i;
    }
  }
  const double count = static_cast<double>(n);
  figures.sum_of_squares = sum_horizontal + sum_vertical;
  figures.rms_horizontal = std::sqrt(sum_horizontal / count);
  figures.rms_vertical = std::sqrt(sum_vertical / count);
  return figures;
}

// The Jacobian's rows at the parameters, evaluated once, its column-scaled
// triangle, and whether the points determine all seven parameters.
struct Jacobian {
  std::vector<Eigen::Matrix<double, 3, 7>> rows;
  ScaledTriangle scaled;
  bool determined = false;

  const Eigen::TriangularView<const ParameterTriangle, Eigen::Upper> Upper()
      const {
    return scaled.triangle.triangularView<Eigen::Upper>();
  }
  // Row block i of J D.
  Eigen::Matrix<double, 3, 7> ScaledRows(std::size_t i) const {
    return rows[i] * scaled.column_scale.asDiagonal();
  }
  // The rows u_a of U = J D R^-1 for point i, as columns.
  Eigen::Matrix<double, 7, 3> HatRowsOf(std::size_t i) const {
    return Upper().transpose().solve(ScaledRows(i).transpose());
  }
};

Jacobian JacobianAt(const TransformParameters& parameters,
                    const std::vector<Point3>& projected_source) {
  Jacobian jacobian;
  const std::size_t n = projected_source.size();
  jacobian.rows.reserve(n);
  for (const Point3& point : projected_source) {
    jacobian.rows.push_back(BursaWolfJacobian(parameters, point));
  }
  jacobian.scaled = ColumnScaledTriangle(
      n, [&](std::size_t i) { return jacobian.rows[i]; });
  const Eigen::VectorXd diagonal =
      jacobian.scaled.triangle.diagonal().cwiseAbs();
  jacobian.determined =
      jacobian.scaled.AllColumnsPresent() &&
      diagonal.minCoeff() > kSmallestTriangleRatio * diagonal.maxCoeff();
  return jacobian;
}

// Whether the parameters are the least-squares fit to the points, judged
// by the cosine of the residual vector with the span of J (the normal
// equations J^T e = 0 hold at a least-squares solution).
struct Fitting {
  double gradient_cosine = kNotANumber;
  bool fitted_points = false;
  int degrees_of_freedom = 0;
  double sigma0 = 0;
};

Fitting DecideFitting(const Jacobian& jacobian, const ResidualFigures& figures,
                      bool check_points) {
  Fitting fitting;
  const std::size_t n = figures.residuals.size();
  const double count = static_cast<double>(n);
  if (jacobian.determined) {
    ParameterVector gradient = ParameterVector::Zero();
    for (std::size_t i = 0; i < n; ++i) {
      gradient += jacobian.ScaledRows(i).transpose() *
                  AsVector(figures.residuals[i]);
    }
    // The residual's component in the span of J: Q^T e = R^-T (J D)^T e.
    const ParameterVector projected =
        jacobian.Upper().transpose().solve(gradient);
    const double residual_norm = std::sqrt(figures.sum_of_squares);
    fitting.gradient_cosine =
        residual_norm > 0.0 ? projected.norm() / residual_norm : 0.0;
    // Residuals at rounding level leave the cosine to chance; parameters
    // that reproduce the points exactly are their least-squares fit.
    const bool exact =
        std::sqrt(figures.sum_of_squares / (3.0 * count)) <= kSmallestSigma0;
    fitting.fitted_points =
        !check_points && n >= 3 &&
        (exact || fitting.gradient_cosine <= kMostFittedGradientCosine);
  }
  const int observations = static_cast<int>(3 * n);
  fitting.degrees_of_freedom =
      fitting.fitted_points ? observations - 7 : observations;
  fitting.sigma0 =
      std::sqrt(figures.sum_of_squares / fitting.degrees_of_freedom);
  return fitting;
}

// The parameters' precision: (J^T J)^-1 = D R^-1 R^-T D for the scaled
// triangle R, and with two components D R^-1 (sum_k sigma_k^2 M_k) R^-T D.
ParameterPrecision EstimatePrecision(const Jacobian& jacobian,
                                     const VarianceComponents& components,
                                     double sigma0) {
  ParameterPrecision precision;
  const ParameterMatrix inverse_triangle =
      jacobian.Upper().solve(ParameterMatrix::Identity());
  const auto scale = jacobian.scaled.column_scale.asDiagonal();
  precision.cofactor =
      scale * (inverse_triangle * inverse_triangle.transpose()) * scale;
  const double variance = sigma0 * sigma0;
  const ParameterMatrix& cofactor = precision.cofactor;
  precision.covariance = variance * cofactor;
  for (int j = 0; j < 7; ++j) {
    precision.standard_deviation(j) = std::sqrt(precision.covariance(j, j));
    for (int k = 0; k < 7; ++k) {
      precision.correlation(j, k) =
          cofactor(j, k) / std::sqrt(cofactor(j, j) * cofactor(k, k));
    }
  }
  precision.covariance_by_components = scale * inverse_triangle *
                                       components.Spread() *
                                       inverse_triangle.transpose() * scale;
  return precision;
}

}  // namespace

namespace {

// The points extreme in the 26 directions of a cube's faces, edges and
// corners, in coordinates scaled by their spread: where the largest norm
// of an affine function of the position lies among many points (on their
// convex hull). Every point up to kMostReliabilityPoints: none listed.
std::vector<std::size_t> ReliabilityPoints(
    const std::vector<Point3>& projected_source) {
  const std::size_t n = projected_source.size();
  if (n <= kMostReliabilityPoints) return {};
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (const Point3& p : projected_source) mean += AsVector(p) / n;
  Eigen::Vector3d spread = Eigen::Vector3d::Zero();
  for (const Point3& p : projected_source) {
    spread = spread.cwiseMax((AsVector(p) - mean).cwiseAbs());
  }
  spread = spread.cwiseMax(1e-9);
  // The 26 directions: faces, edges and corners of a cube.
  std::vector<Eigen::Vector3d> directions;
  for (int a = -1; a <= 1; ++a) {
    for (int b = -1; b <= 1; ++b) {
      for (int c = -1; c <= 1; ++c) {
        if (a != 0 || b != 0 || c != 0) directions.emplace_back(a, b, c);
      }
    }
  }
  std::vector<std::size_t> best(directions.size(), 0);
  std::vector<double> most(directions.size(),
                           -std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < n; ++i) {
    const Eigen::Vector3d q =
        (AsVector(projected_source[i]) - mean).cwiseQuotient(spread);
    for (std::size_t d = 0; d < directions.size(); ++d) {
      const double along = directions[d].dot(q);
      if (along > most[d]) {
        most[d] = along;
        best[d] = i;
      }
    }
  }
  std::sort(best.begin(), best.end());
  best.erase(std::unique(best.begin(), best.end()), best.end());
  return best;
}

}  // namespace

Assessment AssessTransformation(const TransformParameters& parameters,
                                const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination,
                                const FitReference* reference,
                                const StatedPrecision* stated) {
  const ResidualFigures figures =
      ComputeResiduals(parameters, projected_source, destination);
  const Jacobian jacobian = JacobianAt(parameters, projected_source);
  // With a reference the points are check points by definition.
  const Fitting fitting =
      DecideFitting(jacobian, figures, /*check_points=*/reference != nullptr);
  HatRows hat_rows;
  if (fitting.fitted_points) {
    hat_rows = [&jacobian](std::size_t i) { return jacobian.HatRowsOf(i); };
  }
  const VarianceComponents components =
      EstimateVarianceComponents(figures.residuals, hat_rows);

  BlunderTest test;
  std::optional<CheckAgainstFit> check;
  if (reference != nullptr) {
    CheckPointTest judged =
        JudgeCheckPoints(figures.residuals, jacobian.rows, *reference);
    test = std::move(judged.test);
    check = judged.check;
  } else {
    test = SnoopForBlunders(figures.residuals, hat_rows, components,
                            fitting.degrees_of_freedom, stated,
                            ReliabilityPoints(projected_source));
  }

  Assessment assessment;
  const std::size_t n = projected_source.size();
  assessment.points.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    PointAssessment& point = assessment.points[i];
    static_cast<PointTest&>(point) = test.points[i];
    point.residual = figures.residuals[i];
    point.horizontal = figures.horizontal[i];
  }
  assessment.fitted_points = fitting.fitted_points;
  assessment.gradient_cosine = fitting.gradient_cosine;
  assessment.degrees_of_freedom = fitting.degrees_of_freedom;
  assessment.sum_of_squares = figures.sum_of_squares;
  assessment.sigma0 = fitting.sigma0;
  assessment.plan = components.plan;
  assessment.height = components.height;
  assessment.set_level = test.set_level;
  assessment.component_level = test.component_level;
  assessment.plan_critical_w = test.plan_critical_w;
  assessment.height_critical_w = test.height_critical_w;
  assessment.rms_horizontal = figures.rms_horizontal;
  assessment.rms_vertical = figures.rms_vertical;
  assessment.max_horizontal_point = figures.max_horizontal_point;
  assessment.max_vertical_point = figures.max_vertical_point;
  assessment.blunder_test_available = test.available;
  assessment.worst_point = test.worst_point;
  assessment.flagged_count = test.flagged_count;
  assessment.precision_stated = test.stated;
  assessment.critical_values_simulated = test.simulated;
  assessment.global_test = test.global;
  assessment.largest_plan_mdb = test.largest_plan_mdb;
  assessment.largest_height_mdb = test.largest_height_mdb;
  assessment.largest_external_reliability = test.largest_external_reliability;
  if (fitting.fitted_points) {
    assessment.precision =
        EstimatePrecision(jacobian, components, fitting.sigma0);
  }
  assessment.check = check;
  assessment.trend = AnalyseTrend(projected_source, figures.residuals);
  return assessment;
}

FitReference ReferenceOf(const Assessment& fitted) {
  return {fitted.plan, fitted.height,
          fitted.precision->covariance_by_components};
}

}  // namespace helmert
