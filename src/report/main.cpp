// helmert-report CONTROL.json RESULT.json [--svg PLOT.svg] [--json REPORT.json]
//
// Exit status: 0 success (also for --help); 1 wrong usage (the problem and
// the usage line on standard error); 2 a failed run (one line on standard
// error, nothing on standard output, no output file touched).
#include <csignal>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "report/ReportRun.hpp"

int main(int argc, char** argv) {
  helmert::ReportArguments arguments;
  try {
    arguments = helmert::ParseReportArguments(
        std::vector<std::string>(argv + 1, argv + argc));
  } catch (const helmert::UsageError& error) {
    std::cerr << "helmert-report: " << error.what() << "\n"
              << helmert::kReportUsage << std::endl;
    return 1;
  }
  // Past a file-size limit a write fails with EFBIG, reported in one line.
  std::signal(SIGXFSZ, SIG_IGN);
  if (arguments.help) {
    std::cout << helmert::kReportHelp << std::flush;
    return 0;
  }
  try {
    helmert::RunHelmertReport(arguments, std::cout);
    return 0;
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << error.what() << std::endl;
  }
  return 2;
}
