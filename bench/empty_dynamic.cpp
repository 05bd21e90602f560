// Start-up reference: a program that does nothing, linked dynamically to
// Ceres (libceres.so and the libraries behind it), as a program built
// against Debian's Ceres without further thought would be. The call below
// is never taken; it keeps Ceres linked.
#include <ceres/problem.h>

int main(int argc, char**) {
  if (argc == 42) {
    ceres::Problem problem;
    return problem.NumResiduals();
  }
  return 0;
}
