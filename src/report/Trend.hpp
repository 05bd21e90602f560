// Systematic residuals: a quadratic trend in easting and northing.
//
// Each residual component (dE, dN, dH) is fitted by least squares with the
// six terms 1, x, y, x^2, xy, y^2 of the points' zone position (about the
// points' centroid, scaled by the site's half extent). The trend's share of
// the component's variation about its mean, its RMS, and the F statistic
//
//   F = (explained / 5) / (unexplained / (n - 6))  on (5, n - 6) degrees
//
// say whether the residuals are a pattern (a grid in another projection or
// zone, heights of another kind, a distorted network) rather than noise. A
// component carries a pattern when its F probability is below the
// component level, its trend explains at least kLeastTrendShare of its
// variation and amounts to at least kLeastTrendMetres RMS. Three
// components are tested, so each is tested at 1 - (1 - kTrendSetLevel)^(1/3)
// (Sidak): a clean data set is called systematic with a chance of at most
// kTrendSetLevel.
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

// The quadratic trend of one residual component.
struct ComponentTrend {
  double explained_share = 0;  // of the component's variation about its mean
  double rms = 0;              // of the trend about the mean (metres)
  double f = 0;                // F statistic on (5, n - 6) degrees of freedom
  double probability = 1;      // P(F >= f) for noise alone
  // Significant, large enough a share and large enough in metres.
  bool Matters() const;
};

// The level each component is tested at: 1 - (1 - kTrendSetLevel)^(1/3).
double TrendComponentLevel();

// Which components carry a pattern, and what that says.
enum class TrendPattern {
  kNone,
  kHeight,  // dH alone: heights that are not ellipsoidal in both frames
  kPlan,    // dE or dN alone: the grid's scale or rotation varies across
            // the site (another central meridian or projection)
  kAll,     // plan and height: no similarity over this extent
};

// What a pattern says, as the report's verdict gives it: the cause that
// fits the components that carry it.
const char* PatternCause(TrendPattern pattern);

struct TrendAnalysis {
  bool available = false;      // needs at least 9 points and some spread
  bool detected = false;       // some component's trend Matters()
  double explained_share = 0;  // of all three components' variation
  ComponentTrend components[3];
  TrendPattern Pattern() const;
};

// The trend of the residuals (forward map minus destination, metres) over
// the points' zone positions (metres). Not available with fewer than 9
// points or points on a line or conic.
TrendAnalysis AnalyseTrend(const std::vector<Point3>& projected_source,
                           const std::vector<Point3>& residuals);

}  // namespace helmert
