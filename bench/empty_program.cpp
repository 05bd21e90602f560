// Start-up reference: a program linked exactly like helmert-fit that does
// nothing. The call below is never taken; it keeps every library linked.
#include <iostream>

#include "app/Run.hpp"

int main(int argc, char** argv) {
  if (argc == 42)
    helmert::RunHelmertFit(argv[1], argv[2], std::cout, std::cerr);
  return 0;
}
