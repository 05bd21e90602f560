// Checking a transformation against control points: reading the result
// document back, the residuals and blunder test, the precision of the
// parameters against a Monte Carlo simulation, and the PROJ pipelines
// against PROJ's own cct.
#include "report/Report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "app/Run.hpp"
#include "common/Error.hpp"
#include "estimation/Estimation.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"
#include "statistics/Distributions.hpp"
#include "report/Utf8.hpp"

namespace helmert {
namespace {

using testing::ProgramOnPath;
using testing::ReadFile;
using testing::RunProgram;

constexpr double kMillimetre = 1e-3;  // metres
// An angle recovered from the written M^-1 by inverting it again (radians).
constexpr double kRecoveredAngle = 1e-16;
// A sum of redundancy numbers against the degrees of freedom.
constexpr double kRedundancySum = 1e-9;
constexpr double kRoundingMetres = 1e-8;       // metres, coordinates ~1e6 m
constexpr double kMetresPerDegree = 111320.0;  // on the equator, for tolerances

const std::string kData = HELMERT_TEST_DATA;
const std::string kExamples = HELMERT_EXAMPLES;

ControlPoints ReadControlPoints(const std::string& path) {
  ControlPoints points = ParseControlPointDocument(ReadFile(path), path);
  ValidateControlPoints(points, path);
  return points;
}

// Fits the points as helmert-fit does and reads its result document back.
StoredTransformation Fit(const ControlPoints& points) {
  std::ostream discard(nullptr);
  return ParseResultDocument(
      FitControlPoints(points, "control.json", discard, discard),
      "result.json");
}

TransformationReport ReportOn(const std::string& control_path) {
  const ControlPoints points = ReadControlPoints(control_path);
  return BuildReport(control_path, points, "result.json", Fit(points));
}

// ---------------------------------------------------------------------------
// Reading the result document.

TEST(ResultDocumentReading, RecoversTheParametersThatWereWritten) {
  const TransformParameters p{-35.712,    120.068,   4.25,     0.000002,
                              -0.0000035, 0.0000125, 1.0000186};
  const StoredTransformation stored =
      ParseResultDocument(FormatResultDocument(p, 117), "r.json");
  EXPECT_EQ(stored.parameters.T_x, p.T_x);
  EXPECT_EQ(stored.parameters.T_y, p.T_y);
  EXPECT_EQ(stored.parameters.T_z, p.T_z);
  EXPECT_EQ(stored.parameters.Scale, p.Scale);
  EXPECT_EQ(stored.central_meridian_degrees, 117.0);
  // The inverse of the written inverse: back to within rounding of 1.
  EXPECT_NEAR(stored.parameters.R_x, p.R_x, kRecoveredAngle);
  EXPECT_NEAR(stored.parameters.R_y, p.R_y, kRecoveredAngle);
  EXPECT_NEAR(stored.parameters.R_z, p.R_z, kRecoveredAngle);
}

// A grid's own meridian, named in the control-point document, is read back
// to the last bit: it need not be a 3-degree zone's.
TEST(ResultDocumentReading, KeepsANamedMeridian) {
  const StoredTransformation stored = ParseResultDocument(
      FormatResultDocument(TransformParameters{}, 114.17855555555556),
      "r.json");
  EXPECT_EQ(stored.central_meridian_degrees, 114.17855555555556);
}

TEST(ResultDocumentReading, ReadsTheScaleFactorWhenPresent) {
  const StoredTransformation with = ParseResultDocument(
      FormatResultDocument(TransformParameters{}, -2.0, 0.9996012717),
      "r.json");
  ASSERT_TRUE(with.scale_factor.has_value());
  EXPECT_EQ(*with.scale_factor, 0.9996012717);
  EXPECT_EQ(with.zone().scale_factor, 0.9996012717);
  const StoredTransformation without = ParseResultDocument(
      FormatResultDocument(TransformParameters{}, -2.0), "r.json");
  EXPECT_FALSE(without.scale_factor.has_value());
  EXPECT_EQ(without.zone().scale_factor, 1.0);
}

struct RefusedResultCase {
  const char* name;
  const char* text;
  const char* message;
};
void PrintTo(const RefusedResultCase& c, std::ostream* os) { *os << c.name; }

class RefusedResultTest : public ::testing::TestWithParam<RefusedResultCase> {};

TEST_P(RefusedResultTest, NamesTheFileAndTheMember) {
  try {
    ParseResultDocument(GetParam().text, "r.json");
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), GetParam().message);
  }
}

