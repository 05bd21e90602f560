// The similarities that the fixtures of tests/data were made with
// (tests/tools/make_fixture.cpp): a fit of each fixture must give them back.
#pragma once

#include "estimation/BursaWolf.hpp"

namespace helmert::testing {

// similarity-hefei.json: destinations written with 17 significant digits.
inline constexpr TransformParameters kHefeiTruth{
    -35.712, 120.068, 4.25, 0.000002, -0.0000035, 0.0000125, 1.0000186};

// santiago-west.json: destinations rounded to the millimetre.
inline constexpr TransformParameters kSantiagoTruth{
    212.4, -95.3, -31.8, 3.1e-6, -1.7e-6, -8.2e-6, 1.0000420};

// blunder-zhengzhou.json: noise within 5 mm and point 6 displaced by 0.5 m.
inline constexpr TransformParameters kZhengzhouTruth{
    -41.2, 76.9, 80.3, -4.9e-6, 6.1e-6, 1.3e-7, 0.9999912};

// The blunder of blunder-zhengzhou.json: the point and its displacement
// (metres, easting and northing).
inline constexpr int kZhengzhouBlunderPoint = 6;
inline constexpr double kZhengzhouBlunderEast = 0.3;
inline constexpr double kZhengzhouBlunderNorth = -0.4;

}  // namespace helmert::testing
