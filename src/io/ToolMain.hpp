// The main of helmert-report, helmert-control and helmert-transform.
//
// Exit status: 0 success (also for --help and --version); 1 wrong usage
// (the problem and the usage line on standard error); 2 a failed run (one
// line on standard error, escaped, since paths and names come from the
// user; no output file touched).
#pragma once

#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "common/Version.hpp"
#include "io/Streams.hpp"

namespace helmert {

// Parses the arguments with `parse` (which throws UsageErrorType for wrong
// usage and returns arguments with `help` and `version`), then prints the
// help or the version or calls `run` with them.
template <typename UsageErrorType, typename Parse, typename Run>
int ToolMain(const char* tool, const char* usage, const char* help, int argc,
             char** argv, Parse parse, Run run) {
  decltype(parse(std::vector<std::string>())) arguments;
  try {
    arguments = parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageErrorType& error) {
    std::cerr << tool << ": " << ShownText(error.what()) << "\n"
              << usage << std::endl;
    return 1;
  }
  try {
    // A closed pipe or a file-size limit is a write error reported in the
    // run's one line, not a death; an interrupt removes the temporaries.
    PrepareProcess();
    if (arguments.version || arguments.help) {
      if (arguments.version) {
        std::cout << tool << " " << kVersionLine << "\n";
      } else {
        std::cout << help;
      }
      RequireWritten(std::cout);
      return 0;
    }
    run(arguments);
    return 0;
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << ShownText(error.what()) << std::endl;
  }
  return 2;
}

}  // namespace helmert