#define IDENTITY_R "\"R\":[1,0,0,0,1,0,0,0,1]"
INSTANTIATE_TEST_SUITE_P(
    Documents, RefusedResultTest,
    ::testing::Values(
        RefusedResultCase{"NotJson", "{\"R\":",
                          "r.json: invalid JSON at byte "
                          "offset 5: Invalid value."},
        RefusedResultCase{"RootArray", "[]",
                          "r.json: the document is not a JSON object"},
        RefusedResultCase{"MissingR", "{\"T\":[0,0,0],\"S\":1,\"L0\":117}",
                          "r.json: the document has no member \"R\""},
        RefusedResultCase{"EightRotationElements",
                          "{\"R\":[1,0,0,0,1,0,0,0],\"T\":[0,0,0],\"S\":1,"
                          "\"L0\":117}",
                          "r.json: \"R\" holds 8 elements, not 9"},
        RefusedResultCase{"TranslationNotNumber",
                          "{" IDENTITY_R
                          ",\"T\":[0,\"1\",0],\"S\":1,\"L0\":117}",
                          "r.json: \"T\" element 2 is not a number"},
        RefusedResultCase{"ScaleZero",
                          "{" IDENTITY_R ",\"T\":[0,0,0],\"S\":0,\"L0\":117}",
                          "r.json: \"S\" is not a positive scale factor"},
        RefusedResultCase{"ScaleString",
                          "{" IDENTITY_R
                          ",\"T\":[0,0,0],\"S\":\"1\",\"L0\":117}",
                          "r.json: \"S\" is not a number"},
        RefusedResultCase{"ScaleFactorOutOfRange",
                          "{" IDENTITY_R
                          ",\"T\":[0,0,0],\"S\":1,\"L0\":9,\"k0\":0.9}",
                          "r.json: \"k0\" is not a scale factor within "
                          "[0.99, 1.01]"},
        RefusedResultCase{"ScaleFactorString",
                          "{" IDENTITY_R
                          ",\"T\":[0,0,0],\"S\":1,\"L0\":9,\"k0\":\"1\"}",
                          "r.json: \"k0\" is not a number"},
        RefusedResultCase{"MeridianOutOfRange",
                          "{" IDENTITY_R ",\"T\":[0,0,0],\"S\":1,\"L0\":183}",
                          "r.json: \"L0\" is not a central meridian within "
                          "[-180, 180]"},
        RefusedResultCase{"SingularMatrix",
                          "{\"R\":[1,0,0,0,1,0,0,0,0],\"T\":[0,0,0],\"S\":1,"
                          "\"L0\":117}",
                          "r.json: \"R\" is a singular matrix"},
        // A proper rotation by 90 degrees is not of the linearised form.
        RefusedResultCase{"OrthonormalRotation",
                          "{\"R\":[0,1,0,-1,0,0,0,0,1],\"T\":[0,0,0],\"S\":1,"
                          "\"L0\":117}",
                          "r.json: \"R\" is not the inverse of a linearised "
                          "rotation matrix (deviation 1)"}),
    [](const auto& info) { return std::string(info.param.name); });
#undef IDENTITY_R

// ---------------------------------------------------------------------------
// Residuals, blunder test and summary.

TEST(Assessment, ExactSimilarityLeavesOnlyRounding) {
  const TransformationReport report =
      ReportOn(kData + "/similarity-hefei.json");
  const Assessment& a = report.assessment;
  EXPECT_TRUE(a.fitted_points);
  EXPECT_EQ(a.degrees_of_freedom, 3 * 12 - 7);
  for (const PointAssessment& point : a.points) {
    EXPECT_LT(std::fabs(point.residual.x), kRoundingMetres);
    EXPECT_LT(std::fabs(point.residual.y), kRoundingMetres);
    EXPECT_LT(std::fabs(point.residual.z), kRoundingMetres);
    EXPECT_FALSE(point.flagged);
  }
  EXPECT_LT(a.sigma0, kRoundingMetres);
  EXPECT_EQ(a.flagged_count, 0u);
}

