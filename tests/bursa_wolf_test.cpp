// The Bursa-Wolf model: matrices, forward and reverse maps, and the residual
// with its automatic derivatives.
#include <ceres/gradient_checker.h>
#include <ceres/jet.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "estimation/BursaWolf.hpp"
#include "estimation/BursaWolfResidual.hpp"

namespace helmert {
namespace {

constexpr double kRounding = 1e-12;   // relative, for O(1) quantities
constexpr double kMicrometre = 1e-6;  // metres
constexpr double kNanometre = 1e-9;   // metres

// The worked example: source (100, 200, 300), T = (10, 20, 30),
// R = (0.01, -0.02, 0.03), Scale 2, destination (180, 425, 640).
constexpr TransformParameters kWorkedParameters{10,    20,   30, 0.01,
                                                -0.02, 0.03, 2};
const Point3 kWorkedSource{100, 200, 300};
const Point3 kWorkedDestination{180, 425, 640};

void ExpectNear(const Point3& actual, const Point3& expected,
                double tolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(BursaWolfWorkedExample, ForwardMapPredicts) {
  ExpectNear(ForwardTransform(kWorkedParameters, kWorkedSource),
             {186, 420, 638}, kNanometre);
}

TEST(BursaWolfWorkedExample, ResidualIsPredictedMinusObserved) {
  const TransformParameters p = kWorkedParameters;
  const BursaWolfResidual residual(kWorkedSource.x, kWorkedSource.y,
                                   kWorkedSource.z, kWorkedDestination.x,
                                   kWorkedDestination.y, kWorkedDestination.z);
  double r[3];
  ASSERT_TRUE(
      residual(&p.T_x, &p.T_y, &p.T_z, &p.R_x, &p.R_y, &p.R_z, &p.Scale, r));
  EXPECT_NEAR(r[0], 6, kNanometre);
  EXPECT_NEAR(r[1], -5, kNanometre);
  EXPECT_NEAR(r[2], -2, kNanometre);
}

// The functor's automatic derivatives and the analytic Jacobian both give
// the worked example's columns.
TEST(BursaWolfWorkedExample, JetsAndAnalyticJacobianGiveTheColumns) {
  using Jet = ceres::Jet<double, 7>;
  const TransformParameters p = kWorkedParameters;
  const double values[7] = {p.T_x, p.T_y, p.T_z, p.R_x, p.R_y, p.R_z, p.Scale};
  Jet jets[7];
  for (int i = 0; i < 7; ++i) jets[i] = Jet(values[i], i);
  const BursaWolfResidual residual(100, 200, 300, 180, 425, 640);
  Jet r[3];
  residual(&jets[0], &jets[1], &jets[2], &jets[3], &jets[4], &jets[5], &jets[6],
           r);
  const JacobianRows analytic = BursaWolfJacobian(p, kWorkedSource);
  // Columns in parameter order; rows r_x, r_y, r_z.
  const double expected[7][3] = {{1, 0, 0},      {0, 1, 0},      {0, 0, 1},
                                 {0, -600, 400}, {600, 0, -200}, {-400, 200, 0},
                                 {88, 200, 304}};
  for (int column = 0; column < 7; ++column) {
    for (int row = 0; row < 3; ++row) {
      EXPECT_NEAR(r[row].v[column], expected[column][row], kNanometre)
          << "jets, row " << row << " column " << column;
      EXPECT_NEAR(analytic(row, column), expected[column][row], kNanometre)
          << "analytic, row " << row << " column " << column;
    }
  }
  // The value part of the Jet evaluation is the plain evaluation, exactly.
  double plain[3];
  residual(&values[0], &values[1], &values[2], &values[3], &values[4],
           &values[5], &values[6], plain);
  for (int row = 0; row < 3; ++row) EXPECT_EQ(r[row].a, plain[row]);
}

TEST(BursaWolfWorkedExample, InverseMatrixRows) {
  const Eigen::Matrix3d inverse = InverseRotationMatrix(0.01, -0.02, 0.03);
  const double d = 1.0014;
  const double expected[3][3] = {{1.0001, 0.0298, 0.0203},
                                 {-0.0302, 1.0004, 0.0094},
                                 {-0.0197, -0.0106, 1.0009}};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      EXPECT_NEAR(inverse(row, column), expected[row][column] / d, kRounding);
    }
  }
}

TEST(BursaWolfWorkedExample, ReverseMapUndoesThePrediction) {
  ExpectNear(ReverseTransform(kWorkedParameters, {186, 420, 638}),
             kWorkedSource, kNanometre);
}

// At a point of a real grid, the analytic Jacobian against central finite
// differences of the model's own forward map (not of the functor): the
// derivative of the prediction by each parameter. Rotations near the
// model's bound (5e-4 rad) make every term count: the scale column is
// M p, which differs from p by hundreds of metres.
TEST(BursaWolfJacobian, MatchesFiniteDifferencesOfTheForwardMap) {
  const Point3 source{448507.717, 4296938.845, 1368.157};
  const double values[7] = {-39.67, 81.06, 82.73, 2e-4, -3e-4, 5e-4, 0.99999};
  // Steps of a millimetre for translations, 1e-6 rad and 1e-6 of scale:
  // the map is linear in T and bilinear in angles and scale, so central
  // differences are exact up to the rounding of coordinates in the
  // millions (1e-9 m over a 1e-6 step).
  const double steps[7] = {1e-3, 1e-3, 1e-3, 1e-6, 1e-6, 1e-6, 1e-6};
  const auto parameters = [](const double* v) {
    return TransformParameters{v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
  };
  const JacobianRows analytic = BursaWolfJacobian(parameters(values), source);
  for (int column = 0; column < 7; ++column) {
    double up[7];
    double down[7];
    std::copy(values, values + 7, up);
    std::copy(values, values + 7, down);
    up[column] += steps[column];
    down[column] -= steps[column];
    const Point3 plus = ForwardTransform(parameters(up), source);
    const Point3 minus = ForwardTransform(parameters(down), source);
    const double numeric[3] = {(plus.x - minus.x) / (2 * steps[column]),
                               (plus.y - minus.y) / (2 * steps[column]),
                               (plus.z - minus.z) / (2 * steps[column])};
    for (int row = 0; row < 3; ++row) {
      // Relative to the element's size: about 1 (translations) to 4e6
      // (rotations and scale, the coordinates).
      const double size = std::max(1.0, std::fabs(analytic(row, column)));
      EXPECT_NEAR(numeric[row], analytic(row, column), 1e-6 * size)
          << "row " << row << " column " << column;
    }
  }
}

TEST(RotationMatrix, IsTheIdentityPlusTheCrossProductMatrix) {
  const Eigen::Vector3d angles(0.3, -0.2, 0.1);
  const Eigen::Vector3d p(4, -5, 6);
  const Eigen::Vector3d rotated = RotationMatrix(0.3, -0.2, 0.1) * p;
  const Eigen::Vector3d expected = p + angles.cross(p);
  EXPECT_TRUE(rotated.isApprox(expected, kRounding));
  // A positive R_z turns the x axis toward the y axis.
  EXPECT_GT((RotationMatrix(0, 0, 0.01) * Eigen::Vector3d(1, 0, 0)).y(), 0);
}

TEST(RotationMatrix, LeavesAPointOnTheAngleVectorUnrotated) {
  const Point3 s{1000, 2000, 3000};
  const TransformParameters p{0,           0,           0, s.x / 10000,
                              s.y / 10000, s.z / 10000, 1};
  ExpectNear(ForwardTransform(p, s), s, kNanometre);
}

TEST(InverseRotationMatrix, IsTheExactIdentityForZeroAngles) {
  const Eigen::Matrix3d inverse = InverseRotationMatrix(0, 0, 0);
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(inverse(row, column), row == column ? 1.0 : 0.0);
      EXPECT_FALSE(std::signbit(inverse(row, column)));
    }
  }
}

