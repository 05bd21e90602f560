#include "control/Angles.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <vector>

#include "control/DelimitedText.hpp"

namespace helmert {

namespace {

// The separators between degrees, minutes and seconds, as UTF-8.
const char* const kSeparators[] = {
    "\xC2\xB0",      // ° degree sign
    "\xC2\xBA",      // º masculine ordinal, often typed for it
    "\xE2\x80\xB2",  // ′ prime
    "\xE2\x80\xB3",  // ″ double prime
    "\xE2\x80\x99",  // ’ right single quotation mark
    "\xE2\x80\x9D",  // ” right double quotation mark
    "'", "\"", ":", " ", "\t"};

// The length of the separator at `at`, or 0.
std::size_t SeparatorAt(const std::string& text, std::size_t at) {
  for (const char* separator : kSeparators) {
    const std::string s(separator);
    if (text.compare(at, s.size(), s) == 0) return s.size();
  }
  return 0;
}

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

  // Up to three numbers and the separators after each.
  std::vector<std::string> parts;
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
    while (at < text.size()) {
      const std::size_t length = SeparatorAt(text, at);
      if (length == 0) break;
      at += length;
    }
  }
  if (parts.empty() || parts.size() > 3) {
    reading.problem = "is not an angle";
    return reading;
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
