#include "app/Diagnosis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "estimation/Estimation.hpp"
#include "estimation/GridScale.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {

namespace {

// Feet per metre of the international foot (0.3048 m); the US survey
// foot (1200/3937 m) is 2 ppm longer.
constexpr double kInternationalFeetPerMetre = 1.0 / 0.3048;
// A scale this close (relative) to feet per metre is taken as feet: room
// for a grid's own scale factor (0.9996 in UTM) and the fit's noise.
constexpr double kFootScaleTolerance = 1e-3;
// A meridian implied by the rotation is taken as the 3-degree zone's when
// it is this close to a multiple of 3 (degrees).
constexpr double kZoneMeridianSnapDegrees = 0.05;
// Below this |sin(latitude)| the rotation about the vertical says nothing
// about the meridian (the grid convergence vanishes on the equator).
constexpr double kLeastSineOfLatitude = 0.05;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Degrees with at most three decimals and no trailing zeros: 114, 114.179.
std::string Degrees(double degrees) {
  std::string text = Format("%.3f", degrees);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return text;
}

// A correction explains the refusal when the corrected points fit
// plausibly and leave at most this share of the refused fit's sum of
// squares: a wrong point turned by another meridian still misfits.
constexpr double kMostUnexplainedShare = 0.25;
// Sums of squares below this per point (m^2) are rounding and noise.
constexpr double kNegligibleSquaresPerPoint = 1e-4;

// The refused fit and its points.
struct Refusal {
  const ControlPoints& points;
  Zone zone;  // the one the points were projected into
  TransformParameters parameters;
  double sum_of_squares;  // of the refused closed-form fit (m^2)
};

// Whether a correction explains the refusal (kMostUnexplainedShare).
bool Explains(const Refusal& refusal, double sum_of_squares,
              const TransformParameters& parameters) {
  const double floor = kNegligibleSquaresPerPoint *
                       static_cast<double>(refusal.points.source.size());
  return IsPlausible(parameters) &&
         sum_of_squares <=
             kMostUnexplainedShare * refusal.sum_of_squares + floor;
}

// Whether the corrected points, in the zone at this meridian, explain the
// refusal.
bool PlausibleFit(const Refusal& refusal,
                  const std::vector<GeodeticPoint>& source, const Zone& zone,
                  const std::vector<Point3>& destination) {
  const ClosedFormFit fit =
      ClosedFormMinimum(ProjectToZone(source, zone), destination);
  return fit.geometry_ratio >= kMinimumGeometryConditionRatio &&
         Explains(refusal, fit.sum_of_squares, fit.parameters);
}

// The zone the fit would use for these source points.
Zone ZoneFor(const ControlPoints& points,
             const std::vector<GeodeticPoint>& source) {
  ControlPoints corrected;
  corrected.source = source;
  corrected.central_meridian_degrees = points.central_meridian_degrees;
  corrected.scale_factor = points.scale_factor;
  return ZoneOf(corrected);
}

bool ValidSource(const std::vector<GeodeticPoint>& source) {
  for (const GeodeticPoint& p : source) {
    if (!(std::fabs(p.longitude_degrees) <= 180.0 &&
          std::fabs(p.latitude_degrees) < 90.0)) {
      return false;
    }
  }
  return true;
}

// Whether the source points fit plausibly once corrected.
bool FitsWithSource(const Refusal& refusal,
                    const std::vector<GeodeticPoint>& source) {
  return ValidSource(source) &&
         PlausibleFit(refusal, source, ZoneFor(refusal.points, source),
                      refusal.points.destination);
}

// The scale of the plane similarity that fits the grid's easting and
// northing to the zone's, about their centroids.
double PlanScale(const std::vector<Point3>& zone,
                 const std::vector<Point3>& grid) {
  const double n = static_cast<double>(zone.size());
  double zx = 0, zy = 0, gx = 0, gy = 0;
  for (std::size_t i = 0; i < zone.size(); ++i) {
    zx += zone[i].x;
    zy += zone[i].y;
    gx += grid[i].x;
    gy += grid[i].y;
  }
  zx /= n;
  zy /= n;
  gx /= n;
  gy /= n;
  double dot = 0, cross = 0, norm = 0;
  for (std::size_t i = 0; i < zone.size(); ++i) {
    const double sx = zone[i].x - zx, sy = zone[i].y - zy;
    const double dx = grid[i].x - gx, dy = grid[i].y - gy;
    dot += sx * dx + sy * dy;
    cross += sx * dy - sy * dx;
    norm += sx * sx + sy * sy;
  }
  return std::hypot(dot, cross) / norm;
}

// Grid points that all coincide (within a millimetre of their centroid)
// determine no rotation or scale.
std::optional<std::string> CoincidentGridPoints(const ControlPoints& points) {
  Point3 sum;
  for (const Point3& p : points.destination) {
    sum = {sum.x + p.x, sum.y + p.y, sum.z + p.z};
  }
  const double n = static_cast<double>(points.destination.size());
  for (const Point3& p : points.destination) {
    if (std::hypot(p.x - sum.x / n, p.y - sum.y / n, p.z - sum.z / n) > 1e-3) {
      return std::nullopt;
    }
  }
  return std::string(
      "every point of \"despoints\" is the same point: give each point's own "
      "grid coordinates");
}

std::optional<std::string> Feet(const Refusal& refusal) {
  const ControlPoints& points = refusal.points;
  const TransformParameters& refused = refusal.parameters;
  const std::vector<Point3> zone = ProjectToZone(points.source, refusal.zone);
  const double plan_scale = PlanScale(zone, points.destination);
  const auto near = [](double scale, double feet_per_metre) {
    return std::fabs(scale / feet_per_metre - 1.0) <= kFootScaleTolerance;
  };
  const double scale =
      near(refused.Scale, kInternationalFeetPerMetre) ? refused.Scale
                                                      : plan_scale;
  if (!near(scale, kInternationalFeetPerMetre)) return std::nullopt;
  // The two feet differ by 2 ppm, less than a datum's or a grid's own scale
  // changes: the fit cannot tell them apart.
  std::vector<Point3> all = points.destination;
  std::vector<Point3> plan = points.destination;
  for (std::size_t i = 0; i < all.size(); ++i) {
    all[i] = {all[i].x / scale, all[i].y / scale, all[i].z / scale};
    plan[i] = {plan[i].x / scale, plan[i].y / scale, plan[i].z};
  }
  // Plan alone or all three coordinates in feet: whichever fits better.
  const bool plan_only = ClosedFormMinimum(zone, plan).sum_of_squares <
                         ClosedFormMinimum(zone, all).sum_of_squares;
  const std::string feet =
      "; an international foot is 0.3048 m, a US survey foot 1200/3937 m)";
  if (plan_only) {
    return "the grid's easting and northing look like feet and its heights "
           "like metres (plan scale " +
           Format("%.6g", plan_scale) + feet +
           ": give easting and northing in metres";
  }
  return "the grid's coordinates look like feet (scale " +
         Format("%.6g", scale) + feet + ": give them in metres";
}

std::optional<std::string> SwappedGridAxes(const Refusal& refusal) {
  std::vector<Point3> swapped = refusal.points.destination;
  for (Point3& p : swapped) std::swap(p.x, p.y);
  if (!PlausibleFit(refusal, refusal.points.source, refusal.zone, swapped)) {
    return std::nullopt;
  }
  return std::string(
      "easting and northing are swapped in every point of \"despoints\" "
      "(Gauss-Kruger surveys often write X for the northing first): give "
      "the easting first");
}

// A grid whose axes point west and south (South Africa's Lo zones) is the
// zone turned by a half turn about the vertical: negating both axes makes
// it the zone. Written with the southing first (X before Y, as such
// surveys do) it is also a mirror, undone by swapping them as well.
std::optional<std::string> WestingSouthing(const Refusal& refusal) {
  for (const bool southing_first : {false, true}) {
    std::vector<Point3> turned = refusal.points.destination;
    for (Point3& p : turned) {
      if (southing_first) std::swap(p.x, p.y);
      p = {-p.x, -p.y, p.z};
    }
    if (PlausibleFit(refusal, refusal.points.source, refusal.zone, turned)) {
      return std::string(
                 "the grid's axes point west and south (a westing/southing "
                 "grid)") +
             (southing_first ? " and each point gives the southing first" : "") +
             ": give easting = -westing, northing = -southing";
    }
  }
  return std::nullopt;
}

std::optional<std::string> SwappedAngles(const Refusal& refusal) {
  std::vector<GeodeticPoint> swapped = refusal.points.source;
  for (GeodeticPoint& p : swapped) {
    std::swap(p.longitude_degrees, p.latitude_degrees);
  }
  if (!FitsWithSource(refusal, swapped)) return std::nullopt;
  return std::string(
      "longitude and latitude are swapped in every point of \"srcpoints\": "
      "give the longitude first");
}

std::optional<std::string> Radians(const Refusal& refusal) {
  std::vector<GeodeticPoint> degrees = refusal.points.source;
  for (GeodeticPoint& p : degrees) {
    if (!(std::fabs(p.longitude_degrees) <= M_PI &&
          std::fabs(p.latitude_degrees) <= M_PI / 2)) {
      return std::nullopt;
    }
    p.longitude_degrees /= kDegreeToRadian;
    p.latitude_degrees /= kDegreeToRadian;
  }
  if (!FitsWithSource(refusal, degrees)) return std::nullopt;
  return std::string(
      "the angles of \"srcpoints\" look like radians: give longitude and "
      "latitude in degrees");
}

// An angle written as DD.MMSS (140.5212 for 140 deg 52' 12"), read as
// degrees; none when its minutes or seconds are 60 or more.
std::optional<double> FromPackedSexagesimal(double packed) {
  const double magnitude = std::fabs(packed);
  const double whole = std::floor(magnitude);
  const double minutes_and_seconds = (magnitude - whole) * 100.0;
  // Rounding of the decimal text: 0.5212 is 52.119999... minutes.
  const double minutes = std::floor(minutes_and_seconds + 1e-9);
  const double seconds = std::max(0.0, (minutes_and_seconds - minutes) * 100.0);
  if (!(minutes < 60.0 && seconds < 60.0)) return std::nullopt;
  const double degrees = whole + minutes / 60.0 + seconds / 3600.0;
  return packed < 0 ? -degrees : degrees;
}

std::optional<std::string> PackedSexagesimal(const Refusal& refusal) {
  std::vector<GeodeticPoint> degrees = refusal.points.source;
  for (GeodeticPoint& p : degrees) {
    const auto longitude = FromPackedSexagesimal(p.longitude_degrees);
    const auto latitude = FromPackedSexagesimal(p.latitude_degrees);
    if (!longitude || !latitude) return std::nullopt;
    p.longitude_degrees = *longitude;
    p.latitude_degrees = *latitude;
  }
  if (!FitsWithSource(refusal, degrees)) return std::nullopt;
  const double packed = refusal.points.source.front().longitude_degrees;
  return "the angles of \"srcpoints\" look like packed "
         "degrees-minutes-seconds (DD.MMSS, " +
         Format("%.10g", packed) + " for " +
         Format("%.8g", degrees.front().longitude_degrees) +
         " degrees): give decimal degrees";
}

double MeanLatitude(const std::vector<GeodeticPoint>& source) {
  double latitude_sum = 0.0;
  for (const GeodeticPoint& p : source) latitude_sum += p.latitude_degrees;
  return latitude_sum / static_cast<double>(source.size());
}

// The central meridian (degrees) of a grid whose rotation about the
// vertical against the zone at `central_meridian_degrees` is R_z (radians):
// the grid convergence of a point at longitude difference dl from the
// meridian is dl * sin(latitude), so a grid whose meridian lies dl east of
// the zone's is turned by -dl * sin(latitude). A meridian within
// kZoneMeridianSnapDegrees of a multiple of 3 is taken as that multiple.
// None near the equator, where the rotation says nothing.
std::optional<double> ImpliedMeridian(double mean_latitude_degrees,
                                      double central_meridian_degrees,
                                      double rz_radians) {
  const double sine = std::sin(mean_latitude_degrees * kDegreeToRadian);
  if (!(std::fabs(sine) >= kLeastSineOfLatitude)) return std::nullopt;
  const double shift_degrees = -rz_radians / sine / kDegreeToRadian;
  double meridian = WrapLongitude(central_meridian_degrees + shift_degrees);
  const double zone =
      kZoneWidthDegrees * std::round(meridian / kZoneWidthDegrees);
  if (std::fabs(meridian - zone) <= kZoneMeridianSnapDegrees) meridian = zone;
  if (!std::isfinite(meridian)) return std::nullopt;
  return meridian;
}

std::string AddMeridianAdvice(double meridian) {
  return "if the grid is a transverse Mercator zone at " + Degrees(meridian) +
         ", add \"central_meridian\": " + Degrees(meridian) + " to \"define\"";
}

std::optional<std::string> OtherMeridian(const Refusal& refusal) {
  const ControlPoints& points = refusal.points;
  const TransformParameters& refused = refusal.parameters;
  const double central_meridian_degrees =
      refusal.zone.central_meridian_degrees;
  const double mean_latitude = MeanLatitude(points.source);
  const std::optional<double> meridian =
      ImpliedMeridian(mean_latitude, central_meridian_degrees, refused.R_z);
  if (!meridian || std::fabs(*meridian - central_meridian_degrees) < 1e-3 ||
      !PlausibleFit(refusal, points.source,
                    Zone{*meridian, refusal.zone.scale_factor},
                    points.destination)) {
    return std::nullopt;
  }
  return "the rotation about the vertical (R_z = " +
         Format("%.3g", refused.R_z) + " rad at latitude " +
         Format("%.1f", mean_latitude) +
         ") is that of a grid whose central meridian is " + Degrees(*meridian) +
         ", not " + Degrees(central_meridian_degrees) + ": " +
         AddMeridianAdvice(*meridian);
}

// Whether `difference` (metres) is one decimal digit of a coordinate
// changed: k * 10^m for a digit k and m >= 1, within 5 % of 10^m.
bool LooksLikeDigitSlip(double difference) {
  const double magnitude = std::fabs(difference);
  if (!(magnitude >= 9.5)) return false;
  const double place = std::pow(10.0, std::floor(std::log10(magnitude * 1.06)));
  const double digit = std::round(magnitude / place);
  return digit >= 1.0 && digit <= 9.0 &&
         std::fabs(magnitude - digit * place) <= 0.05 * place;
}

std::optional<std::string> OneWrongPoint(const Refusal& refusal) {
  const ControlPoints& points = refusal.points;
  const std::vector<Point3> zone = ProjectToZone(points.source, refusal.zone);
  // Named only when the other points determine their fit: without a point
  // that alone lifts the others off one line, any fit of them "fits".
  const std::optional<FitWithoutOnePoint> without =
      BestFitWithoutOnePoint(zone, points.destination, /*determined=*/true);
  if (!without ||
      !Explains(refusal, without->sum_of_squares, without->parameters)) {
    return std::nullopt;
  }
  const Point3& observed = points.destination[without->index];
  const Point3& predicted = without->predicted;
  const double misfit = std::sqrt(
      (observed.x - predicted.x) * (observed.x - predicted.x) +
      (observed.y - predicted.y) * (observed.y - predicted.y) +
      (observed.z - predicted.z) * (observed.z - predicted.z));
  const double swapped_misfit =
      std::hypot(observed.y - predicted.x, observed.x - predicted.y);
  const std::string point = "point " + std::to_string(without->index + 1);
  std::string fault;
  if (swapped_misfit <= 0.01 * misfit && swapped_misfit <= 10.0) {
    fault = "its easting and northing are swapped";
  } else {
    const char* const kAxes[3] = {"easting", "northing", "height"};
    const double observed_values[3] = {observed.x, observed.y, observed.z};
    const double predicted_values[3] = {predicted.x, predicted.y, predicted.z};
    for (int c = 0; c < 3; ++c) {
      const double difference = observed_values[c] - predicted_values[c];
      const double others = std::sqrt(
          std::max(0.0, misfit * misfit - difference * difference));
      if (LooksLikeDigitSlip(difference) &&
          others <= 0.05 * std::fabs(difference)) {
        fault = std::string("a digit slip in its ") + kAxes[c] + "? (" +
                Format("%.3f", observed_values[c]) +
                " where the other points put " +
                Format("%.1f", predicted_values[c]) + ")";
        break;
      }
    }
    if (fault.empty()) {
      fault = "its grid point is " + Format("%.6g", misfit) +
              " m from where the other points put it (" +
              Format("%.1f", predicted.x) + ", " + Format("%.1f", predicted.y) +
              ", " + Format("%.1f", predicted.z) +
              "): check its coordinates in both lists";
    }
  }
  return point + " does not fit the others (without it the fit is " +
         "plausible): " + fault;
}

}  // namespace

