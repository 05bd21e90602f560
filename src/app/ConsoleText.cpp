#include "app/ConsoleText.hpp"

#include <charconv>

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

void AppendFixed10(std::string& text, double value) {
  Append(text, value, std::chars_format::fixed, 10);
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
