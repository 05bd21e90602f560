// Helpers shared by the tests: running a program and capturing what it
// prints, and temporary files.
#pragma once

#include <string>
#include <vector>

namespace helmert::testing {

struct ProcessResult {
  int exit_status = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs the program with the arguments (no shell), standard input empty, and
// captures both output streams.
ProcessResult RunProgram(const std::string& program,
                         const std::vector<std::string>& arguments,
                         const std::string& standard_input = "");

// The whole content of a file, or an empty text when it cannot be read.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  std::string Path(const std::string& name) const;
  const std::string& path() const { return path_; }
  // The names of the entries in the directory, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// Whether an executable of this name is on PATH.
bool ProgramOnPath(const std::string& name);

}  // namespace helmert::testing
