// Systematic residuals: smooth patterns that noise does not make.
//
// Each residual component (dE, dN, dH) is fitted by least squares with
// three sets of terms, each against the component's mean:
//   - quadratic in plan: x, y, x^2, xy, y^2 of the points' zone position
//     (about the points' centroid, scaled by the site's half extent): a
//     grid whose scale or rotation changes across the site, heights of
//     another kind (the geoid's curvature);
//   - cubic in plan: the quadratic terms and x^3, x^2 y, x y^2, y^3, where
//     the points allow (at least 16): what an oblique Mercator or a
//     stereographic grid leaves of a transverse Mercator zone;
//   - proportional to the height: h - mean(h): a grid's scale factor that
//     the fit's one Scale applied to the heights as well.
// For each, the trend's share of the component's variation about its
// mean, its RMS, and the F statistic
//
//   F = (explained / p) / (unexplained / (n - p - 1))  on (p, n - p - 1)
//
// with p the number of terms (5, 9, 1). A component carries a pattern
// when its F probability is below the test's level, its trend explains at
// least kLeastTrendShare of its variation and amounts to at least
// kLeastTrendMetres RMS. Every model of every component is one test, so
// each is tested at 1 - (1 - kTrendSetLevel)^(1 / tests) (Sidak): a clean
// data set is called systematic with a chance of at most kTrendSetLevel.
#pragma once

#include <vector>

#include "common/Point3.hpp"

namespace helmert {

// The trend test's level per data set: at most 1 % of noise-only sets are
// called systematic. A pattern must also explain at least a tenth of the
// component's variation and amount to at least 2 mm RMS (twice the
// millimetre to which grid coordinates are written): below that no
// surveyor's decision changes. The bundled example's change of ellipsoid
// leaves a significant pattern of 1.1 mm in height.
inline constexpr double kTrendSetLevel = 0.01;
inline constexpr double kLeastTrendShare = 0.1;
inline constexpr double kLeastTrendMetres = 2e-3;
// A plan pattern is called cubic when the cubic terms explain at least
// this much more of a plan component than the quadratic surface does.
inline constexpr double kLeastCubicGain = 0.1;

// The terms a trend is fitted with.
enum class TrendModel { kQuadratic, kCubic, kHeight };
inline constexpr int kTrendModels = 3;
// The number of terms besides the mean: 5, 9, 1.
int TrendTerms(TrendModel model);

// One model's trend of one residual component.
struct ComponentTrend {
  double explained_share = 0;  // of the component's variation about its mean
  double rms = 0;              // of the trend about the mean (metres)
  double f = 0;                // F statistic on (p, n - p - 1) degrees
  double probability = 1;      // P(F >= f) for noise alone
  double level = 0;            // the level it is tested at
  // Significant, large enough a share and large enough in metres.
  bool Matters() const;
};

// Which components carry a pattern, and what that says.
enum class TrendPattern {
  kNone,
  kHeight,  // dH alone, in plan: heights that are not ellipsoidal in both
            // frames (the geoid between them)
  kPlan,    // dE or dN, quadratic: the grid's scale or rotation varies
            // across the site (another central meridian or projection)
  kAll,     // plan and height: no similarity over this extent
  kProportionalToHeight,  // a component proportional to the height: the
                          // grid's scale factor acts on the heights
  kCubicPlan,  // dE or dN cubic beyond the quadratic (kLeastCubicGain):
               // not a transverse Mercator grid (oblique Mercator,
               // stereographic); takes precedence over the heights' pattern
};

struct TrendAnalysis {
  bool available = false;  // needs at least 9 points and some spread
  bool detected = false;   // some model's trend of some component Matters()
  int tests = 0;           // the models tested, times 3 components
  double explained_share = 0;  // of all three components' variation, by
                               // the quadratic trend
  // Per model (TrendModel order), per component (E, N, H); a model that
  // the points do not allow has available[model] false.
  bool model_available[kTrendModels] = {false, false, false};
  ComponentTrend models[kTrendModels][3];
  // The model of component c that carries a pattern with the smallest
  // probability; -1 when none does.
  int StrongestModel(int c) const;
  TrendPattern Pattern() const;
};

// The trend of the residuals (forward map minus destination, metres) over
// the points' zone positions and heights (metres). Not available with
// fewer than 9 points or points on a line or conic; the cubic model needs
// 16 points, the height model some spread of the heights.
TrendAnalysis AnalyseTrend(const std::vector<Point3>& projected_source,
                           const std::vector<Point3>& residuals);

}  // namespace helmert
