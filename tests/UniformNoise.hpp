// The one repeatable noise source of the tests, the fixture writer and the
// benchmarks: uniform numbers in [-1, 1) from a 64-bit linear congruential
// generator (the top 53 bits make the double), the same on every machine.
#pragma once

#include <cstdint>

namespace helmert::testing {

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

}  // namespace helmert::testing
