// How close each fit lands to the least-squares minimum, on control-point
// documents: the solve about the zone's origin with Ceres' default
// parameter tolerance (as the tool first fitted) against the tool's own fit
// (about the centroids, no parameter tolerance), both measured against the
// closed-form minimum.
//
//   build/bench/fit_accuracy DOCUMENT.json...
#include <ceres/ceres.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "estimation/Estimation.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"

namespace {

using helmert::Point3;
using helmert::TransformParameters;
using Clock = std::chrono::steady_clock;

// Sum of squared residuals, accumulated in long double.
double SumOfSquares(const TransformParameters& p,
                    const std::vector<Point3>& source,
                    const std::vector<Point3>& destination) {
  long double sum = 0;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const Point3 q = helmert::ForwardTransform(p, source[i]);
    const long double x = q.x - destination[i].x;
    const long double y = q.y - destination[i].y;
    const long double z = q.z - destination[i].z;
    sum += x * x + y * y + z * z;
  }
  return static_cast<double>(sum);
}

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::printf(
      "| document | n | zone-origin fit: iterations, s, SSR / min, T_z off "
      "(m) | tool's fit: iterations, s, short by (sd), closed form used |\n"
      "|---|---:|---|---|\n");
  // The header stays on the screen whatever a document does below.
  std::fflush(stdout);
  for (int k = 1; k < argc; ++k) {
   try {
    const helmert::ControlPoints points = helmert::ParseControlPointDocument(
        helmert::ReadTextFile(argv[k]), argv[k]);
    // The zone helmert-fit uses: the document's meridian and scale factor
    // when it names them. Regression: the mean-longitude zone was taken
    // for every document, and a grid of another zone aborted the run.
    const std::vector<Point3> projected =
        helmert::ProjectToZone(points.source, helmert::ZoneOf(points));

    const std::vector<helmert::PointPair> pairs =
        helmert::MakePointPairs(projected, points.destination);
    TransformParameters origin = helmert::StartingParameters(pairs);
    ceres::Problem problem;
    helmert::BuildFitProblem(pairs, &origin, &problem);
    ceres::Solver::Options options = helmert::FitOptions();
    options.parameter_tolerance = 1e-8;  // Ceres' default
    ceres::Solver::Summary summary;
    const Clock::time_point start = Clock::now();
    ceres::Solve(options, &problem, &summary);
    const Clock::time_point middle = Clock::now();
    const helmert::FitOutcome fit =
        helmert::EstimateParameters(projected, points.destination);
    const Clock::time_point end = Clock::now();

    const helmert::CentredPairs centred = helmert::CentrePairs(pairs);
    const TransformParameters exact = helmert::AboutZoneOrigin(
        helmert::SolveLinearForm(centred.pairs).Parameters(),
        centred.source_centroid, centred.destination_centroid);
    const double minimum = SumOfSquares(exact, projected, points.destination);
    std::printf("| %s | %zu | %d, %.3f, %.6f, %.3g | %d, %.3f, %.2g, %s |\n",
                argv[k], projected.size(),
                static_cast<int>(summary.iterations.size()) - 1,
                Seconds(start, middle),
                SumOfSquares(origin, projected, points.destination) / minimum,
                origin.T_z - exact.T_z, fit.iterations, Seconds(middle, end),
                fit.excess_deviations, fit.exact_minimum_used ? "yes" : "no");
   } catch (const std::exception& error) {
    // A document that helmert-fit refuses: its row says why.
    std::printf("| %s | | refused: %s | |\n", argv[k], error.what());
   }
   std::fflush(stdout);
  }
  return 0;
}
