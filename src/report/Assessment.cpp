// Residual statistics, data snooping and parameter covariance of a
// Bursa-Wolf transformation. The Jacobian is reduced to its 7 x 7 triangle
// by blocks (JacobianTriangle), with its columns scaled to unit norm
// afterwards: the translation columns are of size 1 and the rotation
// columns of size of the coordinates (millions of metres), and (J^T J)^-1 is
// taken from the scaled triangle, never by inverting J^T J itself.
#include "report/Assessment.hpp"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
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

// Data snooping, point by point, with sigma0 estimated without the point.
void SnoopForBlunders(const TransformParameters& parameters,
                      const std::vector<Point3>& projected_source,
                      const Geometry& geometry, Assessment& assessment) {
  const int dof_without_point = assessment.degrees_of_freedom - 3;
  double worst = -1.0;
  for (std::size_t i = 0; i < assessment.points.size(); ++i) {
    PointAssessment& point = assessment.points[i];
    Eigen::Matrix3d hat_block = Eigen::Matrix3d::Zero();
    if (assessment.fitted_points) {
      // U = (J_i D) R^-1, so that H_ii = U U^T.
      const Eigen::Matrix<double, 7, 3> u_transposed =
          geometry.Upper().transpose().solve(
              geometry.ScaledRows(parameters, projected_source[i]).transpose());
      hat_block = u_transposed.transpose() * u_transposed;
    }
    const Eigen::Matrix3d redundancy = Eigen::Matrix3d::Identity() - hat_block;
    point.redundancy = {redundancy(0, 0), redundancy(1, 1), redundancy(2, 2)};
    point.standardized = {kNotANumber, kNotANumber, kNotANumber};
    point.largest = kNotANumber;
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> spectrum(
        redundancy, Eigen::EigenvaluesOnly);
    if (dof_without_point <= 0 ||
        !(spectrum.eigenvalues().minCoeff() > kSmallestBlockRedundancy)) {
      continue;
    }
    const Eigen::Vector3d e = AsVector(point.residual);
    const double own_share = e.dot(redundancy.ldlt().solve(e));
    const double sum_without =
        std::max(0.0, assessment.sum_of_squares - own_share);
    const double sigma_without =
        std::max(std::sqrt(sum_without / dof_without_point), kSmallestSigma0);
    point.standardized = {
        e(0) / (sigma_without * std::sqrt(point.redundancy.x)),
        e(1) / (sigma_without * std::sqrt(point.redundancy.y)),
        e(2) / (sigma_without * std::sqrt(point.redundancy.z))};
    point.largest = std::max({std::fabs(point.standardized.x),
                              std::fabs(point.standardized.y),
                              std::fabs(point.standardized.z)});
    point.flagged = point.largest > kBlunderThreshold;
    if (point.flagged) ++assessment.flagged_count;
    assessment.blunder_test_available = true;
    if (point.largest > worst) {
      worst = point.largest;
      assessment.worst_point = i;
    }
  }
}

// The parameters' precision: (J^T J)^-1 = D R^-1 R^-T D for the scaled
// triangle R.
ParameterPrecision EstimatePrecision(const Geometry& geometry, double sigma0) {
  ParameterPrecision precision;
  const ParameterMatrix inverse_triangle =
      geometry.Upper().solve(ParameterMatrix::Identity());
  const auto scale = geometry.scaled.column_scale.asDiagonal();
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
  return precision;
}

}  // namespace

Assessment AssessTransformation(const TransformParameters& parameters,
                                const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination) {
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
  SnoopForBlunders(parameters, projected_source, geometry, assessment);
  if (assessment.fitted_points) {
    assessment.precision = EstimatePrecision(geometry, assessment.sigma0);
  }
  return assessment;
}

}  // namespace helmert