TEST(Assessment, FlagsTheOnePointDisplacedByHalfAMetre) {
  const TransformationReport report =
      ReportOn(kData + "/blunder-zhengzhou.json");
  const Assessment& a = report.assessment;
  ASSERT_TRUE(a.fitted_points);
  ASSERT_TRUE(a.blunder_test_available);
  EXPECT_EQ(a.worst_point, 6u);
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    EXPECT_EQ(a.points[i].flagged, i == 6)
        << "point " << i << " |w| " << a.points[i].largest;
  }
  // The point's own residual is smaller than its displacement: the fit
  // leans toward it (redundancy below 1), which is why the test divides by
  // sqrt(r) and judges it by a sigma0 estimated without it.
  EXPECT_LT(a.points[6].horizontal, 0.5);
  EXPECT_LT(a.points[6].redundancy.x, 1.0);
}

TEST(Assessment, RedundancyNumbersSumToTheDegreesOfFreedom) {
  // trace(I - H) = 3n - 7 for any fitted geometry.
  for (const std::string& path :
       {kExamples + "/ordos.json", kData + "/santiago-west.json",
        kData + "/blunder-zhengzhou.json"}) {
    const Assessment a = ReportOn(path).assessment;
    double sum = 0.0;
    for (const PointAssessment& point : a.points) {
      sum += point.redundancy.x + point.redundancy.y + point.redundancy.z;
      EXPECT_GT(point.redundancy.x, 0.0);
      EXPECT_LT(point.redundancy.z, 1.0);
    }
    EXPECT_NEAR(sum, a.degrees_of_freedom, kRedundancySum) << path;
  }
}

TEST(Assessment, PointsTheParametersWereNotFittedToAreCheckPoints) {
  ControlPoints points = ReadControlPoints(kExamples + "/ordos.json");
  ControlPoints fitting;
  ControlPoints check;
  for (std::size_t i = 0; i < points.source.size(); ++i) {
    ControlPoints& part = i < 12 ? fitting : check;
    part.source.push_back(points.source[i]);
    part.destination.push_back(points.destination[i]);
  }
  const StoredTransformation stored = Fit(fitting);
  const Assessment own = BuildReport("fit", fitting, "r", stored).assessment;
  const Assessment other = BuildReport("check", check, "r", stored).assessment;
  EXPECT_TRUE(own.fitted_points);
  EXPECT_TRUE(own.precision.has_value());
  EXPECT_FALSE(other.fitted_points) << other.gradient_cosine;
  EXPECT_FALSE(other.precision.has_value());
  EXPECT_EQ(other.degrees_of_freedom, 3 * 4);
  for (const PointAssessment& point : other.points) {
    EXPECT_EQ(point.redundancy.x, 1.0);
    EXPECT_EQ(point.redundancy.z, 1.0);
  }
}

// ---------------------------------------------------------------------------
// Precision of the parameters against a simulation: the same site refitted
// under many draws of noise; the spread of the fitted parameters must match
// sigma (J^T J)^-1 from the analytic Jacobian.

TEST(Assessment, StandardDeviationsMatchAMonteCarloSimulation) {
  constexpr int kTrials = 4000;
  constexpr double kNoiseMetres = 0.01;
  // 4000 draws estimate a standard deviation within about 1.1 % (one sigma).
  constexpr double kRelativeTolerance = 0.05;
  // A correlation from 4000 draws is within (1 - r^2) / sqrt(4000) = 0.016
  // (one sigma); three sigma for each of the 21.
  constexpr double kCorrelationTolerance = 0.05;

  const ControlPoints truth_points =
      ReadControlPoints(kData + "/santiago-west.json");
  const double l0 = SelectCentralMeridian(truth_points.source);
  const std::vector<Point3> projected = ProjectToZone(truth_points.source, l0);
  const TransformParameters truth{212.4,   -95.3,   -31.8,    3.1e-6,
                                  -1.7e-6, -8.2e-6, 1.0000420};
  std::vector<Point3> exact;
  for (const Point3& p : projected) exact.push_back(ForwardTransform(truth, p));

  std::mt19937_64 generator(7);
  std::normal_distribution<double> noise(0.0, kNoiseMetres);
  Eigen::Matrix<double, Eigen::Dynamic, 7> fitted(kTrials, 7);
  for (int trial = 0; trial < kTrials; ++trial) {
    std::vector<Point3> observed = exact;
    for (Point3& p : observed) {
      p.x += noise(generator);
      p.y += noise(generator);
      p.z += noise(generator);
    }
    const TransformParameters f =
        EstimateParameters(projected, observed).parameters;
    fitted.row(trial) << f.T_x, f.T_y, f.T_z, f.R_x, f.R_y, f.R_z, f.Scale;
  }
  const Eigen::Matrix<double, 1, 7> mean = fitted.colwise().mean();
  const Eigen::Matrix<double, Eigen::Dynamic, 7> centred =
      fitted.rowwise() - mean;
  const ParameterMatrix simulated =
      centred.transpose() * centred / (kTrials - 1.0);

  // The report's covariance is sigma0^2 (J^T J)^-1; with the noise known,
  // compare (J^T J)^-1 itself, scaled by the true variance.
  const Assessment a = AssessTransformation(truth, projected, exact);
  ASSERT_TRUE(a.precision.has_value());
  const ParameterMatrix& correlation = a.precision->correlation;
  std::vector<double> predicted(7);
  for (int j = 0; j < 7; ++j) {
    predicted[j] = std::sqrt(a.precision->cofactor(j, j)) * kNoiseMetres;
  }
  for (int j = 0; j < 7; ++j) {
    const double sd = std::sqrt(simulated(j, j));
    EXPECT_NEAR(sd / predicted[j], 1.0, kRelativeTolerance)
        << "parameter " << j;
    for (int k = 0; k < j; ++k) {
      const double r =
          simulated(j, k) / std::sqrt(simulated(j, j) * simulated(k, k));
      EXPECT_NEAR(r, correlation(j, k), kCorrelationTolerance)
          << "parameters " << j << ", " << k;
    }
  }
}

