#include "driver/gene_resampling.h"

#include <cmath>
#include <vector>

#include "driver/burden_tests.h"
#include "stats/erec.h"
#include "stats/resampled_stats.h"

namespace {

bool is_finite(double x) { return std::isfinite(x); }

bool design_finite(const LoadedData &data) {
  const long N = data.pheno.pheno_NROW, D = data.pheno.pheno_NCOL;
  for (long i = 0; i < N; i++)
    for (long d = 0; d < D; d++)
      if (!is_finite(data.pheno.z[i][d])) return false;
  return true;
}

}  // namespace

bool prepare_gene_resampling(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const ResampleScheme &scheme,
                             RunArrays &run, const GeneUnderTest &gene, const FamilyRows &rows,
                             PooledGene &g) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  const long k = gene.k;
  const bool binary = data.pheno.BINARY_Y != 0;
  const bool additive = genetic_model(settings) == 1;
  const int N_FIX = run.N_FIX;
  std::vector<double> SZ((size_t)D, 0.0);
  // The observed null model (the standardized trait's for a quantitative
  // trait), as the resamples' statistics read theirs.
  ResampleNull observed;
  observed.Iz = null_model.Iz;
  if (binary) {
    observed.permY = data.pheno.y;
    observed.centerY = null_model.centerY;
    observed.v = null_model.v;
  } else {
    observed.permY = null_model.scaleY;
    observed.centerY = null_model.centerY_scale;
    observed.SigmaSQ = null_model.SigmaSQ_scale;
  }

  // Observed statistics.
  double wstat[3] = {0, 0, 0};
  for (int t = 0; t < N_FIX; t++)
    wstat[t] = binary ? run.wstat[t] : dense_abs_z(scheme, observed, run.S[t], SZ.data());
  const int N_VT = rows.n_var, N_SKAT = rows.n_skat;
  double vt_stat = 0, skat_stat = 0;
  if (N_VT > 0) {
    if (binary && rows.vt_stat_set)
      vt_stat = rows.vt_stat;
    else
      vt_stat = largest_abs_z(scheme, observed, rows.S_var, N_VT, SZ.data());
  }
  if (N_SKAT > 0) {
    if (binary) {
      skat_stat = rows.skat_stat;
    } else {
      skat_stat = 0.0;
      for (int j = 0; j < N_SKAT; j++) {
        const double U = dense_quan_U(scheme, observed, rows.S_skat[j], SZ.data());
        skat_stat += U * U * rows.weight_skat[j];
      }
    }
  }
  double erec_stat = std::nan("");
  if (additive) {
    const int M = (int)gene.N_SNP;
    if (binary)
      getS_opp(N, M, data.pheno.y, gene.x0, gene.x, run.S_opp, gene.maf, settings.MAF_UB,
               null_model.DELTA);
    else
      getS_opp_quan(N, M, null_model.scaleY, gene.x, run.S_opp, gene.maf, settings.MAF_UB,
                    null_model.DELTA);
    const double Z0 = dense_abs_z(scheme, observed, run.S_opp[0], SZ.data());
    const double Z1 = dense_abs_z(scheme, observed, run.S_opp[1], SZ.data());
    erec_stat = Z1 > Z0 ? Z1 : Z0;
  }

  // Which tests take part: a finite observed statistic (and rows to resample).
  double *slot[kTests] = {run.pvalue_perm[0] + k, run.pvalue_perm[1] + k,
                          N_FIX > 2 ? run.pvalue_perm[2] + k : nullptr, run.pvalue_perm_vt + k,
                          run.pvalue_perm_skat + k, run.pvalue_opp + k};
  double obs[kTests] = {wstat[0], wstat[1], wstat[2], vt_stat, skat_stat, erec_stat};
  bool part[kTests] = {false, false, false, false, false, false};
  for (int t = 0; t < N_FIX; t++) part[t] = is_finite(wstat[t]);
  part[kTestVT] = N_VT > 0 && is_finite(vt_stat);
  part[kTestSKAT] = N_SKAT > 0 && is_finite(skat_stat);
  part[kTestEREC] = additive && is_finite(erec_stat);

  // A gene whose burden tests, VT (asymptotic) and EREC are all unavailable
  // is not resampled, whatever SKAT's state.
  bool resampled = part[kTestEREC] || run.pvalue_vt[k] != 99;
  for (int t = 0; t < N_FIX; t++) resampled = resampled || run.pvalue[t][k] != 99;
  for (int t = 0; t < kTests; t++)
    if (slot[t] != nullptr) *slot[t] = 99;
  g.resampled = resampled;
  if (!resampled) return false;

  const bool dense = !design_finite(data);
  for (int t = 0; t < kTests; t++) {
    g.part[t] = part[t] && slot[t] != nullptr;
    g.test[t].obs = obs[t];
    g.test[t].n = 0.0;
    g.test[t].slot = slot[t];
    g.test[t].in_play = g.part[t];
    if (g.part[t]) *slot[t] = 0.0;
  }
  ResampledRows &kept = g.rows;
  for (int t = 0; t < N_FIX; t++) kept.burden.add(run.S[t], N, dense);
  fill_fixed_variances(kept.burden, scheme, SZ.data());
  if (g.part[kTestVT]) {
    for (int l = 0; l < N_VT; l++) kept.vt.add(rows.S_var[l], N, dense);
    fill_fixed_variances(kept.vt, scheme, SZ.data());
  }
  if (g.part[kTestSKAT]) {
    for (int j = 0; j < N_SKAT; j++) kept.skat.add(rows.S_skat[j], N, dense);
    kept.weight_skat.assign(rows.weight_skat, rows.weight_skat + N_SKAT);
  }
  kept.erec_on = g.part[kTestEREC];
  if (kept.erec_on)
    build_erec_rows(scheme, (int)gene.N_SNP, gene.x, gene.x0, gene.maf, settings.MAF_UB, dense,
                    kept.erec);
  return true;
}
