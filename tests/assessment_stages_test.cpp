// helmert-report's stages against independent computations, each catching
// a fault that a golden file alone would let through once regenerated:
// the blunder test's precision without the point, the trend test's floor,
// the check points' predicted variance, and the PROJ pipeline's affine
// steps.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "estimation/Estimation.hpp"
#include "statistics/Assessment.hpp"
#include "report/ProjPipeline.hpp"

namespace helmert {
namespace {

using testing::kSurveyParameters;
using testing::Site;
using testing::Transformed;

// --- The blunder test leaves the point out ------------------------------

// The standardized residual of a point with a blunder is what a fit
// without the point predicts for it: the deleted residual over its
// predicted standard deviation, sqrt(sigma_p^2 + (J C J^T)_EE), with the
// refit's own plan precision and parameter covariance. For one variance
// component the two are identical (the externally studentized residual);
// with two they agree within a few per cent. A test that kept the point in
// its own precision would give a w several times smaller.
TEST(BlunderTest, IsTheRefitWithoutThePointsPrediction) {
  constexpr std::size_t kBad = 5;
  const std::vector<Point3> source = Site(20, 20000.0, 31);
  std::vector<Point3> destination =
      Transformed(source, kSurveyParameters, 0.005, 32);
  destination[kBad].x += 0.1;  // a 10 cm blunder in the easting
  const Assessment all = AssessTransformation(
      ClosedFormMinimum(source, destination).parameters, source, destination);
  ASSERT_TRUE(all.fitted_points);
  const double w = all.points[kBad].standardized.x;

  std::vector<Point3> others_source = source;
  std::vector<Point3> others_destination = destination;
  others_source.erase(others_source.begin() + kBad);
  others_destination.erase(others_destination.begin() + kBad);
  const TransformParameters refit =
      ClosedFormMinimum(others_source, others_destination).parameters;
  const Assessment others =
      AssessTransformation(refit, others_source, others_destination);
  ASSERT_TRUE(others.precision.has_value());
  const Eigen::Matrix<double, 3, 7> rows =
      BursaWolfJacobian(refit, source[kBad]);
  const double deleted =
      ForwardTransform(refit, source[kBad]).x - destination[kBad].x;
  const double variance =
      others.plan.variance +
      (rows * others.precision->covariance_by_components * rows.transpose())(
          0, 0);
  const double predicted = deleted / std::sqrt(variance);
  EXPECT_GT(std::fabs(w), 10.0);
  EXPECT_NEAR(w, predicted, 0.05 * std::fabs(predicted));
  EXPECT_TRUE(all.points[kBad].flagged);
}

// --- The trend test's floor ---------------------------------------------

// A noise-free quadratic pattern in dH is as significant and as large a
// share as can be; only its size decides: 1.9 mm RMS is below the 2 mm
// floor, 2.1 mm above it.
TEST(TrendTest, ThePatternMustReachTheFloor) {
  std::vector<Point3> positions;
  std::vector<double> pattern;
  for (int i = 0; i < 10; ++i) {
    for (int j = 0; j < 10; ++j) {
      const double x = (i - 4.5) / 4.5;
      const double y = (j - 4.5) / 4.5;
      positions.push_back({440000.0 + 1000.0 * i, 4290000.0 + 1000.0 * j, 0});
      pattern.push_back(x * x - y * y + 0.5 * x * y);
    }
  }
  double mean = 0.0;
  for (double v : pattern) mean += v / pattern.size();
  double rms = 0.0;
  for (double& v : pattern) {
    v -= mean;
    rms += v * v / pattern.size();
  }
  rms = std::sqrt(rms);
  for (const double size : {0.95 * kLeastTrendMetres, 1.05 * kLeastTrendMetres}) {
    std::vector<Point3> residuals;
    for (double v : pattern) residuals.push_back({0.0, 0.0, size * v / rms});
    const TrendAnalysis trend = AnalyseTrend(positions, residuals);
    ASSERT_TRUE(trend.available);
    EXPECT_NEAR(trend.models[0][2].rms, size, 1e-9);
    EXPECT_NEAR(trend.models[0][2].explained_share, 1.0, 1e-9);
    EXPECT_EQ(trend.detected, size > kLeastTrendMetres) << size;
  }
}

// --- Check points against a fit -----------------------------------------

// Each check point's predicted variance is the fit's component plus the
// spread of its parameters at the point, J C J^T: with a covariance of 1 cm
// in each translation (J's translation columns are the identity) and a
// plan precision of 1 cm, an easting residual of 2 cm is sqrt(2) standard
// deviations, and the predicted RMS horizontal 2 cm; without the
// covariance they would be 2 and 1.41 cm.
TEST(CheckPoints, PredictedVarianceIncludesTheParametersCovariance) {
  FitReference reference;
  reference.plan = {1e-4, 30.0};
  reference.height = {4e-4, 15.0};
  reference.covariance = ParameterMatrix::Zero();
  const std::vector<Point3> residuals = {{0.02, 0.0, 0.0}};
  const std::vector<Eigen::Matrix<double, 3, 7>> rows = {
      BursaWolfJacobian(TransformParameters{}, {440000, 4290000, 1300})};
  const CheckPointTest bare = JudgeCheckPoints(residuals, rows, reference);
  EXPECT_NEAR(bare.test.points[0].standardized.x, 2.0, 1e-12);
  EXPECT_NEAR(bare.check.predicted_rms_horizontal, std::sqrt(2e-4), 1e-12);

  reference.covariance.topLeftCorner<3, 3>() = 1e-4 * Eigen::Matrix3d::Identity();
  const CheckPointTest spread = JudgeCheckPoints(residuals, rows, reference);
  EXPECT_NEAR(spread.test.points[0].standardized.x, std::sqrt(2.0), 1e-12);
  EXPECT_NEAR(spread.check.predicted_rms_horizontal, 0.02, 1e-12);
  EXPECT_NEAR(spread.check.predicted_rms_vertical, std::sqrt(5e-4), 1e-12);
}

// --- The PROJ pipelines' affine steps -----------------------------------

// The numbers of "+name=value" words of a pipeline's first affine step.
double StepValue(const std::string& pipeline, const std::string& name) {
  const std::size_t at = pipeline.find(" +" + name + "=");
  EXPECT_NE(at, std::string::npos) << name;
  return std::stod(pipeline.substr(at + name.size() + 3));
}

// With angles of a hundredth of a radian the transpose of M differs from
// its inverse by 1e-4, hundreds of metres at coordinates in the millions:
// the grid-to-zone step must be R / S and -(R T) / S with R the document's
// M^-1, and the zone-to-grid step S M and T.
TEST(ProjPipeline, AffineStepsAreTheReverseAndForwardMaps) {
  const TransformParameters p{-35.7, 120.1, 4.25, 0.01, -0.02, 0.03, 1.0002};
  StoredTransformation stored;
  stored.parameters = p;
  stored.zone_from_grid_rotation = InverseRotationMatrix(p.R_x, p.R_y, p.R_z);
  stored.central_meridian_degrees = 117.0;
  const std::string reverse = GridToWgs84Pipeline(stored);
  const std::string forward = Wgs84ToGridPipeline(stored);
  const Eigen::Matrix3d m = RotationMatrix(p.R_x, p.R_y, p.R_z);
  const Eigen::Vector3d t(p.T_x, p.T_y, p.T_z);
  const Eigen::Vector3d offset =
      -(stored.zone_from_grid_rotation * t) / p.Scale;
  const char* const axes[] = {"x", "y", "z"};
  for (int row = 0; row < 3; ++row) {
    EXPECT_NEAR(StepValue(reverse, std::string(axes[row]) + "off"),
                offset(row), 1e-9 * std::fabs(offset(row)) + 1e-12);
    EXPECT_DOUBLE_EQ(StepValue(forward, std::string(axes[row]) + "off"), t(row));
    for (int column = 0; column < 3; ++column) {
      const std::string s =
          "s" + std::to_string(row + 1) + std::to_string(column + 1);
      EXPECT_NEAR(StepValue(reverse, s),
                  stored.zone_from_grid_rotation(row, column) / p.Scale, 1e-15);
      EXPECT_NEAR(StepValue(forward, s), p.Scale * m(row, column), 1e-15);
    }
  }
  // And the two steps undo each other at a grid point in the millions.
  const Point3 zone{612345.0, 4321987.0, 250.0};
  const Point3 grid = ForwardTransform(p, zone);
  Eigen::Matrix3d back;
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      back(row, column) = StepValue(
          reverse, "s" + std::to_string(row + 1) + std::to_string(column + 1));
    }
  }
  const Eigen::Vector3d returned =
      back * Eigen::Vector3d(grid.x, grid.y, grid.z) + offset;
  EXPECT_NEAR(returned(0), zone.x, 1e-6);
  EXPECT_NEAR(returned(1), zone.y, 1e-6);
  EXPECT_NEAR(returned(2), zone.z, 1e-6);
}

}  // namespace
}  // namespace helmert
