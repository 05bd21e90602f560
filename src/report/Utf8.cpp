// Well-formed UTF-8 as the Unicode Standard's table 3-7 defines it
// (Utf8Sequence).
#include "report/Utf8.hpp"

#include <cstddef>

#include "io/Streams.hpp"

namespace helmert {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed sequence at text[k] of a character that
// XML and JSON text can hold as it is (no control below U+0020, not U+FFFE
// or U+FFFF), or 0.
std::size_t SequenceLength(const std::string& text, std::size_t k) {
  char32_t c = 0;
  const std::size_t length = Utf8Sequence(text, k, &c);
  if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) return 0;
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