std::string DiagnoseImplausibleFit(const ControlPoints& points,
                                   const Zone& zone,
                                   const TransformParameters& refused) {
  const double central_meridian_degrees = zone.central_meridian_degrees;
  const Refusal refusal{
      points, zone, refused,
      ClosedFormMinimum(ProjectToZone(points.source, zone), points.destination)
          .sum_of_squares};
  std::optional<std::string> cause = CoincidentGridPoints(points);
  if (!cause) cause = Feet(refusal);
  if (!cause) cause = SwappedGridAxes(refusal);
  if (!cause) cause = WestingSouthing(refusal);
  if (!cause) cause = SwappedAngles(refusal);
  if (!cause) cause = Radians(refusal);
  if (!cause) cause = PackedSexagesimal(refusal);
  if (!cause) cause = OtherMeridian(refusal);
  if (!cause) cause = OneWrongPoint(refusal);
  if (cause) return *cause;
  return "check for longitude and latitude or easting and northing swapped, "
         "angles in radians instead of degrees, missing heights, or a grid "
         "that is not a transverse Mercator zone at the central meridian " +
         Degrees(central_meridian_degrees) +
         " (name the grid's own with \"central_meridian\" in \"define\")";
}

std::vector<std::string> AdviseOnFit(const ControlPoints& points,
                                     const Zone& zone,
                                     const std::vector<Point3>& projected,
                                     const TransformParameters& parameters) {
  std::vector<std::string> advice;
  const std::size_t n = points.destination.size();
  double lowest = points.destination.front().z;
  double highest = lowest;
  double plan_squares = 0.0;
  double squares = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const Point3& grid = points.destination[i];
    lowest = std::min(lowest, grid.z);
    highest = std::max(highest, grid.z);
    const Point3 mapped = ForwardTransform(parameters, projected[i]);
    const double dx = mapped.x - grid.x;
    const double dy = mapped.y - grid.y;
    const double dz = mapped.z - grid.z;
    plan_squares += dx * dx + dy * dy;
    squares += dx * dx + dy * dy + dz * dz;
  }
  // A zone at the wrong meridian changes the plan scale as well: the
  // meridian is named first, and the scale only when the meridian is right.
  const auto scale_advice = [&] {
    if (const auto scaling = GridScaleOnHeights(
            parameters.Scale, highest - lowest, points.scale_factor)) {
      advice.push_back(HeightScalingAdvice(*scaling));
    }
    return advice;
  };
  const double plan_rms = std::sqrt(plan_squares / static_cast<double>(n));
  if (!(plan_rms > kLeastAdvisedPlanRms)) return scale_advice();
  const double l0 = zone.central_meridian_degrees;
  std::vector<double> candidates = {l0 - 3.0, l0 + 3.0, l0 - 6.0, l0 + 6.0};
  if (const auto implied =
          ImpliedMeridian(MeanLatitude(points.source), l0, parameters.R_z)) {
    candidates.push_back(*implied);
  }
  std::optional<double> best;
  double best_squares = kMostUnexplainedShare * squares;
  for (double candidate : candidates) {
    const double meridian = WrapLongitude(candidate);
    if (std::fabs(ReduceLongitudeDifference(meridian - l0)) < 1e-3) continue;
    const ClosedFormFit fit = ClosedFormMinimum(
        ProjectToZone(points.source, Zone{meridian, zone.scale_factor}),
        points.destination);
    if (fit.geometry_ratio >= kMinimumGeometryConditionRatio &&
        IsPlausible(fit.parameters) && fit.sum_of_squares < best_squares) {
      best = meridian;
      best_squares = fit.sum_of_squares;
    }
  }
  if (best) {
    advice.push_back(
        "the plan residuals' RMS is " + Format("%.3g", plan_rms) +
        " m at the central meridian " + Degrees(l0) +
        "; in a zone at " + Degrees(*best) + " the points fit with " +
        Format("%.2g", std::sqrt(best_squares / static_cast<double>(n))) +
        " m RMS: " + AddMeridianAdvice(*best) + " (the fit above stands, at " +
        Degrees(l0) +
        (points.central_meridian_degrees ? ", as the document names it)"
                                         : ", the 3-degree zone nearest to "
                                           "the points)"));
    return advice;
  }
  return scale_advice();
}

}  // namespace helmert