struct RoundTripCase {
  const char* name;
  TransformParameters parameters;
  double tolerance;  // metres
};
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class BursaWolfRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {
};

TEST_P(BursaWolfRoundTripTest, ReverseUndoesForward) {
  const std::vector<Point3> points = {{448507.717, 4296938.845, 1368.157},
                                      {-2e6, -5e6, -100},
                                      {0, 0, 0},
                                      {1, 1, 1}};
  for (const Point3& point : points) {
    const Point3 mapped = ForwardTransform(GetParam().parameters, point);
    ExpectNear(ReverseTransform(GetParam().parameters, mapped), point,
               GetParam().tolerance);
  }
}

constexpr TransformParameters Parameters(double t, double r_x, double r_y,
                                         double r_z, double scale) {
  return {t, -2 * t, 0.5 * t, r_x, r_y, r_z, scale};
}

INSTANTIATE_TEST_SUITE_P(
    Parameters, BursaWolfRoundTripTest,
    ::testing::Values(
        RoundTripCase{"Identity", Parameters(0, 0, 0, 0, 1), 0.0},
        RoundTripCase{"SurveyLike",
                      Parameters(-39.7, -5e-6, 6.7e-6, 5e-8, 0.99999),
                      kMicrometre},
        // M is no rotation at half a radian, but its true inverse undoes it.
        RoundTripCase{"LargeAngles", Parameters(100, 0.5, -0.5, 0.5, 3.0),
                      kMicrometre},
        RoundTripCase{"SmallScale", Parameters(1e3, 1e-3, 2e-3, -3e-3, 1e-3),
                      kMicrometre}),
    [](const auto& info) { return std::string(info.param.name); });


}  // namespace
}  // namespace helmert
