// Fitting the seven Bursa-Wolf parameters to matched point pairs by
// non-linear least squares with Ceres Solver: one unweighted residual block
// per pair, seven parameter blocks of size 1, DENSE_QR, at most 1000
// iterations, no parameter tolerance, every other solver option at the
// library's default.
//
// The solver works about the centroids. The rotations of the model act
// about the zone's origin, millions of metres from the points (tens of
// millions with a zone number in front of the easting), so there the
// translation and the rotations are nearly collinear and a step that is
// small against the norm of all seven values still moves the minimum by
// decimetres. About the centroids,
//
//   destination - c_d = Scale * M * (source - c_s) + T_c,
//   T = T_c + c_d - Scale * M * c_s,
//
// the same model with the same minimum is well conditioned, and the solver
// reaches it in a few iterations. The parameters are printed, checked and
// written about the zone's origin, as the model states them.
//
// The model is linear in (T_c, Scale * R, Scale), since
// Scale * M * p = Scale * p + (Scale * R) x p, so its least-squares minimum
// also has a closed form. It is computed in the same pass as the check of
// the points' geometry and guards the solver: when the solver stops short
// of it by a margin that matters, the closed form is used.
#pragma once

#include <ceres/problem.h>
#include <ceres/solver.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Error.hpp"
#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"
#include "estimation/BursaWolfResidual.hpp"
#include "estimation/JacobianTriangle.hpp"

namespace helmert {

// A projected source point and its destination point (metres).
struct PointPair {
  Point3 source;
  Point3 destination;
};

// Pair i is projected source point i with destination point i. The lists
// must be equally long (the control-point document guarantees it).
std::vector<PointPair> MakePointPairs(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination);

// The start of the fit: T is the mean of destination - source over all pairs
// (summed in pair order, divided by the count), no rotation, Scale 1.
// Requires at least one pair.
TransformParameters StartingParameters(const std::vector<PointPair>& pairs);

// Point pairs with each side reduced by its own centroid (the mean of its
// coordinates, summed in pair order).
struct CentredPairs {
  Point3 source_centroid;
  Point3 destination_centroid;
  std::vector<PointPair> pairs;
};
CentredPairs CentrePairs(const std::vector<PointPair>& pairs);
// The same for projected source point i and destination point i, without
// forming the uncentred pairs.
CentredPairs CentrePairs(const std::vector<Point3>& projected_source,
                         const std::vector<Point3>& destination);

// Parameters of the centred problem expressed about the zone's origin:
// T = T_c + c_d - Scale * M * c_s, angles and scale unchanged.
TransformParameters AboutZoneOrigin(const TransformParameters& centred,
                                    const Point3& source_centroid,
                                    const Point3& destination_centroid);

// How far the source points are from determining all seven parameters: the
// ratio of the smallest to the largest singular value of the column-scaled
// 3n x 7 Jacobian of the residuals at the start of the fit, with the
// coordinates taken about their centroid. Moving the origin only adds the
// translation columns into the others, so the rank is that of the Jacobian
// about the zone's origin, but the ratio no longer drowns in the millions of
// metres of the coordinates. About 1 for a well spread site; about d / L for
// points within d of one straight line of length L; rounding level (1e-13)
// for exactly collinear or coincident points. Computed by a QR of the
// Jacobian taken in blocks of rows (memory independent of the point count)
// and an SVD of the 7 x 7 triangle.
double GeometryConditionRatio(const std::vector<Point3>& projected_source);

// Below this ratio the points are taken to lie on one straight line: the
// rotation about that line is then free, and the solver would return an
// arbitrary one as if it were the answer. 1e-6 is 2 mm off the line over
// 2 km, less than the coordinates' own rounding; a 2 km site with centimetre
// noise has a ratio of order 0.1 to 1.
inline constexpr double kMinimumGeometryConditionRatio = 1e-6;

// The least-squares minimum of the centred pairs in closed form: the linear
// least squares in theta = (T_c, Scale * R, Scale), whose 3 x 7 rows per
// point are the Bursa-Wolf Jacobian at zero angles and unit scale, solved
// by a blockwise QR of the rows with the destinations as an eighth column.
struct LinearMinimum {
  ParameterTriangle triangle;  // R of the rows: |R d|^2 = |J d|^2
  ParameterVector theta;       // the minimum (T_c, Scale * R, Scale)
  double sum_of_squares = 0;   // of the residuals at the minimum (m^2)
  double geometry_ratio = 0;   // as GeometryConditionRatio
  // The minimum as parameters of the centred problem.
  TransformParameters Parameters() const;
};
LinearMinimum SolveLinearForm(const std::vector<PointPair>& centred_pairs);

// The solver's options for the fit: the library's defaults with DENSE_QR, at
// most 1000 iterations, no progress lines on standard output, and no
// parameter tolerance (a step small against the parameters' norm is not a
// sign of arrival in this model: the function and gradient tolerances
// decide).
ceres::Solver::Options FitOptions();

// Adds one residual block per pair to `problem` (BursaWolfResidual, no loss
// function, the seven parameters of `parameters` as blocks of size 1 in
// their fixed order). `parameters` must outlive the problem's solve.
void BuildFitProblem(const std::vector<PointPair>& pairs,
                     TransformParameters* parameters, ceres::Problem* problem);

// The same problem built without a heap allocation of ours per pair: the
// functors and their cost functions are held in two arrays that the
// problem does not own (Ceres' ownership options). The problem goes first
// when the FitProblem does, then the cost functions in reverse order of
// creation, then the functors. (Ceres still allocates its own residual
// blocks and each cost function its list of block sizes.)
class FitProblem {
 public:
  FitProblem(const std::vector<PointPair>& pairs,
             TransformParameters* parameters);
  FitProblem(const FitProblem&) = delete;
  FitProblem& operator=(const FitProblem&) = delete;
  ceres::Problem& problem() { return problem_; }

