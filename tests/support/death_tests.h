#ifndef QUORVEX_TESTS_DEATH_TESTS_H
#define QUORVEX_TESTS_DEATH_TESTS_H

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

#endif
