#include "numeric/arrays.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include "numeric/run_stop.h"

// The offset pointers below point outside their blocks when the lower bound
// is not 0; they are formed with integer arithmetic so that no out-of-bounds
// pointer arithmetic is performed on the block itself.
namespace {

template <typename T>
T *offset(T *base, long by) {
  return reinterpret_cast<T *>(reinterpret_cast<std::uintptr_t>(base) +
                               static_cast<std::uintptr_t>(by) * sizeof(T));
}

// malloc(0) may return null on some platforms; an empty range is a valid
// request, so at least one byte is asked for.
void *allocate(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

}  // namespace

void nrerror(const char *error_text) {
  RunStop stop;
  stop.texts.push_back({RunStop::kStandardError, "Numerical Recipes run-time error...\n"});
  stop.texts.push_back({RunStop::kStandardError, std::string(error_text) + "\n"});
  stop.texts.push_back({RunStop::kStandardError, "...now exiting to system...\n"});
  raise_stop(std::move(stop));
}

double *dvector(long nl, long nh) {
  long count = nh - nl + 1;
  double *v = static_cast<double *>(allocate(static_cast<std::size_t>(count) * sizeof(double)));
  if (!v) nrerror("allocation failure in dvector()");
  return offset(v, -nl);
}

int *ivector(int nl, int nh) {
  int count = nh - nl + 1;
  int *v = static_cast<int *>(allocate(static_cast<std::size_t>(count) * sizeof(int)));
  if (!v) nrerror("allocation failure in ivector()");
  return offset(v, -static_cast<long>(nl));
}

double **dmatrix(long nrl, long nrh, long ncl, long nch) {
  long nrow = nrh - nrl + 1, ncol = nch - ncl + 1;
  // The row-pointer array always keeps the slot m[nrl], through which the
  // element block is found on release, even when there are no rows.
  std::size_t slots = static_cast<std::size_t>(nrow > 0 ? nrow : 1);
  double **m = static_cast<double **>(allocate(slots * sizeof(double *)));
  if (!m) nrerror("allocation failure 1 in matrix()");
  m = offset(m, -nrl);
  std::size_t elements = static_cast<std::size_t>(nrow > 0 ? nrow : 0) *
                         static_cast<std::size_t>(ncol > 0 ? ncol : 0);
  double *block = static_cast<double *>(allocate(elements * sizeof(double)));
  if (!block) nrerror("allocation failure 2 in matrix()");
  m[nrl] = offset(block, -ncl);
  for (long i = nrl + 1; i <= nrh; i++) m[i] = offset(m[i - 1], ncol);
  return m;
}

void free_dvector(double *v, long nl, long /*nh*/) { std::free(offset(v, nl)); }

void free_ivector(int *v, int nl, int /*nh*/) { std::free(offset(v, static_cast<long>(nl))); }

void free_dmatrix(double **m, long nrl, long /*nrh*/, long ncl, long /*nch*/) {
  std::free(offset(m[nrl], ncl));
  std::free(offset(m, nrl));
}
