// The 7 x 7 triangle of a least-squares problem in the seven parameters,
// reduced from the 3n x 7 Jacobian block by block, so that memory does not
// grow with the number of points and J^T J is never formed (its condition
// is the square of J's). Needs Eigen alone.
#pragma once

#include <Eigen/Core>
#include <Eigen/QR>
#include <algorithm>
#include <cstddef>

namespace helmert {

using ParameterTriangle = Eigen::Matrix<double, 7, 7>;
using ParameterVector = Eigen::Matrix<double, 7, 1>;

// The upper triangle R of a QR factorisation of the 3n x Columns matrix J
// whose rows 3i, 3i+1, 3i+2 are rows_of(i) (a 3 x Columns matrix), for i
// below point_count: R^T R = J^T J, and the columns of R have the norms of
// J's. The rows are reduced in blocks, the triangle of the rows so far
// standing on top of the next block. With the observations as a last
// column, the triangle also holds Q^T of them and, in its last diagonal
// element, the root of the least-squares sum of squares.
template <int Columns, typename RowsOf>
Eigen::Matrix<double, Columns, Columns> TriangleOfRows(std::size_t point_count,
                                                       RowsOf rows_of) {
  constexpr std::size_t kMostPointsPerBlock = 256;
  const std::size_t points_per_block =
      std::max<std::size_t>(1, std::min(kMostPointsPerBlock, point_count));
  using Block = Eigen::Matrix<double, Eigen::Dynamic, Columns>;
  using Triangle = Eigen::Matrix<double, Columns, Columns>;
  Block stacked = Block::Zero(
      Columns + 3 * static_cast<Eigen::Index>(points_per_block), Columns);
  Triangle triangle = Triangle::Zero();
  Eigen::HouseholderQR<Block> qr(stacked.rows(), Columns);  // storage reused
  std::size_t next = 0;
  while (next < point_count) {
    const std::size_t count = std::min(points_per_block, point_count - next);
    stacked.setZero();
    stacked.template topRows<Columns>() = triangle;
    for (std::size_t k = 0; k < count; ++k) {
      stacked.template middleRows<3>(
          Columns + 3 * static_cast<Eigen::Index>(k)) = rows_of(next + k);
    }
    qr.compute(stacked);
    triangle = qr.matrixQR()
                   .template topRows<Columns>()
                   .template triangularView<Eigen::Upper>();
    next += count;
  }
  return triangle;
}

// The triangle of the 3n x 7 Jacobian of the seven parameters.
template <typename RowsOf>
ParameterTriangle JacobianTriangle(std::size_t point_count, RowsOf rows_of) {
  return TriangleOfRows<7>(point_count, rows_of);
}

// The triangle of J D, with D the diagonal that scales every column of J to
// unit norm. The translation columns of the Bursa-Wolf Jacobian are of size
// 1 and the rotation columns of the size of the coordinates (millions of
// metres); scaled, the triangle's condition tells the geometry, not the
// units.
struct ScaledTriangle {
  ParameterTriangle triangle = ParameterTriangle::Zero();  // R of J D
  // D: 1 / (norm of J's column j), and 0 for a column of zeros.
  ParameterVector column_scale = ParameterVector::Zero();
  // Whether no column of J is zero.
  bool AllColumnsPresent() const { return column_scale.minCoeff() > 0.0; }
};

inline ScaledTriangle ScaleColumns(const ParameterTriangle& triangle) {
  ScaledTriangle scaled;
  for (int j = 0; j < 7; ++j) {
    const double norm = triangle.col(j).norm();
    scaled.column_scale(j) = norm > 0.0 ? 1.0 / norm : 0.0;
  }
  scaled.triangle = triangle * scaled.column_scale.asDiagonal();
  return scaled;
}

template <typename RowsOf>
ScaledTriangle ColumnScaledTriangle(std::size_t point_count, RowsOf rows_of) {
  return ScaleColumns(JacobianTriangle(point_count, rows_of));
}

}  // namespace helmert
