// helmert-report in a surveyor's hands: named points, the drop-and-refit
// loop, GeoJSON for the GIS, a plot that stays light at any size, and the
// README's commands as written.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "UniformNoise.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ResultDocument.hpp"
#include "report/Report.hpp"

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ProgramOnPath;
using testing::ReadFile;
using testing::RunProgram;
using testing::TemporaryDirectory;
using testing::WriteFile;

const std::string kFit = HELMERT_FIT_EXECUTABLE;
const std::string kReport = HELMERT_REPORT_EXECUTABLE;
const std::string kData = HELMERT_TEST_DATA;
const std::string kNamed = kData + "/ordos-named.json";
const std::string kOrdosResult = kData + "/golden/ordos.result.json";

constexpr double kMillimetre = 1e-3;           // metres
constexpr double kMetresPerDegree = 111320.0;  // on the equator

class SurveyorTest : public ::testing::Test {
 protected:
  TemporaryDirectory directory_;
};

struct NamesCase {
  const char* name;
  const char* names;  // the "names" member's value
  const char* message;
};
void PrintTo(const NamesCase& c, std::ostream* os) { *os << c.name; }

class BadNamesTest : public ::testing::TestWithParam<NamesCase> {
 protected:
  TemporaryDirectory directory_;
};

// helmert-report refuses names it cannot use; helmert-fit ignores them.
TEST_P(BadNamesTest, TheReportRefusesAndTheFitIgnores) {
  std::string text = ReadFile(kNamed);
  const std::size_t start = text.find("\"names\": [");
  const std::size_t end = text.find("],", start) + 1;
  text.replace(start, end - start,
               std::string("\"names\": ") + GetParam().names);
  const std::string control = directory_.Path("control.json");
  WriteFile(control, text);
  const ProcessResult report = RunProgram(kReport, {control, kOrdosResult});
  EXPECT_EQ(report.exit_status, 2);
  EXPECT_EQ(report.out, "");
  EXPECT_EQ(report.err,
            control + ": \"define\".\"names\"" + GetParam().message + "\n");
  EXPECT_EQ(RunProgram(kFit, {control, directory_.Path("r.json")}).exit_status,
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, BadNamesTest,
    ::testing::Values(
        NamesCase{"NotAnArray", "\"BM01\"", " is not an array"},
        NamesCase{"TooFew", "[\"A\", \"B\"]", " holds 2 names for 16 points"},
        NamesCase{"NotAString",
                  "[\"A\",2,\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\",\"J\","
                  "\"K\",\"L\",\"M\",\"N\",\"O\",\"P\"]",
                  ": name of point 2 is not a string"},
        NamesCase{"Twice",
                  "[\"A\",\"B\",\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\","
                  "\"J\",\"K\",\"L\",\"M\",\"N\",\"O\",\"A\"]",
                  " names \"A\" twice (points 1 and 16)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The loop the README shows: report, drop the flagged point, fit again,
// report again.
// Without names the kept points keep their numbers. Regression: after
// --without 2 the old point 3 became point 2 with no notice.
TEST_F(SurveyorTest, DroppingKeepsTheNumbersOfAnUnnamedDocument) {
  const std::string control = std::string(HELMERT_EXAMPLES) + "/ordos.json";
  const std::string smaller = directory_.Path("without.json");
  ASSERT_EQ(RunProgram(kReport, {control, kOrdosResult, "--without", "2",
                                 "--write-control", smaller})
                .exit_status,
            0);
  rapidjson::Document after;
  after.Parse(ReadFile(smaller).c_str());
  ASSERT_FALSE(after.HasParseError());
  const rapidjson::Value& names = after["define"]["names"];
  ASSERT_EQ(names.Size(), 15u);
  EXPECT_STREQ(names[0].GetString(), "1");
  EXPECT_STREQ(names[1].GetString(), "3");
  EXPECT_STREQ(names[14].GetString(), "16");
}

TEST_F(SurveyorTest, DropAndRefitInOneStep) {
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {kNamed, result}).exit_status, 0);
  const std::string smaller = directory_.Path("without.json");
  const ProcessResult report = RunProgram(
      kReport,
      {kNamed, result, "--without", "BM07,12", "--write-control", smaller});
  ASSERT_EQ(report.exit_status, 0) << report.err;
  EXPECT_NE(report.out.find("BM07"), std::string::npos);

  rapidjson::Document before;
  before.Parse(ReadFile(kNamed).c_str());
  rapidjson::Document after;
  after.Parse(ReadFile(smaller).c_str());
  ASSERT_FALSE(after.HasParseError());
  const rapidjson::Value& names = after["define"]["names"];
  ASSERT_EQ(names.Size(), 14u);
  ASSERT_EQ(after["define"]["srcpoints"].Size(), 42u);
  ASSERT_EQ(after["define"]["despoints"].Size(), 42u);
  // Names stay with their coordinates; every number is read back exactly.
  std::size_t kept = 0;
  for (rapidjson::SizeType i = 0; i < 16; ++i) {
    const std::string name = before["define"]["names"][i].GetString();
    if (name == "BM07" || name == "GPS12") continue;
    EXPECT_EQ(name, names[kept].GetString());
    for (const char* list : {"srcpoints", "despoints"}) {
      for (rapidjson::SizeType k = 0; k < 3; ++k) {
        EXPECT_EQ(after["define"][list][3 * kept + k].GetDouble(),
                  before["define"][list][3 * i + k].GetDouble());
      }
    }
    ++kept;
  }
  const std::string refit = directory_.Path("refit.json");
  ASSERT_EQ(RunProgram(kFit, {smaller, refit}).exit_status, 0);
  const ProcessResult again = RunProgram(kReport, {smaller, refit});
  ASSERT_EQ(again.exit_status, 0) << again.err;
  EXPECT_NE(again.out.find("(14 points)"), std::string::npos);
  EXPECT_EQ(again.out.find("BM07"), std::string::npos);
}

TEST_F(SurveyorTest, WithoutRefusesUnknownPointsAndTooFewLeft) {
  const std::string out = directory_.Path("new.json");
  const ProcessResult unknown = RunProgram(
      kReport,
      {kNamed, kOrdosResult, "--without", "BM99", "--write-control", out});
  EXPECT_EQ(unknown.exit_status, 2);
  EXPECT_EQ(unknown.err, kNamed + ": --without names no point \"BM99\"\n");
  const ProcessResult too_many = RunProgram(
      kReport, {kNamed, kOrdosResult, "--without",
                "1,2,3,4,5,6,7,8,9,10,11,12,13,14", "--write-control", out});
  EXPECT_EQ(too_many.exit_status, 2);
  EXPECT_EQ(too_many.err,
            kNamed + ": --without leaves 2 point(s); a fit needs at least 3\n");
  EXPECT_FALSE(std::filesystem::exists(out));
}

// RFC 7946: a FeatureCollection of Point features, longitude first, WGS84,
// with the residuals as properties. ogrinfo (GDAL) reads it where
// installed.
TEST_F(SurveyorTest, GeoJsonIsAFeatureCollectionOfThePoints) {
  const std::string geojson = directory_.Path("points.geojson");
  ASSERT_EQ(RunProgram(kReport, {kNamed, kOrdosResult, "--geojson", geojson})
                .exit_status,
            0);
  rapidjson::Document document;
  document.Parse(ReadFile(geojson).c_str());
  ASSERT_FALSE(document.HasParseError());
  EXPECT_STREQ(document["type"].GetString(), "FeatureCollection");
  const rapidjson::Value& features = document["features"];
  ASSERT_EQ(features.Size(), 16u);
  rapidjson::Document control;
  control.Parse(ReadFile(kNamed).c_str());
  for (rapidjson::SizeType i = 0; i < features.Size(); ++i) {
    const rapidjson::Value& feature = features[i];
    EXPECT_STREQ(feature["type"].GetString(), "Feature");
    EXPECT_STREQ(feature["geometry"]["type"].GetString(), "Point");
    const rapidjson::Value& xyz = feature["geometry"]["coordinates"];
    ASSERT_EQ(xyz.Size(), 3u);
    for (rapidjson::SizeType k = 0; k < 3; ++k) {
      EXPECT_EQ(xyz[k].GetDouble(),
                control["define"]["srcpoints"][3 * i + k].GetDouble());
    }
    const rapidjson::Value& properties = feature["properties"];
    EXPECT_STREQ(properties["name"].GetString(),
                 control["define"]["names"][i].GetString());
    for (const char* key :
         {"dE_m", "dN_m", "dH_m", "horizontal_m", "w_E", "w_N", "w_H"}) {
      EXPECT_TRUE(properties[key].IsNumber()) << key;
    }
    EXPECT_TRUE(properties["flagged"].IsBool());
  }
  if (ProgramOnPath("ogrinfo")) {
    const ProcessResult ogr = RunProgram("ogrinfo", {"-ro", "-so", geojson});
    EXPECT_EQ(ogr.exit_status, 0) << ogr.err;
    EXPECT_NE(ogr.out.find("Point"), std::string::npos) << ogr.out;
  }
}

// Regression: at 100 000 points the plot was 22.5 MB and unreadable.
TEST_F(SurveyorTest, APlotOfManyPointsStaysSmall) {
  // 100 000 points over 50 x 65 km, a similarity with centimetre noise.
  constexpr int kPoints = 100000;
  testing::UniformNoise uniform(42);
  std::vector<GeodeticPoint> source;
  for (int i = 0; i < kPoints; ++i) {
    source.push_back({110.4 + 0.3 * uniform(), 38.7 + 0.3 * uniform(),
                      1300.0 + 100.0 * uniform()});
  }
  std::string sources;
  std::string destinations;
  char number[96];
  const TransformParameters truth{-39.67, 81.06,  82.73,   -5.2e-6,
                                  6.7e-6, 4.9e-8, 0.999991};
  const std::vector<Point3> zone = ProjectToZone(source, 111.0);
  for (int i = 0; i < kPoints; ++i) {
    std::snprintf(number, sizeof number, "%s%.7f,%.7f,%.3f", i ? "," : "",
                  source[i].longitude_degrees, source[i].latitude_degrees,
                  source[i].height_metres);
    sources += number;
    const Point3 grid = ForwardTransform(truth, zone[i]);
    std::snprintf(number, sizeof number, "%s%.3f,%.3f,%.3f", i ? "," : "",
                  grid.x + 0.01 * uniform(), grid.y + 0.01 * uniform(),
                  grid.z + 0.01 * uniform());
    destinations += number;
  }
  const std::string document = directory_.Path("many.json");
  WriteFile(document, "{\"define\":{\"srcpoints\":[" + sources +
                          "],\"despoints\":[" + destinations + "]}}");
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {document, result}).exit_status, 0);
  const std::string svg = directory_.Path("plot.svg");
  ASSERT_EQ(RunProgram(kReport, {document, result, "--svg", svg}).exit_status,
            0);
  const std::string plot = ReadFile(svg);
  EXPECT_LT(plot.size(), 5u << 20);
  EXPECT_NE(plot.find("points drawn"), std::string::npos);
}

