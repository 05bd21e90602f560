// The floor of a helmert-fit run: builds and solves exactly the Ceres problem
// that helmert-fit builds (the pairs reduced to their centroids, the same
// residual, the same start, the same options) from pre-projected pairs, and
// does nothing else.
//
//   solver_baseline PAIRS.bin
#include <ceres/ceres.h>

#include <cstdio>
#include <vector>

#include "estimation/Estimation.hpp"

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) return 2;
  std::vector<helmert::Point3> sources;
  std::vector<helmert::Point3> destinations;
  double values[6];
  while (std::fread(values, sizeof(double), 6, file) == 6) {
    sources.push_back({values[0], values[1], values[2]});
    destinations.push_back({values[3], values[4], values[5]});
  }
  std::fclose(file);

  helmert::TransformParameters parameters;
  ceres::Problem problem;
  {
    const helmert::CentredPairs centred =
        helmert::CentrePairs(sources, destinations);
    parameters = helmert::StartingParameters(centred.pairs);
    helmert::BuildFitProblem(centred.pairs, &parameters, &problem);
  }
  // The functors hold their copies; the floor holds nothing else.
  std::vector<helmert::Point3>().swap(sources);
  std::vector<helmert::Point3>().swap(destinations);
  ceres::Solver::Summary summary;
  ceres::Solve(helmert::FitOptions(), &problem, &summary);
  return summary.IsSolutionUsable() ? 0 : 3;
}
