// helmert-transform RESULT.json --to-grid|--to-wgs84 [INPUT [OUTPUT]]
//     [--control CONTROL.json] [--geojson OUT.geojson] [--dms]
//
// Exit status: 0 success (also for --help and --version); 1 wrong usage
// (the problem and the usage line on standard error); 2 a failed run (one
// line on standard error; no output file touched).
#include "io/ToolMain.hpp"
#include "transform/TransformRun.hpp"

int main(int argc, char** argv) {
  return helmert::ToolMain<helmert::TransformUsageError>(
      "helmert-transform", helmert::kTransformUsage, helmert::kTransformHelp,
      argc, argv, helmert::ParseTransformArguments,
      [](const helmert::TransformArguments& arguments) {
        helmert::RunHelmertTransform(arguments, 0, std::cout, std::cerr);
      });
}
