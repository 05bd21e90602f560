#include "estimation/Estimation.hpp"

#include <ceres/ceres.h>

#include <Eigen/Cholesky>
#include <Eigen/QR>
#include <Eigen/SVD>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
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

namespace {

Point3 Mean(const Point3& sum, std::size_t count) {
  const double n = static_cast<double>(count);
  return {sum.x / n, sum.y / n, sum.z / n};
}

Point3 Minus(const Point3& a, const Point3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// Rows of the Jacobian at zero angles and unit scale: the linear form's.
Eigen::Matrix<double, 3, 7> LinearFormRows(const Point3& centred_source) {
  return BursaWolfJacobian(TransformParameters{}, centred_source);
}

double ConditionRatio(const ParameterTriangle& triangle) {
  const ScaledTriangle scaled = ScaleColumns(triangle);
  if (!scaled.AllColumnsPresent()) return 0.0;
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(scaled.triangle);
  const Eigen::VectorXd& singular = svd.singularValues();
  return singular(6) / singular(0);
}

// The centred problem's parameters in the linear form's unknowns.
ParameterVector LinearUnknowns(const TransformParameters& p) {
  ParameterVector theta;
  theta << p.T_x, p.T_y, p.T_z, p.Scale * p.R_x, p.Scale * p.R_y,
      p.Scale * p.R_z, p.Scale;
  return theta;
}

}  // namespace

CentredPairs CentrePairs(const std::vector<Point3>& projected_source,
                         const std::vector<Point3>& destination) {
  CentredPairs centred;
  const std::size_t n = projected_source.size();
  Point3 source_sum;
  Point3 destination_sum;
  for (std::size_t i = 0; i < n; ++i) {
    const Point3& s = projected_source[i];
    const Point3& d = destination[i];
    source_sum = {source_sum.x + s.x, source_sum.y + s.y, source_sum.z + s.z};
    destination_sum = {destination_sum.x + d.x, destination_sum.y + d.y,
                       destination_sum.z + d.z};
  }
  centred.source_centroid = Mean(source_sum, n);
  centred.destination_centroid = Mean(destination_sum, n);
  centred.pairs.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    centred.pairs.push_back(
        {Minus(projected_source[i], centred.source_centroid),
         Minus(destination[i], centred.destination_centroid)});
  }
  return centred;
}

CentredPairs CentrePairs(const std::vector<PointPair>& pairs) {
  std::vector<Point3> sources;
  std::vector<Point3> destinations;
  sources.reserve(pairs.size());
  destinations.reserve(pairs.size());
  for (const PointPair& pair : pairs) {
    sources.push_back(pair.source);
    destinations.push_back(pair.destination);
  }
  return CentrePairs(sources, destinations);
}

TransformParameters AboutZoneOrigin(const TransformParameters& centred,
                                    const Point3& source_centroid,
                                    const Point3& destination_centroid) {
  TransformParameters about_origin = centred;
  // Scale * M * c_s: the forward map of the centroid without translation.
  const Point3 moved = ForwardTransform(
      {0.0, 0.0, 0.0, centred.R_x, centred.R_y, centred.R_z, centred.Scale},
      source_centroid);
  about_origin.T_x = centred.T_x + (destination_centroid.x - moved.x);
  about_origin.T_y = centred.T_y + (destination_centroid.y - moved.y);
  about_origin.T_z = centred.T_z + (destination_centroid.z - moved.z);
  return about_origin;
}

double GeometryConditionRatio(const std::vector<Point3>& projected_source) {
  if (projected_source.empty()) return 0.0;
  Point3 sum;
  for (const Point3& p : projected_source) {
    sum = {sum.x + p.x, sum.y + p.y, sum.z + p.z};
  }
  const Point3 centroid = Mean(sum, projected_source.size());
  return ConditionRatio(
      JacobianTriangle(projected_source.size(), [&](std::size_t i) {
        return LinearFormRows(Minus(projected_source[i], centroid));
      }));
}

