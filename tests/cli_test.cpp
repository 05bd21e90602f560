// The helmert-fit executable itself: argument count, the whole console
// report and result document against golden files, and every refused input
// with its exit status, its one line and an untouched result file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.hpp"

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ReadFile;
using testing::RunProgram;
using testing::TemporaryDirectory;
using testing::UpdatingGoldenFiles;
using testing::WriteFile;

const std::string kExecutable = HELMERT_FIT_EXECUTABLE;
const std::string kData = HELMERT_TEST_DATA;
const std::string kExamples = HELMERT_EXAMPLES;

const std::string kCentralMeridianLabel = "\xD6\xD0\xD1\xEB\xBE\xAD\xCF\xDF: ";
const std::string kParameterLabel =
    "\xB9\xC0\xBC\xC6\xB5\xC4\xB2\xCE\xCA\xFD\xA3\xBA\n";
const std::string kSolverReportMarker = "[solver report]\n";

ProcessResult Fit(const std::vector<std::string>& arguments) {
  return RunProgram(kExecutable, arguments);
}

// The console text with the solver's own report (it holds timings) replaced
// by a marker, after checking that the report stands where it belongs:
// right after the central-meridian line, followed by one "\n" of the run.
std::string WithoutSolverReport(const std::string& console) {
  const std::size_t report = console.find('\n') + 1;
  const std::size_t block = console.find("\n" + kParameterLabel, report);
  if (report == 0 || block == std::string::npos) return console;
  const std::string text = console.substr(report, block - report);
  EXPECT_EQ(text.rfind("\nSolver Summary", 0), 0u) << text;
  EXPECT_NE(text.find("\nTermination:"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
  return console.substr(0, report) + kSolverReportMarker +
         console.substr(block);
}


struct GoldenCase {
  const char* name;
  const char* golden;  // file stem under tests/data/golden
  std::string document;
};
void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

class GoldenRunTest : public ::testing::TestWithParam<GoldenCase> {
 protected:
  TemporaryDirectory directory_;
};

TEST_P(GoldenRunTest, ConsoleAndResultMatchByteForByte) {
  const std::string result = directory_.Path("result.json");
  const ProcessResult run = Fit({GetParam().document, result});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  // Regression: the blunder fixture and the site across the 180th meridian
  // warned that the closed form replaced the solver's values, for
  // differences far below a millimetre.
  EXPECT_EQ(run.err, "") << "a successful run writes nothing on stderr";

  const std::string console = WithoutSolverReport(run.out);
  const std::string golden = kData + "/golden/" + GetParam().golden;
  if (UpdatingGoldenFiles()) {
    WriteFile(golden + ".console", console);
    WriteFile(golden + ".result.json", ReadFile(result));
  }
  EXPECT_EQ(console, ReadFile(golden + ".console"));
  EXPECT_EQ(ReadFile(result), ReadFile(golden + ".result.json"));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, GoldenRunTest,
    ::testing::Values(
        GoldenCase{"OrdosExample", "ordos", kExamples + "/ordos.json"},
        // An exact similarity: every residual prints as rounding noise.
        GoldenCase{"ExactSimilarity", "similarity-hefei",
                   kData + "/similarity-hefei.json"},
        // West and south: central meridian -72 (the floor, not -69).
        GoldenCase{"SouthWestOfGreenwich", "santiago-west",
                   kData + "/santiago-west.json"},
        // Millimetre noise and one point 0.5 m off (helmert-report's test).
        GoldenCase{"OneBlunder", "blunder-zhengzhou",
                   kData + "/blunder-zhengzhou.json"},
        // Part of the example, to check on the other part.
        GoldenCase{"PartOfTheExample", "ordos-fit12",
                   kData + "/ordos-fit12.json"},
        // Zone number 37 in front of the easting (a real Beijing 1954 grid).
        GoldenCase{"ZonePrefixedEasting", "bj54-zone37-prefixed",
                   kData + "/grids/bj54-zone37-prefixed.json"},
        // A site across the 180th meridian, in the zone at 180 degrees.
        GoldenCase{"AcrossTheDateLine", "dateline",
                   kData + "/grids/dateline.json"},
        // A meridian the document names, not a multiple of 3: the first
        // line and "L0" carry it.
        GoldenCase{"NamedCentralMeridian", "hk1980-grid",
                   kData + "/grids/hk1980-grid.json"}),
    [](const auto& info) { return std::string(info.param.name); });

// The Hong Kong 1980 Grid's own meridian, 114 deg 10' 42.8", stands in
// the console (six digits) and in the result (every digit).
TEST(HelmertFit, NamedCentralMeridianIsTheZones) {
  TemporaryDirectory directory;
  const std::string result = directory.Path("result.json");
  const ProcessResult run = Fit({kData + "/grids/hk1980-grid.json", result});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
            kCentralMeridianLabel + "114.179\n");
  const std::string text = ReadFile(result);
  EXPECT_NE(text.find("\"L0\":114.17855555555556}"), std::string::npos)
      << text;
}

TEST(HelmertFit, WrongArgumentCountsEndSilentlyWithStatusOne) {
  TemporaryDirectory directory;
  const std::string ordos = kExamples + "/ordos.json";
  const std::string result = directory.Path("result.json");
  for (const std::vector<std::string>& arguments :
       std::vector<std::vector<std::string>>{
           {}, {ordos}, {ordos, result, "extra"}}) {
    const ProcessResult run = Fit(arguments);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(result));
}

TEST(HelmertFit, ReplacesAPreviousResultEntirely) {
  TemporaryDirectory directory;
  const std::string result = directory.Path("result.json");
  WriteFile(result, std::string(4096, ' ') + "old");
  ASSERT_EQ(Fit({kExamples + "/ordos.json", result}).exit_status, 0);
  EXPECT_EQ(ReadFile(result), ReadFile(kData + "/golden/ordos.result.json"));
}

// --- Refused runs -----------------------------------------------------

struct RefusedCase {
  const char* name;
  std::string input;    // "{dir}" stands for a scratch directory
  std::string output;   // likewise
  std::string message;  // the one line on stderr, "{in}" for the input
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

std::string Expand(std::string text, const std::string& directory,
                   const std::string& input = "") {
  for (const auto& [key, value] :
       {std::pair<std::string, std::string>{"{dir}", directory},
        {"{in}", input}}) {
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
      text.replace(at, key.size(), value);
    }
  }
  return text;
}

class RefusedRunTest : public ::testing::TestWithParam<RefusedCase> {
 protected:
  TemporaryDirectory directory_;
};

TEST_P(RefusedRunTest, ExitsTwoWithOneLineAndLeavesTheResultAlone) {
  const RefusedCase& c = GetParam();
  const std::string input = Expand(c.input, directory_.path());
  const std::string output = Expand(c.output, directory_.path());
  // A result of an earlier run stands at the output path, where possible.
  const std::string previous = "{\"earlier\":true}";
  struct stat before {};
  const bool had_previous = !std::filesystem::is_directory(output) &&
                            std::filesystem::is_directory(
                                std::filesystem::path(output).parent_path());
  if (had_previous) {
    WriteFile(output, previous);
    ::stat(output.c_str(), &before);
  }

  const ProcessResult run = Fit({input, output});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, Expand(c.message, directory_.path(), input) + "\n");
  // Every refusal is decided before anything is printed.
  EXPECT_EQ(run.out, "");
  if (had_previous) {
    struct stat after {};
    ::stat(output.c_str(), &after);
    EXPECT_EQ(ReadFile(output), previous);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  }
}

