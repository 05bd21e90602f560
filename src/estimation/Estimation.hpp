// Fitting the seven Bursa-Wolf parameters to matched point pairs by
// non-linear least squares with Ceres Solver: one unweighted residual block
// per pair, seven parameter blocks of size 1, DENSE_QR, at most 1000
// iterations, every other solver option at the library's default.
#pragma once

#include <ceres/solver.h>

#include <Eigen/QR>
#include <algorithm>
#include <cstddef>
#include <ostream>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"

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

// The upper triangle R of a QR factorisation of the 3n x 7 matrix J whose
// rows 3i, 3i+1, 3i+2 are rows_of(i) (a JacobianRows), for i below
// point_count: R^T R = J^T J, and the columns of R have the norms of J's.
// The rows are reduced in blocks, the triangle of the rows so far standing
// on top of the next block, so that memory does not grow with the count and
// J^T J is never formed (its condition is the square of J's).
using ParameterTriangle = Eigen::Matrix<double, 7, 7>;
template <typename RowsOf>
ParameterTriangle JacobianTriangle(std::size_t point_count, RowsOf rows_of) {
  constexpr std::size_t kMostPointsPerBlock = 256;
  const std::size_t points_per_block =
      std::max<std::size_t>(1, std::min(kMostPointsPerBlock, point_count));
  using Block = Eigen::Matrix<double, Eigen::Dynamic, 7>;
  Block stacked =
      Block::Zero(7 + 3 * static_cast<Eigen::Index>(points_per_block), 7);
  ParameterTriangle triangle = ParameterTriangle::Zero();
  Eigen::HouseholderQR<Block> qr(stacked.rows(), 7);  // storage reused
  std::size_t next = 0;
  while (next < point_count) {
    const std::size_t count = std::min(points_per_block, point_count - next);
    stacked.setZero();
    stacked.template topRows<7>() = triangle;
    for (std::size_t k = 0; k < count; ++k) {
      stacked.template middleRows<3>(7 + 3 * static_cast<Eigen::Index>(k)) =
          rows_of(next + k);
    }
    qr.compute(stacked);
    triangle = qr.matrixQR()
                   .template topRows<7>()
                   .template triangularView<Eigen::Upper>();
    next += count;
  }
  return triangle;
}

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

// Fits the parameters to the pairs of projected source point i and
// destination point i, starting from StartingParameters, then prints the
// solver's full report, "\n", the label of the parameter block and the seven
// values in the stream's current format. Throws Error, after printing, when
// the solver leaves no usable solution, a value that is not finite or a
// scale that is not positive. A run that ends without converging goes on
// with one warning line on `warnings`.
// `options` are FitOptions() in every run of the tool; tests pass others.
TransformParameters EstimateParameters(
    const std::vector<Point3>& projected_source,
    const std::vector<Point3>& destination, std::ostream& out,
    std::ostream& warnings,
    const ceres::Solver::Options& options = FitOptions());

}  // namespace helmert