// The README's cct example runs as written and agrees with the tool's own
// reverse map and inverse projection.
// A grid whose central meridian the document names: the report describes
// a transverse Mercator zone at that meridian, reads the zone prefix off
// T_x, and the drop-and-refit loop keeps the meridian.
struct NamedMeridianCase {
  const char* name;
  const char* grid;      // under tests/data/grids
  const char* zone;      // the report's zone line after "  zone        "
  const char* prefix;    // its grid line, or "" for none
};
void PrintTo(const NamedMeridianCase& c, std::ostream* os) { *os << c.name; }

class NamedMeridianTest : public ::testing::TestWithParam<NamedMeridianCase> {
 protected:
  TemporaryDirectory directory_;
};

TEST_P(NamedMeridianTest, ReportDescribesTheZoneAndKeepsIt) {
  const NamedMeridianCase& c = GetParam();
  const std::string control = kData + "/grids/" + c.grid;
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {control, result}).exit_status, 0);
  const std::string json = directory_.Path("report.json");
  const std::string dropped = directory_.Path("without.json");
  const ProcessResult run = RunProgram(
      kReport, {control, result, "--json", json, "--without", "1",
                "--write-control", dropped});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find(std::string("\n  zone        ") + c.zone + "\n"),
            std::string::npos)
      << run.out;
  if (*c.prefix != '\0') {
    EXPECT_NE(run.out.find(std::string("\n  grid        ") + c.prefix + "\n"),
              std::string::npos)
        << run.out;
  }
  EXPECT_EQ(run.out.find("warning"), std::string::npos) << run.out;
  rapidjson::Document report;
  report.Parse(ReadFile(json).c_str());
  EXPECT_TRUE(report["transformation"]["zone"].IsNull());

  // The copy without point 1 still names the meridian: its fit has the
  // same first line.
  const ProcessResult refit =
      RunProgram(kFit, {dropped, directory_.Path("refit.json")});
  ASSERT_EQ(refit.exit_status, 0) << refit.err;
  EXPECT_EQ(refit.out.substr(0, refit.out.find('\n')),
            RunProgram(kFit, {control, result})
                .out.substr(0, refit.out.find('\n')));
}

