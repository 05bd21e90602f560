// The seven-parameter fit: its start, its geometry check, and fits that must
// return the parameters an exact similarity was made with.
#include "estimation/Estimation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "UniformNoise.hpp"
#include "common/Error.hpp"

namespace helmert {
namespace {

constexpr double kMicrometre = 1e-6;      // metres
constexpr double kMillimetre = 1e-3;      // metres
constexpr double kNanoradian = 1e-9;      // radians (and plain factors)
constexpr double kPicoradian = 1e-12;     // radians
constexpr double kScaleRounding = 1e-12;  // plain factor
constexpr double kCentimetre = 1e-2;      // metres

using testing::kSurveyParameters;
using testing::Site;
using testing::Transformed;
using testing::UniformNoise;



TEST(StartingParameters, TakesTheMeanDifferenceAndNoRotation) {
  const std::vector<PointPair> pairs = {{{0, 0, 0}, {1, 2, 3}},
                                        {{10, 0, 0}, {12, 1, 4}},
                                        {{0, 10, 0}, {1, 12, 2}}};
  const TransformParameters start = StartingParameters(pairs);
  EXPECT_DOUBLE_EQ(start.T_x, 4.0 / 3.0);
  EXPECT_DOUBLE_EQ(start.T_y, 5.0 / 3.0);
  EXPECT_DOUBLE_EQ(start.T_z, 3.0);
  EXPECT_EQ(start.R_x, 0.0);
  EXPECT_EQ(start.R_y, 0.0);
  EXPECT_EQ(start.R_z, 0.0);
  EXPECT_EQ(start.Scale, 1.0);
}

TEST(StartingParameters, LeavesResidualsThatSumToZero) {
  const std::vector<Point3> source = Site(40, 2000.0, 1);
  const std::vector<Point3> destination =
      Transformed(source, kSurveyParameters, 0.05, 2);
  const TransformParameters start =
      StartingParameters(MakePointPairs(source, destination));
  Point3 sum;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const Point3 predicted = ForwardTransform(start, source[i]);
    sum.x += predicted.x - destination[i].x;
    sum.y += predicted.y - destination[i].y;
    sum.z += predicted.z - destination[i].z;
  }
  EXPECT_NEAR(sum.x, 0.0, kMicrometre);
  EXPECT_NEAR(sum.y, 0.0, kMicrometre);
  EXPECT_NEAR(sum.z, 0.0, kMicrometre);
}

// --- Geometry check ------------------------------------------------------

struct GeometryCase {
  const char* name;
  std::vector<Point3> points;
  bool determined;
};
void PrintTo(const GeometryCase& c, std::ostream* os) { *os << c.name; }

std::vector<Point3> OnALine(int n, double length, double scatter,
                            std::uint64_t seed) {
  UniformNoise noise(seed);
  std::vector<Point3> points;
  for (int i = 0; i < n; ++i) {
    const double t = length * i / (n - 1);
    points.push_back({440000.0 + 0.6 * t + scatter * noise(),
                      4290000.0 + 0.8 * t + scatter * noise(),
                      1300.0 + 0.01 * t + scatter * noise()});
  }
  return points;
}

std::vector<Point3> WithNoise(std::vector<Point3> points, double scatter) {
  UniformNoise noise(99);
  for (Point3& p : points) {
    p.x += scatter * noise();
    p.y += scatter * noise();
    p.z += scatter * noise();
  }
  return points;
}

class GeometryConditionTest : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(GeometryConditionTest, SeparatesDeterminedFromCollinearPoints) {
  const double ratio = GeometryConditionRatio(GetParam().points);
  EXPECT_EQ(ratio >= kMinimumGeometryConditionRatio, GetParam().determined)
      << "ratio " << ratio;
}

INSTANTIATE_TEST_SUITE_P(
    Sites, GeometryConditionTest,
    ::testing::Values(
        GeometryCase{"TwoKilometreSiteWithCentimetreNoise",
                     WithNoise(Site(16, 2000.0, 3), kCentimetre), true},
        GeometryCase{"ThreePointsOfATriangle",
                     {{440000, 4290000, 1300},
                      {441000, 4290000, 1310},
                      {440000, 4291000, 1290}},
                     true},
        GeometryCase{"FlatSiteAtOneHeight",
                     {{440000, 4290000, 1300},
                      {442000, 4290000, 1300},
                      {440000, 4292000, 1300},
                      {442000, 4292000, 1300}},
                     true},
        GeometryCase{"ExactlyCollinear", OnALine(10, 2000.0, 0.0, 4), false},
        GeometryCase{"CollinearWithinATenthOfAMillimetre",
                     OnALine(10, 2000.0, 1e-4, 5), false},
        GeometryCase{"CollinearThreePoints", OnALine(3, 500.0, 0.0, 6), false},
        GeometryCase{"AllPointsCoincide",
                     {{440000, 4290000, 1300},
                      {440000, 4290000, 1300},
                      {440000, 4290000, 1300}},
                     false},
        GeometryCase{"LineWithCentimetreScatterStillDetermined",
                     OnALine(10, 2000.0, kCentimetre, 7), true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The fit ---------------------------------------------------------------

class EstimateParametersTest : public ::testing::Test {
 protected:
  TransformParameters Fit(
      const std::vector<Point3>& source, const std::vector<Point3>& destination,
      const ceres::Solver::Options& options = FitOptions()) {
    const FitOutcome fit = EstimateParameters(source, destination, options);
    replacement_matters_ = fit.replacement_matters;
    return fit.parameters;
  }
  bool replacement_matters_ = false;
};

TEST_F(EstimateParametersTest, RecoversAnExactSimilarity) {
  const TransformParameters truth = kSurveyParameters;
  const std::vector<Point3> source = Site(16, 30000.0, 8);
  const TransformParameters fitted =
      Fit(source, Transformed(source, truth, 0.0, 0));
  EXPECT_NEAR(fitted.T_x, truth.T_x, kMicrometre);
  EXPECT_NEAR(fitted.T_y, truth.T_y, kMicrometre);
  EXPECT_NEAR(fitted.T_z, truth.T_z, kMicrometre);
  EXPECT_NEAR(fitted.R_x, truth.R_x, kPicoradian);
  EXPECT_NEAR(fitted.R_y, truth.R_y, kPicoradian);
  EXPECT_NEAR(fitted.R_z, truth.R_z, kPicoradian);
  EXPECT_NEAR(fitted.Scale, truth.Scale, kScaleRounding);
  EXPECT_FALSE(replacement_matters_);
}

// The tool's problem (arrays it owns) and the straightforward one (a cost
// function each, owned by the problem) are one problem: the solver takes
// the same steps to the same bits, which the solver baseline's comparison
// relies on.
TEST_F(EstimateParametersTest, ArraysGiveTheStraightforwardProblemsSolution) {
  const std::vector<Point3> source = Site(40, 30000.0, 9);
  const CentredPairs centred = CentrePairs(MakePointPairs(
      source, Transformed(source, kSurveyParameters, 0.02, 10)));
  TransformParameters owned = StartingParameters(centred.pairs);
  TransformParameters arrays = owned;
  ceres::Problem problem;
  BuildFitProblem(centred.pairs, &owned, &problem);
  ceres::Solver::Summary owned_summary;
  ceres::Solve(FitOptions(), &problem, &owned_summary);
  ceres::Solver::Summary arrays_summary;
  {
    FitProblem fit(centred.pairs, &arrays);
    EXPECT_EQ(fit.problem().NumResidualBlocks(), 40);
    ceres::Solve(FitOptions(), &fit.problem(), &arrays_summary);
  }
  EXPECT_EQ(arrays_summary.iterations.size(), owned_summary.iterations.size());
  EXPECT_EQ(arrays_summary.final_cost, owned_summary.final_cost);
  EXPECT_EQ(arrays.T_x, owned.T_x);
  EXPECT_EQ(arrays.T_y, owned.T_y);
  EXPECT_EQ(arrays.T_z, owned.T_z);
  EXPECT_EQ(arrays.R_x, owned.R_x);
  EXPECT_EQ(arrays.R_y, owned.R_y);
  EXPECT_EQ(arrays.R_z, owned.R_z);
  EXPECT_EQ(arrays.Scale, owned.Scale);
}

TEST_F(EstimateParametersTest, ShiftOnlyKeepsRotationsAndScale) {
  const TransformParameters shift{12.5, -7.25, 3.0, 0.0, 0.0, 0.0, 1.0};
  const std::vector<Point3> source = Site(10, 5000.0, 9);
  const TransformParameters fitted =
      Fit(source, Transformed(source, shift, 0.0, 0));
  EXPECT_NEAR(fitted.T_x, 12.5, kMicrometre);
  EXPECT_NEAR(fitted.T_y, -7.25, kMicrometre);
  EXPECT_NEAR(fitted.T_z, 3.0, kMicrometre);
  EXPECT_NEAR(fitted.R_x, 0.0, kPicoradian);
  EXPECT_NEAR(fitted.R_y, 0.0, kPicoradian);
  EXPECT_NEAR(fitted.R_z, 0.0, kPicoradian);
  EXPECT_NEAR(fitted.Scale, 1.0, kScaleRounding);
}

// A solver stopped before its first step leaves its starting values, short
// of the minimum by far more than a user can ignore: the closed form
// replaces them, with one warning line.
TEST_F(EstimateParametersTest, ClosedFormReplacesASolverStoppedShort) {
  const std::vector<Point3> source = Site(8, 2000.0, 13);
  const std::vector<Point3> destination =
      Transformed(source, kSurveyParameters, 0.01, 14);
  ceres::Solver::Options no_step = FitOptions();
  no_step.max_num_iterations = 0;
  const FitOutcome fit = EstimateParameters(source, destination, no_step);
  EXPECT_TRUE(fit.exact_minimum_used);
  EXPECT_TRUE(fit.replacement_matters);
  // The parameters are those of a full fit.
  const TransformParameters full =
      EstimateParameters(source, destination).parameters;
  EXPECT_NEAR(fit.parameters.T_z, full.T_z, kMicrometre);
  EXPECT_NEAR(fit.parameters.R_x, full.R_x, kPicoradian);
  EXPECT_NEAR(fit.parameters.Scale, full.Scale, kScaleRounding);
}

// After one step the solver is within a hundredth of a millimetre: the
// closed form still replaces its values, but silently. Regression: every
// clean set of a high-latitude and of a site grid warned.
TEST_F(EstimateParametersTest, ANegligibleReplacementIsSilent) {
  const std::vector<Point3> source = Site(8, 2000.0, 13);
  const std::vector<Point3> destination =
      Transformed(source, kSurveyParameters, 0.01, 14);
  ceres::Solver::Options one_step = FitOptions();
  one_step.max_num_iterations = 1;
  const FitOutcome fit = EstimateParameters(source, destination, one_step);
  EXPECT_TRUE(fit.exact_minimum_used);
  EXPECT_LE(fit.largest_residual_change, kWarnResidualMetres);
  EXPECT_FALSE(fit.replacement_matters);
}

TEST_F(EstimateParametersTest, RefusesASolutionWithANonPositiveScale) {
  // Destinations that are the sources turned inside out: the best scale is
  // negative, which no similarity of surveying frames has.
  const std::vector<Point3> source = Site(8, 2000.0, 12);
  std::vector<Point3> mirrored;
  for (const Point3& p : source) {
    mirrored.push_back({2 * 440000.0 - p.x, 2 * 4290000.0 - p.y, 2600 - p.z});
  }
  try {
    Fit(source, mirrored);
    FAIL() << "accepted a negative scale";
  } catch (const ImplausibleFit& error) {
    EXPECT_NE(std::string(error.what()).find("scale"), std::string::npos)
        << error.what();
    EXPECT_LT(error.parameters().Scale, 0.0);
  }
}

// --- The fit without one point ----------------------------------------

// The O(n) downdate of the normal equations gives what a fit of the other
// points gives, and picks the point that was moved.
TEST(BestFitWithoutOnePoint, IsTheFitOfTheOtherPoints) {
  const std::vector<Point3> source = Site(12, 20000.0, 21);
  std::vector<Point3> destination =
      Transformed(source, kSurveyParameters, 0.01, 22);
  constexpr std::size_t kMoved = 7;
  destination[kMoved].y += 6000.0;  // a digit slip in the northing
  const std::optional<FitWithoutOnePoint> without =
      BestFitWithoutOnePoint(source, destination);
  ASSERT_TRUE(without.has_value());
  EXPECT_EQ(without->index, kMoved);

  std::vector<Point3> others_source = source;
  std::vector<Point3> others_destination = destination;
  others_source.erase(others_source.begin() + kMoved);
  others_destination.erase(others_destination.begin() + kMoved);
  const ClosedFormFit refit =
      ClosedFormMinimum(others_source, others_destination);
  const TransformParameters& a = without->parameters;
  const TransformParameters& b = refit.parameters;
  EXPECT_NEAR(a.T_x, b.T_x, kMillimetre);
  EXPECT_NEAR(a.T_y, b.T_y, kMillimetre);
  EXPECT_NEAR(a.T_z, b.T_z, kMillimetre);
  EXPECT_NEAR(a.R_x, b.R_x, kNanoradian);
  EXPECT_NEAR(a.R_y, b.R_y, kNanoradian);
  EXPECT_NEAR(a.R_z, b.R_z, kNanoradian);
  EXPECT_NEAR(a.Scale, b.Scale, kNanoradian);
  // The downdate subtracts the moved point's 3.6e7 m^2 from the total:
  // what is left is exact to the rounding of that total, 1e-6 m^2 here.
  EXPECT_NEAR(without->sum_of_squares, refit.sum_of_squares, 1e-6);
  // Where the others put the moved point: 6 km south of where it stands.
  EXPECT_NEAR(without->predicted.y, destination[kMoved].y - 6000.0, 0.05);
}

TEST(BestFitWithoutOnePoint, NeedsFourPoints) {
  const std::vector<Point3> source = Site(3, 2000.0, 23);
  EXPECT_FALSE(
      BestFitWithoutOnePoint(source, Transformed(source, kSurveyParameters,
                                                 0.01, 24))
          .has_value());
}

}  // namespace
}  // namespace helmert
