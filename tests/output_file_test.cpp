// Output files replaced whole or not at all, on a real file system: links
// followed, permissions kept, FIFOs and devices written in place, nothing
// left behind by a failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "TestSupport.hpp"
#include "common/Error.hpp"
#include "io/OutputFile.hpp"

namespace helmert {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class OutputFileTest : public ::testing::Test {
 protected:
  std::vector<std::string> Names() const { return directory_.Names(); }
  std::string Written(const std::string& path, const std::string& text) {
    OutputFile file(path);
    file.Write(text);
    file.Commit();
    return ReadFile(path);
  }
  testing::TemporaryDirectory directory_;
};

TEST_F(OutputFileTest, ReplacesALongerFileEntirelyAndLeavesNothingElse) {
  const std::string path = directory_.Path("result.json");
  WriteFile(path, std::string(1000, 'x'));
  EXPECT_EQ(Written(path, "{\"S\":1.0}"), "{\"S\":1.0}");
  EXPECT_EQ(Names(), std::vector<std::string>{"result.json"});
}

// Regression: the target used to be truncated before the new text was
// written, so a failed write left it empty.
TEST_F(OutputFileTest, AnUncommittedFileLeavesTheTargetAndNoTemporary) {
  const std::string path = directory_.Path("result.json");
  WriteFile(path, "old");
  {
    OutputFile file(path);
    file.Write("new");
  }  // not committed: as when the run fails after writing
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"result.json"});
  { OutputFile file(directory_.Path("new.json")); }  // prepared, never written
  EXPECT_EQ(Names(), std::vector<std::string>{"result.json"});
}

TEST_F(OutputFileTest, KeepsTheReplacedFilesPermissionBits) {
  const std::string path = directory_.Path("result.json");
  WriteFile(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  Written(path, "new");
  struct stat status;
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST_F(OutputFileTest, GivesANewFileTheDefaultPermissions) {
  const mode_t mask = ::umask(022);
  const std::string path = directory_.Path("result.json");
  Written(path, "new");
  ::umask(mask);
  struct stat status;
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST_F(OutputFileTest, ReplacesTheFileALinkPointsToAndKeepsTheLink) {
  const std::string target = directory_.Path("target.json");
  const std::string link = directory_.Path("link.json");
  WriteFile(target, "old");
  std::filesystem::create_symlink("target.json", link);
  EXPECT_EQ(Written(link, "new"), "new");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(Names(), (std::vector<std::string>{"link.json", "target.json"}));
}

TEST_F(OutputFileTest, WritesIntoAFifoForItsReader) {
  const std::string fifo = directory_.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(fifo, std::ios::binary);
    received.assign(std::istreambuf_iterator<char>(in),
                    std::istreambuf_iterator<char>());
  });
  {
    OutputFile file(fifo);
    file.Write("through the pipe");
    file.Commit();
  }
  reader.join();
  EXPECT_EQ(received, "through the pipe");
  struct stat status;
  ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(OutputFileTest, WritesIntoADeviceAndLeavesItADevice) {
  OutputFile file("/dev/null");
  file.Write("discarded");
  file.Commit();
  struct stat status;
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

struct FailureCase {
  const char* name;
  const char* path;  // "{dir}" stands for the scratch directory
  const char* reason;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class OutputFileFailureTest : public ::testing::TestWithParam<FailureCase> {
 protected:
  testing::TemporaryDirectory directory_;
};

TEST_P(OutputFileFailureTest, NamesThePathAndTheReason) {
  std::string path = GetParam().path;
  if (path.rfind("{dir}", 0) == 0) path = directory_.path() + path.substr(5);
  if (path == "/dev/full" && ::access("/dev/full", W_OK) != 0) {
    GTEST_SKIP() << "this machine has no writable /dev/full";
  }
  try {
    OutputFile file(path);
    file.Write(std::string(1 << 16, 'x'));
    file.Commit();
    FAIL() << "wrote " << path;
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              "Error writing file: " + path + ": " + GetParam().reason);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Targets, OutputFileFailureTest,
    ::testing::Values(
        FailureCase{"MissingDirectory", "{dir}/missing/result.json",
                    "No such file or directory"},
        FailureCase{"Directory", "{dir}", "Is a directory"},
        FailureCase{"FullDevice", "/dev/full", "No space left on device"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SameExistingFile, SeesThroughLinksAndOtherSpellings) {
  testing::TemporaryDirectory directory;
  const std::string file = directory.Path("a.json");
  WriteFile(file, "{}");
  const std::string symbolic = directory.Path("symbolic.json");
  const std::string hard = directory.Path("hard.json");
  std::filesystem::create_symlink(file, symbolic);
  std::filesystem::create_hard_link(file, hard);
  EXPECT_TRUE(SameExistingFile(file, file));
  EXPECT_TRUE(SameExistingFile(file, symbolic));
  EXPECT_TRUE(SameExistingFile(file, hard));
  EXPECT_TRUE(SameExistingFile(file, directory.path() + "/./a.json"));
  EXPECT_FALSE(SameExistingFile(file, directory.Path("other.json")));
}

}  // namespace
}  // namespace helmert
