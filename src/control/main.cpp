// helmert-control WGS84.csv GRID.csv CONTROL.json [--central-meridian DEG]
//
// Exit status: 0 success (also for --help); 1 wrong usage (the problem and
// the usage line on standard error); 2 a failed run (one line on standard
// error, the control-point document not touched).
#include <csignal>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "control/ControlRun.hpp"

int main(int argc, char** argv) {
  helmert::ControlArguments arguments;
  try {
    arguments = helmert::ParseControlArguments(
        std::vector<std::string>(argv + 1, argv + argc));
  } catch (const helmert::ControlUsageError& error) {
    std::cerr << "helmert-control: " << error.what() << "\n"
              << helmert::kControlUsage << std::endl;
    return 1;
  }
  if (arguments.help) {
    std::cout << helmert::kControlHelp << std::flush;
    return 0;
  }
  // Past a file-size limit a write fails with EFBIG, reported in one line.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    helmert::RunHelmertControl(arguments, std::cout);
    return 0;
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << error.what() << std::endl;
  }
  return 2;
}
