#ifndef QUORVEX_STATS_GSL_ERRORS_H
#define QUORVEX_STATS_GSL_ERRORS_H

// The GSL's errors as the run's stop. The library's default handler prints
// its message and aborts, losing the output still buffered; the handler
// installed here raises the run's stop (run_stop.h) instead, with status 1
// and the library's own lines for standard error:
//   "gsl: FILE:LINE: ERROR: REASON\n" and "Default GSL error handler invoked.\n".

// Replaces the GSL's error handler for the whole process (called at start).
void install_gsl_stop();

#endif
