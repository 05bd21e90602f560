// The one error type of the tool. A stage that cannot go on throws it with a
// one-line message that names the file, the member and the index of what is
// wrong; the entry point catches it, prints the message on standard error and
// ends with the status of a failed run.
#pragma once

#include <stdexcept>
#include <string>

namespace helmert {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace helmert