// ---------------------------------------------------------------------------
// File names as UTF-8 text for the JSON report and the plot.

struct Utf8Case {
  const char* name;
  std::string bytes;
  std::string printable;
};
void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.name; }

class PrintableUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(PrintableUtf8Test, KeepsWellFormedTextAndReplacesTheRest) {
  EXPECT_EQ(PrintableUtf8(GetParam().bytes), GetParam().printable);
}

#define FFFD "\xEF\xBF\xBD"
INSTANTIATE_TEST_SUITE_P(
    Bytes, PrintableUtf8Test,
    ::testing::Values(
        Utf8Case{"AsciiPath", "data/ordos.json", "data/ordos.json"},
        Utf8Case{"ChineseName",
                 "\xE9\x84\x82\xE5\xB0\x94\xE5\xA4\x9A\xE6\x96\xAF",
                 "\xE9\x84\x82\xE5\xB0\x94\xE5\xA4\x9A\xE6\x96\xAF"},
        Utf8Case{"FourByteCharacter", "\xF0\x9F\x93\x90", "\xF0\x9F\x93\x90"},
        Utf8Case{"Latin1Byte", "K\xF6ln.json", "K" FFFD "ln.json"},
        Utf8Case{"ControlCharacter", std::string("a\x01\tb\0c", 6),
                 "a" FFFD FFFD "b" FFFD "c"},
        Utf8Case{"TruncatedSequence", "x\xE4\xB8", "x" FFFD FFFD},
        Utf8Case{"OverlongSlash", "\xC0\xAF", FFFD FFFD},
        Utf8Case{"Surrogate", "\xED\xA0\x80", FFFD FFFD FFFD},
        Utf8Case{"BeyondUnicode", "\xF4\x90\x80\x80", FFFD FFFD FFFD FFFD},
        Utf8Case{"NonCharacter", "\xEF\xBF\xBF", FFFD FFFD FFFD}),
    [](const auto& info) { return std::string(info.param.name); });
#undef FFFD

// ---------------------------------------------------------------------------
// The PROJ pipelines, run through PROJ's cct.

struct PipelineCase {
  const char* name;
  std::string document;
};
void PrintTo(const PipelineCase& c, std::ostream* os) { *os << c.name; }

class ProjPipelineTest : public ::testing::TestWithParam<PipelineCase> {
 protected:
  void SetUp() override {
    if (!ProgramOnPath("cct")) GTEST_SKIP() << "PROJ's cct is not installed";
    report_ = ReportOn(GetParam().document);
  }

  // cct's output for the points through the pipeline, at 12 decimals.
  std::vector<Point3> RunCct(const std::string& pipeline,
                             const std::vector<Point3>& points) {
    std::vector<std::string> arguments = {"-d", "12"};
    std::istringstream words(pipeline);
    for (std::string word; words >> word;) arguments.push_back(word);
    const std::vector<Point3> output = testing::RunCct(arguments, points);
    EXPECT_EQ(output.size(), points.size());
    return output;
  }

  TransformationReport report_;
};

