// The helmert-report executable: its usage, the report, JSON document and
// plot against golden files, refused input with helmert-fit's own messages,
// output files written completely or not at all, the plot as XML and, where
// Chromium is installed, as a rendered picture.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.hpp"

#if defined(HELMERT_HAVE_PNG)
#include <png.h>
#endif

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ProgramOnPath;
using testing::ReadFile;
using testing::RunProgram;
using testing::TemporaryDirectory;
using testing::UpdatingGoldenFiles;
using testing::WriteFile;

const std::string kReport = HELMERT_REPORT_EXECUTABLE;
const std::string kFit = HELMERT_FIT_EXECUTABLE;
const std::string kData = HELMERT_TEST_DATA;
const std::string kExamples = HELMERT_EXAMPLES;
const std::string kUsage =
    "usage: helmert-report CONTROL.json RESULT.json [--fit FIT.json] "
    "[--svg PLOT.svg] [--json REPORT.json] [--geojson POINTS.geojson] "
    "[--without NAMES_OR_NUMBERS --write-control NEW.json] "
    "[--sigma-plan M --sigma-height M]\n";

ProcessResult Report(const std::vector<std::string>& arguments) {
  return RunProgram(kReport, arguments);
}


// The golden runs pass relative paths, so that the file names the report
// prints do not depend on where the checkout is.
ProcessResult ReportInSourceTree(const std::vector<std::string>& arguments) {
  std::vector<std::string> shell = {"-c", "cd \"$0\" && exec \"$@\"",
                                    kData + "/..", kReport};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  return RunProgram("/bin/sh", shell);
}

struct GoldenCase {
  const char* name;
  const char* control;  // relative to tests/
  const char* result;
  const char* golden;         // file stem under tests/data/golden
  const char* fit = nullptr;  // --fit, relative to tests/
};
void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.name; }

class GoldenReportTest : public ::testing::TestWithParam<GoldenCase> {
 protected:
  TemporaryDirectory directory_;
};

