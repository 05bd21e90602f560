// The time of each stage of a helmert-fit run on one document, per point:
// reading, parsing, checking, projecting, the fit (with its closed form and
// its problem), the fit check's two passes and the result. The console text
// goes to /dev/null, as in the scaling run.
//
//   build/bench/stages DOCUMENT.json
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/FitCheck.hpp"
#include "app/Run.hpp"
#include "estimation/Estimation.hpp"

#include <ceres/problem.h>
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"

namespace {

using Clock = std::chrono::steady_clock;

class Stopwatch {
 public:
  explicit Stopwatch(std::size_t points) : points_(points) {}
  void Lap(const char* stage) {
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - last_).count();
    std::printf("%-28s %9.4f s %9.3f us/point\n", stage, seconds,
                1e6 * seconds / static_cast<double>(points_));
    last_ = now;
  }
  void Reset() { last_ = Clock::now(); }
  void Points(std::size_t points) { points_ = points; }

 private:
  std::size_t points_;
  Clock::time_point last_ = Clock::now();
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  mallopt(M_MXFAST, 0);  // as helmert-fit runs
  const Clock::time_point start = Clock::now();
  Stopwatch watch(1);
  const std::string text = helmert::ReadTextFile(argv[1]);
  watch.Lap("read");
  const helmert::ControlPoints points =
      helmert::ParseControlPointDocument(text, argv[1]);
  watch.Points(points.source.size());
  watch.Lap("parse");
  helmert::ValidateControlPoints(points, argv[1]);
  watch.Lap("check");
  const double l0 = helmert::SelectCentralMeridian(points.source);
  const std::vector<helmert::Point3> projected =
      helmert::ProjectToZone(points.source, l0);
  watch.Lap("project");
  const helmert::CentredPairs centred = helmert::CentrePairs(
      helmert::MakePointPairs(projected, points.destination));
  watch.Lap("pair and centre");
  const helmert::LinearMinimum minimum =
      helmert::SolveLinearForm(centred.pairs);
  watch.Lap("closed form (one QR pass)");
  (void)minimum;
  {
    // The problem alone, built and released: one allocation of ours per
    // pair (the solver baseline's construction) against the tool's arrays.
    helmert::TransformParameters parameters =
        helmert::StartingParameters(centred.pairs);
    // Twice each, alternating: the first build also grows the heap.
    for (int round = 0; round < 2; ++round) {
      {
        ceres::Problem problem;
        helmert::BuildFitProblem(centred.pairs, &parameters, &problem);
      }
      watch.Lap("problem, a cost each");
      { helmert::FitProblem problem(centred.pairs, &parameters); }
      watch.Lap("problem, in arrays");
    }
  }
  const helmert::FitOutcome fit =
      helmert::EstimateParameters(projected, points.destination);
  watch.Lap("EstimateParameters (all)");
  std::ofstream null("/dev/null");
  helmert::ReportFit(fit, null, null);
  helmert::PrintPlaneResiduals(fit.parameters, projected, points.destination,
                               null);
  watch.Lap("fit check: plane lines");
  helmert::PrintGeodeticResiduals(fit.parameters, l0, points.source,
                                  points.destination, null);
  watch.Lap("fit check: geodetic lines");
  const std::string result = helmert::FormatResultDocument(fit.parameters, l0);
  watch.Lap("result document");
  std::printf("%-28s %9.4f s\n", "total",
              std::chrono::duration<double>(Clock::now() - start).count());
  return result.empty();
}
