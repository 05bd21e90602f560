#include "report/Trend.hpp"

#include <Eigen/Cholesky>
#include <algorithm>
#include <cmath>
#include <limits>

#include "report/Distributions.hpp"

namespace helmert {

double TrendComponentLevel() {
  return SidakShare(kTrendSetLevel, 1.0, 3.0);
}

bool ComponentTrend::Matters() const {
  return probability < TrendComponentLevel() &&
         explained_share >= kLeastTrendShare && rms >= kLeastTrendMetres;
}

const char* PatternCause(TrendPattern pattern) {
  switch (pattern) {
    case TrendPattern::kHeight:
      return "heights that are not ellipsoidal in both frames (orthometric "
             "or normal heights in one: the geoid between them)";
    case TrendPattern::kPlan:
      return "the grid's scale or rotation changes across the site: another "
             "central meridian or another projection (name the grid's own "
             "with \"central_meridian\")";
    case TrendPattern::kAll:
      return "the relation between the two datums is not a similarity over "
             "this extent (a distorted network, or a site too large for "
             "seven parameters)";
    case TrendPattern::kNone:
      break;
  }
  return "";
}

TrendPattern TrendAnalysis::Pattern() const {
  if (!detected) return TrendPattern::kNone;
  const bool plan = components[0].Matters() || components[1].Matters();
  const bool height = components[2].Matters();
  if (plan && height) return TrendPattern::kAll;
  return plan ? TrendPattern::kPlan : TrendPattern::kHeight;
}

TrendAnalysis AnalyseTrend(const std::vector<Point3>& projected_source,
                           const std::vector<Point3>& residuals) {
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
    const Eigen::Vector3d e(residuals[i].x, residuals[i].y, residuals[i].z);
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
    if (component.Matters()) trend.detected = true;
    explained += by_trend;
    total += variation;
  }
  trend.explained_share = total > 0.0 ? explained / total : 0.0;
  return trend;
}

}  // namespace helmert
