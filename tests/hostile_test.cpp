// The tools against a hostile user and a failing machine: the right point
// dropped, every stream checked, temporaries removed on a signal, names
// and paths made harmless where they are shown, outputs all replaced or
// none, FIFOs that nobody reads or writes. Each test names the fault it
// guards against.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.hpp"
#include "io/Streams.hpp"

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


// The Ordos example with its points named: `names` as a JSON array text.
std::string OrdosNamed(const std::string& names) {
  std::string text = ReadFile(kOrdos);
  text.replace(text.find("\"define\": {"), 11,
               "\"define\": {\"names\": " + names + ",");
  return text;
}

class HostileTest : public ::testing::Test {
 protected:
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> found;
    for (const std::string& name : directory_.Names()) {
      if (name.rfind(".helmert-", 0) == 0) found.push_back(name);
    }
    return found;
  }
  TemporaryDirectory directory_;
};

// --- --without means what the user meant -------------------------------

// Regression: point 5 named "3" was dropped by --without 3, and two names
// that printed alike were matched after being made printable.
TEST_F(HostileTest, WithoutMatchesNamesExactlyAndRefusesAmbiguity) {
  const std::string control = directory_.Path("named.json");
  WriteFile(control,
            OrdosNamed("[\"A\",\"B\",\"C\",\"D\",\"3\",\"F\",\"G\",\"H\","
                       "\"I\",\"J\",\"K\",\"L\",\"GPS\\u0001\",\"GPS\\u0002\","
                       "\"O\",\"P\"]"));
  const std::string out = directory_.Path("out.json");
  ProcessResult run = RunProgram(
      kReport, {control, kOrdosResult, "--without", "3", "--write-control", out});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, control +
                         ": --without \"3\" is the name of point 5 and the "
                         "number of another; write #5 for the first or #3 "
                         "for the second\n");
  EXPECT_FALSE(std::filesystem::exists(out));

  run = RunProgram(kReport, {control, kOrdosResult, "--without",
                             "#3,GPS\x02", "--write-control", out});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string kept = ReadFile(out);
  EXPECT_EQ(kept.find("\"C\""), std::string::npos);
  EXPECT_EQ(kept.find("GPS\\u0002"), std::string::npos);
  EXPECT_NE(kept.find("GPS\\u0001"), std::string::npos);
  EXPECT_NE(kept.find("\"3\""), std::string::npos);

  // Regression: an empty list exited 0 and dropped nothing.
  run = RunProgram(kReport, {control, kOrdosResult, "--without", ",,,",
                             "--write-control", directory_.Path("x.json")});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, control + ": --without names no point\n");
}

// --- The --write-control copy is a copy ----------------------------------

// Regression: the copy was re-printed: a name's escape \udc00 came out as
// the bytes ED B0 80 (not UTF-8), numbers of 17 digits read back an ulp
// off, and a document nested 80,000 deep in an unrelated member crashed
// the recursive writer. Now every kept byte is the document's own.
TEST_F(HostileTest, WriteControlCopiesTheDocumentsOwnText) {
  std::string text = ReadFile(kOrdos);
  const std::string deep =
      std::string(80000, '[') + "1" + std::string(80000, ']');
  text.replace(text.find("\"define\": {"), 11,
               "\"deep\": " + deep +
                   ", \"define\": {\"names\": [\"A\\udc00\", \"B\", \"C\", "
                   "\"D\", \"E\", \"F\", \"G\", \"H\", \"I\", \"J\", \"K\", "
                   "\"L\", \"M\", \"N\", \"O\", \"P\"],");
  // A number of 17 significant digits that a re-print would change.
  text.replace(text.find("110.5226901"), 11, "110.52269010000001");
  const std::string control = directory_.Path("deep.json");
  WriteFile(control, text);
  const std::string copy = directory_.Path("copy.json");
  const ProcessResult run = RunProgram(
      kReport, {control, kOrdosResult, "--without", "C", "--write-control", copy});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const std::string written = ReadFile(copy);
  EXPECT_NE(written.find(deep), std::string::npos);
  EXPECT_NE(written.find("\"A\\udc00\""), std::string::npos);
  EXPECT_NE(written.find("110.52269010000001"), std::string::npos);
  EXPECT_EQ(written.find("\"C\""), std::string::npos);
  // Point 3 (C) is gone and nothing else: the copy is the text less it.
  std::string expected = text;
  const std::size_t name = expected.find(", \"C\"");
  expected.erase(name, 5);
  const std::size_t source = expected.find("110.2137518");
  const std::size_t before = expected.rfind(",", source);
  expected.erase(before, expected.find("1329.847") + 8 - before);
  const std::size_t grid = expected.find("431569.611");
  const std::size_t grid_before = expected.rfind(",", grid);
  expected.erase(grid_before, expected.find("1387.461") + 8 - grid_before);
  EXPECT_EQ(written, expected);
}

