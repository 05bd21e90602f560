// Outputs where the user points them: /dev/stdout into a pipe and into a
// file that is the tool's own standard output, and the commit of several
// outputs under a signal at every point of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "io/OutputFile.hpp"
#include "io/Streams.hpp"
#include "report/ReportRun.hpp"

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ReadFile;
using testing::RunShell;
using testing::TemporaryDirectory;
using testing::WriteFile;

const std::string kExamples = HELMERT_EXAMPLES;
const std::string kData = HELMERT_TEST_DATA;
const std::string kOrdos = kExamples + "/ordos.json";
const std::string kOrdosResult = kData + "/golden/ordos.result.json";

struct StdoutCase {
  const char* name;
  std::string command;   // "$0"... as RunShell passes them; OUT for the path
  std::string document;  // what the output file holds, in full or its start
  std::string console;   // a line of the console, if the tool has one
};
void PrintTo(const StdoutCase& c, std::ostream* os) { *os << c.name; }

std::string With(std::string command, const std::string& out) {
  const std::size_t at = command.find("OUT");
  return command.replace(at, 3, out);
}

class StdoutTargetTest : public ::testing::TestWithParam<StdoutCase> {
 protected:
  TemporaryDirectory directory_;
};

// Regression: /dev/stdout into a pipe failed ("No such file or
// directory": the link's text "pipe:[N]" taken for a path), and into a
// file that was the console's, the temporary was renamed over it and the
// console lost.
TEST_P(StdoutTargetTest, IsWrittenWholeIntoAPipeAndBesideTheConsole) {
  const ProcessResult piped =
      RunShell(With(GetParam().command, "/dev/stdout") + " | cat", {});
  EXPECT_EQ(piped.exit_status, 0) << piped.err;
  EXPECT_NE(piped.out.find(GetParam().document), std::string::npos)
      << piped.out.substr(0, 300);
  const std::string log = directory_.Path("log.txt");
  const ProcessResult redirected =
      RunShell(With(GetParam().command, "/dev/stdout") + " > \"$0\"", {log});
  EXPECT_EQ(redirected.exit_status, 0) << redirected.err;
  const std::string text = ReadFile(log);
  EXPECT_NE(text.find(GetParam().document), std::string::npos)
      << text.substr(0, 300);
  if (GetParam().console.empty()) return;  // no console on standard output
  EXPECT_NE(text.find(GetParam().console), std::string::npos)
      << text.substr(0, 300);
  // The document follows the console, whole.
  EXPECT_LT(text.find(GetParam().console), text.find(GetParam().document));
}

const std::string kResultText = ReadFile(kOrdosResult);

INSTANTIATE_TEST_SUITE_P(
    Tools, StdoutTargetTest,
    ::testing::Values(
        StdoutCase{"HelmertFit",
                   "\"" HELMERT_FIT_EXECUTABLE "\" \"" + kOrdos + "\" OUT",
                   kResultText, "Termination:"},
        StdoutCase{"HelmertReportJson",
                   "\"" HELMERT_REPORT_EXECUTABLE "\" \"" + kOrdos + "\" \"" +
                       kOrdosResult + "\" --json OUT",
                   "{\n  \"control\": ", "Verdict: "},
        StdoutCase{"HelmertControl",
                   "\"" HELMERT_CONTROL_EXECUTABLE "\" \"" + kExamples +
                       "/ordos-wgs84.csv\" \"" + kExamples +
                       "/ordos-grid.csv\" OUT",
                   "{\n  \"define\": {\n", "helmert-control: 16 points matched"},
        StdoutCase{"HelmertTransform",
                   "\"" HELMERT_TRANSFORM_EXECUTABLE "\" \"" + kOrdosResult +
                       "\" --to-grid \"" + kExamples + "/ordos-wgs84.csv\" OUT",
                   "name,easting,northing,height\nBM01,448507.7163,", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// --version names the tool, its version and the libraries it was built
// with; helmert-fit keeps its silent status 1 for any argument count but
// two.
TEST(Version, EveryToolButTheFitSaysIt) {
  for (const char* tool : {HELMERT_REPORT_EXECUTABLE, HELMERT_CONTROL_EXECUTABLE,
                           HELMERT_TRANSFORM_EXECUTABLE}) {
    const ProcessResult run = testing::RunProgram(tool, {"--version"});
    EXPECT_EQ(run.exit_status, 0) << tool;
    const std::string name = std::filesystem::path(tool).filename().string();
    EXPECT_EQ(run.out.rfind(name + " 0.1 (Ceres ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(", Eigen "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(", PROJ "), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
  const ProcessResult fit =
      testing::RunProgram(HELMERT_FIT_EXECUTABLE, {"--version"});
  EXPECT_EQ(fit.exit_status, 1);
  EXPECT_EQ(fit.out + fit.err, "");
}

// --- All or none under a signal -------------------------------------------

int signal_after = -2;  // the commit hook's point to raise SIGTERM at

void RaiseAt(int point) {
  if (point == signal_after) std::raise(SIGTERM);
}

// A SIGTERM at every point of helmert-report's commit of three outputs,
// injected there: before the first rename the old set stays; after any
// rename it waits, held, until the last, and the new set is there.
// Regression: a SIGTERM between the renames left a new plot beside the old
// JSON and GeoJSON.
TEST(CommitUnderSignals, LeavesTheOldSetOrTheNewSet) {
  for (const int point : {-1, 0, 1, 2}) {
    TemporaryDirectory directory;
    const std::vector<std::string> outputs = {directory.Path("plot.svg"),
                                              directory.Path("report.json"),
                                              directory.Path("points.geojson")};
    for (const std::string& path : outputs) WriteFile(path, "old");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      PrepareProcess();
      signal_after = point;
      SetCommitHookForTests(RaiseAt);
      std::ofstream discard("/dev/null");
      try {
        RunHelmertReport(
            ParseReportArguments({kOrdos, kOrdosResult, "--svg", outputs[0],
                                  "--json", outputs[1], "--geojson",
                                  outputs[2]}),
            discard);
      } catch (...) {
        ::_exit(3);
      }
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
        << "point " << point;
    int old_files = 0;
    for (const std::string& path : outputs) old_files += ReadFile(path) == "old";
    EXPECT_EQ(old_files, point < 0 ? 3 : 0) << "point " << point;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
      EXPECT_EQ(entry.path().filename().string().rfind(kTemporaryPrefix, 0),
                std::string::npos)
          << "a temporary left at point " << point;
    }
  }
}

}  // namespace
}  // namespace helmert
