// helmert-report's verdicts on survey-like data, by Monte Carlo: sets of 20
// to 30 points over a site of about 26 km, an exact similarity plus normal
// noise with plan sigma 5 mm and height sigma 15 mm (GNSS heights are
// noisier than plan), fitted as helmert-fit fits them and assessed as
// helmert-report assesses them. Fixed seeds: the counts are the same on
// every run.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "estimation/Estimation.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "report/Assessment.hpp"

namespace helmert {
namespace {

constexpr int kSets = 300;
constexpr double kPlanSigma = 0.005;    // metres
constexpr double kHeightSigma = 0.015;  // metres
constexpr double kBlunder = 0.025;      // metres, in easting
// Two-sided normal tail beyond 3, and the chance that one of a point's
// three components lies beyond it.
constexpr double kNominalComponentRate = 0.0027;
const double kNominalPointRate = 1.0 - std::pow(1.0 - kNominalComponentRate, 3);

constexpr TransformParameters kTruth{-39.67, 81.06,  82.73,   -5.2e-6,
                                     6.7e-6, 4.9e-8, 0.999991};

// One simulated survey: WGS84 points projected into their zone, and the
// local grid's points.
struct Survey {
  std::vector<Point3> zone;
  std::vector<Point3> grid;
};

class Simulation {
 public:
  explicit Simulation(std::uint64_t seed) : random_(seed) {}

  // n points within +-0.15 degrees of (110.4 E, 38.7 N), mapped by the
  // truth through a zone with central meridian `grid_meridian` (111: the
  // zone helmert-fit chooses), with noise.
  Survey Make(int n, double plan_sigma, double height_sigma,
              double grid_meridian = 111.0) {
    std::uniform_real_distribution<double> offset(-0.15, 0.15);
    std::normal_distribution<double> plan(0.0, plan_sigma);
    std::normal_distribution<double> height(0.0, height_sigma);
    Survey survey;
    for (int i = 0; i < n; ++i) {
      const double longitude = 110.4 + offset(random_);
      const double latitude = 38.7 + offset(random_);
      const double h = 1300.0 + 300.0 * offset(random_);
      const PlanePair ours = GaussKrugerForward(
          {longitude, latitude}, 111.0, kFalseEasting, kFalseNorthing,
          kWgs84SemiMajorAxis, kWgs84Flattening);
      const PlanePair theirs = GaussKrugerForward(
          {longitude, latitude}, grid_meridian, kFalseEasting, kFalseNorthing,
          kWgs84SemiMajorAxis, kWgs84Flattening);
      survey.zone.push_back({ours.easting, ours.northing, h});
      Point3 mapped =
          ForwardTransform(kTruth, {theirs.easting, theirs.northing, h});
      mapped.x += plan(random_);
      mapped.y += plan(random_);
      mapped.z += height(random_);
      survey.grid.push_back(mapped);
    }
    return survey;
  }

  int Count(int least, int most) {
    return std::uniform_int_distribution<int>(least, most)(random_);
  }

