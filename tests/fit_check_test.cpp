// The fit check report: its lines and the stream format it leaves behind.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/ConsoleLabels.hpp"
#include "TestSupport.hpp"
#include "app/FitCheck.hpp"
#include "app/Run.hpp"
#include "estimation/Estimation.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {
namespace {

const std::string kHorizontal = kHorizontalLabel;
const std::string kVertical = kVerticalLabel;
const std::string kGeodetic = kGeodeticLabel;

class PrintFitCheckTest : public ::testing::Test {
 protected:
  // One control point on the central meridian 117 at 30N, height 45 m; the
  // destination is the projected point shifted by (4, 5, 3), and shift_
  // takes the projected point (1, 2, 3) along: (3, 3, 0) short of it.
  PrintFitCheckTest() {
    const PlanePair plane =
        GaussKrugerForward({117.0, 30.0}, 117.0, kFalseEasting, kFalseNorthing,
                           kWgs84SemiMajorAxis, kWgs84Flattening);
    source_ = {{117.0, 30.0, 45.0}};
    projected_ = {{plane.easting, plane.northing, 45.0}};
    destination_ = {{plane.easting + 4.0, plane.northing + 5.0, 48.0}};
  }
  std::vector<GeodeticPoint> source_;
  std::vector<Point3> projected_, destination_;
  const TransformParameters shift_{1.0, 2.0, 3.0, 0.0, 0.0, 0.0, 1.0};
  std::ostringstream out_;
};

TEST_F(PrintFitCheckTest, PlaneLineInDefaultFormatThenGeodeticInFixed) {
  PrintFitCheck(shift_, 117.0, source_, projected_, destination_, out_);
  std::istringstream lines(out_.str());
  std::string plane, geodetic, rest;
  ASSERT_TRUE(std::getline(lines, plane));
  ASSERT_TRUE(std::getline(lines, geodetic));
  EXPECT_FALSE(std::getline(lines, rest));
  // Misfit (3, 3) in the plane, 0 in height: h = sqrt(18).
  EXPECT_EQ(plane, kHorizontal + "4.24264\t" + kVertical + "0");
  // The mapped-back point lies (3, 3) m off the source point.
  EXPECT_EQ(geodetic.rfind(kGeodetic, 0), 0u);
  EXPECT_NE(geodetic.find(" 0.0000000000\t"), std::string::npos) << geodetic;
  EXPECT_NE(geodetic.find("-->117.0000000000 "), std::string::npos);
  EXPECT_NE(geodetic.find("-->30.0000000000 "), std::string::npos);
  EXPECT_NE(geodetic.find("45.0000000000-->45.0000000000"), std::string::npos);
}

TEST_F(PrintFitCheckTest, PerfectFitPrintsTheSourceValuesBack) {
  const TransformParameters exact{4.0, 5.0, 3.0, 0.0, 0.0, 0.0, 1.0};
  PrintFitCheck(exact, 117.0, source_, projected_, destination_, out_);
  const std::string text = out_.str();
  EXPECT_NE(text.find(kHorizontal + "0\t" + kVertical + "0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\t117.0000000000-->117.0000000000 "), std::string::npos)
      << text;
}

TEST_F(PrintFitCheckTest, NoPointsPrintNothing) {
  PrintFitCheck(shift_, 117.0, {}, {}, {}, out_);
  EXPECT_EQ(out_.str(), "");
}

// Each geodetic difference is back minus source: a grid point 10 m east,
// 20 m north and 3 m above the projected source point comes back east,
// north and higher, and its three differences are positive.
TEST_F(PrintFitCheckTest, GeodeticDifferencesAreBackMinusSource) {
  const TransformParameters identity;
  const std::vector<Point3> moved = {{projected_[0].x + 10.0,
                                      projected_[0].y + 20.0,
                                      projected_[0].z + 3.0}};
  PrintGeodeticResiduals(identity, 117.0, source_, moved, out_);
  std::istringstream line(out_.str().substr(kGeodetic.size()));
  double longitude = 0.0, latitude = 0.0, height = 0.0;
  ASSERT_TRUE(line >> longitude >> latitude >> height) << out_.str();
  EXPECT_GT(longitude, 0.0);
  EXPECT_GT(latitude, 0.0);
  EXPECT_NEAR(height, 3.0, 1e-9);
  // 20 m of northing at 30 degrees is about 0.00018 degrees of latitude.
  EXPECT_NEAR(latitude, 20.0 / 110852.0, 2e-6);
}

// The fit's report: the solver's own, one "\n", the label and the seven
// lines; and the one warning line when the closed form's replacement
// matters to a user.
TEST(ReportFit, PrintsReportThenOneNewlineThenTheParameters) {
  const std::vector<Point3> source = testing::Site(8, 2000.0, 10);
  const FitOutcome fit = EstimateParameters(
      source, testing::Transformed(source, testing::kSurveyParameters, 0.01, 11));
  std::ostringstream out;
  std::ostringstream warnings;
  ReportFit(fit, out, warnings);
  EXPECT_EQ(warnings.str(), "");
  const std::string text = out.str();
  const std::string label =
      "\xB9\xC0\xBC\xC6\xB5\xC4\xB2\xCE\xCA\xFD\xA3\xBA\n";
  const std::size_t block = text.find(label);
  ASSERT_NE(block, std::string::npos);
  ASSERT_NE(text.find("Solver Summary"), std::string::npos);
  const std::size_t termination = text.rfind("Termination:", block);
  ASSERT_NE(termination, std::string::npos);
  // The report's own last line ends, then the run's one "\n".
  EXPECT_EQ(text.find('\n', termination) + 2, block);
  EXPECT_EQ(text.substr(block - 2, 2), "\n\n");

  std::istringstream lines(text.substr(block + label.size()));
  const char* names[] = {
      "T_x = ", "T_y = ", "T_z = ", "R_x = ", "R_y = ", "R_z = ", "Scale = "};
  std::string line;
  for (const char* name : names) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line.rfind(name, 0), 0u) << line;
  }
  EXPECT_FALSE(std::getline(lines, line)) << "nothing after Scale";
}

