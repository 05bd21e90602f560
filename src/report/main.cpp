// helmert-report CONTROL.json RESULT.json [--svg PLOT.svg] [--json REPORT.json]
//
// Exit status: 0 success (also for --help and --version); 1 wrong usage (the problem and
// the usage line on standard error); 2 a failed run (one line on standard
// error, nothing on standard output, no output file touched).
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "common/Version.hpp"
#include "io/Streams.hpp"
#include "report/ReportRun.hpp"

int main(int argc, char** argv) {
  helmert::ReportArguments arguments;
  try {
    arguments = helmert::ParseReportArguments(
        std::vector<std::string>(argv + 1, argv + argc));
  } catch (const helmert::UsageError& error) {
    std::cerr << "helmert-report: " << helmert::ShownText(error.what()) << "\n"
              << helmert::kReportUsage << std::endl;
    return 1;
  }
  try {
    // A closed pipe or a file-size limit is a write error reported in the
    // run's one line, not a death; an interrupt removes the temporaries.
    helmert::PrepareProcess();
    if (arguments.version) {
      std::cout << "helmert-report " << helmert::kVersionLine << "\n";
      helmert::RequireWritten(std::cout);
      return 0;
    }
    if (arguments.help) {
      std::cout << helmert::kReportHelp;
      helmert::RequireWritten(std::cout);
      return 0;
    }
    helmert::RunHelmertReport(arguments, std::cout);
    return 0;
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& error) {
    // Paths and names come from the user: shown escaped, on one line.
    std::cerr << helmert::ShownText(error.what()) << std::endl;
  }
  return 2;
}
