#ifndef QUORVEX_TESTS_DEATH_TESTS_H
#define QUORVEX_TESTS_DEATH_TESTS_H

#include <cstdio>
#include <cstdlib>

#include "numeric/run_stop.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

// A fatal stop leaves its arrays allocated on purpose; inside a death test's
// child the leak checker is told to ignore what is allocated from here on.
inline void ignore_leaks_from_here() {
#if defined(__SANITIZE_ADDRESS__)
  __lsan_disable();
#endif
}

// Runs work in a death test's child as the program's main ends a run: a
// stop's texts are written to their streams, the streams flushed, and the
// child ends with the stop's status (without the leak check: the work the
// stop cut off leaves its arrays allocated). Work that does not stop
// returns.
template <class Work>
void run_to_exit(Work work) {
  try {
    work();
  } catch (const RunStop &stop) {
    const int status = write_stop(stop);
    std::fflush(nullptr);
    std::_Exit(status);
  }
}

#endif
