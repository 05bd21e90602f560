// The result document: its exact text, and how it replaces a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "TestSupport.hpp"
#include "common/Error.hpp"
#include "io/ResultDocument.hpp"

namespace helmert {
namespace {

struct FormatCase {
  const char* name;
  TransformParameters parameters;
  double central_meridian;
  std::string text;
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatResultDocumentTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatResultDocumentTest, WritesTheExactLine) {
  EXPECT_EQ(
      FormatResultDocument(GetParam().parameters, GetParam().central_meridian),
      GetParam().text);
}

constexpr TransformParameters Make(double t_x, double t_y, double t_z,
                                   double r_x, double r_y, double r_z,
                                   double scale) {
  return {t_x, t_y, t_z, r_x, r_y, r_z, scale};
}

INSTANTIATE_TEST_SUITE_P(
    Documents, FormatResultDocumentTest,
    ::testing::Values(
        // The third element shows Grisu2's last digit (...465, not ...464).
        FormatCase{"WorkedExample",
                   Make(-35.712, 120.068, 4.25, 0.000002, -0.0000035, 0.0000125,
                        1.0000186),
                   117.0,
                   R"({"R":[0.9999999998315001,0.000012499992997843754,)"
                   R"(0.0000035000249993962465,-0.000012500006997843752,)"
                   R"(0.9999999998397502,0.000001999956249655008,)"
                   R"(-0.000003499974999396255,-0.000002000043749654993,)"
                   R"(0.9999999999837501],"T":[-35.712,120.068,4.25],)"
                   R"("S":1.0000186,"L0":117.0})"},
        // No element of R is written as a negative zero.
        FormatCase{"ShiftOnly", Make(1, 2, 3, 0, 0, 0, 1), 117.0,
                   R"({"R":[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0],)"
                   R"("T":[1.0,2.0,3.0],"S":1.0,"L0":117.0})"},
        FormatCase{"WholeValuesKeepTheirPointZero",
                   Make(-1e20, 1e21, 0.0000025, 0, 0, 0, 2), -120.0,
                   R"({"R":[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0],)"
                   R"("T":[-100000000000000000000.0,1e21,0.0000025],)"
                   R"("S":2.0,"L0":-120.0})"}),
    [](const auto& info) { return std::string(info.param.name); });

// A zone with a scale factor adds "k0" after "L0"; without one the
// document is as before, with no "k0" at all.
TEST(FormatResultDocument, ScaleFactorComesLastAndOnlyWhenNamed) {
  const TransformParameters shift = Make(1, 2, 3, 0, 0, 0, 1);
  EXPECT_EQ(FormatResultDocument(shift, 9.0, 0.9996),
            R"({"R":[1.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,1.0],)"
            R"("T":[1.0,2.0,3.0],"S":1.0,"L0":9.0,"k0":0.9996})");
  const std::string unit = FormatResultDocument(shift, 9.0, 1.0);
  EXPECT_EQ(unit.substr(unit.rfind(",\"L0\"")), R"(,"L0":9.0,"k0":1.0})");
  EXPECT_EQ(FormatResultDocument(shift, 9.0, std::nullopt),
            FormatResultDocument(shift, 9.0));
}

TEST(FormatResultDocument, RefusesAValueThatIsNotFinite) {
  EXPECT_THROW(FormatResultDocument(Make(NAN, 0, 0, 0, 0, 0, 1), 117.0), Error);
  EXPECT_THROW(FormatResultDocument(Make(0, 0, 0, 0, 0, 0, INFINITY), 117.0),
               Error);
}

}  // namespace
}  // namespace helmert
