#include "statistics/VarianceComponents.hpp"

#include <Eigen/LU>
#include <cmath>

namespace helmert {

double VarianceComponent::Sigma() const { return std::sqrt(variance); }

ParameterMatrix VarianceComponents::Spread() const {
  return plan.variance * sums.plan_rows + height.variance * sums.height_rows;
}

Eigen::Vector2d SolveComponents(const Eigen::Matrix2d& system,
                                const Eigen::Vector2d& sums) {
  const Eigen::Vector2d variances = system.partialPivLu().solve(sums);
  return variances.cwiseMax(0.0);
}

VarianceComponents EstimateVarianceComponents(
    const std::vector<Point3>& residuals, const HatRows& hat_rows) {
  VarianceComponents components;
  ComponentSums& sums = components.sums;
  const std::size_t n = residuals.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Point3& e = residuals[i];
    sums.sum_of_squares += Eigen::Vector2d(e.x * e.x + e.y * e.y, e.z * e.z);
    if (!hat_rows) continue;
    const Eigen::Matrix<double, 7, 3> u = hat_rows(i);
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

  const Eigen::Vector2d variances =
      SolveComponents(sums.system, sums.sum_of_squares);
  components.plan = {variances(0), plan_count - mp.trace()};
  components.height = {variances(1), height_count - mh.trace()};
  return components;
}

ComponentsWithoutPoint SystemWithoutPoint(const ComponentSums& sums) {
  ComponentsWithoutPoint without;
  // One point fewer: 2 plan and 1 height observation fewer in the system.
  without.system =
      sums.system - Eigen::Vector2d(2.0, 1.0).asDiagonal().toDenseMatrix();
  without.remains = without.system(0, 0) > 0.5 &&
                    without.system(1, 1) > 0.5 &&
                    without.system.determinant() > 0.0;
  return without;
}

}  // namespace helmert
