// Judging a transformation against control points: the residuals of the
// forward map, a blunder test per point, summary figures and, when the
// parameters were fitted to these very points, their precision.
//
// Model: least squares with unit weights, observations the 3n destination
// coordinates, J the analytic 3n x 7 Jacobian of the forward map at the given
// parameters (BursaWolfJacobian). The figures are those of the linearised
// problem at those parameters; the map is linear in T and the angles and
// bilinear with the scale, so at the solution they are exact to first order.
//
// Plan and height precision apart: GNSS heights are typically two to three
// times noisier than plan positions, so one sigma0 for all three components
// flags clean heights and hides plan blunders. Two variance components,
// sigma_p^2 for easting and northing and sigma_h^2 for height, come from
// Helmert's variance component estimation for the unweighted fit: with U the
// rows of J (J^T J)^-1/2 (so H = U U^T) and M_k the sum of u_a u_a^T over the
// rows a of group k, E[e_k^T e_k] = sum_l sigma_l^2 tr(P_k (I-H) P_l (I-H)),
// where tr(P_k (I-H) P_k (I-H)) = n_k - 2 tr(M_k) + tr(M_k M_k) and
// tr(P_k (I-H) P_l (I-H)) = tr(M_k M_l) for k != l: a 2 x 2 linear system.
// The group's redundancy n_k - tr(M_k) is its share of the 3n - 7 degrees
// of freedom.
//
// Blunder test (data snooping with externally estimated components): for
// point i with residual block e_i and the 3 x 3 block H_ii of the hat matrix,
// the components are estimated again without the point, its share
// e_i^T (I - H_ii)^-1 e_i taken from each group's sum (split by component)
// and its 2 plan and 1 height observations from the groups' redundancy. Each
// residual component e_a is standardized by the standard deviation it has
// under those components: Var(e) = (I - H) S (I - H)^T, S the diagonal of
// the components, whose diagonal is sigma_a^2 (1 - 2 H_aa) + u_a^T
// (sum_k sigma_k^2 M_k) u_a. A bad point cannot hide itself by inflating
// the precision it is judged by. For check points (parameters not fitted to
// them) H is 0: the components are the groups' mean squares.
//
// Check points against a fit (FitReference): the fit's own components and
// the covariance C of its parameters predict each check point's residual,
// Var(e_c) = sigma_c^2 + (J_i C J_i^T)_cc, and an F test on the mean of the
// squared standardized residuals (chi-square over the fit's own estimated
// precision) says whether the check points agree with what the fit
// predicts.
//
// Systematic residuals: a quadratic trend in easting and northing (about the
// points' centroid) is fitted to each residual component; its share of the
// component's variation and an F test say whether the residuals are a
// pattern (a grid in another projection or zone, heights of another kind, a
// distorted network) rather than noise.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <optional>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"

