// What both tools promise about existing files, tried on real file systems
// as users and attackers would: no failed run touches an existing file or
// leaves a new one, the control-point document is never the result, the
// destination is checked before the work, and no input crashes either tool,
// at any memory or file-size limit.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.hpp"

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ProgramOnPath;
using testing::ReadFile;
using testing::RunProgram;
using testing::RunShell;
using testing::TemporaryDirectory;
using testing::WriteFile;

const std::string kFit = HELMERT_FIT_EXECUTABLE;
const std::string kReport = HELMERT_REPORT_EXECUTABLE;
const std::string kData = HELMERT_TEST_DATA;
const std::string kOrdos = std::string(HELMERT_EXAMPLES) + "/ordos.json";
const std::string kOrdosResult = kData + "/golden/ordos.result.json";


// Runs the program under a limit (a `ulimit` option and value) and reports
// through a pipe, which no file-size limit applies to: what the program
// wrote on standard error, then "status N" or "signal".
std::string UnderLimit(const std::string& limit,
                       const std::vector<std::string>& command) {
  return RunShell("( ulimit " + limit +
                   "; \"$@\" 2>&1 >/dev/null; s=$?; if [ $s -gt 128 ]; then "
                   "echo signal; "
                   "else echo status $s; fi ) | cat",
               [&] {
                 std::vector<std::string> words = {"sh"};
                 words.insert(words.end(), command.begin(), command.end());
                 return words;
               }())
      .out;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class ExistingFilesTest : public ::testing::Test {
 protected:
  std::vector<std::string> Names() const { return directory_.Names(); }
  TemporaryDirectory directory_;
};

// Regression: the result was opened with truncation before it was written,
// so a write that failed (file-size limit, full disk, quota, I/O error)
// left the previous result empty, or an empty new file.
TEST_F(ExistingFilesTest, AFailedWriteLeavesTheOldResultAndNoNewFile) {
  const std::string old_result = directory_.Path("old.json");
  WriteFile(old_result, "{\"earlier\":true}");
  const std::string output = UnderLimit("-f 0", {kFit, kOrdos, old_result});
  EXPECT_TRUE(EndsWith(output, "Error writing file: " + old_result +
                                   ": File too large\nstatus 2\n"))
      << output;
  EXPECT_EQ(ReadFile(old_result), "{\"earlier\":true}");

  const std::string new_result = directory_.Path("new.json");
  const std::string second = UnderLimit("-f 0", {kFit, kOrdos, new_result});
  EXPECT_TRUE(EndsWith(second, "status 2\n")) << second;
  EXPECT_EQ(Names(), std::vector<std::string>{"old.json"});
}

// Regression: `helmert-fit a.json a.json`, or a link to a.json as the
// result, replaced the control-point document with the result.
TEST_F(ExistingFilesTest, TheControlDocumentIsNeverTheResult) {
  const std::string control = directory_.Path("a.json");
  WriteFile(control, ReadFile(kOrdos));
  const std::string symbolic = directory_.Path("symbolic.json");
  const std::string hard = directory_.Path("hard.json");
  std::filesystem::create_symlink(control, symbolic);
  std::filesystem::create_hard_link(control, hard);
  for (const std::string& result :
       {control, symbolic, hard, directory_.path() + "/./a.json"}) {
    const ProcessResult run = RunProgram(kFit, {control, result});
    EXPECT_EQ(run.exit_status, 2) << result;
    EXPECT_EQ(run.out, "") << result;
    EXPECT_EQ(run.err, result + ": is the control-point document " + control +
                           "; the result would replace it\n");
    EXPECT_EQ(ReadFile(control), ReadFile(kOrdos));
  }
}

// Regression: two runs writing one result path at once left one
// document's tail after the other's (8 invalid results in 50).
TEST_F(ExistingFilesTest, TwoRunsOnOnePathLeaveOneWholeResult) {
  const std::string result = directory_.Path("result.json");
  const std::string expected = ReadFile(kOrdosResult);
  for (int pair = 0; pair < 30; ++pair) {
    const ProcessResult run = RunShell(
        "\"$0\" \"$1\" \"$2\" >/dev/null & \"$0\" \"$1\" \"$2\" "
        ">/dev/null; s=$?; wait $! && exit $s",
        {kFit, kOrdos, result});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    ASSERT_EQ(ReadFile(result), expected) << "pair " << pair;
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"result.json"});
}

