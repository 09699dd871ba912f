#include "driver/burden_tests.h"

#include <cmath>
#include <cstring>

#include "numeric/gamma.h"
#include "stats/burden.h"
#include "stats/score.h"

namespace {
const char *const kTestName[3] = {"T1", "T5", "MB"};
const double kMacLimit[3] = {0.01, 0.05, 1.0};
}  // namespace

int genetic_model(const Settings &settings) {
  if (settings.DOCMC) return 2;
  if (settings.DOREC) return 3;
  return 1;
}

bool burden_step(const Settings &settings, const LoadedData &data, RunArrays &run,
                 GeneUnderTest &gene, MessageLog &log) {
  const int N = (int)data.pheno.pheno_NROW, M = (int)gene.N_SNP;
  // x0, the untouched copy of x, was written with x by the gene set-up.

  int flag = 0;
  const int model = genetic_model(settings);
  if (model == 2)
    getS_CMC(N, M, gene.x, run.S, settings.MAF_UB, settings.MAC_LB, gene.maf, &flag, gene.q);
  else if (model == 3)
    getS_REC(N, M, gene.x, run.S, settings.MAF_UB, settings.MAC_LB, gene.maf, &flag, gene.q);
  else
    getS(N, M, gene.x, run.S, settings.MAF_UB, settings.MAC_LB, gene.maf, &flag, data.map.maf_flag,
         gene.q);
  // The counts of every limit from one pass over the genotypes.
  double mac_limit[3];
  burdenMAC_many(model, N, M, gene.x0, gene.maf, run.N_FIX, kMacLimit, mac_limit);
  for (int t = 0; t < run.N_FIX; t++) run.mac_fix[t] = (int)mac_limit[t];

  if (flag != 0) {
    report_warning(log,
                   "GENE %s Warning: All SNP MAFs >%f or call rate <%f or minor allele count <%d, "
                   "so p-values are not calculated.\n",
                   gene.geneID, settings.MAF_UB, 1 - settings.NA_UB, settings.MAC_LB);
    return false;
  }
  return true;
}

void burden_tests(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                  RunArrays &run, GeneUnderTest &gene, MessageLog &log) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  const long k = gene.k;
  double Z_of[3] = {0, 0, 0};
  for (int t = 0; t < run.N_FIX; t++) {
    // A burden row equal to an earlier one (T5 = T1 when every variant of
    // the gene is below 0.01) has the same statistic.
    int same = -1;
    for (int u = 0; u < t && same < 0; u++)
      if (memcmp(run.S[t], run.S[u], sizeof(double) * (size_t)N) == 0) same = u;
    double Z;
    if (same >= 0) {
      Z = Z_of[same];
      run.pvalue_U[t] = run.pvalue_U[same];
      run.pvalue_V[t] = run.pvalue_V[same];
      for (int d = 0; d < D; d++) run.SZ[t][d] = run.SZ[same][d];
    } else if (data.pheno.BINARY_Y)
      Z = score_stat(N, D, data.pheno.y, run.S[t], data.pheno.z, null_model.centerY, null_model.v,
                     null_model.Iz, run.SZ[t], &run.pvalue_U[t], &run.pvalue_V[t]);
    else
      Z = score_stat_quanTrait(N, D, data.pheno.y, run.S[t], data.pheno.z, null_model.centerY,
                               null_model.SigmaSQ, null_model.Iz, run.SZ[t], &run.pvalue_U[t],
                               &run.pvalue_V[t]);
    Z_of[t] = Z;
    run.pvalue_stat[t][k] = Z;
    run.wstat[t] = fabs(Z);
    if (std::isnan(run.wstat[t]) || std::isinf(run.wstat[t])) {
      report_warning(log,
                     "GENE %s Warning: Variance estimate=0 for observed %s test statistic, so the "
                     "p-value cannot be calculated.\n",
                     gene.geneID, kTestName[t]);
      run.pvalue[t][k] = 99;
      if (settings.PERM_FLAG) run.pvalue_perm[t][k] = 99;
    } else {
      run.pvalue[t][k] = gammq(0.5, Z * Z * 0.5);
    }
  }
}
