#include "estimation/Estimation.hpp"

#include <ceres/ceres.h>

#include <Eigen/QR>
#include <Eigen/SVD>
#include <algorithm>
#include <cmath>
#include <string>

#include "common/Error.hpp"
#include "estimation/BursaWolfResidual.hpp"

namespace helmert {

namespace {

bool AllFinite(const TransformParameters& p) {
  const double values[] = {p.T_x, p.T_y, p.T_z, p.R_x, p.R_y, p.R_z, p.Scale};
  return std::all_of(std::begin(values), std::end(values),
                     [](double v) { return std::isfinite(v); });
}

}  // namespace

std::vector<PointPair> MakePointPairs(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination) {
  std::vector<PointPair> pairs;
  pairs.reserve(projected_source.size());
  for (std::size_t i = 0; i < projected_source.size(); ++i) {
    pairs.push_back({projected_source[i], destination[i]});
  }
  return pairs;
}

TransformParameters StartingParameters(const std::vector<PointPair>& pairs) {
  double sum_x = 0.0;
  double sum_y = 0.0;
  double sum_z = 0.0;
  for (const PointPair& pair : pairs) {
    sum_x += pair.destination.x - pair.source.x;
    sum_y += pair.destination.y - pair.source.y;
    sum_z += pair.destination.z - pair.source.z;
  }
  const double n = static_cast<double>(pairs.size());
  TransformParameters start;
  start.T_x = sum_x / n;
  start.T_y = sum_y / n;
  start.T_z = sum_z / n;
  return start;
}

double GeometryConditionRatio(const std::vector<Point3>& projected_source) {
  if (projected_source.empty()) return 0.0;
  Point3 centroid;
  for (const Point3& p : projected_source) {
    centroid.x += p.x;
    centroid.y += p.y;
    centroid.z += p.z;
  }
  const double n = static_cast<double>(projected_source.size());
  centroid = {centroid.x / n, centroid.y / n, centroid.z / n};

  // Rows of the Jacobian at zero angles and unit scale, about the centroid.
  const TransformParameters start;
  const ScaledTriangle scaled =
      ColumnScaledTriangle(projected_source.size(), [&](std::size_t i) {
        const Point3& p = projected_source[i];
        return BursaWolfJacobian(
            start, {p.x - centroid.x, p.y - centroid.y, p.z - centroid.z});
      });
  if (!scaled.AllColumnsPresent()) return 0.0;
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled.triangle);
  const Eigen::VectorXd& singular = svd.singularValues();
  return singular(6) / singular(0);
}

ceres::Solver::Options FitOptions() {
  ceres::Solver::Options options;
  options.linear_solver_type = ceres::DENSE_QR;
  options.max_num_iterations = 1000;
  options.minimizer_progress_to_stdout = false;
  return options;
}

void BuildFitProblem(const std::vector<PointPair>& pairs,
                     TransformParameters* parameters, ceres::Problem* problem) {
  for (const PointPair& pair : pairs) {
    problem->AddResidualBlock(
        BursaWolfResidual::Create(pair.source.x, pair.source.y, pair.source.z,
                                  pair.destination.x, pair.destination.y,
                                  pair.destination.z),
        nullptr, &parameters->T_x, &parameters->T_y, &parameters->T_z,
        &parameters->R_x, &parameters->R_y, &parameters->R_z,
        &parameters->Scale);
  }
}

FitOutcome EstimateParameters(const std::vector<Point3>& projected_source,
                              const std::vector<Point3>& destination,
                              const ceres::Solver::Options& options) {
  ceres::Problem problem;
  FitOutcome outcome;
  {
    const std::vector<PointPair> pairs =
        MakePointPairs(projected_source, destination);
    outcome.parameters = StartingParameters(pairs);
    BuildFitProblem(pairs, &outcome.parameters, &problem);
  }  // Each functor holds its pair's copy: the list goes before the solve.

  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);

  outcome.full_report = summary.FullReport();
  outcome.termination =
      ceres::TerminationTypeToString(summary.termination_type);
  outcome.message = summary.message;
  outcome.usable = summary.IsSolutionUsable();
  outcome.stopped_without_converging =
      summary.termination_type == ceres::NO_CONVERGENCE;
  outcome.iterations = static_cast<int>(summary.iterations.size()) - 1;
  return outcome;
}

void RequireUsableFit(const FitOutcome& outcome) {
  if (!outcome.usable) {
    throw Error("the fit failed (" + outcome.termination +
                "): " + outcome.message);
  }
  if (!AllFinite(outcome.parameters)) {
    throw Error("the fit gave a parameter that is not finite: " +
                outcome.message);
  }
  if (!(outcome.parameters.Scale > 0.0)) {
    throw Error("the fit gave a scale that is not positive: " +
                outcome.message);
  }
}

}  // namespace helmert