INSTANTIATE_TEST_SUITE_P(
    Grids, NamedMeridianTest,
    ::testing::Values(
        NamedMeridianCase{
            "HongKong1980Grid", "hk1980-grid.json",
            "transverse Mercator zone at central meridian L0 = "
            "114.17855556°, scale 1 on it, false easting 500000 m, no zone "
            "prefix, WGS84",
            ""},
        NamedMeridianCase{
            "SixDegreeZone", "bj54-wuhan-6degree-zone20.json",
            "transverse Mercator zone at central meridian L0 = 117°, scale 1 "
            "on it, false easting 500000 m, no zone prefix, WGS84",
            "zone prefix 20 in the easting (6-degree zone 20)"},
        NamedMeridianCase{
            "ThreeDegreeZoneTheMeanDoesNotPick", "bj54-henan-zone38.json",
            "transverse Mercator zone at central meridian L0 = 114°, scale 1 "
            "on it, false easting 500000 m, no zone prefix, WGS84",
            "zone prefix 38 in the easting (3-degree zone 38)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GridZonePrefix, ReadsTheZoneNumberOffTheTranslation) {
  EXPECT_EQ(GridZonePrefix(38000012.5), 38);
  EXPECT_EQ(GridZonePrefix(4000598.1), 4);  // German GK zone 4
  EXPECT_EQ(GridZonePrefix(-39.67), 0);
  EXPECT_EQ(GridZonePrefix(336394.7), 0);   // Hong Kong's false easting
  EXPECT_EQ(GridZonePrefix(38400000.0), 0);  // 400 km off a prefix
  EXPECT_EQ(GridZonePrefix(-37440000.0), 0);
}

// Points given twice are said in the report: they count twice in the
// degrees of freedom.
TEST_F(SurveyorTest, DuplicatedPointsAreSaid) {
  // The last of the example's four check points given twice.
  const std::string twice = R"({"define": {
    "srcpoints": [110.6957641, 38.5965729, 1441.31,
                  110.1516174, 38.56754, 1369.725,
                  110.0923033, 38.4109669, 1244.028,
                  110.1926326, 38.903275, 1199.846,
                  110.1926326, 38.903275, 1199.846],
    "despoints": [473451.987, 4273805.54, 1498.708,
                  426018.095, 4270880.082, 1427.458,
                  420677.322, 4253548.617, 1301.885,
                  429921.314, 4308118.445, 1257.358,
                  429921.314, 4308118.445, 1257.358]}})";
  const std::string duplicated = directory_.Path("twice.json");
  WriteFile(duplicated, twice);
  const ProcessResult report =
      RunProgram(kReport, {duplicated, kOrdosResult});
  ASSERT_EQ(report.exit_status, 0) << report.err;
  EXPECT_NE(report.out.find("  duplicated          4 = 5 (the same pair "
                            "twice: each counts twice in the degrees of "
                            "freedom)\n"),
            std::string::npos)
      << report.out;
}