// A member given twice inside "define" counts once, its first occurrence,
// for the fit and for the copy alike: the one reader yields both the
// points and the spans the copy cuts. Regression: two readers followed the
// document, and nothing tested that they picked the same occurrence.
TEST_F(HostileTest, WriteControlCutsTheMembersTheFitRead) {
  const std::string text =
      "{\"define\": {\"note\": {\"srcpoints\": [0, 0, 0]},\n"
      "  \"srcpoints\": [110.4077229, 38.8038589, 1310.71, 110.5226901, "
      "38.5898447, 1335.113, 110.2137518, 38.7108775, 1329.847, 110.5012661, "
      "38.7718185, 1321.199],\n"
      "  \"names\": [\"A\", \"B\", \"C\", \"D\"],\n"
      "  \"despoints\": [448507.717, 4296938.845, 1368.157, 458370.616, "
      "4273122.809, 1392.617, 431569.611, 4286743.807, 1387.461, 456613.965, "
      "4293333.515, 1378.61],\n"
      "  \"srcpoints\": [1, 2, 3],\n  \"names\": [\"X\"],\n"
      "  \"despoints\": {\"deeper\": [[4, 5, 6]]}}}\n";
  const std::string control = directory_.Path("twice.json");
  WriteFile(control, text);
  const std::string result = directory_.Path("r.json");
  ASSERT_EQ(RunProgram(kFit, {control, result}).exit_status, 0);
  const std::string copy = directory_.Path("copy.json");
  const ProcessResult run = RunProgram(
      kReport, {control, result, "--without", "B", "--write-control", copy});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  std::string expected = text;
  for (const std::string& cut :
       {std::string(", 110.5226901, 38.5898447, 1335.113"),
        std::string(", \"B\""),
        std::string(", 458370.616, 4273122.809, 1392.617")}) {
    expected.erase(expected.find(cut), cut.size());
  }
  EXPECT_EQ(ReadFile(copy), expected);
}

// --- Every stream checked ------------------------------------------------

