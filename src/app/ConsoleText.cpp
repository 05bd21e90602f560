#include "app/ConsoleText.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace helmert {

namespace {

void Append(std::string& text, double value, std::chars_format format,
            int precision) {
  // Enough for "%.10f" of the largest double (309 digits) and its sign.
  char digits[352];
  const std::to_chars_result result =
      std::to_chars(digits, digits + sizeof digits, value, format, precision);
  text.append(digits, result.ptr);
}

}  // namespace

void AppendGeneral(std::string& text, double value) {
  Append(text, value, std::chars_format::general, 6);
}

// The geodetic lines print nine numbers each in fixed notation, which
// to_chars produces through its general printf algorithm. For the values
// those lines hold (magnitudes below 9e8) the correctly rounded digits come
// faster from exact integer arithmetic: a double is m * 2^q exactly, so
// |value| * 10^10 = m * 10^10 * 2^q, which fits in 128 bits, and shifting it
// right with round-half-even (as printf rounds an exact tie) gives the ten
// decimals. Other values take the to_chars path.
void AppendFixed10(std::string& text, double value) {
  __extension__ typedef unsigned __int128 Wide;
  constexpr std::uint64_t kTenPow10 = 10000000000ULL;
  if (!(std::fabs(value) < 9e8)) {
    Append(text, value, std::chars_format::fixed, 10);
    return;
  }
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 63) != 0;
  const int biased_exponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((1ULL << 52) - 1);
  int exponent = -1074;  // subnormal: value = mantissa * 2^-1074
  if (biased_exponent != 0) {
    mantissa |= 1ULL << 52;
    exponent = biased_exponent - 1075;
  }
  const Wide scaled = static_cast<Wide>(mantissa) * kTenPow10;  // < 2^87
  Wide rounded;
  if (exponent >= 0) {
    rounded = scaled << exponent;  // |value| < 9e8 keeps this below 2^63
  } else if (-exponent > 87) {
    rounded = 0;  // below half a unit of the tenth decimal
  } else {
    const int shift = -exponent;
    rounded = scaled >> shift;
    const Wide remainder = scaled & ((static_cast<Wide>(1) << shift) - 1);
    const Wide half = static_cast<Wide>(1) << (shift - 1);
    if (remainder > half || (remainder == half && (rounded & 1) != 0)) {
      ++rounded;
    }
  }
  // |value| < 9e8 keeps the rounded ten-decimal integer below 2^63: the
  // split into whole and fraction needs no 128-bit division.
  const std::uint64_t narrow = static_cast<std::uint64_t>(rounded);
  const std::uint64_t whole = narrow / kTenPow10;
  std::uint64_t fraction = narrow % kTenPow10;

  char digits[40];
  char* end = digits;
  if (negative) *end++ = '-';
  end = std::to_chars(end, digits + sizeof digits, whole).ptr;
  *end++ = '.';
  for (int place = 9; place >= 0; --place) {
    end[place] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  text.append(digits, end + 10);
}

ConsoleBuffer::ConsoleBuffer(std::ostream& out) : out_(out) {
  text_.reserve(kChunkBytes + 4096);
}

ConsoleBuffer::~ConsoleBuffer() { WriteOut(); }

void ConsoleBuffer::Flush() {
  WriteOut();
  out_.flush();
}

void ConsoleBuffer::WriteOut() {
  out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
  text_.clear();
}

}  // namespace helmert