// Regression: a result directory the user cannot write was found out only
// after the whole report had been printed.
TEST_F(ExistingFilesTest, AnUnwritableDestinationFailsBeforeTheReport) {
  const std::string control = directory_.Path("control.json");
  WriteFile(control, ReadFile(kOrdos));
  const std::string locked = directory_.Path("locked");
  std::filesystem::create_directory(locked);
  ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
  ASSERT_EQ(::chmod(directory_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(control.c_str(), 0644), 0);
  const std::string result = locked + "/result.json";
  std::vector<std::string> command = {kFit, control, result};
  if (::geteuid() == 0) {
    // Root writes anywhere: run as nobody.
    if (!ProgramOnPath("setpriv")) GTEST_SKIP() << "root without setpriv";
    command.insert(command.begin(), {"setpriv", "--reuid=65534",
                                     "--regid=65534", "--clear-groups"});
    // nobody must be able to run the built tool at all (its folders may
    // be closed to other users): with no arguments it ends with status 1.
    const ProcessResult probe = RunProgram(
        "setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", kFit});
    if (probe.exit_status != 1) {
      GTEST_SKIP() << "the built tool cannot be run as nobody here";
    }
  }
  const ProcessResult run =
      RunProgram(command.front(), {command.begin() + 1, command.end()});
  EXPECT_EQ(run.exit_status, 2) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error writing file: " + result + ": Permission denied\n");
}

// Regression: the report's outputs were renamed one by one, so a second
// output that could not be written left the first already replaced.
TEST_F(ExistingFilesTest, ReportOutputsAreAllReplacedOrNone) {
  const std::string svg = directory_.Path("plot.svg");
  WriteFile(svg, "previous plot");
  const std::string json = directory_.Path("adir");
  std::filesystem::create_directory(json);
  const ProcessResult run =
      RunProgram(kReport, {kOrdos, kOrdosResult, "--svg", svg, "--json", json});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error writing file: " + json + ": Is a directory\n");
  EXPECT_EQ(ReadFile(svg), "previous plot");
  EXPECT_EQ(Names(), (std::vector<std::string>{"adir", "plot.svg"}));
}

// Regression: a link, a FIFO or a device named as an output was replaced
// by a regular file, and a FIFO's reader got nothing.
TEST_F(ExistingFilesTest, ReportWritesThroughLinksFifosAndDevices) {
  const std::string target = directory_.Path("target.svg");
  WriteFile(target, "old");
  const std::string link = directory_.Path("link.svg");
  std::filesystem::create_symlink(target, link);
  const std::string fifo = directory_.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const ProcessResult run = RunShell(
      "cat \"$3\" > \"$3.read\" & \"$0\" \"$1\" \"$2\" --svg \"$4\" --json "
      "\"$3\" > /dev/null && wait $!",
      {kReport, kOrdos, kOrdosResult, fifo, link});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target).rfind("<?xml", 0), 0u);
  EXPECT_EQ(ReadFile(fifo + ".read").rfind("{", 0), 0u);
  struct stat status;
  ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  const ProcessResult null =
      RunProgram(kReport, {kOrdos, kOrdosResult, "--svg", "/dev/null"});
  EXPECT_EQ(null.exit_status, 0) << null.err;
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

// A document of ten megabytes of zeros: enough memory gives the fit's
// refusal of coincident points (helmert-report evaluates a transformation
// on them), too little the line "out of memory".
// Regression: at a memory limit RapidJSON's parser copied into a null
// buffer and both tools ended with SIGSEGV and nothing on stderr.
TEST_F(ExistingFilesTest, AnyMemoryLimitEndsInOneLine) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the "
                  "limits tried";
#else
  const std::string zeros = directory_.Path("zeros.json");
  std::string text = "{\"define\":{\"srcpoints\":[0,0,0";
  text.reserve(10 << 20);
  while (text.size() < (5u << 20)) text += ",0,0,0";
  const std::string list = text.substr(text.find('[') + 1);
  text += "],\"despoints\":[" + list + "]}}";
  WriteFile(zeros, text);
  const std::string result = directory_.Path("result.json");
  for (const char* megabytes : {"60", "120", "250"}) {
    const std::string limit =
        "-v " + std::to_string(std::stoi(megabytes) * 1024);
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{kFit, zeros, result},
          std::vector<std::string>{kReport, zeros, kOrdosResult}}) {
      const std::string output = UnderLimit(limit, command);
      const std::string end =
          output.substr(output.rfind('\n', output.size() - 2) + 1);
      if (command.front() == kReport && end == "status 0\n") continue;
      EXPECT_EQ(end, "status 2\n")
          << megabytes << " MB: " << output.substr(0, 300);
      EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2)
          << megabytes << " MB: " << output.substr(0, 300);
    }
  }
  EXPECT_FALSE(std::filesystem::exists(result));
#endif
}

}  // namespace
}  // namespace helmert
