#include "driver/common_resampling.h"

#include <cmath>
#include <vector>

#include "stats/score.h"

void prepare_common_resampling(const ResampleScheme &scheme, RunArrays &run,
                               const CommonVariant &variant, bool resampled, double observed,
                               PooledVariant &g) {
  g.k = variant.k;
  g.snpID = variant.snpID;
  g.has_row = true;
  g.U = variant.U;
  g.V = variant.V;
  // A variant without a finite observed statistic gets no resampling
  // p-value (none of its resamples could count).
  g.resampled = resampled && std::isfinite(observed);
  if (!g.resampled) {
    run.pvalue_perm_com[variant.k] = 99;
    return;
  }
  const int N = scheme.N;
  ResampleTest &test = g.test[0];
  test.obs = observed;
  test.n = 0.0;
  test.slot = run.pvalue_perm_com + variant.k;
  test.in_play = true;
  // The column, dense: every subject's value.
  g.column.assign(variant.S, variant.S + N);
  if (scheme.fixed_variance) {
    // The variance part of |Z| does not change between resamples.
    std::vector<double> SZ((size_t)scheme.D);
    std::vector<int> every((size_t)N);
    for (int i = 0; i < N; i++) every[i] = i;
    g.vfix = score_variance_sparse(N, every.data(), g.column.data(), scheme.D, scheme.z,
                                   scheme.binary ? scheme.v_fixed : nullptr,
                                   scheme.binary ? scheme.Iz_fixed : scheme.Iz, SZ.data());
  }
}
