// helmert-transform RESULT.json --to-grid|--to-wgs84 [INPUT [OUTPUT]]
//     [--control CONTROL.json] [--geojson OUT.geojson] [--dms]
//
// Exit status: 0 success (also for --help and --version); 1 wrong usage
// (the problem and the usage line on standard error); 2 a failed run (one
// line on standard error; no output file touched).
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "common/Version.hpp"
#include "io/Streams.hpp"
#include "transform/TransformRun.hpp"

int main(int argc, char** argv) {
  helmert::TransformArguments arguments;
  try {
    arguments = helmert::ParseTransformArguments(
        std::vector<std::string>(argv + 1, argv + argc));
  } catch (const helmert::TransformUsageError& error) {
    std::cerr << "helmert-transform: " << helmert::ShownText(error.what())
              << "\n"
              << helmert::kTransformUsage << std::endl;
    return 1;
  }
  try {
    helmert::PrepareProcess();
    if (arguments.help || arguments.version) {
      if (arguments.help) {
        std::cout << helmert::kTransformHelp;
      } else {
        std::cout << "helmert-transform " << helmert::kVersionLine << "\n";
      }
      helmert::RequireWritten(std::cout);
      return 0;
    }
    helmert::RunHelmertTransform(arguments, 0, std::cout, std::cerr);
    return 0;
  } catch (const std::bad_alloc&) {
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& error) {
    std::cerr << helmert::ShownText(error.what()) << std::endl;
  }
  return 2;
}
