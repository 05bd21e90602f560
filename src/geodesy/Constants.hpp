// Constants of the projection. Their exact digits are part of the tool's
// interface: the printed eastings, residuals and the result document depend
// on every last bit of them.
#pragma once

namespace helmert {

// Degrees to radians. This decimal literal, not pi/180 at full precision:
// the two differ in the last bit of a double, and every projected coordinate
// inherits that bit. Radians become degrees by division by the same constant.
inline constexpr double kDegreeToRadian = 0.0174532925199433;

// WGS84 semi-major axis (metres).
inline constexpr double kWgs84SemiMajorAxis = 6378137.0;

// WGS84 flattening: the double nearest to 1/298.257223563. Written as the
// literal because the division 1.0 / 298.257223563 in double precision gives
// a value one unit in the last place smaller.
inline constexpr double kWgs84Flattening = 0.003352810664747481;

// False easting (metres) added to every easting. No zone number is put in
// front of it.
inline constexpr double kFalseEasting = 500000.0;

// False northing (metres): none, so southern points get negative northings.
inline constexpr double kFalseNorthing = 0.0;

// Width of a Gauss-Krueger zone (degrees): the zones are 3-degree zones whose
// central meridians are the whole multiples of 3.
inline constexpr double kZoneWidthDegrees = 3.0;

// The 3-degree zones around the globe, numbered 1 to 120 eastward from
// Greenwich (zone k has its central meridian at 3k degrees east).
inline constexpr int kZoneCount = 120;

// Longitudes are within [-180, 180] degrees.
inline constexpr double kHalfTurnDegrees = 180.0;

// Radians to arc-seconds: 180 * 3600 / pi, for printing angles.
inline constexpr double kArcSecondsPerRadian = 206264.80624709636;

// A scale factor's difference from 1 in parts per million.
inline constexpr double kPartsPerMillion = 1e6;

}  // namespace helmert
