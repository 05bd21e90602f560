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

bool UpdatingGoldenFiles() {
  return std::getenv("HELMERT_UPDATE_GOLDEN") != nullptr;
}

struct GoldenCase {
  const char* name;
  const char* golden;  // file stem under tests/data/golden
  std::string document;
  // The solver stops short of the minimum on this document, and the run
  // says so in one line while it uses the closed-form minimum.
  bool closed_form_used = false;
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
  if (GetParam().closed_form_used) {
    EXPECT_EQ(run.err.rfind("warning: the solver stopped ", 0), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  } else {
    EXPECT_EQ(run.err, "") << "a successful run writes nothing on stderr";
  }

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
                   kData + "/blunder-zhengzhou.json", true},
        // Part of the example, to check on the other part.
        GoldenCase{"PartOfTheExample", "ordos-fit12",
                   kData + "/ordos-fit12.json"},
        // Zone number 37 in front of the easting (a real Beijing 1954 grid).
        GoldenCase{"ZonePrefixedEasting", "bj54-zone37-prefixed",
                   kData + "/grids/bj54-zone37-prefixed.json"},
        // A site across the 180th meridian, in the zone at 180 degrees.
        GoldenCase{"AcrossTheDateLine", "dateline",
                   kData + "/grids/dateline.json", true}),
    [](const auto& info) { return std::string(info.param.name); });

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
  bool prints_report;   // the fit ran and its report stands on stdout
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
  if (c.prints_report) {
    EXPECT_EQ(run.out.rfind(kCentralMeridianLabel, 0), 0u);
    EXPECT_NE(run.out.find("Scale = "), std::string::npos);
  } else {
    EXPECT_EQ(run.out, "");
  }
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
  return {name, Bad(file), "{dir}/result.json", "{in}: " + message, false};
}

// A document that the fit refuses after its report.
RefusedCase Mistake(const char* name, const std::string& file,
                    const std::string& message) {
  return {name, Bad(file), "{dir}/result.json", "{in}: " + message, true};
}

const std::string kLikelyCauses =
    "check for longitude and latitude or easting and northing swapped, "
    "angles in radians instead of degrees, missing heights, or a local grid "
    "that is not a 3-degree Gauss-Kruger zone near the central meridian";
const std::string kBeyondTheModel =
    ", beyond any datum or grid relation this model represents (at most "
    "1e-3 rad, scale within 1 +- 1e-2): " +
    kLikelyCauses;

const std::string kOrdos = kExamples + "/ordos.json";

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedRunTest,
    ::testing::Values(
        RefusedCase{"MissingInput", "{dir}/missing.json", "{dir}/result.json",
                    "Error opening file: {in}", false},
        RefusedCase{"DirectoryAsInput", "{dir}", "{dir}/result.json",
                    "Error opening file: {in}", false},
        Document("EmptyFile", "empty.json",
                 "invalid JSON at byte offset 0: The document is empty."),
        Document("WhitespaceOnly", "whitespace.json",
                 "invalid JSON at byte offset 5: The document is empty."),
        Document("PlainTextTable", "not-json.txt",
                 "invalid JSON at byte offset 0: Invalid value."),
        Document("TextAfterTheRoot", "trailing-text.json",
                 "invalid JSON at byte offset 1151: The document root must "
                 "not be followed by other values."),
        Document("Comment", "comment.json",
                 "invalid JSON at byte offset 0: Invalid value."),
        Document("NotANumber", "nan.json",
                 "invalid JSON at byte offset 31: Invalid value."),
        Document("NumberTooBig", "huge-number.json",
                 "invalid JSON at byte offset 37: Number too big to be "
                 "stored in double."),
        Document("RootIsAnArray", "root-array.json",
                 "the document is not a JSON object"),
        Document("NoDefine", "no-define.json",
                 "the document has no member \"define\""),
        Document("DefineIsAnArray", "define-not-object.json",
                 "\"define\" is not an object"),
        Document("NoSourcePoints", "no-srcpoints.json",
                 "\"define\" has no member \"srcpoints\""),
        Document("SourcePointsAreAString", "srcpoints-string.json",
                 "\"define\".\"srcpoints\" is not an array"),
        Document("DestinationPointsAreEmpty", "despoints-empty.json",
                 "\"define\".\"despoints\" is empty"),
        Document("ElementIsAString", "element-not-number.json",
                 "\"define\".\"srcpoints\" element 4 is not a number"),
        Document("OneArrayPerPoint", "nested-points.json",
                 "\"define\".\"srcpoints\" element 0 is not a number"),
        Document("IncompleteTriple", "incomplete-triple.json",
                 "\"define\".\"despoints\" holds 47 numbers, not a whole "
                 "number of (x, y, z) triples"),
        Document("ListsOfDifferentLengths", "lengths-differ.json",
                 "\"srcpoints\" holds 16 points but \"despoints\" holds 15"),
        Document("TwoPoints", "two-points.json",
                 "2 control point(s); the seven parameters need at least 3"),
        Document("LongitudeOutOfRange", "longitude-out-of-range.json",
                 "\"srcpoints\" point 1: longitude 360.5 is outside "
                 "[-180, 180]"),
        Document("SouthPole", "pole.json",
                 "\"srcpoints\" point 1: latitude -90 is not strictly "
                 "between -90 and 90"),
        // Regression: collinear points used to give an arbitrary rotation
        // about their line as if it were the answer.
        Document("CollinearPoints", "collinear.json",
                 "the control points lie on one straight line (or "
                 "coincide), so the rotation about it is not determined "
                 "(geometry ratio 0 < 1e-06)"),
        // Regression: a user's mistakes used to be fitted and reported as
        // success, with rotations of radians and absurd scales.
        Mistake("NegativeScale", "mirrored.json",
                "the fit gave a scale that is not positive (-0.999991): "
                "the grid is a mirror image of the zone; " +
                    kLikelyCauses),
        Mistake("LatitudeBeforeLongitude", "swapped-lonlat.json",
                "the fit gave a scale that is not positive (-0.00685704): "
                "the grid is a mirror image of the zone; " +
                    kLikelyCauses),
        Mistake("NorthingBeforeEasting", "swapped-en.json",
                "the fit gave a scale that is not positive (-0.0747551): "
                "the grid is a mirror image of the zone; " +
                    kLikelyCauses),
        Mistake("AnglesInRadians", "radians.json",
                "the fit needs rotations (-0.0786, 0.0297, -0.0181) rad and "
                "a scale of 49.7814" +
                    kBeyondTheModel),
        Mistake("EveryDestinationTheSame", "same-destination.json",
                "the fit needs rotations (-4.31e-19, 7.53e-18, 7.05e-17) rad "
                "and a scale of 1.69326e-25" +
                    kBeyondTheModel),
        Mistake("DestinationsInFeet", "feet.json",
                "the fit needs rotations (-5.18e-06, 6.7e-06, 4.87e-08) rad "
                "and a scale of 3.2808" +
                    kBeyondTheModel),
        Document("NorthingBeyond1e8Metres", "beyond-1e8.json",
                 "\"despoints\" point 3: northing 4293333515 m is beyond 1e8 "
                 "m from the origin"),
        // Refused before the fit: nothing printed.
        RefusedCase{"OutputInAMissingDirectory", kOrdos,
                    "{dir}/missing/result.json",
                    "Error writing file: {dir}/missing/result.json: No such "
                    "file or directory",
                    false},
        RefusedCase{"DirectoryAsOutput", kOrdos, "{dir}",
                    "Error writing file: {dir}: Is a directory", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace helmert