struct StreamCase {
  const char* name;
  const char* redirection;  // of the tool's standard output
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class FailedStandardOutputTest
    : public ::testing::TestWithParam<StreamCase> {
 protected:
  TemporaryDirectory directory_;
};

// Regression: a report that could not be written exited 0, and the result
// or the plot replaced the old ones.
TEST_P(FailedStandardOutputTest, IsAFailedRunThatReplacesNothing) {
  const std::string result = directory_.Path("result.json");
  const std::string svg = directory_.Path("plot.svg");
  WriteFile(result, "old result");
  WriteFile(svg, "old plot");
  const std::string redirection = GetParam().redirection;
  const ProcessResult fit =
      RunShell("\"$0\" \"$1\" \"$2\" " + redirection, {kFit, kOrdos, result});
  EXPECT_EQ(fit.exit_status, 2) << fit.err;
  EXPECT_EQ(fit.err.rfind("Error writing standard output", 0), 0u) << fit.err;
  EXPECT_EQ(ReadFile(result), "old result");
  const ProcessResult report =
      RunShell("\"$0\" \"$1\" \"$2\" --svg \"$3\" " + redirection,
            {kReport, kOrdos, kOrdosResult, svg});
  EXPECT_EQ(report.exit_status, 2) << report.err;
  EXPECT_EQ(ReadFile(svg), "old plot");
  EXPECT_EQ(directory_.Names(),
            (std::vector<std::string>{"plot.svg", "result.json"}));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FailedStandardOutputTest,
    ::testing::Values(StreamCase{"FullDisk", "> /dev/full"},
                      StreamCase{"Closed", ">&-"}),
    [](const auto& info) { return std::string(info.param.name); });

// Regression: a reader that had gone (helmert-fit BIG R | head -1) ended
// the run by SIGPIPE, the old result standing as if current. The pipe's
// reading end is closed before the tool starts, so no reader is ever
// there.
TEST_F(HostileTest, AClosedPipeIsAWriteError) {
  const std::string result = directory_.Path("result.json");
  const std::string errors = directory_.Path("errors.txt");
  WriteFile(result, "old result");
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  ::close(pipe_ends[0]);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(pipe_ends[1], 1);
    const int error_file = ::open(errors.c_str(), O_WRONLY | O_CREAT, 0600);
    ::dup2(error_file, 2);
    ::execl(kFit.c_str(), kFit.c_str(), kOrdos.c_str(), result.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipe_ends[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
  const std::string error_text = ReadFile(errors);
  EXPECT_EQ(error_text.rfind("Error writing standard output", 0), 0u)
      << error_text;
  std::filesystem::remove(errors);
  EXPECT_EQ(ReadFile(result), "old result");
  EXPECT_TRUE(Temporaries().empty());
}

// Regression: under ulimit -f 2 the report was cut at 2,048 bytes and the
// run exited 0.
TEST_F(HostileTest, AFileSizeLimitOnStandardOutputIsAFailedRun) {
  const std::string report = directory_.Path("report.txt");
  const ProcessResult run = RunShell("ulimit -f 2; \"$0\" \"$1\" \"$2\" > \"$3\"",
                                  {kReport, kOrdos, kOrdosResult, report});
  EXPECT_EQ(run.exit_status, 2) << run.err;
  EXPECT_EQ(run.err.rfind("Error writing standard output", 0), 0u) << run.err;
}

// --- Temporaries removed on a signal --------------------------------------

// Regression: SIGINT and SIGTERM left the temporaries of the outputs.
// The report prepares its outputs before it reads --fit: a FIFO that is
// held open for writing, and never written, holds it there. The test holds
// the FIFO open for reading and writing before the report starts, which
// never blocks: had it waited for the report to open the FIFO first, a
// report that read before the writer arrived would see an empty FIFO and
// end (seen on a loaded machine).
TEST_F(HostileTest, SignalsRemoveTheTemporaries) {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string fifo = directory_.Path("fit.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execl(kReport.c_str(), kReport.c_str(), kOrdos.c_str(),
              kOrdosResult.c_str(), "--svg", directory_.Path("plot.svg").c_str(),
              "--json", directory_.Path("report.json").c_str(), "--fit",
              fifo.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int wait = 0; wait < 2000 && Temporaries().size() < 2; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(Temporaries().size(), 2u);
    ::kill(child, signal_number);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(writer);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number);
    EXPECT_TRUE(Temporaries().empty()) << "signal " << signal_number;
    std::filesystem::remove(fifo);
  }
}

// Regression: a result name of 255 bytes was refused because the
// temporary's name, made from it, was longer.
TEST_F(HostileTest, AResultNameOfTheLongestLengthIsWritten) {
  const std::string result = directory_.Path(std::string(250, 'r') + ".json");
  const ProcessResult run = RunProgram(kFit, {kOrdos, result});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(ReadFile(result), ReadFile(kOrdosResult));
}

// --- FIFOs that nobody reads ---------------------------------------------

// Regression: a FIFO without a reader blocked either tool forever.
TEST_F(HostileTest, AFifoThatNobodyReadsIsRefused) {
  const std::string fifo = directory_.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const ProcessResult fit = RunShell("timeout 20 \"$0\" \"$1\" \"$2\"",
                                  {kFit, kOrdos, fifo});
  EXPECT_EQ(fit.exit_status, 2);
  EXPECT_EQ(fit.err, "Error writing file: " + fifo + ": a FIFO that nobody reads\n");
  const ProcessResult report = RunShell(
      "timeout 20 \"$0\" \"$1\" \"$2\" --json \"$3\"",
      {kReport, kOrdos, kOrdosResult, fifo});
  EXPECT_EQ(report.exit_status, 2);
  // And one that nobody writes reads as empty.
  const ProcessResult input =
      RunShell("timeout 20 \"$0\" \"$1\" \"$2\"", {kFit, fifo, directory_.Path("r")});
  EXPECT_EQ(input.exit_status, 2);
  EXPECT_EQ(input.err,
            fifo + ": invalid JSON at byte offset 0: The document is empty.\n");
}

// --- Two outputs, one file -----------------------------------------------

// Regression: two dangling links to one name were taken for two files,
// and the plot was lost.
TEST_F(HostileTest, TwoDanglingLinksToOneFileAreOneOutput) {
  std::filesystem::create_symlink("target", directory_.Path("d1"));
  std::filesystem::create_symlink("target", directory_.Path("d2"));
  const ProcessResult run =
      RunProgram(kReport, {kOrdos, kOrdosResult, "--svg", directory_.Path("d1"),
                           "--json", directory_.Path("d2")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("--svg and --json name the same file"),
            std::string::npos)
      << run.err;
}

// --- All or none, for real -----------------------------------------------

// Regression: as an ordinary user, a JSON report over root's file in a
// sticky directory failed with "Operation not permitted" after the plot
// had been replaced.
TEST_F(HostileTest, AnOutputThatCannotBeReplacedReplacesNone) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to set up another owner";
  if (!ProgramOnPath("setpriv")) GTEST_SKIP() << "setpriv missing";
  const ProcessResult probe = RunProgram(
      "setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", kFit});
  if (probe.exit_status != 1) GTEST_SKIP() << "nobody cannot run the tool";
  const std::string sticky = directory_.Path("sticky");
  const std::string mine = directory_.Path("mine");
  std::filesystem::create_directory(sticky);
  std::filesystem::create_directory(mine);
  ASSERT_EQ(::chmod(directory_.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
  ASSERT_EQ(::chown(mine.c_str(), 65534, 65534), 0);
  const std::string json = sticky + "/report.json";
  WriteFile(json, "root's report");
  ASSERT_EQ(::chmod(json.c_str(), 0666), 0);
  const std::string svg = mine + "/plot.svg";
  WriteFile(svg, "old plot");
  ASSERT_EQ(::chown(svg.c_str(), 65534, 65534), 0);
  const ProcessResult run = RunProgram(
      "setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", kReport,
                  kOrdos, kOrdosResult, "--svg", svg, "--json", json});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err,
            "Error writing file: " + json + ": Operation not permitted\n");
  EXPECT_EQ(ReadFile(svg), "old plot");
  EXPECT_EQ(ReadFile(json), "root's report");
}

// --- Names and paths made harmless ---------------------------------------

TEST(ShownText, EscapesControlsBidiAndBadBytes) {
  EXPECT_EQ(ShownText("BM01 \xE5\x8C\x97 ok"), "BM01 \xE5\x8C\x97 ok");
  EXPECT_EQ(ShownText("\x1b]0;x\x07\x1b[2J"), "\\x1b]0;x\\x07\\x1b[2J");
  EXPECT_EQ(ShownText("a\nb\tc\x7f"), "a\\nb\\tc\\x7f");
  EXPECT_EQ(ShownText("\xC2\x9B\xC2\x9D"), "\\u009b\\u009d");
  EXPECT_EQ(ShownText("\xE2\x80\xAEgnp.exe"), "\\u202egnp.exe");
  EXPECT_EQ(ShownText("\xFF\xFE"), "\\xff\\xfe");
  EXPECT_EQ(ShownText("\xED\xB0\x80"), "\\xed\\xb0\\x80");  // a surrogate
}

// Regression: a name's raw escape sequences reached standard error in the
// duplicate-names message, and DEL, C1 controls and U+202E reached the
// text report; a newline in a file name forged a report line.
TEST_F(HostileTest, NamesAndPathsAreShownEscaped) {
  const std::string twice = directory_.Path("twice.json");
  WriteFile(twice, OrdosNamed("[\"\\u001b]0;owned\\u0007\\u001b[2J\",\"B\","
                              "\"C\",\"D\",\"E\",\"F\",\"G\",\"H\",\"I\","
                              "\"J\",\"K\",\"L\",\"M\",\"N\",\"O\","
                              "\"\\u001b]0;owned\\u0007\\u001b[2J\"]"));
  ProcessResult run = RunProgram(kReport, {twice, kOrdosResult});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos);