// A transformation that does not belong to the points is refused, in one
// line with both meridians and the RMS. Regression: a result fitted in Hong
// Kong judged on the Ordos points reported an RMS of thousands of
// kilometres, "0 flagged" and a precision of kilometres, and exited 0.
TEST_F(SurveyorTest, ATransformationOfAnotherSiteIsRefused) {
  const std::string hong_kong = directory_.Path("hk-result.json");
  ASSERT_EQ(RunProgram(kFit, {kData + "/grids/hk1980-grid.json", hong_kong})
                .exit_status,
            0);
  ProcessResult run = RunProgram(kReport, {kNamed, hong_kong});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind(hong_kong +
                              ": the transformation does not belong to the "
                              "points of " +
                              kNamed +
                              ": their central meridian is 111, the "
                              "transformation's L0 = 114.17855556 (points up "
                              "to 4.09 degrees from it), and the residuals' "
                              "RMS is ",
                          0),
            0u)
      << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);

  // The example's own transformation with its central meridian moved to
  // 114 degrees: the points lie up to 3.91 degrees from it.
  const std::string moved = directory_.Path("moved.json");
  std::string text = ReadFile(kOrdosResult);
  text.replace(text.find("\"L0\":111.0"), 10, "\"L0\":114.0");
  WriteFile(moved, text);
  run = RunProgram(kReport, {kNamed, moved});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.err.find("their central meridian is 111, the "
                         "transformation's L0 = 114 (points up to 3.91 "
                         "degrees from it)"),
            std::string::npos)
      << run.err;
}

