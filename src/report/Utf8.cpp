// Well-formed UTF-8 as the Unicode Standard's table 3-7 defines it: the
// ranges of each lead byte's second byte exclude overlong forms, the
// surrogates (ED A0..BF) and code points beyond U+10FFFF.
#include "report/Utf8.hpp"

#include <cstddef>

namespace helmert {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed sequence at text[k], or 0.
std::size_t SequenceLength(const std::string& text, std::size_t k) {
  const auto byte = [&text](std::size_t at) {
    return static_cast<unsigned char>(text[at]);
  };
  const unsigned char lead = byte(k);
  if (lead < 0x80) return lead >= 0x20 ? 1 : 0;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (k + length > text.size()) return 0;
  if (byte(k + 1) < low || byte(k + 1) > high) return 0;
  for (std::size_t j = 2; j < length; ++j) {
    if (byte(k + j) < 0x80 || byte(k + j) > 0xBF) return 0;
  }
  // U+FFFE and U+FFFF are not characters in XML.
  if (lead == 0xEF && byte(k + 1) == 0xBF && byte(k + 2) >= 0xBE) return 0;
  return length;
}

}  // namespace

std::string PrintableUtf8(const std::string& text) {
  std::string printable;
  printable.reserve(text.size());
  for (std::size_t k = 0; k < text.size();) {
    const std::size_t length = SequenceLength(text, k);
    if (length == 0) {
      printable += kReplacement;
      ++k;
    } else {
      printable.append(text, k, length);
      k += length;
    }
  }
  return printable;
}

}  // namespace helmert