  const std::string controls = directory_.Path("line\nforged.json");
  WriteFile(controls,
            OrdosNamed("[\"A\\u007f\",\"B\\u009b\",\"\\u202eC\",\"D\",\"E\","
                       "\"F\",\"G\",\"H\",\"I\",\"J\",\"K\",\"L\",\"M\",\"N\","
                       "\"O\",\"P\"]"));
  run = RunProgram(kReport, {controls, kOrdosResult});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  for (const char* raw : {"\x7f", "\xC2\x9B", "\xE2\x80\xAE", "\nforged"}) {
    EXPECT_EQ(run.out.find(raw), std::string::npos) << raw;
  }
  EXPECT_NE(run.out.find("line\\nforged.json"), std::string::npos);
  EXPECT_NE(run.out.find("A\\x7f"), std::string::npos);
  EXPECT_NE(run.out.find("\\u202eC"), std::string::npos);
  // Regression (found by fuzz_report): a flagged point's name reached the
  // verdict line raw, DEL and all.
  run = RunProgram(kReport, {kData + "/ordos-controls-flagged.json",
                             kOrdosResult});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.out.find("\nVerdict: check point(s) GPS\\x7f02 (H)"),
            std::string::npos)
      << run.out;
  for (const char c : run.out) {
    const unsigned char u = static_cast<unsigned char>(c);
    EXPECT_FALSE((u < 0x20 && c != '\n') || u == 0x7F) << int(u);
  }
  const ProcessResult missing =
      RunProgram(kFit, {directory_.Path("gone\x1b[2J.json"), "r"});
  EXPECT_EQ(missing.err.find('\x1b'), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace helmert
