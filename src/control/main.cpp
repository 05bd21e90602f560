// helmert-control WGS84.csv GRID.csv CONTROL.json [--central-meridian DEG]
//
// Exit status: 0 success (also for --help and --version); 1 wrong usage (the problem and
// the usage line on standard error); 2 a failed run (one line on standard
// error, the control-point document not touched).
#include "control/ControlRun.hpp"
#include "io/ToolMain.hpp"

int main(int argc, char** argv) {
  return helmert::ToolMain<helmert::ControlUsageError>(
      "helmert-control", helmert::kControlUsage, helmert::kControlHelp, argc,
      argv, helmert::ParseControlArguments,
      [](const helmert::ControlArguments& arguments) {
        helmert::RunHelmertControl(arguments, std::cout);
      });
}