TEST_P(GoldenReportTest, TextJsonAndPlotMatchByteForByte) {
  const GoldenCase& c = GetParam();
  const std::string svg = directory_.Path("plot.svg");
  const std::string json = directory_.Path("report.json");
  const std::string geojson = directory_.Path("points.geojson");
  std::vector<std::string> arguments = {
      c.control, c.result, "--svg", svg, "--json", json, "--geojson", geojson};
  if (c.fit != nullptr) arguments.insert(arguments.end(), {"--fit", c.fit});
  const ProcessResult run = ReportInSourceTree(arguments);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string golden = kData + "/golden/" + c.golden;
  if (UpdatingGoldenFiles()) {
    WriteFile(golden + ".report.txt", run.out);
    WriteFile(golden + ".report.json", ReadFile(json));
    WriteFile(golden + ".report.svg", ReadFile(svg));
    WriteFile(golden + ".report.geojson", ReadFile(geojson));
  }
  EXPECT_EQ(run.out, ReadFile(golden + ".report.txt"));
  EXPECT_EQ(ReadFile(json), ReadFile(golden + ".report.json"));
  EXPECT_EQ(ReadFile(svg), ReadFile(golden + ".report.svg"));
  EXPECT_EQ(ReadFile(geojson), ReadFile(golden + ".report.geojson"));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, GoldenReportTest,
    ::testing::Values(GoldenCase{"OrdosExample", "../examples/ordos.json",
                                 "data/golden/ordos.result.json", "ordos"},
                      GoldenCase{"OneBlunder", "data/blunder-zhengzhou.json",
                                 "data/golden/blunder-zhengzhou.result.json",
                                 "blunder-zhengzhou"},
                      // Points the parameters were not fitted to: no precision,
                      // 3n, judged against the fit on the other twelve.
                      GoldenCase{"CheckPointsAgainstTheFit",
                                 "data/ordos-check4.json",
                                 "data/golden/ordos-fit12.result.json",
                                 "ordos-check4", "data/ordos-fit12.json"},
                      // Points with names: the names in every output.
                      GoldenCase{"NamedPoints", "data/ordos-named.json",
                                 "data/golden/ordos.result.json",
                                 "ordos-named"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HelmertReportUsage, HelpGoesToStandardOutputWithEveryOption) {
  for (const char* flag : {"--help", "-h"}) {
    const ProcessResult run = Report({flag});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out.rfind(kUsage, 0), 0u) << run.out;
    for (const char* option :
         {"--fit", "--svg", "--json", "--geojson", "--without",
          "--write-control", "--sigma-plan", "--sigma-height", "--help"}) {
      // Described on a line of its own after the usage line.
      EXPECT_NE(run.out.find(std::string(" ") + option + " ", kUsage.size()),
                std::string::npos)
          << option;
    }
    EXPECT_EQ(run.err, "");
  }
}

struct UsageCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* problem;
};
void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.name; }

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, ExitsOneWithTheProblemAndTheUsageLine) {
  const ProcessResult run = Report(GetParam().arguments);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, std::string("helmert-report: ") + GetParam().problem +
                         "\n" + kUsage);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageTest,
    ::testing::Values(UsageCase{"NoArguments",
                                {},
                                "expected two documents, CONTROL.json "
                                "and RESULT.json"},
                      UsageCase{"OneDocument",
                                {"a.json"},
                                "expected two documents, "
                                "CONTROL.json and RESULT.json"},
                      UsageCase{"ThreeDocuments",
                                {"a", "b", "c"},
                                "expected two documents, "
                                "CONTROL.json and RESULT.json"},
                      UsageCase{"UnknownOption",
                                {"a", "b", "--pdf", "p"},
                                "unknown option --pdf"},
                      UsageCase{"OptionWithoutFile",
                                {"a", "b", "--svg"},
                                "--svg needs a file name"},
                      UsageCase{"EmptyFileName",
                                {"a", "b", "--json="},
                                "--json needs a file name"},
                      UsageCase{"OptionTwice",
                                {"a", "b", "--svg", "p", "--svg=q"},
                                "--svg is given twice"},
                      UsageCase{"OutputOverInput",
                                {"a.json", "b.json", "--json", "b.json"},
                                "the output b.json would replace an input"},
                      UsageCase{"BothOutputsOneFile",
                                {"a", "b", "--json", "o", "--svg", "o"},
                                "--svg and --json name the same file"},
                      UsageCase{"PlanPrecisionAlone",
                                {"a", "b", "--sigma-plan", "0.005"},
                                "--sigma-plan and --sigma-height go together"},
                      UsageCase{"PrecisionInMillimetres",
                                {"a", "b", "--sigma-plan", "5",
                                 "--sigma-height=1e3"},
                                "--sigma-height 1e3: not a standard deviation "
                                "in metres (above 0, at most 100; 0.005 for 5 "
                                "mm)"},
                      UsageCase{"PrecisionNotANumber",
                                {"a", "b", "--sigma-plan", "5mm",
                                 "--sigma-height", "0.015"},
                                "--sigma-plan 5mm: not a standard deviation "
                                "in metres (above 0, at most 100; 0.005 for 5 "
                                "mm)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every control-point document that helmert-fit refuses before fitting is
// refused with the same line; points that only the fit refuses (collinear,
// mirrored, a user's mistake that no similarity fits) can still be checked
// against another transformation, unless they are so far from it that it
// does not belong to them.
class RefusedControlTest : public ::testing::TestWithParam<std::string> {
 protected:
  TemporaryDirectory directory_;
};

TEST_P(RefusedControlTest, SameStatusAndLineAsHelmertFit) {
  const std::string document = kData + "/bad/" + GetParam();
  const ProcessResult fit = RunProgram(kFit, {document, directory_.Path("r")});
  const std::string svg = directory_.Path("plot.svg");
  const ProcessResult run =
      Report({document, kData + "/golden/ordos.result.json", "--svg", svg});
  const bool refused_by_the_fit =
      fit.err.find(": the fit ") != std::string::npos ||
      fit.err.find("straight line") != std::string::npos;
  if (refused_by_the_fit) {
    // Judged against the example's transformation, or refused as not
    // belonging to it (a mistake that moves the points by kilometres).
    if (run.exit_status != 0) {
      EXPECT_EQ(run.exit_status, 2);
      EXPECT_NE(run.err.find(": the transformation does not belong to the "
                             "points of "),
                std::string::npos)
          << run.err;
    }
    return;
  }
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, fit.err);
  EXPECT_FALSE(std::filesystem::exists(svg));
}

std::vector<std::string> BadDocuments() {
  std::vector<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator(kData + "/bad")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(
    BadDocuments, RefusedControlTest, ::testing::ValuesIn(BadDocuments()),
    [](const auto& info) {
      std::string name = info.param.substr(0, info.param.find('.'));
      name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
      return name;
    });

class HelmertReportFiles : public ::testing::Test {
 protected:
  const std::string control_ = kExamples + "/ordos.json";
  const std::string result_ = kData + "/golden/ordos.result.json";
  TemporaryDirectory directory_;
};

TEST_F(HelmertReportFiles, RefusesABrokenResultDocument) {
  const std::string result = directory_.Path("result.json");
  WriteFile(result, "{\"R\":[1,0,0],\"T\":[0,0,0],\"S\":1,\"L0\":111}");
  const ProcessResult run = Report({control_, result});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, result + ": \"R\" holds 3 elements, not 9\n");
}

// Guards against reporting infinite residuals as points flagged by a test
// that could not be computed: such a document is refused instead.
TEST_F(HelmertReportFiles, RefusesAScaleThatOverflowsTheResiduals) {
  const std::string result = directory_.Path("result.json");
  WriteFile(result,
            "{\"R\":[1,0,0,0,1,0,0,0,1],\"T\":[0,0,0],\"S\":1e308,\"L0\":111}");
  const std::string svg = directory_.Path("plot.svg");
  const ProcessResult run = Report({control_, result, "--svg", svg});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, result + ": the transformation takes the points of " +
                         control_ + " beyond the range of numbers\n");
  EXPECT_FALSE(std::filesystem::exists(svg));
}

