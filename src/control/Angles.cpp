#include "control/Angles.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <vector>

#include "control/DelimitedText.hpp"

namespace helmert {

namespace {

// The marks of degrees, minutes and seconds, as UTF-8, each after its
// number. Two apostrophes are a second mark, tried before one.
const char* const kSecondMarks[] = {"\"", "\xE2\x80\xB3" /* ″ */, "''",
                                    "\xE2\x80\x9D" /* ” */,
                                    "\xE2\x80\x99\xE2\x80\x99" /* ’’ */};
const char* const kMinuteMarks[] = {"'", "\xE2\x80\xB2" /* ′ */,
                                    "\xE2\x80\x99" /* ’ */};
const char* const kDegreeMarks[] = {"\xC2\xB0" /* ° */,
                                    "\xC2\xBA" /* º, often typed for it */,
                                    "d", "D"};

// The length of a mark of the list at `at`, or 0.
template <std::size_t N>
std::size_t MarkAt(const std::string& text, std::size_t at,
                   const char* const (&marks)[N]) {
  for (const char* mark : marks) {
    const std::string m(mark);
    if (text.compare(at, m.size(), m) == 0) return m.size();
  }
  return 0;
}

bool IsPositionalSeparator(char c) { return c == ':' || c == ' ' || c == '\t'; }

bool IsNumberCharacter(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == ',';
}

}  // namespace

bool ReadNumber(const std::string& field, bool decimal_comma, double* value) {
  const std::string text = NumberText(field, decimal_comma);
  if (text.empty()) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (*begin == '+') ++begin;  // from_chars takes no plus sign
  if (begin == end || *begin == '+') return false;
  // One sign at most: from_chars would take the minus of "+-1".
  if (text[0] == '+' && (*begin == '-' || *begin == '+')) return false;
  const std::from_chars_result result = std::from_chars(begin, end, *value);
  return result.ec == std::errc() && result.ptr == end &&
         std::isfinite(*value);
}

AngleReading ReadAngle(const std::string& field, AngleAxis axis,
                       bool decimal_comma) {
  AngleReading reading;
  std::string text = field;
  const char* const hemispheres = axis == AngleAxis::kLatitude ? "NSns" : "EWew";
  const char* const negative = axis == AngleAxis::kLatitude ? "Ss" : "Ww";
  // A hemisphere letter at either end.
  int hemisphere = 0;  // +1, -1, or 0 for none
  const auto take_letter = [&](std::size_t at) {
    const char c = text[at];
    if (std::string(hemispheres).find(c) == std::string::npos) return false;
    hemisphere = std::string(negative).find(c) != std::string::npos ? -1 : 1;
    text.erase(at, 1);
    return true;
  };
  const auto trim = [&] {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.erase(0, 1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.pop_back();
    }
  };
  trim();
  if (!text.empty() && !take_letter(text.size() - 1) &&
      std::isalpha(static_cast<unsigned char>(text.front()))) {
    take_letter(0);
  }
  trim();
  if (text.empty()) {
    reading.problem = "empty";
    return reading;
  }
  int sign = 1;
  if (text.front() == '-' || text.front() == '+') {
    if (hemisphere != 0) {
      reading.problem = "has both a sign and a hemisphere letter";
      return reading;
    }
    sign = text.front() == '-' ? -1 : 1;
    text.erase(0, 1);
  }
  if (hemisphere != 0) sign = hemisphere;

  // Up to three numbers, each with the mark after it (0 degrees, 1
  // minutes, 2 seconds) or none (-1: a colon, blanks or the end).
  std::vector<std::string> parts;
  std::vector<int> marks;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = at;
    while (end < text.size() && IsNumberCharacter(text[end])) ++end;
    if (end == at) {
      reading.problem = "is not an angle";
      return reading;
    }
    parts.push_back(text.substr(at, end - at));
    at = end;
    int mark = -1;
    std::size_t length = 0;
    if ((length = MarkAt(text, at, kSecondMarks)) != 0) {
      mark = 2;
    } else if ((length = MarkAt(text, at, kMinuteMarks)) != 0) {
      mark = 1;
    } else if ((length = MarkAt(text, at, kDegreeMarks)) != 0) {
      mark = 0;
    }
    marks.push_back(mark);
    at += length;
    const std::size_t before = at;
    while (at < text.size() && IsPositionalSeparator(text[at])) ++at;
    if (mark < 0 && at == before && at < text.size()) {
      reading.problem = "is not an angle";
      return reading;
    }
  }
  if (parts.empty() || parts.size() > 3) {
    reading.problem = "is not an angle";
    return reading;
  }
  // Each number's unit: its mark's, else the one after the number before
  // it (degrees for the first). Marks in the order degrees, minutes,
  // seconds, each at most once, none skipped.
  int units[3] = {0, 1, 2};
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const int previous = k == 0 ? -1 : units[k - 1];
    const int unit = marks[k] >= 0 ? marks[k] : previous + 1;
    if (unit <= previous || unit > 2) {
      reading.problem =
          "has its degrees, minutes and seconds out of order or twice";
      return reading;
    }
    if (unit != previous + 1) {
      static const char* const kNames[3] = {"degrees", "minutes", "seconds"};
      reading.problem = std::string("has ") + kNames[unit] + " but no " +
                        kNames[previous + 1] +
                        (previous < 0 ? "" : " before them") +
                        " (write 0 for none)";
      return reading;
    }
    units[k] = unit;
  }
  double values[3] = {0.0, 0.0, 0.0};
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const bool last = k + 1 == parts.size();
    double value = 0.0;
    const bool whole = parts[k].find_first_of(".,") == std::string::npos;
    if ((!last && !whole) || !ReadNumber(parts[k], decimal_comma, &value)) {
      reading.problem = "is not an angle";
      return reading;
    }
    if (k > 0 && !(value < 60.0)) {
      reading.problem = k == 1 ? "has 60 or more minutes" : "has 60 or more seconds";
      return reading;
    }
    values[k] = value;
  }
  reading.ok = true;
  reading.plain_number = parts.size() == 1 && hemisphere == 0 && text == parts[0];
  reading.degrees = sign * (values[0] + values[1] / 60.0 + values[2] / 3600.0);
  return reading;
}

}  // namespace helmert
