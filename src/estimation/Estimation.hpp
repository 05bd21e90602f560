// Fitting the seven Bursa-Wolf parameters to matched point pairs by
// non-linear least squares with Ceres Solver: one unweighted residual block
// per pair, seven parameter blocks of size 1, DENSE_QR, at most 1000
// iterations, every other solver option at the library's default.
#pragma once

#include <ceres/problem.h>
#include <ceres/solver.h>

#include <string>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"
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

// The solver's options for the fit: the library's defaults with DENSE_QR, at
// most 1000 iterations and no progress lines on standard output.
ceres::Solver::Options FitOptions();

// Adds one residual block per pair to `problem` (BursaWolfResidual, no loss
// function, the seven parameters of `parameters` as blocks of size 1 in
// their fixed order). `parameters` must outlive the problem's solve.
void BuildFitProblem(const std::vector<PointPair>& pairs,
                     TransformParameters* parameters, ceres::Problem* problem);

// What a fit gives back: the parameters and what the caller needs of the
// solver's summary to report and judge it.
struct FitOutcome {
  TransformParameters parameters;
  std::string full_report;  // the summary's FullReport()
  std::string termination;  // the termination type's name
  std::string message;      // the solver's own message
  bool usable = false;      // the summary's IsSolutionUsable()
  // The solver ran out of iterations (or time) before a convergence test
  // held; the parameters are usable but may not be the minimum.
  bool stopped_without_converging = false;
  int iterations = 0;  // iterations after the start
};

// Fits the parameters to the pairs of projected source point i and
// destination point i, starting from StartingParameters. Prints nothing.
// `options` are FitOptions() in every run of the tool; tests pass others.
FitOutcome EstimateParameters(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination,
    const ceres::Solver::Options& options = FitOptions());

// Throws Error when the fit leaves no usable solution, a value that is not
// finite or a scale that is not positive; the message names the solver's
// termination and message.
void RequireUsableFit(const FitOutcome& outcome);

}  // namespace helmert