namespace helmert {

// A standardized residual beyond this flags its point: for normally
// distributed errors one in about 370 components exceeds it by chance.
inline constexpr double kBlunderThreshold = 3.0;

// That chance, the blunder test's level per component. The precision a
// residual is standardized by is itself estimated, so w follows Student's t
// with the component's degrees of freedom: a component is flagged when its
// two-sided t probability falls below this level (|w| > 3 for many degrees
// of freedom, somewhat more for few).
inline constexpr double kBlunderTestLevel = 0.0027;

// The parameters count as fitted to the points when the residual vector is
// this close to orthogonal to the Jacobian's columns (the cosine of its angle
// with their span; the normal equations J^T e = 0 hold at a least-squares
// solution). The solver stops once a step gains less than 1e-6 of the cost,
// which leaves a cosine of up to about 1e-3 (5e-4 seen on the example);
// check points give about sqrt(7 / 3n), above 1e-2 up to some 20,000
// points. Beyond that the two readings differ by under 0.04 % in the degrees
// of freedom and the redundancy numbers.
inline constexpr double kMostFittedGradientCosine = 1e-2;

// sigma0 without a point is never taken below this (metres): residuals at
// the rounding level of coordinates in the millions of metres (1e-9 m) would
// otherwise standardize to arbitrary values. One micrometre is far below
// any survey's precision.
inline constexpr double kSmallestSigma0 = 1e-6;

// The trend test's level: a pattern is reported when the quadratic trend of
// some component is significant at 1 % (about 3 % of noise-only sets over
// the three components), explains at least a tenth of the component's
// variation, and amounts to at least 2 mm RMS (twice the millimetre to
// which grid coordinates are written): below that no surveyor's decision
// changes. The bundled example's change of ellipsoid leaves a significant
// pattern of 1.1 mm in height.
inline constexpr double kTrendTestLevel = 0.01;
inline constexpr double kLeastTrendShare = 0.1;
inline constexpr double kLeastTrendMetres = 2e-3;

// The check points' test against a fit's prediction (the mean of their w^2
// against F): they are said not to agree with it below this probability.
inline constexpr double kCheckTestLevel = 0.01;

// The components of a residual, in order.
inline constexpr char kComponentNames[3] = {'E', 'N', 'H'};

// Component c (0 E, 1 N, 2 H) of a residual-like triple.
inline double ComponentOf(const Point3& p, int c) {
  return c == 0 ? p.x : c == 1 ? p.y : p.z;
}

struct PointAssessment {
  Point3 residual;            // forward map minus destination (metres)
  double horizontal = 0;      // hypot(dE, dN) (metres)
  Point3 redundancy;          // diagonal of I - H_ii (1 for check points)
  Point3 standardized;        // w per component; not-a-number if not testable
  double largest = 0;         // max |w|; not-a-number if not testable
  int largest_component = 0;  // 0 E, 1 N, 2 H: the component of `largest`
  bool flagged = false;       // some |w| beyond its component's critical w
};

using ParameterMatrix = Eigen::Matrix<double, 7, 7>;

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

// One variance component: easting and northing together, or height.
struct VarianceComponent {
  double variance = 0;    // m^2
  double redundancy = 0;  // the group's degrees of freedom (may be fractional)
  double Sigma() const;   // metres
};

// What a fit predicts for other points: its components and the covariance
// of its parameters.
struct FitReference {
  VarianceComponent plan;
  VarianceComponent height;
  ParameterMatrix covariance;  // covariance_by_components of the fit
};

// The check points' agreement with a fit's prediction.
struct CheckAgainstFit {
  double predicted_rms_horizontal = 0;  // sqrt(mean of Var(dE) + Var(dN))
  double predicted_rms_vertical = 0;    // sqrt(mean of Var(dH))
  double chi_square = 0;                // sum of the squared w
  int degrees_of_freedom = 0;           // 3 per check point
  double probability = 0;               // P(chi-square >= the sum)
  bool agrees = true;                   // probability >= kCheckTestLevel
};

// The quadratic trend of one residual component.
struct ComponentTrend {
  double explained_share = 0;  // of the component's variation about its mean
  double rms = 0;              // of the trend about the mean (metres)
  double f = 0;                // F statistic on (5, n - 6) degrees of freedom
  double probability = 1;      // P(F >= f) for noise alone
};

struct TrendAnalysis {
  bool available = false;      // needs at least 9 points and some spread
  bool detected = false;       // some component below kTrendTestLevel
  double explained_share = 0;  // of all three components' variation
  ComponentTrend components[3];
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
  // The |w| beyond which a plan or a height component is flagged: the
  // two-sided kBlunderTestLevel point of Student's t with the degrees of
  // freedom of the precision it is judged by.
  double plan_critical_w = kBlunderThreshold;
  double height_critical_w = kBlunderThreshold;
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
  // Present for fitted points only.
  std::optional<ParameterPrecision> precision;
  // Present when check points were judged against a fit (FitReference).
  std::optional<CheckAgainstFit> check;
  TrendAnalysis trend;
};

// Assesses the parameters on the pairs (projected_source[i],
// destination[i]) (metres, zone and local grid). Requires equally long,
// non-empty lists of finite coordinates. With a reference, the points are
// check points judged against the fit it describes.
Assessment AssessTransformation(const TransformParameters& parameters,
                                const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination,
                                const FitReference* reference = nullptr);

// What an assessment of the points a transformation was fitted to predicts
// for other points. Requires assessment.precision.
FitReference ReferenceOf(const Assessment& fitted);

}  // namespace helmert