TransformParameters LinearMinimum::Parameters() const {
  const double scale = theta(6);
  return {theta(0),         theta(1),         theta(2), theta(3) / scale,
          theta(4) / scale, theta(5) / scale, scale};
}

LinearMinimum SolveLinearForm(const std::vector<PointPair>& centred_pairs) {
  using Rows = Eigen::Matrix<double, 3, 8>;
  const Eigen::Matrix<double, 8, 8> augmented =
      TriangleOfRows<8>(centred_pairs.size(), [&](std::size_t i) {
        Rows rows;
        const Point3& d = centred_pairs[i].destination;
        rows << LinearFormRows(centred_pairs[i].source),
            Eigen::Vector3d(d.x, d.y, d.z);
        return rows;
      });
  LinearMinimum minimum;
  minimum.triangle = augmented.topLeftCorner<7, 7>();
  minimum.geometry_ratio = ConditionRatio(minimum.triangle);
  minimum.sum_of_squares = augmented(7, 7) * augmented(7, 7);
  minimum.theta = minimum.triangle.triangularView<Eigen::Upper>().solve(
      augmented.topRightCorner<7, 1>());
  return minimum;
}

ceres::Solver::Options FitOptions() {
  ceres::Solver::Options options;
  options.linear_solver_type = ceres::DENSE_QR;
  options.max_num_iterations = 1000;
  options.minimizer_progress_to_stdout = false;
  options.parameter_tolerance = 0.0;
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

FitProblem::CostArray::CostArray(std::size_t capacity)
    : slots_(new Slot[capacity]) {}

FitProblem::CostArray::~CostArray() {
  while (size_ > 0) {
    std::launder(reinterpret_cast<Cost*>(slots_[--size_].bytes))->~Cost();
  }
}

FitProblem::Cost* FitProblem::CostArray::Emplace(BursaWolfResidual* functor) {
  Cost* cost = new (slots_[size_].bytes)
      Cost(functor, ceres::DO_NOT_TAKE_OWNERSHIP);
  ++size_;
  return cost;
}

ceres::Problem::Options FitProblem::ProblemOptions() {
  ceres::Problem::Options options;
  options.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  return options;
}

FitProblem::FitProblem(const std::vector<PointPair>& pairs,
                       TransformParameters* parameters)
    : costs_(pairs.size()), problem_(ProblemOptions()) {
  functors_.reserve(pairs.size());
  for (const PointPair& pair : pairs) {
    functors_.emplace_back(pair.source.x, pair.source.y, pair.source.z,
                           pair.destination.x, pair.destination.y,
                           pair.destination.z);
    problem_.AddResidualBlock(costs_.Emplace(&functors_.back()), nullptr,
                              &parameters->T_x, &parameters->T_y,
                              &parameters->T_z, &parameters->R_x,
                              &parameters->R_y, &parameters->R_z,
                              &parameters->Scale);
  }
}

FitOutcome EstimateParameters(const std::vector<Point3>& projected_source,
                              const std::vector<Point3>& destination,
                              const ceres::Solver::Options& options) {
  std::optional<FitProblem> fit;
  TransformParameters centred_parameters;
  Point3 source_centroid;
  Point3 destination_centroid;
  LinearMinimum minimum;
  {
    CentredPairs centred = CentrePairs(projected_source, destination);
    minimum = SolveLinearForm(centred.pairs);
    if (!(minimum.geometry_ratio >= kMinimumGeometryConditionRatio)) {
      char ratio[64];
      std::snprintf(ratio, sizeof ratio, "%g < %g", minimum.geometry_ratio,
                    kMinimumGeometryConditionRatio);
      throw Error(std::string("the control points lie on one straight line (or "
                              "coincide), so the rotation about it is not "
                              "determined (geometry ratio ") +
                  ratio + ")");
    }
    source_centroid = centred.source_centroid;
    destination_centroid = centred.destination_centroid;
    RequirePlausible(AboutZoneOrigin(minimum.Parameters(), source_centroid,
                                     destination_centroid));
    centred_parameters = StartingParameters(centred.pairs);
    fit.emplace(centred.pairs, &centred_parameters);
  }  // Each functor holds its pair's copy: the list goes before the solve.

  ceres::Solver::Summary summary;
  ceres::Solve(options, &fit->problem(), &summary);

  FitOutcome outcome;
  outcome.full_report = summary.FullReport();
  outcome.termination =
      ceres::TerminationTypeToString(summary.termination_type);
  outcome.message = summary.message;
  outcome.usable = summary.IsSolutionUsable();
  outcome.stopped_without_converging =
      summary.termination_type == ceres::NO_CONVERGENCE;
  outcome.iterations = static_cast<int>(summary.iterations.size()) - 1;

  // The guard: the solver's distance from the closed-form minimum. The sum
  // of squares is exactly quadratic in the linear form's unknowns, so
  // |R (theta - theta_min)| is the root of what the solver leaves above the
  // minimum; J_i (theta - theta_min) is how far point i's residuals differ.
  const ParameterVector difference =
      LinearUnknowns(centred_parameters) - minimum.theta;
  const double excess =
      (minimum.triangle.triangularView<Eigen::Upper>() * difference).norm();
  const double dof = 3.0 * static_cast<double>(projected_source.size()) - 7.0;
  const double sigma0 =
      dof > 0.0 ? std::sqrt(minimum.sum_of_squares / dof) : 0.0;
  outcome.excess_deviations = excess / std::max(sigma0, kSmallestGuardSigma0);
  for (const Point3& point : projected_source) {
    const Eigen::Vector3d change =
        LinearFormRows(Minus(point, source_centroid)) * difference;
    outcome.largest_residual_change =
        std::max(outcome.largest_residual_change, change.cwiseAbs().maxCoeff());
  }
  // Each unknown's standard deviation is sigma0 times the norm of its row
  // of R^-1, since (J^T J)^-1 = R^-1 R^-T.
  const Eigen::Matrix<double, 7, 7> inverse_triangle =
      minimum.triangle.triangularView<Eigen::Upper>().solve(
          Eigen::Matrix<double, 7, 7>::Identity());
  for (int j = 0; j < 7; ++j) {
    const double deviation = std::max(sigma0, kSmallestGuardSigma0) *
                             inverse_triangle.row(j).norm();
    outcome.largest_parameter_deviations =
        std::max(outcome.largest_parameter_deviations,
                 std::fabs(difference(j)) / deviation);
  }
  const TransformParameters solved = AboutZoneOrigin(
      centred_parameters, source_centroid, destination_centroid);
  const TransformParameters exact = AboutZoneOrigin(
      minimum.Parameters(), source_centroid, destination_centroid);
  const bool short_of_minimum =
      !(outcome.excess_deviations <= kMostShortfallDeviations &&
        outcome.largest_residual_change <= kMostShortfallMetres);
  outcome.exact_minimum_used =
      outcome.usable && short_of_minimum && AllFinite(exact);
  outcome.replacement_matters =
      outcome.exact_minimum_used &&
      !(outcome.largest_residual_change <= kWarnResidualMetres);
  outcome.parameters = outcome.exact_minimum_used ? exact : solved;
  outcome.minimum = exact;
  return outcome;
}

bool IsPlausible(const TransformParameters& p) {
  const double largest_rotation =
      std::max({std::fabs(p.R_x), std::fabs(p.R_y), std::fabs(p.R_z)});
  return AllFinite(p) && p.Scale > 0.0 &&
         largest_rotation <= kMostRotationRadians &&
         std::fabs(p.Scale - 1.0) <= kMostScaleDeviation;
}

ClosedFormFit ClosedFormMinimum(const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination) {
  const CentredPairs centred = CentrePairs(projected_source, destination);
  const LinearMinimum minimum = SolveLinearForm(centred.pairs);
  ClosedFormFit fit;
  fit.parameters =
      AboutZoneOrigin(minimum.Parameters(), centred.source_centroid,
                      centred.destination_centroid);
  fit.sum_of_squares = minimum.sum_of_squares;
  fit.geometry_ratio = minimum.geometry_ratio;
  return fit;
}

std::optional<FitWithoutOnePoint> BestFitWithoutOnePoint(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination, bool determined) {
  using Rows = Eigen::Matrix<double, 3, 8>;
  using Normal = Eigen::Matrix<double, 8, 8>;
  const std::size_t n = projected_source.size();
  if (n < 4) return std::nullopt;
  const CentredPairs centred = CentrePairs(projected_source, destination);
  const auto rows_of = [&](std::size_t i) {
    Rows rows;
    const Point3& d = centred.pairs[i].destination;
    rows << LinearFormRows(centred.pairs[i].source),
        Eigen::Vector3d(d.x, d.y, d.z);
    return rows;
  };
  // The augmented normal matrix [J d]^T [J d] of all points, from the
  // triangle of the rows: less one point's rows it is that of the others.
  const Normal triangle = TriangleOfRows<8>(n, rows_of);
  const Normal all = triangle.transpose() * triangle;
  struct Candidate {
    double sum_of_squares;
    std::size_t index;
    ParameterVector theta;
  };
  std::vector<Candidate> candidates;
  for (std::size_t i = 0; i < n; ++i) {
    const Rows rows = rows_of(i);
    const Normal others = all - rows.transpose() * rows;
    const Eigen::LDLT<Eigen::Matrix<double, 7, 7>> normal(
        others.topLeftCorner<7, 7>());
    if (normal.info() != Eigen::Success || !normal.isPositive()) continue;
    const ParameterVector theta = normal.solve(others.topRightCorner<7, 1>());
    const double sum_of_squares =
        others(7, 7) - theta.dot(others.topRightCorner<7, 1>());
    if (!std::isfinite(sum_of_squares)) continue;
    candidates.push_back({std::max(sum_of_squares, 0.0), i, theta});
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) {
                     return a.sum_of_squares < b.sum_of_squares;
                   });
  // The downdated normal equations of points near one line are positive
  // by rounding alone; their geometry is checked on the points themselves,
  // for the best few omissions only (O(n) each).
  constexpr std::size_t kGeometryChecks = 3;
  for (std::size_t k = 0; k < candidates.size(); ++k) {
    const Candidate& candidate = candidates[k];
    if (determined) {
      if (k == kGeometryChecks) break;
      std::vector<Point3> others;
      others.reserve(n - 1);
      for (std::size_t j = 0; j < n; ++j) {
        if (j != candidate.index) others.push_back(projected_source[j]);
      }
      if (!(GeometryConditionRatio(others) >=
            kMinimumGeometryConditionRatio)) {
        continue;
      }
    }
    LinearMinimum minimum;
    minimum.theta = candidate.theta;
    FitWithoutOnePoint fit;
    fit.index = candidate.index;
    fit.sum_of_squares = candidate.sum_of_squares;
    fit.parameters =
        AboutZoneOrigin(minimum.Parameters(), centred.source_centroid,
                        centred.destination_centroid);
    fit.predicted =
        ForwardTransform(fit.parameters, projected_source[candidate.index]);
    return fit;
  }
  return std::nullopt;
}

void RequirePlausible(const TransformParameters& p) {
  if (!(p.Scale > 0.0)) {
    char scale[48];
    std::snprintf(scale, sizeof scale, "%.6g", p.Scale);
    throw ImplausibleFit(std::string("the fit gave a scale that is not "
                                     "positive (") +
                             scale + "), a mirror image of the zone",
                         p);
  }
  if (!IsPlausible(p)) {
    char values[160];
    std::snprintf(values, sizeof values,
                  "rotations (%.3g, %.3g, %.3g) rad and a scale of %.6g", p.R_x,
                  p.R_y, p.R_z, p.Scale);
    throw ImplausibleFit(
        std::string("the fit needs ") + values +
            ", beyond any datum or grid relation this model represents (at "
            "most 1e-3 rad, scale within 1 +- 1e-2)",
        p);
  }
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
  RequirePlausible(outcome.parameters);
}

}  // namespace helmert
