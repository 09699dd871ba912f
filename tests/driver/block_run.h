#ifndef QUORVEX_TESTS_DRIVER_BLOCK_RUN_H
#define QUORVEX_TESTS_DRIVER_BLOCK_RUN_H

// A hand-made run for the resampling tests of the common variants and of
// the pool: a design, a trait and its null-model pieces, its scheme and a
// block of its first resamples, and coded columns to evaluate on them.

#include <cmath>
#include <cstring>
#include <vector>

#include "driver/resampling.h"
#include "driver/run_setup.h"
#include "numeric/arrays.h"
#include "stats/resampled_stats.h"

namespace block_run_test {

// A hand-made run: N subjects, design [1, covariates...], a trait and its
// null-model pieces (any values: the test compares two orders of work).
struct BlockRun {
  int N, D;
  bool binary;
  std::vector<double> y, pY, RY, addZ, scaleY, slots;
  double **z, **Iz;
  double mleZ[1];
  RunArrays run;
  ResampleScheme scheme;
  Resample block_storage[kResampleBlock];
  Resample *block[kResampleBlock];
  const ResampleNull *nulls[kResampleBlock];  // the same resamples

  BlockRun(bool binary_, int D_) : N(37), D(D_), binary(binary_) {
    z = dmatrix(0, N - 1, 0, D - 1);
    Iz = dmatrix(0, D - 1, 0, D - 1);
    for (int i = 0; i < N; i++) {
      z[i][0] = 1;
      for (int d = 1; d < D; d++) z[i][d] = std::sin(1.0 + i * d) + (d == 2 ? 0.3 * (i % 2) : 0);
      y.push_back(binary ? (i % 3 == 0 || i % 7 == 1) : std::cos(2.0 * i) + 0.1 * i);
      pY.push_back(0.2 + 0.5 * (i % 4) / 4.0);
      scaleY.push_back(y.back() - 0.1);
      RY.push_back(0.3 * std::cos(3.0 * i));
      addZ.push_back(scaleY.back() - RY.back());
    }
    // Iz = (Z'Z)^-1 by Gauss-Jordan elimination (the quantitative null model).
    std::vector<std::vector<double>> A((size_t)D, std::vector<double>(2 * (size_t)D, 0.0));
    for (int a = 0; a < D; a++) {
      for (int b = 0; b < D; b++)
        for (int i = 0; i < N; i++) A[a][b] += z[i][a] * z[i][b];
      A[a][D + a] = 1;
    }
    for (int c = 0; c < D; c++) {
      const double piv = A[c][c];
      for (int k = 0; k < 2 * D; k++) A[c][k] /= piv;
      for (int r = 0; r < D; r++)
        if (r != c) {
          const double m = A[r][c];
          for (int k = 0; k < 2 * D; k++) A[r][k] -= m * A[c][k];
        }
    }
    for (int a = 0; a < D; a++)
      for (int b = 0; b < D; b++) Iz[a][b] = A[a][D + b];
    mleZ[0] = binary ? std::log(14.0 / 23.0) : 0.05;
    if (D > 1) run.gammaPool = dmatrix(0, 999999, 0, D - 1);
    slots.assign(8, 99.0);
    run.pvalue_perm_com = slots.data();
    scheme.N = N;
    scheme.D = D;
    scheme.binary = binary;
    scheme.y = y.data();
    scheme.z = z;
    scheme.pY = pY.data();
    scheme.RY = RY.data();
    scheme.addZ = addZ.data();
    scheme.scaleY = scaleY.data();
    scheme.Iz = Iz;
    scheme.mleZ = mleZ;
    scheme.run = &run;
    scheme.MORE = 1000000;
    set_run_wide_values(scheme);
    for (int b = 0; b < kResampleBlock; b++) {
      alloc_resample(scheme, block_storage[b]);
      block[b] = &block_storage[b];
      nulls[b] = block[b];
    }
    start_resampling(scheme);
    for (int b = 0; b < kResampleBlock; b++) make_resample(scheme, b, *block[b]);
  }
  ~BlockRun() {
    for (int b = 1; b < kResampleBlock; b++) free_resample(scheme, block_storage[b]);
    free_resample_scheme(scheme, block_storage[0]);
    if (D > 1) free_dmatrix(run.gammaPool, 0, 999999, 0, D - 1);
    free_dmatrix(z, 0, N - 1, 0, D - 1);
    free_dmatrix(Iz, 0, D - 1, 0, D - 1);
  }
};

// Coded columns: additive genotypes with zeros, a dominant-coded one with a
// missing value's mean, dosages, a column of a negative value (a value
// other than -1 that the dominant model leaves), and a constant column (no
// variance: Z is not finite).
inline std::vector<std::vector<double>> columns(int N) {
  std::vector<std::vector<double>> c(5, std::vector<double>((size_t)N));
  for (int i = 0; i < N; i++) {
    c[0][i] = (i * 7) % 3;
    c[1][i] = i % 5 == 2 ? 0.51 : (i % 4 == 0 ? 1 : 0);
    c[2][i] = std::round(100 * (1 + std::sin(2.1 * i))) / 100;
    c[3][i] = i % 6 == 1 ? -0.5 : (i % 2);
    c[4][i] = 1;
  }
  return c;
}

inline bool same_double(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// |Z| of a dense column under resample r by the one-resample formula.
inline double one_resample_z(const std::vector<double> &column, const ResampleScheme &scheme,
                             const Resample &r, double *SZ) {
  return dense_abs_z(scheme, r, const_cast<double *>(column.data()), SZ);
}

}  // namespace block_run_test

#endif
