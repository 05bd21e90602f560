// The fuzz targets' check that no output of either tool carries a number
// that is not finite: no "inf" or "nan" (any case, any sign) standing as a
// word of its own, as printf, streams and to_chars write them.
#pragma once

#include <cctype>
#include <string>

namespace helmert::fuzzing {

inline bool AllNumbersFinite(const std::string& text) {
  const auto letter = [&text](std::size_t at) {
    return at < text.size() &&
           std::isalpha(static_cast<unsigned char>(text[at])) != 0;
  };
  for (std::size_t at = 0; at + 3 <= text.size(); ++at) {
    std::string word = text.substr(at, 3);
    for (char& c : word) c = static_cast<char>(std::tolower(c));
    if ((word == "inf" || word == "nan") && (at == 0 || !letter(at - 1)) &&
        !letter(at + 3)) {
      return false;
    }
  }
  return true;
}

}  // namespace helmert::fuzzing