std::string Bad(const std::string& name) { return kData + "/bad/" + name; }

RefusedCase Document(const char* name, const std::string& file,
                     const std::string& message) {
  return {name, Bad(file), "{dir}/result.json", "{in}: " + message};
}

const std::string kBeyondTheModel =
    ", beyond any datum or grid relation this model represents (at most "
    "1e-3 rad, scale within 1 +- 1e-2): ";

// A document of tests/data/grids.
RefusedCase GridDocument(const char* name, const std::string& grid,
                         const std::string& message) {
  return {name, kData + "/grids/" + grid, "{dir}/result.json",
          "{in}: " + message};
}
// A grid of the named set whose meridian the rule does not pick.
RefusedCase UnnamedMeridian(const char* name, const std::string& grid,
                            const std::string& message) {
  return GridDocument(name, grid, message);
}

const std::string kOrdos = kExamples + "/ordos.json";

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedRunTest,
    ::testing::Values(
        RefusedCase{"MissingInput", "{dir}/missing.json", "{dir}/result.json",
                    "Error opening file: {in}"},
        RefusedCase{"DirectoryAsInput", "{dir}", "{dir}/result.json",
                    "Error opening file: {in}"},
        Document("EmptyFile", "empty.json",
                 "invalid JSON at byte offset 0: The document is empty."),
        // The messages of every other form of document are tested on the
        // reader itself (control_document_test.cpp), and helmert-report
        // must give the same line for each file of tests/data/bad
        // (report_cli_test.cpp, RefusedControlTest).
        // Regression: collinear points used to give an arbitrary rotation
        // about their line as if it were the answer.
        Document("CollinearPoints", "collinear.json",
                 "the control points lie on one straight line (or "
                 "coincide), so the rotation about it is not determined "
                 "(geometry ratio 0 < 1e-06)"),
        // Regression: a user's mistakes used to be fitted and reported as
        // success; then refused after 1.8 KB of report, with the same four
        // causes whatever the numbers said. Now refused before anything is
        // printed, naming the cause the numbers point to.
        Document("NegativeScale", "mirrored.json",
                 "the fit gave a scale that is not positive (-0.999991), a "
                 "mirror image of the zone: check for longitude and latitude "
                 "or easting and northing swapped, angles in radians instead "
                 "of degrees, missing heights, or a grid that is not a "
                 "transverse Mercator zone at the central meridian 111 (name "
                 "the grid's own with \"central_meridian\" in \"define\")"),
        Document("LatitudeBeforeLongitude", "swapped-lonlat.json",
                 "the fit gave a scale that is not positive (-0.00685704), a "
                 "mirror image of the zone: longitude and latitude are "
                 "swapped in every point of \"srcpoints\": give the "
                 "longitude first"),
        Document("NorthingBeforeEasting", "swapped-en.json",
                 "the fit gave a scale that is not positive (-0.0747551), a "
                 "mirror image of the zone: easting and northing are swapped "
                 "in every point of \"despoints\" (Gauss-Kruger surveys often "
                 "write X for the northing first): give the easting first"),
        Document("AnglesInRadians", "radians.json",
                 "the fit needs rotations (-0.0786, 0.0297, -0.0181) rad and "
                 "a scale of 49.7814" +
                     kBeyondTheModel +
                     "the angles of \"srcpoints\" look like radians: give "
                     "longitude and latitude in degrees"),
        Document("EveryDestinationTheSame", "same-destination.json",
                 "the fit gave a scale that is not positive (-0), a mirror "
                 "image of the zone: every point of \"despoints\" is the same "
                 "point: give each point's own grid coordinates"),
        Document("DestinationsInFeet", "feet.json",
                 "the fit needs rotations (-5.18e-06, 6.7e-06, 4.87e-08) rad "
                 "and a scale of 3.2808" +
                     kBeyondTheModel +
                     "the grid's coordinates look like feet (scale 3.2808; an "
                     "international foot is 0.3048 m, a US survey foot "
                     "1200/3937 m): give them in metres"),
        Document("PlanInFeetHeightsInMetres", "feet-plan.json",
                 "the fit needs rotations (-0.000881, 0.000547, 2.24e-07) "
                 "rad and a scale of 3.28079" +
                     kBeyondTheModel +
                     "the grid's easting and northing look like feet and its "
                     "heights like metres (plan scale 3.28081; an "
                     "international foot is 0.3048 m, a US survey foot "
                     "1200/3937 m): give easting and northing in metres"),
        Document("OnePointEastingAndNorthingSwapped", "one-point-swapped.json",
                 "the fit gave a scale that is not positive (-0.755784), a "
                 "mirror image of the zone: point 5 does not fit the others "
                 "(without it the fit is plausible): its easting and "
                 "northing are swapped"),
        Document("OnePointWithADigitSlip", "digit-slip.json",
                 "the fit needs rotations (-2.35e-05, -4.5e-07, -0.00466) rad "
                 "and a scale of 1.00271" +
                     kBeyondTheModel +
                     "point 3 does not fit the others (without it the fit is "
                     "plausible): a digit slip in its northing? (4292743.807 "
                     "where the other points put 4286743.8)"),
        Document("PackedDegreesMinutesSeconds", "packed-dms.json",
                 "the fit needs rotations (-0.000879, 0.000512, 0.000463) rad "
                 "and a scale of 1.6676" +
                     kBeyondTheModel +
                     "the angles of \"srcpoints\" look like packed "
                     "degrees-minutes-seconds (DD.MMSS, 110.24278 for "
                     "110.40772 degrees): give decimal degrees"),
        // Regression: no test failed when angles on whole minutes (38.01
        // for 38 deg 01') stopped being recognised as packed.
        Document("PackedWholeMinutes", "packed-whole-minutes.json",
                 "the fit needs rotations (-0.00159, 0.00102, 0.00167) rad "
                 "and a scale of 1.66325" +
                     kBeyondTheModel +
                     "the angles of \"srcpoints\" look like packed "
                     "degrees-minutes-seconds (DD.MMSS, 110.15 for 110.25 "
                     "degrees): give decimal degrees"),
        // Regression: a grid whose axes point west and south (a half turn
        // of the zone) was called a mirror image with causes that did not
        // apply.
        GridDocument("WestingSouthingGrid", "lo29-johannesburg-westing.json",
                        "the fit gave a scale that is not positive "
                        "(-0.999985), a mirror image of the zone: the grid's "
                        "axes point west and south (a westing/southing "
                        "grid): give easting = -westing, northing = "
                        "-southing"),
        // Refused when the points are checked, before any fit.
        Document("GeocentricCoordinates", "geocentric.json",
                 "\"srcpoints\" point 1 (-1735828.491, 4665577.193, "
                 "3976193.132) looks like geocentric X, Y, Z (its length is "
                 "6371 km, the Earth's radius): give longitude and latitude "
                 "in degrees and the ellipsoidal height (cct +proj=cart "
                 "+ellps=WGS84 +inv converts them)"),
        // Grids whose zone the points' mean longitude does not pick: the
        // rotation about the vertical names the grid's meridian.
        UnnamedMeridian(
            "ThreeDegreeZoneTheMeanDoesNotPick",
            "bj54-henan-zone38-unnamed.json",
            "the fit needs rotations (-3.25e-06, 5.24e-06, 0.0295) rad and a "
            "scale of 0.999592" +
                kBeyondTheModel +
                "the rotation about the vertical (R_z = 0.0295 rad at "
                "latitude 34.3) is that of a grid whose central meridian is "
                "114, not 117: if the grid is a transverse Mercator zone at "
                "114, add \"central_meridian\": 114 to \"define\""),
        UnnamedMeridian(
            "SixDegreeZone", "bj54-wuhan-6degree-zone20-unnamed.json",
            "the fit needs rotations (-2.83e-06, 5.48e-06, -0.0267) rad and a "
            "scale of 1.00045" +
                kBeyondTheModel +
                "the rotation about the vertical (R_z = -0.0267 rad at "
                "latitude 30.6) is that of a grid whose central meridian is "
                "117, not 114: if the grid is a transverse Mercator zone at "
                "117, add \"central_meridian\": 117 to \"define\""),
        UnnamedMeridian(
            "HongKong1980Grid", "hk1980-grid-unnamed.json",
            "the fit needs rotations (2.25e-05, 4.11e-05, -0.0012) rad and a "
            "scale of 0.999997" +
                kBeyondTheModel +
                "the rotation about the vertical (R_z = -0.0012 rad at "
                "latitude 22.4) is that of a grid whose central meridian is "
                "114.18, not 114: if the grid is a transverse Mercator zone "
                "at 114.18, add \"central_meridian\": 114.18 to \"define\""),
        Document("NorthingBeyond1e8Metres", "beyond-1e8.json",
                 "\"despoints\" point 4: northing 4293333515 m is beyond 1e8 "
                 "m from the origin"),
        // Refused before the fit: nothing printed.
        RefusedCase{"OutputInAMissingDirectory", kOrdos,
                    "{dir}/missing/result.json",
                    "Error writing file: {dir}/missing/result.json: No such "
                    "file or directory"},
        RefusedCase{"DirectoryAsOutput", kOrdos, "{dir}",
                    "Error writing file: {dir}: Is a directory"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace helmert
