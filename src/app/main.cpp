// helmert-fit CONTROL.json RESULT.json
//
// Exit status: 0 success; 1 wrong argument count (nothing read, printed or
// written); 2 a failed run (one line on standard error, the result file not
// touched).
#include <glog/logging.h>
#include <malloc.h>

#include <iostream>
#include <new>

#include "app/Run.hpp"
#include "io/Streams.hpp"

int main(int argc, char** argv) {
  if (argc != 3) return 1;
  // The fit allocates millions of small blocks (a cost function, its
  // functor and its residual block per point) and frees them before the
  // fit check. Kept in glibc's fast bins, they would all be consolidated at
  // the next large allocation: about 0.3 s at a million points. Without
  // fast bins they are merged as they are freed.
  mallopt(M_MXFAST, 0);
  // The solver logs some terminations on standard error itself; the run
  // reports the solver's message in its own one line instead.
  FLAGS_minloglevel = google::GLOG_FATAL;
  try {
    // A closed pipe or a file-size limit is a write error reported in the
    // run's one line, not a death; an interrupt removes the temporaries.
    helmert::PrepareProcess();
    helmert::RunHelmertFit(argv[1], argv[2], std::cout, std::cerr);
    return 0;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& error) {
    std::cout.flush();
    // Paths and names come from the user: shown escaped, on one line.
    std::cerr << helmert::ShownText(error.what()) << std::endl;
  }
  return 2;
}
