#include "statistics/Trend.hpp"

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <limits>

#include "statistics/Distributions.hpp"

namespace helmert {

int TrendTerms(TrendModel model) {
  switch (model) {
    case TrendModel::kQuadratic:
      return 5;
    case TrendModel::kCubic:
      return 9;
    case TrendModel::kHeight:
      return 1;
  }
  return 0;
}

bool ComponentTrend::Matters() const {
  return probability < level && explained_share >= kLeastTrendShare &&
         rms >= kLeastTrendMetres;
}

int TrendAnalysis::StrongestModel(int c) const {
  int strongest = -1;
  for (int m = 0; m < kTrendModels; ++m) {
    if (!model_available[m] || !models[m][c].Matters()) continue;
    if (strongest < 0 ||
        models[m][c].probability < models[strongest][c].probability) {
      strongest = m;
    }
  }
  return strongest;
}

TrendPattern TrendAnalysis::Pattern() const {
  if (!detected) return TrendPattern::kNone;
  const auto matters = [&](TrendModel model, int c) {
    const int m = static_cast<int>(model);
    return model_available[m] && models[m][c].Matters();
  };
  const int height_model = StrongestModel(2);
  if (height_model == static_cast<int>(TrendModel::kHeight)) {
    return TrendPattern::kProportionalToHeight;
  }
  const bool plan = StrongestModel(0) >= 0 || StrongestModel(1) >= 0;
  const bool height = height_model >= 0;
  // Cubic in plan: the cubic terms explain what the quadratic surface
  // leaves (at least kLeastCubicGain more of a plan component). The
  // heights' pattern then only follows the plan's misfit through the fit.
  const int cubic = static_cast<int>(TrendModel::kCubic);
  for (int c = 0; c < 2; ++c) {
    if (matters(TrendModel::kCubic, c) &&
        models[cubic][c].explained_share >=
            models[0][c].explained_share + kLeastCubicGain) {
      return TrendPattern::kCubicPlan;
    }
  }
  if (plan && height) return TrendPattern::kAll;
  if (plan) return TrendPattern::kPlan;
  return TrendPattern::kHeight;
}

namespace {

constexpr int kMostTerms = 10;  // the cubic's nine and the mean
using Terms = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kMostTerms, 1>;

// The terms of a model at a point (x, y scaled plan position about the
// centroid, z the scaled height about the mean), the mean's 1 first.
Terms TermsAt(TrendModel model, double x, double y, double z) {
  Terms terms(TrendTerms(model) + 1);
  switch (model) {
    case TrendModel::kQuadratic:
      terms << 1.0, x, y, x * x, x * y, y * y;
      break;
    case TrendModel::kCubic:
      terms << 1.0, x, y, x * x, x * y, y * y, x * x * x, x * x * y,
          x * y * y, y * y * y;
      break;
    case TrendModel::kHeight:
      terms << 1.0, z;
      break;
  }
  return terms;
}

// The points each model needs: the mean and its terms, and six degrees of
// freedom left for the test.
constexpr std::size_t kLeastPoints = 9;
constexpr std::size_t kLeastCubicPoints = 16;

}  // namespace

TrendAnalysis AnalyseTrend(const std::vector<Point3>& projected_source,
                           const std::vector<Point3>& residuals) {
  TrendAnalysis trend;
  const std::size_t n = projected_source.size();
  if (n < kLeastPoints) return trend;
  Point3 mean;
  for (const Point3& p : projected_source) {
    mean = {mean.x + p.x, mean.y + p.y, mean.z + p.z};
  }
  const double count = static_cast<double>(n);
  mean = {mean.x / count, mean.y / count, mean.z / count};
  double extent = 0.0;
  double relief = 0.0;
  for (const Point3& p : projected_source) {
    extent =
        std::max({extent, std::fabs(p.x - mean.x), std::fabs(p.y - mean.y)});
    relief = std::max(relief, std::fabs(p.z - mean.z));
  }
  if (!(extent > 0.0)) return trend;

  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  Eigen::Vector3d sum_of_squares = Eigen::Vector3d::Zero();
  for (const Point3& r : residuals) {
    const Eigen::Vector3d e(r.x, r.y, r.z);
    sum += e;
    sum_of_squares += e.cwiseProduct(e);
  }
  const Eigen::Vector3d variation =
      sum_of_squares - sum.cwiseProduct(sum) / count;

  const TrendModel kModels[kTrendModels] = {
      TrendModel::kQuadratic, TrendModel::kCubic, TrendModel::kHeight};
  for (int m = 0; m < kTrendModels; ++m) {
    const TrendModel model = kModels[m];
    const int p = TrendTerms(model);
    if (model == TrendModel::kCubic && n < kLeastCubicPoints) continue;
    if (model == TrendModel::kHeight && !(relief > 0.0)) continue;
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, kMostTerms,
                  kMostTerms>
        normal = Eigen::MatrixXd::Zero(p + 1, p + 1);
    Eigen::Matrix<double, Eigen::Dynamic, 3, 0, kMostTerms, 3> right =
        Eigen::MatrixXd::Zero(p + 1, 3);
    for (std::size_t i = 0; i < n; ++i) {
      const Point3& q = projected_source[i];
      const Terms terms =
          TermsAt(model, (q.x - mean.x) / extent, (q.y - mean.y) / extent,
                  relief > 0.0 ? (q.z - mean.z) / relief : 0.0);
      const Eigen::Vector3d e(residuals[i].x, residuals[i].y, residuals[i].z);
      normal += terms * terms.transpose();
      right += terms * e.transpose();
    }
    const Eigen::LDLT<Eigen::MatrixXd> solver(normal);
    if (solver.info() != Eigen::Success ||
        !(solver.vectorD().cwiseAbs().minCoeff() >
          1e-9 * solver.vectorD().cwiseAbs().maxCoeff())) {
      continue;  // the points lie on a line or a conic: no trend to fit
    }
    trend.model_available[m] = true;
    for (int c = 0; c < 3; ++c) {
      const Eigen::VectorXd coefficients = solver.solve(right.col(c));
      const double unexplained = std::max(
          0.0, sum_of_squares(c) - coefficients.dot(right.col(c)));
      const double by_trend = std::max(0.0, variation(c) - unexplained);
      ComponentTrend& component = trend.models[m][c];
      if (variation(c) > 0.0) component.explained_share = by_trend / variation(c);
      component.rms = std::sqrt(by_trend / count);
      const double residual_dof = count - p - 1;
      component.f =
          unexplained > 0.0
              ? (by_trend / p) / (unexplained / residual_dof)
              : (by_trend > 0.0 ? std::numeric_limits<double>::max() : 0.0);
      component.probability = FUpperTail(component.f, p, residual_dof);
    }
  }
  if (!trend.model_available[0]) {
    return TrendAnalysis();  // without the quadratic surface, none at all
  }
  trend.available = true;
  for (int m = 0; m < kTrendModels; ++m) {
    trend.tests += trend.model_available[m] ? 3 : 0;
  }
  const double level = SidakShare(kTrendSetLevel, 1.0, trend.tests);
  double explained = 0.0;
  double total = 0.0;
  for (int m = 0; m < kTrendModels; ++m) {
    for (int c = 0; c < 3; ++c) {
      ComponentTrend& component = trend.models[m][c];
      component.level = level;
      if (trend.model_available[m] && component.Matters()) {
        trend.detected = true;
      }
    }
  }
  for (int c = 0; c < 3; ++c) {
    explained += trend.models[0][c].explained_share * variation(c);
    total += variation(c);
  }
  trend.explained_share = total > 0.0 ? explained / total : 0.0;
  return trend;
}

}  // namespace helmert