TEST_F(HelmertReportFiles, MissingResultDocumentIsAnOpeningError) {
  const ProcessResult run = Report({control_, directory_.Path("none.json")});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "Error opening file: " + directory_.Path("none.json") + "\n");
}

TEST_F(HelmertReportFiles, DoesNotChangeWhatHelmertFitWrites) {
  const std::string result = directory_.Path("result.json");
  const ProcessResult fit = RunProgram(kFit, {control_, result});
  ASSERT_EQ(fit.exit_status, 0);
  const std::string before = ReadFile(result);
  ASSERT_EQ(Report({control_, result, "--json", directory_.Path("r.json")})
                .exit_status,
            0);
  EXPECT_EQ(ReadFile(result), before);
  EXPECT_EQ(before, ReadFile(result_));
}

// Every form says whether the residuals were judged against a stated
// precision or against their own scatter only.
TEST_F(HelmertReportFiles, EveryFormSaysWhetherThePrecisionWasStated) {
  for (const bool stated : {false, true}) {
    const std::string json = directory_.Path("r.json");
    const std::string svg = directory_.Path("p.svg");
    std::vector<std::string> arguments = {control_, result_, "--json", json,
                                          "--svg", svg};
    if (stated) {
      arguments.insert(arguments.end(),
                       {"--sigma-plan", "0.0005", "--sigma-height", "0.0013"});
    }
    const ProcessResult run = Report(arguments);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const std::string verdict_end =
        stated ? "; within the stated precision, plan 0.5 mm and height 1.3 mm"
               : "; judged against their own scatter only: plan 0.5 mm, "
                 "height 1.3 mm: state the survey's with --sigma-plan and "
                 "--sigma-height to test them";
    EXPECT_NE(run.out.find(verdict_end + "\n"), std::string::npos) << run.out;
    const std::string report = ReadFile(json);
    EXPECT_NE(report.find(stated ? "\"precision\": \"stated\""
                                 : "\"precision\": \"estimated\""),
              std::string::npos);
    EXPECT_NE(report.find(stated ? "\"global_test\": {"
                                 : "\"global_test\": null"),
              std::string::npos);
    const std::string plot = ReadFile(svg);
    EXPECT_NE(plot.find(stated ? "(estimated; stated 0.5 mm, 1.3 mm)"
                               : "(estimated, none stated)"),
              std::string::npos)
        << plot.substr(0, 2000);
  }
}

