// The fixtures of tests/data whose similarities are known: a fit of each
// gives its parameters back, so that a golden file rewritten by mistake
// cannot hide a fit that has gone wrong.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FixtureTruth.hpp"
#include "TestSupport.hpp"
#include "estimation/Estimation.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"

namespace helmert {
namespace {

struct TruthCase {
  const char* name;
  const char* document;
  TransformParameters truth;
  int left_out_point;  // -1: fit every point
  // Tolerances: translation (metres), rotations (radians), scale (factor).
  // The rotations act about the zone's origin, some 4e6 m from the points,
  // so a rotation error e moves the translation by about 4e6 * e.
  double translation;
  double rotation;
  double scale;
};
void PrintTo(const TruthCase& c, std::ostream* os) { *os << c.name; }

class FixtureTruthTest : public ::testing::TestWithParam<TruthCase> {};

TEST_P(FixtureTruthTest, FitGivesTheGeneratingParametersBack) {
  const TruthCase& c = GetParam();
  const std::string path = std::string(HELMERT_TEST_DATA) + "/" + c.document;
  ControlPoints points =
      ParseControlPointDocument(testing::ReadFile(path), path);
  if (c.left_out_point >= 0) {
    points.source.erase(points.source.begin() + c.left_out_point);
    points.destination.erase(points.destination.begin() + c.left_out_point);
  }
  const std::vector<Point3> projected =
      ProjectToZone(points.source, SelectCentralMeridian(points.source));
  const FitOutcome fit = EstimateParameters(projected, points.destination);
  ASSERT_TRUE(fit.usable) << fit.message;
  const TransformParameters& p = fit.parameters;
  EXPECT_NEAR(p.T_x, c.truth.T_x, c.translation);
  EXPECT_NEAR(p.T_y, c.truth.T_y, c.translation);
  EXPECT_NEAR(p.T_z, c.truth.T_z, c.translation);
  EXPECT_NEAR(p.R_x, c.truth.R_x, c.rotation);
  EXPECT_NEAR(p.R_y, c.truth.R_y, c.rotation);
  EXPECT_NEAR(p.R_z, c.truth.R_z, c.rotation);
  EXPECT_NEAR(p.Scale, c.truth.Scale, c.scale);
}

// Three to five times the errors seen. Destinations written with 17 digits:
// rounding level. Rounded to the millimetre over a 20 km site: 4e-8 rad and
// 0.15 m of translation through the rotations' lever arm. Noise within 5 mm
// over a 16 km site, the blunder left out: 1e-7 rad and 0.3 m.
INSTANTIATE_TEST_SUITE_P(
    Fixtures, FixtureTruthTest,
    ::testing::Values(
        TruthCase{"ExactSimilarityHefei", "similarity-hefei.json",
                  testing::kHefeiTruth, -1, 1e-6, 1e-13, 1e-13},
        TruthCase{"MillimetreRoundedSantiago", "santiago-west.json",
                  testing::kSantiagoTruth, -1, 0.5, 2e-7, 2e-8},
        TruthCase{"NoisyZhengzhouWithoutItsBlunder", "blunder-zhengzhou.json",
                  testing::kZhengzhouTruth, testing::kZhengzhouBlunderPoint,
                  1.0, 5e-7, 1e-7}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace helmert
