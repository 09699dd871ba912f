#ifndef QUORVEX_NUMERIC_ARRAYS_H
#define QUORVEX_NUMERIC_ARRAYS_H

// Index-range arrays: vectors and matrices whose valid indices run over a
// range chosen at allocation (0..n-1 for most, 1..n for the LU routines).
// A vector is one block offset by -nl; a matrix is one array of row pointers
// offset by -nrl plus one contiguous row-major element block. No spare
// element lies outside the valid range; contents are not initialised.
// No allocator returns null: a failed allocation stops the run in nrerror.

double *dvector(long nl, long nh);
int *ivector(int nl, int nh);
double **dmatrix(long nrl, long nrh, long ncl, long nch);

// The upper bounds are accepted and not used.
void free_dvector(double *v, long nl, long nh);
void free_ivector(int *v, int nl, int nh);
void free_dmatrix(double **m, long nrl, long nrh, long ncl, long nch);

// Fatal numeric error: raises the run's stop (run_stop.h) with status 1 and
// the lines "Numerical Recipes run-time error...", the text and
// "...now exiting to system..." for standard error.
[[noreturn]] void nrerror(const char *error_text);

#endif