TEST(ReportFit, WarnsInOneLineWhenTheReplacementMatters) {
  const std::vector<Point3> source = testing::Site(8, 2000.0, 13);
  ceres::Solver::Options no_step = FitOptions();
  no_step.max_num_iterations = 0;
  const FitOutcome fit = EstimateParameters(
      source, testing::Transformed(source, testing::kSurveyParameters, 0.01, 14),
      no_step);
  std::ostringstream out;
  std::ostringstream warnings;
  ReportFit(fit, out, warnings);
  EXPECT_EQ(warnings.str().rfind("warning: the solver stopped short ", 0), 0u)
      << warnings.str();
  EXPECT_EQ(warnings.str().find('\n'), warnings.str().size() - 1);
}

// A solver whose printed parameter line would read otherwise than the
// minimum's is replaced by it, silently, whatever the fit's own rule said.
TEST(WithConsoleRule, TakesTheMinimumWhenAPrintedLineWouldDiffer) {
  FitOutcome fit;
  fit.usable = true;
  fit.parameters = testing::kSurveyParameters;
  fit.minimum = testing::kSurveyParameters;
  EXPECT_FALSE(WithConsoleRule(fit).exact_minimum_used);
  fit.minimum.Scale += 1e-5;  // 0.999991 would print 1.00000
  const FitOutcome chosen = WithConsoleRule(fit);
  EXPECT_TRUE(chosen.exact_minimum_used);
  EXPECT_EQ(chosen.parameters.Scale, fit.minimum.Scale);
  EXPECT_FALSE(chosen.replacement_matters);
}

}  // namespace
}  // namespace helmert
