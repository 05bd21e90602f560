// The control-point document: every accepted form gives the same points, and
// every rejected form is refused with a message naming what is wrong.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "common/Error.hpp"
#include "io/ControlPointDocument.hpp"

namespace helmert {
namespace {

const std::string kWorkedExample = R"({
  "define": {
    "srcpoints": [116.391, 39.907, 52.3,
                  116.402, 39.915, 48.9],
    "despoints": [448050.37, 4418650.12, 45.10,
                  449000.64, 4419540.88, 41.72]
  }
})";

std::string WithCrLf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void ExpectPoint(const Point3& point, double x, double y, double z) {
  EXPECT_EQ(point.x, x);
  EXPECT_EQ(point.y, y);
  EXPECT_EQ(point.z, z);
}

void ExpectPoint(const GeodeticPoint& point, double longitude, double latitude,
                 double height) {
  EXPECT_EQ(point.longitude_degrees, longitude);
  EXPECT_EQ(point.latitude_degrees, latitude);
  EXPECT_EQ(point.height_metres, height);
}

struct AcceptedCase {
  const char* name;
  std::string text;
};
void PrintTo(const AcceptedCase& c, std::ostream* os) { *os << c.name; }

class AcceptedDocumentTest : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedDocumentTest, GivesTheWorkedExamplePoints) {
  const ControlPoints points =
      ParseControlPointDocument(GetParam().text, "doc.json");
  ASSERT_EQ(points.source.size(), 2u);
  ASSERT_EQ(points.destination.size(), 2u);
  ExpectPoint(points.source[0], 116.391, 39.907, 52.3);
  ExpectPoint(points.source[1], 116.402, 39.915, 48.9);
  ExpectPoint(points.destination[0], 448050.37, 4418650.12, 45.1);
  ExpectPoint(points.destination[1], 449000.64, 4419540.88, 41.72);
}

const char kOtherDefine[] =
    R"("define": {"srcpoints": [1, 2, 3], "despoints": [4, 5, 6]})";

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedDocumentTest,
    ::testing::Values(
        AcceptedCase{"AsWritten", kWorkedExample},
        AcceptedCase{"AfterAByteOrderMark", "\xEF\xBB\xBF" + kWorkedExample},
        AcceptedCase{"WithWindowsLineEnds", WithCrLf(kWorkedExample)},
        AcceptedCase{"WithWhitespaceAfterTheRoot",
                     kWorkedExample + " \r\n\t \n"},
        AcceptedCase{"WithExtraMembersEverywhere",
                     R"({"name": "site", "define": {"unit": "m",
                       "srcpoints": [116.391, 39.907, 52.3,
                                     116.402, 39.915, 48.9],
                       "notes": [null, {"a": 1}],
                       "despoints": [448050.37, 4418650.12, 45.10,
                                     449000.64, 4419540.88, 41.72]},
                       "version": 2})"},
        AcceptedCase{"WithMembersInAnotherOrder",
                     R"({"define": {"despoints": [448050.37, 4418650.12, 45.10,
                                     449000.64, 4419540.88, 41.72],
                       "srcpoints": [116.391, 39.907, 52.3,
                                     116.402, 39.915, 48.9]}})"},
        AcceptedCase{"WithADuplicateDefineOfWhichTheFirstCounts",
                     kWorkedExample.substr(0, kWorkedExample.size() - 1) +
                         ", " + kOtherDefine + "}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ControlPointDocument, IntegersBecomeDoubles) {
  const ControlPoints points = ParseControlPointDocument(
      R"({"define": {"srcpoints": [117, 40, 0], "despoints": [500000, 4400000, -12]}})",
      "doc.json");
  ASSERT_EQ(points.source.size(), 1u);
  ExpectPoint(points.source[0], 117.0, 40.0, 0.0);
  ExpectPoint(points.destination[0], 500000.0, 4400000.0, -12.0);
}

