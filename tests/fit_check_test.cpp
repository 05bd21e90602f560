// The fit check report: its lines and the stream format it leaves behind.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/ConsoleLabels.hpp"
#include "app/FitCheck.hpp"
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

}  // namespace
}  // namespace helmert
