// What the benchmarks fit: the survey-like similarity (close to the Ordos
// example's fitted values) that their synthetic destinations are made with,
// and the tests' noise source.
#pragma once

#include "UniformNoise.hpp"
#include "estimation/BursaWolf.hpp"

namespace helmert::bench {

using testing::UniformNoise;

inline constexpr TransformParameters kSurveyLikeSimilarity{
    -39.67, 81.06, 82.73, -5.2e-6, 6.7e-6, 4.9e-8, 0.999991};

}  // namespace helmert::bench