// The plot is XML with one arrow per point (xmllint from libxml2-utils).
TEST_F(HelmertReportFiles, PlotIsXmlWithOneArrowPerPoint) {
  if (!ProgramOnPath("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  const std::string svg = directory_.Path("plot.svg");
  const std::string control = kData + "/blunder-zhengzhou.json";
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {control, result}).exit_status, 0);
  ASSERT_EQ(Report({control, result, "--svg", svg}).exit_status, 0);
  const auto count = [&svg](const std::string& path) {
    const ProcessResult run = RunProgram(
        "xmllint", {"--noout", "--xpath", "count(" + path + ")", svg});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    return run.out;
  };
  EXPECT_EQ(count("//*[local-name()='line'][@class='arrow']"), "16\n");
  EXPECT_EQ(count("//*[local-name()='circle'][@class='point']"), "16\n");
  EXPECT_EQ(count("//*[local-name()='text'][@class='flag']"), "1\n");
}

// A file name that is not UTF-8 (Latin-1 here) must not make the plot
// unreadable XML or the JSON report invalid UTF-8.
TEST_F(HelmertReportFiles, Latin1FileNameLeavesValidDocuments) {
  if (!ProgramOnPath("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  const std::string control = directory_.Path("K\xF6ln & <Bonn>.json");
  WriteFile(control, ReadFile(control_));
  const std::string svg = directory_.Path("plot.svg");
  const std::string json = directory_.Path("report.json");
  ASSERT_EQ(
      Report({control, result_, "--svg", svg, "--json", json}).exit_status, 0);
  const ProcessResult xml = RunProgram("xmllint", {"--noout", svg});
  EXPECT_EQ(xml.exit_status, 0) << xml.err;
  rapidjson::Document document;
  document.Parse<rapidjson::kParseValidateEncodingFlag>(ReadFile(json).c_str());
  ASSERT_FALSE(document.HasParseError()) << document.GetErrorOffset();
  EXPECT_EQ(std::string(document["control"].GetString()),
            directory_.Path("K\xEF\xBF\xBDln & <Bonn>.json"));
}

// Renders the example's plot as Chromium would show it. Runs only where
// Chromium is installed (scripts/setup --browser); the picture is kept as
// ordos-plot.png in the tests folder of the build tree for a person to look at.
TEST_F(HelmertReportFiles, ChromiumRendersThePlot) {
  if (!ProgramOnPath("chromium")) GTEST_SKIP() << "chromium is not installed";
  // The blunder fixture: one flagged point, ringed and labelled in red.
  const std::string control = kData + "/blunder-zhengzhou.json";
  const std::string result = kData + "/golden/blunder-zhengzhou.result.json";
  const std::string svg = directory_.Path("plot.svg");
  ASSERT_EQ(Report({control, result, "--svg", svg}).exit_status, 0);
  const std::string png = std::string(HELMERT_TEST_OUTPUT) + "/ordos-plot.png";
  std::filesystem::remove(png);
  const ProcessResult run = RunProgram(
      "chromium",
      {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
       "--disable-background-networking", "--disable-component-update",
       "--disable-sync", "--hide-scrollbars", "--window-size=970,875",
       "--user-data-dir=" + directory_.Path("profile"), "--screenshot=" + png,
       "file://" + svg});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string picture = ReadFile(png);
  ASSERT_GT(picture.size(), 8u);
  EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1a\n");
#if defined(HELMERT_HAVE_PNG)
  // What a person sees: the page is mostly the light background, the
  // frame and text are dark, and the flagged point's ring and label are
  // the flag red (#d40000).
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, png.c_str()), 0);
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr),
            0);
  std::size_t light = 0, dark = 0, flag_red = 0;
  for (std::size_t k = 0; k + 2 < pixels.size(); k += 3) {
    const int r = pixels[k], g = pixels[k + 1], b = pixels[k + 2];
    if (r > 235 && g > 235 && b > 235) ++light;
    if (r < 90 && g < 90 && b < 90) ++dark;
    if (r > 180 && g < 40 && b < 40) ++flag_red;
  }
  const std::size_t total = pixels.size() / 3;
  EXPECT_GT(light, total / 2) << "the page is not mostly background";
  EXPECT_GT(dark, total / 200) << "no frame, arrows or text";
  EXPECT_GT(flag_red, 100u) << "the flagged point is not drawn in red";
#else
  // A blank page compresses to a few kilobytes; the plot does not.
  EXPECT_GT(picture.size(), 20000u);
#endif
}

}  // namespace
}  // namespace helmert