 private:
  std::mt19937_64 random_;
};

// The least-squares minimum, which helmert-fit prints for the sets it
// accepts; a grid of another meridian it refuses, but the report still
// judges such a transformation.
Assessment FitAndAssess(const Survey& survey) {
  const TransformParameters fitted =
      ClosedFormMinimum(survey.zone, survey.grid).parameters;
  return AssessTransformation(fitted, survey.zone, survey.grid);
}

// Rates over kSets sets, printed so that the figures can be quoted.
struct Rates {
  int points = 0;
  int flagged = 0;
  int named = 0;  // the blunder's point flagged and named the worst
  int systematic = 0;
  double FlaggedShare() const { return double(flagged) / points; }
};

Rates CleanSets(double plan_sigma, double height_sigma, std::uint64_t seed) {
  Simulation simulation(seed);
  Rates rates;
  for (int set = 0; set < kSets; ++set) {
    const Assessment a = FitAndAssess(
        simulation.Make(simulation.Count(20, 30), plan_sigma, height_sigma));
    rates.points += static_cast<int>(a.points.size());
    rates.flagged += static_cast<int>(a.flagged_count);
    rates.systematic += a.trend.detected;
  }
  return rates;
}

Rates BlunderSets(double plan_sigma, double height_sigma, std::uint64_t seed) {
  Simulation simulation(seed);
  Rates rates;
  for (int set = 0; set < kSets; ++set) {
    const int n = simulation.Count(20, 30);
    Survey survey = simulation.Make(n, plan_sigma, height_sigma);
    const int bad = simulation.Count(0, n - 1);
    survey.grid[bad].x += kBlunder;
    const Assessment a = FitAndAssess(survey);
    rates.named +=
        a.points[bad].flagged && a.worst_point == static_cast<std::size_t>(bad);
  }
  return rates;
}

TEST(Verdicts, CleanPointsAreFlaggedAtMostTwiceTheNominalRate) {
  const Rates rates = CleanSets(kPlanSigma, kHeightSigma, 1);
  ::testing::Test::RecordProperty("flagged_share",
                                  std::to_string(rates.FlaggedShare()));
  std::printf("clean points flagged: %d of %d (%.2f %%, nominal %.2f %%)\n",
              rates.flagged, rates.points, 100.0 * rates.FlaggedShare(),
              100.0 * kNominalPointRate);
  EXPECT_LE(rates.FlaggedShare(), 2.0 * kNominalPointRate);
}

TEST(Verdicts, AnEastingBlunderIsFlaggedAndNamedTheWorst) {
  const Rates rates = BlunderSets(kPlanSigma, kHeightSigma, 2);
  std::printf("25 mm easting blunder named the worst: %d of %d sets\n",
              rates.named, kSets);
  EXPECT_GE(rates.named, 0.85 * kSets);
}

// With one precision everywhere, the two components do as well as one.
TEST(Verdicts, EqualPrecisionStaysAsGoodAsOneSigma) {
  const Rates clean = CleanSets(kPlanSigma, kPlanSigma, 3);
  const Rates blunder = BlunderSets(kPlanSigma, kPlanSigma, 4);
  std::printf(
      "equal precision: clean flagged %.2f %%, blunder named %d of %d\n",
      100.0 * clean.FlaggedShare(), blunder.named, kSets);
  EXPECT_LE(clean.FlaggedShare(), 2.0 * kNominalPointRate);
  EXPECT_GE(blunder.named, 0.85 * kSets);
}

// Check points against the fit on 20 other points (--fit).
TEST(Verdicts, CheckPointsAreJudgedAgainstTheFit) {
  Simulation simulation(5);
  int clean_points = 0;
  int clean_flagged = 0;
  int clean_rejected = 0;
  int off_flagged = 0;
  for (int set = 0; set < kSets; ++set) {
    const Survey survey = simulation.Make(28, kPlanSigma, kHeightSigma);
    Survey fit;
    Survey check;
    for (std::size_t i = 0; i < survey.zone.size(); ++i) {
      Survey& part = i < 20 ? fit : check;
      part.zone.push_back(survey.zone[i]);
      part.grid.push_back(survey.grid[i]);
    }
    const TransformParameters fitted =
        EstimateParameters(fit.zone, fit.grid).parameters;
    const FitReference reference =
        ReferenceOf(AssessTransformation(fitted, fit.zone, fit.grid));
    const Assessment clean =
        AssessTransformation(fitted, check.zone, check.grid, &reference);
    clean_points += static_cast<int>(clean.points.size());
    clean_flagged += static_cast<int>(clean.flagged_count);
    clean_rejected += !clean.check->agrees;
    check.grid[0].x += 0.05;  // 50 mm off
    const Assessment off =
        AssessTransformation(fitted, check.zone, check.grid, &reference);
    off_flagged += off.points[0].flagged;
  }
  const double clean_share = double(clean_flagged) / clean_points;
  std::printf(
      "check points: clean flagged %.2f %% (nominal %.2f %%), sets rejected "
      "%d of %d; 50 mm off flagged %d of %d\n",
      100.0 * clean_share, 100.0 * kNominalPointRate, clean_rejected, kSets,
      off_flagged, kSets);
  // The nominal rate, with three standard errors of a count over 2400
  // points for chance.
  EXPECT_LE(clean_share, kNominalPointRate +
                             3.0 * std::sqrt(kNominalPointRate / clean_points));
  EXPECT_LE(clean_rejected, 0.03 * kSets);
  EXPECT_GE(off_flagged, 0.95 * kSets);
}

TEST(Verdicts, AGridOfAnotherCentralMeridianIsSystematic) {
  Simulation simulation(6);
  int shifted = 0;
  int other_zone = 0;
  for (int set = 0; set < kSets / 3; ++set) {
    const int n = simulation.Count(20, 30);
    shifted += FitAndAssess(simulation.Make(n, kPlanSigma, kHeightSigma, 111.2))
                   .trend.detected;
    other_zone +=
        FitAndAssess(simulation.Make(n, kPlanSigma, kHeightSigma, 114.0))
            .trend.detected;
  }
  const Rates noise = CleanSets(kPlanSigma, kHeightSigma, 7);
  std::printf(
      "systematic: central meridian 0.2 degrees off %d of %d, zone 38 %d of "
      "%d, noise only %d of %d\n",
      shifted, kSets / 3, other_zone, kSets / 3, noise.systematic, kSets);
  EXPECT_GE(shifted, 0.9 * (kSets / 3));
  EXPECT_GE(other_zone, 0.9 * (kSets / 3));
  EXPECT_LE(noise.systematic, kSets / 10);
}

}  // namespace
}  // namespace helmert