struct RejectedCase {
  const char* name;
  std::string text;
  std::string message;  // the whole expected message
};
void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

class RejectedDocumentTest : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedDocumentTest, IsRefusedWithItsMessage) {
  try {
    ParseControlPointDocument(GetParam().text, "doc.json");
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

std::string Define(const std::string& inner) {
  return R"({"define": {)" + inner + "}}";
}

const char kThreeNumbers[] = "[1, 2, 3]";

INSTANTIATE_TEST_SUITE_P(
    Forms, RejectedDocumentTest,
    ::testing::Values(
        RejectedCase{"Empty", "",
                     "doc.json: invalid JSON at byte offset 0: The document "
                     "is empty."},
        RejectedCase{"WhitespaceOnly", " \r\n\t",
                     "doc.json: invalid JSON at byte offset 4: The document "
                     "is empty."},
        RejectedCase{"TrailingText", "{} {}",
                     "doc.json: invalid JSON at byte offset 3: The document "
                     "root must not be followed by other values."},
        RejectedCase{"TrailingComma", R"({"define": {},})",
                     "doc.json: invalid JSON at byte offset 14: Missing a "
                     "name for object member."},
        RejectedCase{"Comment", "// points\n{}",
                     "doc.json: invalid JSON at byte offset 0: Invalid "
                     "value."},
        RejectedCase{"NotANumberLiteral", Define(R"("srcpoints": [NaN])"),
                     "doc.json: invalid JSON at byte offset 26: Invalid "
                     "value."},
        RejectedCase{"NumberBeyondTheLargestDouble",
                     Define(R"("srcpoints": [1e400])"),
                     "doc.json: invalid JSON at byte offset 26: Number too "
                     "big to be stored in double."},
        RejectedCase{"RootIsAnArray", "[1, 2, 3]",
                     "doc.json: the document is not a JSON object"},
        RejectedCase{"NoDefine", R"({"srcpoints": [1, 2, 3]})",
                     "doc.json: the document has no member \"define\""},
        RejectedCase{"DefineIsAnArray", R"({"define": [1, 2, 3]})",
                     "doc.json: \"define\" is not an object"},
        RejectedCase{"DefineIsMisspelt", R"({"Define": {}})",
                     "doc.json: the document has no member \"define\""},
        RejectedCase{"NoSourcePoints",
                     Define(std::string(R"("despoints": )") + kThreeNumbers),
                     "doc.json: \"define\" has no member \"srcpoints\""},
        RejectedCase{"NoDestinationPoints",
                     Define(std::string(R"("srcpoints": )") + kThreeNumbers),
                     "doc.json: \"define\" has no member \"despoints\""},
        RejectedCase{"SourcePointsAreAString",
                     Define(R"("srcpoints": "1 2 3", "despoints": [1, 2, 3])"),
                     "doc.json: \"define\".\"srcpoints\" is not an array"},
        RejectedCase{"DestinationPointsAreAnObject",
                     Define(R"("srcpoints": [1, 2, 3], "despoints": {})"),
                     "doc.json: \"define\".\"despoints\" is not an array"},
        RejectedCase{"SourcePointsAreEmpty",
                     Define(R"("srcpoints": [], "despoints": [1, 2, 3])"),
                     "doc.json: \"define\".\"srcpoints\" is empty"},
        RejectedCase{
            "ElementIsAString",
            Define(R"("srcpoints": [1, "2", 3], "despoints": [1, 2, 3])"),
            "doc.json: \"define\".\"srcpoints\" element 2 (point 1, "
            "latitude) is not a number"},
        RejectedCase{
            "ElementIsNull",
            Define(R"("srcpoints": [1, 2, 3], "despoints": [1, 2, null])"),
            "doc.json: \"define\".\"despoints\" element 3 (point 1, "
            "height) is not a number"},
        RejectedCase{
            "NestedTriples",
            Define(R"("srcpoints": [[1, 2, 3]], "despoints": [1, 2, 3])"),
            "doc.json: \"define\".\"srcpoints\" element 1 (point 1, "
            "longitude) is not a number"},
        RejectedCase{
            "CentralMeridianNotANumber",
            Define(R"("srcpoints": [1, 2, 3], "despoints": [1, 2, 3],
                      "central_meridian": "114")"),
            "doc.json: \"define\".\"central_meridian\" is not a number"},
        RejectedCase{
            "ScaleFactorNotANumber",
            Define(R"("srcpoints": [1, 2, 3], "despoints": [1, 2, 3],
                      "scale_factor": null)"),
            "doc.json: \"define\".\"scale_factor\" is not a number"},
        RejectedCase{
            "IncompleteTriple",
            Define(R"("srcpoints": [1, 2, 3, 4], "despoints": [1, 2, 3])"),
            "doc.json: \"define\".\"srcpoints\" holds 4 numbers, not "
            "a whole number of (x, y, z) triples"},
        RejectedCase{
            "ListsOfDifferentLengths",
            Define(
                R"("srcpoints": [1, 2, 3, 4, 5, 6], "despoints": [1, 2, 3])"),
            "doc.json: \"srcpoints\" holds 2 points but "
            "\"despoints\" holds 1"}),
    [](const auto& info) { return std::string(info.param.name); });

struct InvalidPointsCase {
  const char* name;
  std::vector<GeodeticPoint> source;
  std::string message;
};
void PrintTo(const InvalidPointsCase& c, std::ostream* os) { *os << c.name; }

class ValidateControlPointsTest
    : public ::testing::TestWithParam<InvalidPointsCase> {};

TEST(ValidateControlPoints, RefusesACentralMeridianBeyond180) {
  ControlPoints points;
  points.source = {{110, 38, 0}, {110.1, 38, 0}, {110, 38.1, 0}};
  points.destination.resize(3);
  points.central_meridian_degrees = 180.5;
  try {
    ValidateControlPoints(points, "doc.json");
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              "doc.json: \"define\".\"central_meridian\" 180.5 is outside "
              "[-180, 180] degrees");
  }
}

// A scale factor far from 1 is no grid's: 0.9996 written 9996 or 0.09996.
TEST(ValidateControlPoints, RefusesAScaleFactorBeyondAGrids) {
  ControlPoints points;
  points.source = {{110, 38, 0}, {110.1, 38, 0}, {110, 38.1, 0}};
  points.destination.resize(3);
  for (const double factor : {0.99, 1.01, 0.9996}) {
    points.scale_factor = factor;
    EXPECT_NO_THROW(ValidateControlPoints(points, "doc.json")) << factor;
  }
  for (const double factor : {0.09996, 9996.0, 0.98999, double(NAN)}) {
    points.scale_factor = factor;
    EXPECT_THROW(ValidateControlPoints(points, "doc.json"), Error) << factor;
  }
  points.scale_factor = 9996.0;
  try {
    ValidateControlPoints(points, "doc.json");
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              "doc.json: \"define\".\"scale_factor\" 9996 is outside "
              "[0.99, 1.01] (a grid's scale factor on its central meridian, "
              "such as UTM's 0.9996)");
  }
}

