#include "io/Streams.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "common/Error.hpp"
#include "io/OutputFile.hpp"

namespace helmert {

namespace {

bool IsBidirectionalControl(char32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::size_t Utf8Sequence(const std::string& text, std::size_t at,
                         char32_t* code_point) {
  const unsigned char c = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  char32_t value = 0;
  if (c < 0x80) {
    *code_point = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    value = c & 0x0F;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    value = c & 0x07;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char b = static_cast<unsigned char>(text[at + k]);
    if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  *code_point = value;
  return length;
}

void PrepareProcess() {
  if (::fcntl(STDERR_FILENO, F_GETFD) < 0 && errno == EBADF) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0 && null != STDERR_FILENO) {
      ::dup2(null, STDERR_FILENO);
      ::close(null);
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  RemoveTemporariesOnSignals();
  if (::fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
    throw Error(std::string("Error writing standard output: ") +
                std::strerror(EBADF));
  }
}

void RequireWritten(std::ostream& out) {
  errno = 0;
  out.flush();
  if (!out) {
    // The reason is known when this flush failed; an earlier write's is
    // gone with the stream's state.
    throw Error(errno != 0 ? std::string("Error writing standard output: ") +
                                 std::strerror(errno)
                           : std::string("Error writing standard output"));
  }
}

std::string ShownText(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    char32_t c = 0;
    const std::size_t length = Utf8Sequence(text, at, &c);
    char escape[16];
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x",
                    static_cast<unsigned char>(text[at]));
      shown += escape;
      ++at;
      continue;
    }
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
      shown += escape;
    } else if ((c >= 0x80 && c <= 0x9F) || IsBidirectionalControl(c)) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      shown += escape;
    } else {
      shown.append(text, at, length);
    }
    at += length;
  }
  return shown;
}

}  // namespace helmert
