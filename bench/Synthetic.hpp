// What the benchmarks fit: a repeatable uniform noise source and the
// survey-like similarity (close to the Ordos example's fitted values) that
// their synthetic destinations are made with.
#pragma once

#include <cstdint>

#include "estimation/BursaWolf.hpp"

namespace helmert::bench {

// Repeatable uniform numbers in [-1, 1] (a 64-bit linear congruential
// generator; the top 53 bits make the double).
class UniformNoise {
 public:
  explicit UniformNoise(std::uint64_t seed) : state_(seed) {}
  double operator()() {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state_ >> 11) / 4503599627370496.0 - 1.0;
  }

 private:
  std::uint64_t state_;
};

inline TransformParameters SurveyLikeSimilarity() {
  TransformParameters truth;
  truth.T_x = -39.67;
  truth.T_y = 81.06;
  truth.T_z = 82.73;
  truth.R_x = -5.2e-6;
  truth.R_y = 6.7e-6;
  truth.R_z = 4.9e-8;
  truth.Scale = 0.999991;
  return truth;
}

}  // namespace helmert::bench