 private:
  using Cost = ceres::AutoDiffCostFunction<BursaWolfResidual, 3, 1, 1, 1, 1,
                                           1, 1, 1>;
  // Cost functions made in place, destroyed in reverse order.
  class CostArray {
   public:
    explicit CostArray(std::size_t capacity);
    ~CostArray();
    CostArray(const CostArray&) = delete;
    CostArray& operator=(const CostArray&) = delete;
    Cost* Emplace(BursaWolfResidual* functor);

   private:
    struct Slot {
      alignas(Cost) unsigned char bytes[sizeof(Cost)];
    };
    std::unique_ptr<Slot[]> slots_;
    std::size_t size_ = 0;
  };
  static ceres::Problem::Options ProblemOptions();
  // Declared in the order of creation: members go in reverse.
  std::vector<BursaWolfResidual> functors_;
  CostArray costs_;
  ceres::Problem problem_;
};

// What a fit gives back: the parameters and what the caller needs of the
// solver's summary to report and judge it.
struct FitOutcome {
  // About the zone's origin: the solver's, or the closed-form minimum when
  // the guard chose it.
  TransformParameters parameters;
  // The closed-form minimum about the zone's origin, whichever was chosen.
  TransformParameters minimum;
  std::string full_report;  // the summary's FullReport()
  std::string termination;  // the termination type's name
  std::string message;      // the solver's own message
  bool usable = false;      // the summary's IsSolutionUsable()
  // The solver ran out of iterations (or time) before a convergence test
  // held; the parameters are usable but may not be the minimum.
  bool stopped_without_converging = false;
  int iterations = 0;  // iterations after the start
  // The solver's distance from the closed-form minimum, in standard
  // deviations of the parameters (the root of the sum of squares it leaves
  // above the minimum, over sigma0), and the largest difference of a
  // residual component between the two (metres).
  double excess_deviations = 0;
  double largest_residual_change = 0;
  bool exact_minimum_used = false;  // the guard replaced the solver's values
  // The largest difference of one parameter between the solver's values and
  // the minimum, in that parameter's standard deviations.
  double largest_parameter_deviations = 0;
  // The replacement mattered to a user (kWarnResidualMetres): worth a
  // warning.
  bool replacement_matters = false;
};

// The solver is taken to have stopped short, and the closed-form minimum
// replaces its parameters, when its sum of squares lies above the minimum
// by more than this many standard deviations of the parameters (in the
// metric of their covariance; one standard deviation in the worst direction
// raises the sum by sigma0^2), ...
inline constexpr double kMostShortfallDeviations = 0.01;
// ... or when a residual component differs by more than this (metres): a
// tenth of a micrometre, below the tenth decimal of the geodetic check
// lines' degrees (about 1e-5 m) and any survey's resolution. (helmert-fit
// also takes the minimum when a printed parameter line would read
// otherwise: a rule of its console, not of the fit.)
inline constexpr double kMostShortfallMetres = 1e-7;
// sigma0 is never taken below this (metres) for the shortfall in standard
// deviations: residuals of destinations written to rounding level would
// otherwise give any difference of rounding size a large count.
inline constexpr double kSmallestGuardSigma0 = 1e-6;

// A replacement by the closed form is worth a warning only when the
// solver's values moved a residual component by more than this (metres): a
// tenth of a millimetre, below what any survey resolves. Not a count of
// the parameters' standard deviations: those shrink with the number of
// points, so that at a million clean points a difference of 0.02 mm would
// be "more than a standard deviation".
inline constexpr double kWarnResidualMetres = 1e-4;

// Fits the parameters to the pairs of projected source point i and
// destination point i, about their centroids, starting from
// StartingParameters of the centred pairs; then compares the solver's
// parameters with the closed-form minimum. Prints nothing. Throws Error
// before solving when the points lie on one straight line
// (kMinimumGeometryConditionRatio), and ImplausibleFit when the closed-form
// minimum is not plausible (RequirePlausible): the refusal never waits for
// the solver. `options` are FitOptions() in every run
// of the tool; tests pass others.
FitOutcome EstimateParameters(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination,
    const ceres::Solver::Options& options = FitOptions());

// Beyond these the fitted relation is none that the model represents: no
// datum or grid relation of the small-angle model comes near either, and
// its matrix M is then far from a rotation. They are what a user's mistake
// gives (longitude and latitude or easting and northing swapped, radians
// for degrees, feet for metres, a grid in another zone, one point wrong).
inline constexpr double kMostRotationRadians = 1e-3;  // 206 arc-seconds
inline constexpr double kMostScaleDeviation = 1e-2;   // |Scale - 1|

// Whether the parameters are finite, the scale positive and the rotations
// and the scale within the bounds above.
bool IsPlausible(const TransformParameters& parameters);

// A fit refused because its parameters are beyond the model's bounds. The
// message states the values; the caller, who knows the points, adds what
// the values point to.
class ImplausibleFit : public Error {
 public:
  ImplausibleFit(const std::string& message,
                 const TransformParameters& parameters)
      : Error(message), parameters_(parameters) {}
  const TransformParameters& parameters() const { return parameters_; }

