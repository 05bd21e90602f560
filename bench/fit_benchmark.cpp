// Time of the seven-parameter fit (pairing, problem assembly, Ceres solve and
// the summary's report text) by the number of point pairs, with the time per
// pair.
//
//   build/bench/fit_benchmark
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "Synthetic.hpp"
#include "estimation/Estimation.hpp"

namespace {

// A site of n points 20 km across, mapped by a survey-like similarity with
// centimetre noise.
void MakePairs(int n, std::vector<helmert::Point3>* source,
               std::vector<helmert::Point3>* destination) {
  helmert::bench::UniformNoise uniform(12345);
  const helmert::TransformParameters truth =
      helmert::bench::kSurveyLikeSimilarity;
  for (int i = 0; i < n; ++i) {
    const helmert::Point3 p{440000.0 + 10000.0 * uniform(),
                            4290000.0 + 10000.0 * uniform(),
                            1300.0 + 50.0 * uniform()};
    helmert::Point3 q = helmert::ForwardTransform(truth, p);
    q.x += 0.01 * uniform();
    q.y += 0.01 * uniform();
    q.z += 0.01 * uniform();
    source->push_back(p);
    destination->push_back(q);
  }
}

void BM_EstimateParameters(benchmark::State& state) {
  std::vector<helmert::Point3> source, destination;
  MakePairs(static_cast<int>(state.range(0)), &source, &destination);
  for (auto _ : state) {
    benchmark::DoNotOptimize(helmert::EstimateParameters(source, destination));
  }
  state.counters["per_pair"] =
      benchmark::Counter(static_cast<double>(state.range(0)),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}
BENCHMARK(BM_EstimateParameters)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

void BM_GeometryConditionRatio(benchmark::State& state) {
  std::vector<helmert::Point3> source, destination;
  MakePairs(static_cast<int>(state.range(0)), &source, &destination);
  for (auto _ : state) {
    benchmark::DoNotOptimize(helmert::GeometryConditionRatio(source));
  }
  state.counters["per_pair"] =
      benchmark::Counter(static_cast<double>(state.range(0)),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}
BENCHMARK(BM_GeometryConditionRatio)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
