// Helpers shared by the tests: running a program and capturing what it
// prints, and temporary files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"

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

// Runs a shell script (sh -c) with the arguments as "$0", "$1", ...; its
// standard output and error as the script routes them.
ProcessResult RunShell(const std::string& script,
                       const std::vector<std::string>& arguments);

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

// Whether the golden files are being rewritten (HELMERT_UPDATE_GOLDEN set):
// then a golden comparison writes its file before comparing.
bool UpdatingGoldenFiles();

// Runs PROJ's cct with the arguments (a pipeline, split into words) on the
// input lines and returns its output lines' first three numbers. Empty when
// cct is missing or fails.
std::vector<Point3> RunCct(const std::vector<std::string>& arguments,
                           const std::vector<Point3>& input);

// A synthetic survey: n points over a square site of the given side
// (metres) around a zone position like that of the Ordos example, heights
// within +-50 m, from the repeatable UniformNoise.
std::vector<Point3> Site(int n, double side, std::uint64_t seed);

// The points mapped by the parameters, with uniform noise of the given
// amplitude (metres) on every coordinate.
std::vector<Point3> Transformed(const std::vector<Point3>& points,
                                const TransformParameters& parameters,
                                double noise_metres, std::uint64_t seed);

// Parameters of the size a datum change between WGS84 and an old national
// grid has (those the Ordos example's fit gives).
inline constexpr TransformParameters kSurveyParameters{
    -39.67487822915914, 81.05938610404601, 82.73389921995451, -5.182991e-06,
    6.699661e-06,       4.874e-08,         0.999991031377671};

}  // namespace helmert::testing
