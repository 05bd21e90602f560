// The console's per-point numbers are formatted without iostream; they must
// be the very bytes that the stream would have written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "app/ConsoleText.hpp"

namespace helmert {
namespace {

std::string ThroughStream(double value, bool fixed) {
  std::ostringstream out;
  if (fixed) out << std::fixed << std::setprecision(10);
  out << value;
  return out.str();
}

std::string ThroughAppend(double value, bool fixed) {
  std::string text;
  fixed ? AppendFixed10(text, value) : AppendGeneral(text, value);
  return text;
}

// Values where formatting goes wrong if it goes wrong anywhere: signed
// zeros, the limits of double, switches between fixed and exponent
// notation, and digits that round up into a new leading digit.
std::vector<double> EdgeValues() {
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                -1.0,
                                117.0,
                                111.0,
                                0.5,
                                1.5,
                                2.5,
                                9.9999995,
                                9.99999949,
                                999999.5,
                                999999.4999,
                                1e6,
                                99999.95,
                                0.000099999995,
                                0.0001,
                                0.00009999995,
                                1e-5,
                                123456789.0,
                                1.5e-11,
                                -1.5e-11,
                                0.00000000005,
                                0.00000000004999,
                                -0.00000000005,
                                0.99999999995,
                                1.99999999995,
                                1310.71054957695,
                                4.87489e-08,
                                std::numeric_limits<double>::max(),
                                -std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::epsilon(),
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
  // Exact ties at the tenth decimal (k / 2048 * 10^10 ends in .5): printf
  // rounds them to even.
  for (int k = -4100; k <= 4100; ++k) values.push_back(k / 2048.0);
  for (double tie : {0.00048828125, 0.00146484375, 8.99999999e8, 9e8, -9e8,
                     8.9999999999999999e8, 123456.00000000005}) {
    values.push_back(tie);
  }
  for (int exponent = -320; exponent <= 308; ++exponent) {
    values.push_back(std::pow(10.0, exponent));
    values.push_back(-9.999995 * std::pow(10.0, exponent));
  }
  return values;
}

// Every bit pattern class: a repeatable stream of raw doubles.
std::vector<double> RandomValues(std::size_t count) {
  std::vector<double> values;
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  while (values.size() < count) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    double value;
    std::memcpy(&value, &state, sizeof value);
    if (std::isnan(value)) continue;
    values.push_back(value);
    // Also values of the size of residuals and coordinates.
    values.push_back(static_cast<double>(state >> 11) * 1e-22 - 0.0008);
    values.push_back(static_cast<double>(state >> 11) * 1e-13 + 100.0);
    // Any mantissa, with a binary exponent from 2^-60 to 2^29.
    const double mantissa =
        static_cast<double>(state >> 11) / 9007199254740992.0;
    values.push_back(std::ldexp(state & 1 ? -mantissa : mantissa,
                                static_cast<int>(state % 90) - 60));
  }
  return values;
}

class ConsoleTextTest : public ::testing::TestWithParam<bool> {};

TEST_P(ConsoleTextTest, AgreesWithTheStreamOnEdgeValues) {
  for (double value : EdgeValues()) {
    ASSERT_EQ(ThroughAppend(value, GetParam()),
              ThroughStream(value, GetParam()))
        << std::hexfloat << value;
  }
}

TEST_P(ConsoleTextTest, AgreesWithTheStreamOnRandomValues) {
  for (double value : RandomValues(100000)) {
    ASSERT_EQ(ThroughAppend(value, GetParam()),
              ThroughStream(value, GetParam()))
        << std::hexfloat << value;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, ConsoleTextTest, ::testing::Bool(),
                         [](const auto& info) {
                           return info.param ? "FixedTenDecimals"
                                             : "GeneralSixDigits";
                         });

TEST(ConsoleBuffer, HandsOverEverythingInOrder) {
  std::ostringstream out;
  {
    ConsoleBuffer console(out);
    for (int i = 0; i < 200000; ++i) {
      console.text() += std::to_string(i);
      console.text() += '\n';
      console.LineDone();
    }
    console.Flush();
    console.text() += "end\n";
  }
  std::string expected;
  for (int i = 0; i < 200000; ++i) expected += std::to_string(i) + "\n";
  EXPECT_EQ(out.str(), expected + "end\n");
}

}  // namespace
}  // namespace helmert