 private:
  TransformParameters parameters_;
};

// The least-squares minimum of the pairs of projected source point i and
// destination point i, in closed form, about the zone's origin. Nothing is
// checked; an empty list or points on one line give values that are not
// finite or meaningless (see geometry_ratio).
struct ClosedFormFit {
  TransformParameters parameters;
  double sum_of_squares = 0;  // of the residuals (m^2)
  double geometry_ratio = 0;  // as GeometryConditionRatio
};
ClosedFormFit ClosedFormMinimum(const std::vector<Point3>& projected_source,
                                const std::vector<Point3>& destination);

// The least-squares fit without one point, for the point whose omission
// leaves the smallest sum of squares: what a single wrong point looks like.
// Each point's fit is the closed form's 7 x 7 normal equations less that
// point's contribution, so the search costs O(n). `predicted` is where the
// other points' fit puts the left-out point in the grid (metres). None with
// fewer than 4 points (the rest could not determine the fit) or when no
// omission leaves a determined fit. With `determined`, only an omission
// whose remaining points pass the geometry check (GeometryConditionRatio,
// for the three best omissions) counts: points that lie on one line
// without the left-out one fit anything.
struct FitWithoutOnePoint {
  std::size_t index = 0;  // counted from 0
  TransformParameters parameters;
  double sum_of_squares = 0;  // of the other points' residuals (m^2)
  Point3 predicted;
};
std::optional<FitWithoutOnePoint> BestFitWithoutOnePoint(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination, bool determined = false);

// Throws ImplausibleFit when the parameters are not plausible (IsPlausible):
// "the fit gave a scale that is not positive (S), a mirror image of the
// zone" or "the fit needs rotations (R_x, R_y, R_z) rad and a scale of S,
// beyond any datum or grid relation this model represents (at most 1e-3
// rad, scale within 1 +- 1e-2)".
void RequirePlausible(const TransformParameters& parameters);

// Throws Error when the fit leaves no usable solution or a value that is
// not finite, naming the solver's termination and message; then as
// RequirePlausible.
void RequireUsableFit(const FitOutcome& outcome);

}  // namespace helmert
