// A RapidJSON output stream that appends straight to a std::string: a
// report of a million points is hundreds of megabytes, which a
// StringBuffer and its copy would hold twice.
#pragma once

#include <string>

namespace helmert {

class StringOutput {
 public:
  using Ch = char;
  explicit StringOutput(std::string& text) : text_(text) {}
  void Put(char c) { text_.push_back(c); }
  void Flush() {}

 private:
  std::string& text_;
};

}  // namespace helmert