TEST_P(ValidateControlPointsTest, IsRefusedWithItsMessage) {
  ControlPoints points;
  points.source = GetParam().source;
  points.destination.resize(points.source.size());
  try {
    ValidateControlPoints(points, "doc.json");
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Points, ValidateControlPointsTest,
    ::testing::Values(
        InvalidPointsCase{"TwoPoints",
                          {{110, 38, 0}, {110.1, 38, 0}},
                          "doc.json: 2 control point(s); the seven "
                          "parameters need at least 3"},
        InvalidPointsCase{"LongitudeBeyond180",
                          {{110, 38, 0}, {180.5, 38, 0}, {110, 38.1, 0}},
                          "doc.json: \"srcpoints\" point 2: longitude 180.5 "
                          "is outside [-180, 180]"},
        InvalidPointsCase{"HugeLongitude",
                          {{1e300, 38, 0}, {110, 38, 0}, {110, 38.1, 0}},
                          "doc.json: \"srcpoints\" point 1: longitude 1e+300 "
                          "is outside [-180, 180]"},
        InvalidPointsCase{"NorthPole",
                          {{110, 38, 0}, {110, 38.1, 0}, {110, 90, 0}},
                          "doc.json: \"srcpoints\" point 3: latitude 90 is "
                          "not strictly between -90 and 90"},
        InvalidPointsCase{"BeyondTheSouthPole",
                          {{110, -91, 0}, {110, 38.1, 0}, {110, 38, 0}},
                          "doc.json: \"srcpoints\" point 1: latitude -91 is "
                          "not strictly between -90 and 90"},
        // The pair the wrong way round: the message says which comes first.
        InvalidPointsCase{"LatitudeFirst",
                          {{38, 110, 0}, {38.1, 110, 0}, {38, 110.1, 0}},
                          "doc.json: \"srcpoints\" point 1: latitude 110 is "
                          "not strictly between -90 and 90; \"srcpoints\" "
                          "takes the longitude first, then the latitude"},
        // Earth-centred coordinates of Beijing instead of degrees.
        InvalidPointsCase{"GeocentricCoordinates",
                          {{-2148744.3, 4426641.2, 4044655.9},
                           {110, 38, 0},
                           {110, 38.1, 0}},
                          "doc.json: \"srcpoints\" point 1 (-2148744.3, "
                          "4426641.2, 4044655.9) looks like geocentric X, Y, "
                          "Z (its length is 6370 km, the Earth's radius): "
                          "give longitude and latitude in degrees and the "
                          "ellipsoidal height (cct +proj=cart +ellps=WGS84 "
                          "+inv converts them)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValidateControlPoints, AcceptsTheEdgesOfTheRange) {
  ControlPoints points;
  points.source = {{-180, -89.999, 0}, {180, 89.999, 0}, {0, 0, 0}};
  points.destination.resize(3);
  EXPECT_NO_THROW(ValidateControlPoints(points, "doc.json"));
}

// Regression: the recursive parser overflowed the stack on a few megabytes
// of brackets and crashed the tool.
TEST(ControlPointDocument, DeepNestingIsRefusedWithoutCrashing) {
  constexpr std::size_t kDepth = 4000000;
  const std::string unclosed(kDepth, '[');
  EXPECT_THROW(ParseControlPointDocument(unclosed, "doc.json"), Error);
  const std::string closed = R"({"define": )" + std::string(kDepth, '[') +
                             std::string(kDepth, ']') + "}";
  try {
    ParseControlPointDocument(closed, "doc.json");
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              "doc.json: \"define\" is not an object");
  }
}

class ReadTextFileTest : public ::testing::Test {
 protected:
  testing::TemporaryDirectory directory_;
};

TEST_F(ReadTextFileTest, ReturnsEveryByte) {
  const std::string content("\xEF\xBB\xBF{}\r\n\0x", 8);
  testing::WriteFile(directory_.Path("a.json"), content);
  EXPECT_EQ(ReadTextFile(directory_.Path("a.json")), content);
}

TEST_F(ReadTextFileTest, ReadsAnEmptyFile) {
  testing::WriteFile(directory_.Path("empty.json"), "");
  EXPECT_EQ(ReadTextFile(directory_.Path("empty.json")), "");
}

TEST_F(ReadTextFileTest, RefusesAMissingFileOrADirectory) {
  for (const std::string& path :
       {directory_.Path("missing.json"), directory_.path()}) {
    try {
      ReadTextFile(path);
      FAIL() << path;
    } catch (const Error& error) {
      EXPECT_EQ(std::string(error.what()), "Error opening file: " + path);
    }
  }
}

}  // namespace
}  // namespace helmert
