// printf-style formatting into a std::string, for the report's fixed-width
// columns.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace helmert {

__attribute__((format(printf, 1, 2))) inline std::string Printf(
    const char* format, ...) {
  char small[256];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(small, sizeof small, format, arguments);
  va_end(arguments);
  if (length < 0) return std::string();
  if (static_cast<std::size_t>(length) < sizeof small) {
    return std::string(small, static_cast<std::size_t>(length));
  }
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  va_start(arguments, format);
  std::vsnprintf(text.data(), text.size(), format, arguments);
  va_end(arguments);
  text.pop_back();
  return text;
}

}  // namespace helmert
