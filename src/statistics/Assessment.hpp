// Judging a transformation against control points, in forward stages,
// each with a record and a header of its own:
//
//   residuals (here) -> variance components (VarianceComponents.hpp) ->
//   blunder test with its global test and reliability, or check points
//   against a fit (BlunderTest.hpp) -> precision of the parameters (here)
//   -> trend test (Trend.hpp).
//
// Model: least squares with unit weights, observations the 3n destination
// coordinates, J the analytic 3n x 7 Jacobian of the forward map at the given
// parameters (BursaWolfJacobian), evaluated once per point. The figures are
// those of the linearised problem at those parameters; the map is linear in
// T and the angles and bilinear with the scale, so at the solution they are
// exact to first order. Whether the points are the ones the parameters were
// fitted to is decided once, before the stages that depend on it, and
// passed to them: by the normal equations when the points are judged
// against each other, and "check points" by definition when a fit to judge
// them by is given.
//
// Precision of the parameters (fitted points): (J^T J)^-1 = D R^-1 R^-T D
// for the column-scaled triangle R of J D, times sigma0^2; and with the two
// variance components D R^-1 (sigma_p^2 M_p + sigma_h^2 M_h) R^-T D, the
// covariance of the unweighted fit when plan and height differ.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <optional>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"
#include "statistics/BlunderTest.hpp"
#include "statistics/Trend.hpp"
#include "statistics/VarianceComponents.hpp"

namespace helmert {

// The parameters count as fitted to the points when the residual vector is
// this close to orthogonal to the Jacobian's columns (the cosine of its angle
// with their span; the normal equations J^T e = 0 hold at a least-squares
// solution). The solver stops once a step gains less than 1e-6 of the cost,
// which leaves a cosine of up to about 1e-3 (5e-4 seen on the example);
// check points give about sqrt(7 / 3n), above 1e-2 up to some 20,000
// points. Beyond that the two readings differ by under 0.04 % in the degrees
// of freedom and the redundancy numbers.
inline constexpr double kMostFittedGradientCosine = 1e-2;

// The components of a residual, in order.
inline constexpr char kComponentNames[3] = {'E', 'N', 'H'};

// Component c (0 E, 1 N, 2 H) of a residual-like triple.
inline double ComponentOf(const Point3& p, int c) {
  return c == 0 ? p.x : c == 1 ? p.y : p.z;
}

// A point: its residual and its test (BlunderTest.hpp).
struct PointAssessment : PointTest {
  Point3 residual;        // forward map minus destination (metres)
  double horizontal = 0;  // hypot(dE, dN) (metres)
};

// In the parameters' fixed order T_x, T_y, T_z (metres), R_x, R_y, R_z
// (radians), Scale (factor).
struct ParameterPrecision {
  ParameterMatrix cofactor;     // (J^T J)^-1
  ParameterMatrix covariance;   // sigma0^2 (J^T J)^-1
  ParameterMatrix correlation;  // from (J^T J)^-1, so defined when sigma0 = 0
  Eigen::Matrix<double, 7, 1> standard_deviation;
  // (J^T J)^-1 J^T S J (J^T J)^-1 with S the two variance components: the
  // covariance of the unweighted fit when plan and height differ.
  ParameterMatrix covariance_by_components;
};

struct Assessment {
  std::vector<PointAssessment> points;
  // Whether the parameters are the least-squares solution for these points
  // (see kMostFittedGradientCosine), and the cosine that decided it.
  bool fitted_points = false;
  double gradient_cosine = 0;
  int degrees_of_freedom = 0;  // 3n - 7 for fitted points, 3n otherwise
  double sum_of_squares = 0;   // of all residual components (m^2)
  double sigma0 = 0;           // sqrt(sum_of_squares / dof) (metres)
  VarianceComponent plan;      // easting and northing
  VarianceComponent height;
  // The blunder test's levels, per data set and per component, and the |w|
  // beyond which a plan or a height component is flagged: the two-sided
  // component level's point of Student's t with the degrees of freedom of
  // the precision it is judged by (BlunderTest.hpp).
  double set_level = kBlunderSetLevel;
  double component_level = 0;
  double plan_critical_w = 0;
  double height_critical_w = 0;
  double rms_horizontal = 0;  // sqrt(mean of dE^2 + dN^2) (metres)
  double rms_vertical = 0;    // sqrt(mean of dH^2) (metres)
  std::size_t max_horizontal_point = 0;
  std::size_t max_vertical_point = 0;
  // Whether any point could be tested: needs 3n - 10 > 0 (fitted) or
  // 3n - 3 > 0 (check points), and a point that does not alone determine
  // part of the parameters.
  bool blunder_test_available = false;
  std::size_t worst_point = 0;  // largest max |w| among testable points
  std::size_t flagged_count = 0;
  // The precision was stated by the user (normal w, global test) rather
  // than estimated from the residuals; the critical values were simulated
  // for the design rather than approximated (BlunderTest.hpp).
  bool precision_stated = false;
  bool critical_values_simulated = false;
  std::optional<GlobalTest> global_test;  // with a stated precision
  // Reliability over the testable points (metres).
  double largest_plan_mdb = 0;
  double largest_height_mdb = 0;
  double largest_external_reliability = 0;
  // Present for fitted points only.
  std::optional<ParameterPrecision> precision;
  // Present when check points were judged against a fit (FitReference).
  std::optional<CheckAgainstFit> check;
  TrendAnalysis trend;
};

// Assesses the parameters on the pairs (projected_source[i],
// destination[i]) (metres, zone and local grid). Requires equally long,
// non-empty lists of finite coordinates. With a reference, the points are
// check points judged against the fit it describes. With `stated`, the
// points are tested against the survey's stated precision.
Assessment AssessTransformation(const TransformParameters& parameters,
                                const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination,
                                const FitReference* reference = nullptr,
                                const StatedPrecision* stated = nullptr);

// What an assessment of the points a transformation was fitted to predicts
// for other points. Requires assessment.precision.
FitReference ReferenceOf(const Assessment& fitted);

}  // namespace helmert
