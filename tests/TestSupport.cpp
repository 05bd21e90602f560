#include "TestSupport.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "UniformNoise.hpp"

extern char** environ;

namespace helmert::testing {

ProcessResult RunProgram(const std::string& program,
                         const std::vector<std::string>& arguments,
                         const std::string& standard_input) {
  TemporaryDirectory scratch;
  const std::string in_path = scratch.Path("stdin");
  const std::string out_path = scratch.Path("stdout");
  const std::string err_path = scratch.Path("stderr");
  WriteFile(in_path, standard_input);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr,
                                   argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  int status = 0;
  waitpid(pid, &status, 0);

  ProcessResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file),
                     std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << content;
}

TemporaryDirectory::TemporaryDirectory() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "helmert-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary directory");
  }
  path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TemporaryDirectory::Path(const std::string& name) const {
  return path_ + "/" + name;
}

std::vector<std::string> TemporaryDirectory::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool ProgramOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::istringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

ProcessResult RunShell(const std::string& script,
                       const std::vector<std::string>& arguments) {
  std::vector<std::string> words = {"-c", script};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return RunProgram("sh", words);
}

bool UpdatingGoldenFiles() {
  return std::getenv("HELMERT_UPDATE_GOLDEN") != nullptr;
}

std::vector<Point3> RunCct(const std::vector<std::string>& arguments,
                           const std::vector<Point3>& input) {
  std::ostringstream text;
  text.precision(17);
  for (const Point3& p : input) text << p.x << " " << p.y << " " << p.z << "\n";
  const ProcessResult run = RunProgram("cct", arguments, text.str());
  std::vector<Point3> output;
  if (run.exit_status != 0) return output;
  // Four columns per line; the fourth (time) is "inf", which streams do
  // not read.
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const char* cursor = line.c_str();
    double xyz[3];
    int read = 0;
    for (; read < 3; ++read) {
      char* end = nullptr;
      xyz[read] = std::strtod(cursor, &end);
      if (end == cursor) break;
      cursor = end;
    }
    if (read == 3) output.push_back({xyz[0], xyz[1], xyz[2]});
  }
  return output;
}

std::vector<Point3> Site(int n, double side, std::uint64_t seed) {
  UniformNoise noise(seed);
  std::vector<Point3> points;
  for (int i = 0; i < n; ++i) {
    points.push_back({440000.0 + side / 2 * noise(),
                      4290000.0 + side / 2 * noise(), 1300.0 + 50.0 * noise()});
  }
  return points;
}

std::vector<Point3> Transformed(const std::vector<Point3>& points,
                                const TransformParameters& parameters,
                                double noise_metres, std::uint64_t seed) {
  UniformNoise noise(seed);
  std::vector<Point3> out;
  for (const Point3& point : points) {
    Point3 mapped = ForwardTransform(parameters, point);
    mapped.x += noise_metres * noise();
    mapped.y += noise_metres * noise();
    mapped.z += noise_metres * noise();
    out.push_back(mapped);
  }
  return out;
}

}  // namespace helmert::testing