// The verdict, the same in the text (its last line), the JSON report and
// the plot, on a clean set, a blunder, normal heights and check points that
// do not agree with their fit.
struct VerdictCase {
  const char* name;
  std::string control;  // "{dir}" for the scratch directory
  std::string fit;      // the document to fit the result on
  bool check_points;    // give --fit with `fit`
  const char* verdict;  // how the verdict begins
};
void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class VerdictTest : public ::testing::TestWithParam<VerdictCase> {
 protected:
  void SetUp() override {
    // Normal heights: the example's grid heights less a geoid that curves
    // by 5 cm at 10 km from the site's centre.
    std::string text = ReadFile(kNamed);
    rapidjson::Document document;
    document.Parse(text.c_str());
    rapidjson::Value& grid = document["define"]["despoints"];
    std::string heights = "{\"define\": {\"srcpoints\": [";
    const rapidjson::Value& source = document["define"]["srcpoints"];
    for (rapidjson::SizeType i = 0; i < source.Size(); ++i) {
      heights += (i ? ", " : "") + Number(source[i].GetDouble());
    }
    heights += "], \"despoints\": [";
    for (rapidjson::SizeType i = 0; i < grid.Size(); i += 3) {
      const double x = (grid[i].GetDouble() - 447000.0) / 1e4;
      const double y = (grid[i + 1].GetDouble() - 4285000.0) / 1e4;
      const double geoid = 0.05 * (x * x + 0.5 * y * y);
      heights += (i ? ", " : "") + Number(grid[i].GetDouble()) + ", " +
                 Number(grid[i + 1].GetDouble()) + ", " +
                 Number(grid[i + 2].GetDouble() - geoid);
    }
    heights += "]}}";
    WriteFile(directory_.Path("normal-heights.json"), heights);
    // The four check points moved 10 cm east: they do not agree with the
    // fit on the twelve others.
    std::string moved = ReadFile(kData + "/ordos-check4.json");
    for (const char* easting : {"473451.987", "426018.095", "420677.322",
                                "429921.314"}) {
      const std::size_t at = moved.find(easting);
      moved.replace(at, std::string(easting).size(),
                    Number(std::stod(easting) + 0.1));
    }
    WriteFile(directory_.Path("moved-check.json"), moved);
  }
  static std::string Number(double value) {
    std::ostringstream text;
    text.precision(17);
    text << value;
    return text.str();
  }
  std::string Expand(const std::string& path) const {
    return path.rfind("{dir}/", 0) == 0 ? directory_.Path(path.substr(6))
                                        : path;
  }
  TemporaryDirectory directory_;
};

