// Number formatting for the console report without iostream, for the lines
// that are printed once per point. Each function appends exactly the bytes
// that an ostream in the named state would write for the value.
#pragma once

#include <ostream>
#include <string>

namespace helmert {

// As `out << value` with the default floatfield and precision 6 (printf's
// "%g"): 0.000744441, -5.18299e-06, 111, -0, inf, nan.
void AppendGeneral(std::string& text, double value);

// As `out << std::fixed << std::setprecision(10) << value` (printf's
// "%.10f"): 117.0000000000, -0.0000000007.
void AppendFixed10(std::string& text, double value);

// Collects console text and hands it to the stream in large pieces: when
// a megabyte has gathered, and on Flush(), which also flushes the stream.
class ConsoleBuffer {
 public:
  explicit ConsoleBuffer(std::ostream& out);
  ~ConsoleBuffer();
  ConsoleBuffer(const ConsoleBuffer&) = delete;
  ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

  std::string& text() { return text_; }
  // Call after each line: writes the gathered text out once it is large.
  void LineDone() {
    if (text_.size() >= kChunkBytes) WriteOut();
  }
  void Flush();

 private:
  static constexpr std::size_t kChunkBytes = 1 << 20;
  void WriteOut();
  std::ostream& out_;
  std::string text_;
};

}  // namespace helmert
