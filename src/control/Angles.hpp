// Angles as surveyors write them, read into decimal degrees.
//
// Accepted forms, for a latitude (hemisphere letters N and S) or a
// longitude (E and W), letters in either case:
//   - decimal degrees: 40.870083, -73.5, 40.870083N;
//   - sexagesimal: degrees, minutes and optionally seconds, separated by
//     the degree, minute and second signs (° ' ", also º ′ ″ and ’ ”), by
//     colons or by spaces: 40°52'12.3"N, 40 52 12.3 N, 40:52:12.3,
//     -40:52:12.3, 40°52.205'. Only the last part may have decimals;
//     minutes and seconds are below 60.
//   - a sign or a hemisphere letter (before or after), not both.
// A bare number is always decimal degrees: 140.5212 is never read as
// 140°52'12" (packed degrees-minutes-seconds are a guess, not a reading).
#pragma once

#include <string>

namespace helmert {

enum class AngleAxis { kLatitude, kLongitude };

struct AngleReading {
  bool ok = false;
  double degrees = 0.0;
  // Whether the text was one plain decimal number (its text can be copied
  // as it stands).
  bool plain_number = false;
  std::string problem;  // why it was not read, when !ok
};

// Reads the field; with `decimal_comma` a comma may stand for the decimal
// point. Does not check the range (a latitude of 95 reads as 95).
AngleReading ReadAngle(const std::string& field, AngleAxis axis,
                       bool decimal_comma);

// Reads a plain decimal number (the whole field, C locale, a decimal comma
// where allowed): an optional sign, digits with at most one decimal point
// and an optional exponent. False for anything else, and for values beyond
// the range of a double.
bool ReadNumber(const std::string& field, bool decimal_comma, double* value);

}  // namespace helmert
