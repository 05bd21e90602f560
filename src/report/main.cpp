// helmert-report CONTROL.json RESULT.json [--svg PLOT.svg] [--json REPORT.json]
//
// Exit status: 0 success (also for --help and --version); 1 wrong usage (the problem and
// the usage line on standard error); 2 a failed run (one line on standard
// error, nothing on standard output, no output file touched).
#include "io/ToolMain.hpp"
#include "report/ReportRun.hpp"

int main(int argc, char** argv) {
  return helmert::ToolMain<helmert::UsageError>(
      "helmert-report", helmert::kReportUsage, helmert::kReportHelp, argc,
      argv, helmert::ParseReportArguments,
      [](const helmert::ReportArguments& arguments) {
        helmert::RunHelmertReport(arguments, std::cout);
      });
}