TEST_P(ProjPipelineTest, GridToWgs84MatchesTheSourcePointsAndOurReverseMap) {
  const std::vector<Point3> geodetic =
      RunCct(report_.grid_to_wgs84, report_.destination);
  ASSERT_EQ(geodetic.size(), report_.destination.size());
  const StoredTransformation& stored = report_.stored;
  for (std::size_t i = 0; i < geodetic.size(); ++i) {
    const double east_per_degree =
        kMetresPerDegree * std::cos(geodetic[i].y * kDegreeToRadian);
    // Against the source point: within the fit's residual plus 1 mm.
    const PointAssessment& point = report_.assessment.points[i];
    const double to_source = std::hypot(
        (geodetic[i].x - report_.source[i].longitude_degrees) * east_per_degree,
        (geodetic[i].y - report_.source[i].latitude_degrees) *
            kMetresPerDegree);
    EXPECT_LE(to_source, point.horizontal + kMillimetre) << "point " << i;
    EXPECT_LE(std::fabs(geodetic[i].z - report_.source[i].height_metres),
              std::fabs(point.residual.z) + kMillimetre)
        << "point " << i;

    // Against this tool's reverse map and inverse projection: 1 mm.
    const Point3 zone =
        ReverseTransform(stored.parameters, report_.destination[i]);
    const GeodeticPair ours = GaussKrugerInverse(
        {zone.x, zone.y}, stored.central_meridian_degrees, kFalseEasting,
        kFalseNorthing, kWgs84SemiMajorAxis, kWgs84Flattening);
    const double to_ours =
        std::hypot((geodetic[i].x - ours.longitude_degrees) * east_per_degree,
                   (geodetic[i].y - ours.latitude_degrees) * kMetresPerDegree);
    EXPECT_LE(to_ours, kMillimetre) << "point " << i;
    EXPECT_NEAR(geodetic[i].z, zone.z, kMillimetre) << "point " << i;
  }
}

TEST_P(ProjPipelineTest, Wgs84ToGridMatchesOurForwardMap) {
  std::vector<Point3> source_triples;
  for (const GeodeticPoint& p : report_.source) {
    source_triples.push_back(
        {p.longitude_degrees, p.latitude_degrees, p.height_metres});
  }
  const std::vector<Point3> grid =
      RunCct(report_.wgs84_to_grid, source_triples);
  ASSERT_EQ(grid.size(), report_.source.size());
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const Point3 ours =
        ForwardTransform(report_.stored.parameters, report_.projected[i]);
    EXPECT_NEAR(grid[i].x, ours.x, kMillimetre) << "point " << i;
    EXPECT_NEAR(grid[i].y, ours.y, kMillimetre) << "point " << i;
    EXPECT_NEAR(grid[i].z, ours.z, kMillimetre) << "point " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ProjPipelineTest,
    ::testing::Values(
        PipelineCase{"OrdosExample", kExamples + "/ordos.json"},
        PipelineCase{"SouthWestOfGreenwich", kData + "/santiago-west.json"},
        PipelineCase{"WithABlunder", kData + "/blunder-zhengzhou.json"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The F tail, against published table values (Abramowitz and Stegun, table
// 26.9; Student's t as F(1, dof)).

struct TailCase {
  const char* name;
  double f, d1, d2;
  double probability;
};
void PrintTo(const TailCase& c, std::ostream* os) { *os << c.name; }

class FUpperTailTest : public ::testing::TestWithParam<TailCase> {};

TEST_P(FUpperTailTest, MatchesTheTable) {
  constexpr double kTableRounding = 5e-4;  // tables give 3 to 4 digits
  const TailCase& c = GetParam();
  EXPECT_NEAR(FUpperTail(c.f, c.d1, c.d2), c.probability, kTableRounding);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FUpperTailTest,
    ::testing::Values(TailCase{"F5And20At5Percent", 2.71, 5, 20, 0.05},
                      TailCase{"F5And20At1Percent", 4.10, 5, 20, 0.01},
                      TailCase{"F1And10At1Percent", 10.04, 1, 10, 0.01},
                      TailCase{"StudentT15Beyond3", 9.0, 1, 15, 0.00895},
                      TailCase{"NormalBeyond3", 9.0, 1, 1e7, 0.0027},
                      TailCase{"F12And40At1Percent", 2.66, 12, 40, 0.01},
                      TailCase{"NothingBeyondZero", 0.0, 3, 3, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace helmert