TEST_P(VerdictTest, IsTheSameInEveryForm) {
  const VerdictCase& c = GetParam();
  const std::string control = Expand(c.control);
  const std::string fit = Expand(c.fit);
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {fit, result}).exit_status, 0);
  const std::string json = directory_.Path("report.json");
  const std::string svg = directory_.Path("plot.svg");
  std::vector<std::string> arguments = {control, result, "--json", json,
                                        "--svg", svg};
  if (c.check_points) {
    arguments.push_back("--fit");
    arguments.push_back(fit);
  }
  const ProcessResult run = RunProgram(kReport, arguments);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::size_t last = run.out.rfind("\nVerdict: ");
  ASSERT_NE(last, std::string::npos) << run.out;
  const std::string verdict =
      run.out.substr(last + 10, run.out.size() - last - 11);
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_EQ(verdict.rfind(c.verdict, 0), 0u) << verdict;
  rapidjson::Document report;
  report.Parse(ReadFile(json).c_str());
  EXPECT_EQ(std::string(report["verdict"].GetString()), verdict);
  const std::string plot = ReadFile(svg);
  std::string escaped;
  for (char ch : verdict) {
    escaped += ch == '&' ? std::string("&amp;") : ch == '<' ? "&lt;"
               : ch == '>' ? "&gt;" : ch == '"' ? "&quot;" : std::string(1, ch);
  }
  EXPECT_NE(plot.find("Verdict: " + escaped + "</text>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, VerdictTest,
    ::testing::Values(
        VerdictCase{"Clean", kNamed, kNamed, false,
                    "the transformation fits these points (largest |w| "},
        VerdictCase{"Blunder", kData + "/blunder-zhengzhou.json",
                    kData + "/blunder-zhengzhou.json", false,
                    "check point(s) 7 (N) (largest |w| 115.83"},
        VerdictCase{"NormalHeights", "{dir}/normal-heights.json",
                    "{dir}/normal-heights.json", false,
                    "systematic residuals in dH: heights that are not "
                    "ellipsoidal in both frames"},
        VerdictCase{"CheckPointsOffTheFit", "{dir}/moved-check.json",
                    kData + "/ordos-fit12.json", true,
                    "the check points do not agree with the fit (sum of w² "}),
    [](const auto& info) { return std::string(info.param.name); });

// The README's example report is the tool's output, byte for byte.
// Regression: its "Flagged" line had drifted from what the tool prints.
TEST(Readme, TheExampleReportIsTheToolsOutput) {
  const std::string source = HELMERT_SOURCE_DIRECTORY;
  std::ifstream readme(source + "/README.md");
  std::string block;
  bool inside = false;
  for (std::string line; std::getline(readme, line);) {
    if (!inside) {
      inside = line == "    helmert-report";
      if (!inside) continue;
    } else if (!line.empty() && line.rfind("    ", 0) != 0) {
      break;
    }
    block += (line.empty() ? "" : line.substr(4)) + "\n";
  }
  while (block.size() > 1 && block.substr(block.size() - 2) == "\n\n") {
    block.pop_back();
  }
  ASSERT_FALSE(block.empty()) << "no example report in the README";
  // As the README runs it: the example and its result under build/.
  TemporaryDirectory tree;
  std::filesystem::create_directory_symlink(source + "/examples",
                                            tree.Path("examples"));
  std::filesystem::create_directory(tree.Path("build"));
  WriteFile(tree.Path("build/ordos-result.json"), ReadFile(kOrdosResult));
  const ProcessResult run = RunProgram(
      "sh", {"-c",
             "cd \"$0\" && \"$1\" examples/ordos.json "
             "build/ordos-result.json",
             tree.path(), kReport});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(block, run.out);
}

TEST(Readme, TheCctExampleRunsAsWritten) {
  if (!ProgramOnPath("cct")) GTEST_SKIP() << "PROJ's cct is not installed";
  std::ifstream readme(std::string(HELMERT_SOURCE_DIRECTORY) + "/README.md");
  std::string line;
  std::string command;
  while (std::getline(readme, line)) {
    if (line.find("| cct ") != std::string::npos) {
      command = line.substr(line.find_first_not_of(' '));
      break;
    }
  }
  ASSERT_FALSE(command.empty()) << "no cct example in the README";
  const ProcessResult run = RunProgram(
      "sh", {"-c", "cd \"$0\" && " + command, HELMERT_SOURCE_DIRECTORY});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  double longitude = 0, latitude = 0, height = 0;
  std::istringstream(run.out) >> longitude >> latitude >> height;

  const StoredTransformation stored =
      ParseResultDocument(ReadFile(kOrdosResult), kOrdosResult);
  const Point3 zone =
      ReverseTransform(stored.parameters, {448507.717, 4296938.845, 1368.157});
  const GeodeticPair ours = GaussKrugerInverse(
      {zone.x, zone.y}, stored.central_meridian_degrees, kFalseEasting,
      kFalseNorthing, kWgs84SemiMajorAxis, kWgs84Flattening);
  const double east_per_degree =
      kMetresPerDegree * std::cos(latitude * kDegreeToRadian);
  EXPECT_NEAR(longitude * east_per_degree,
              ours.longitude_degrees * east_per_degree, kMillimetre);
  EXPECT_NEAR(latitude * kMetresPerDegree,
              ours.latitude_degrees * kMetresPerDegree, kMillimetre);
  EXPECT_NEAR(height, zone.z, kMillimetre);
}

// Every command line of the README that runs the built tools runs as
// written, in order, from a tree laid out like the checkout with `build`
// the build tree.
TEST(Readme, TheToolCommandsRunAsWritten) {
  TemporaryDirectory tree;
  const std::string source = HELMERT_SOURCE_DIRECTORY;
  for (const char* folder : {"examples", "tests", "scripts", "bench"}) {
    std::filesystem::create_directory_symlink(source + "/" + folder,
                                              tree.Path(folder));
  }
  std::filesystem::create_directory_symlink(HELMERT_BUILD_DIRECTORY,
                                            tree.Path("build"));
  std::ifstream readme(source + "/README.md");
  int commands = 0;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("    build/src/", 0) != 0) continue;
    const ProcessResult run =
        RunProgram("sh", {"-c", "cd \"$0\" && " + line, tree.path()});
    EXPECT_EQ(run.exit_status, 0) << line << "\n" << run.err;
    ++commands;
  }
  EXPECT_GE(commands, 6);
}

}  // namespace
}  // namespace helmert
