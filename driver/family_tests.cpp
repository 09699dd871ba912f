#include "driver/family_tests.h"

#include <cstring>
#include <string>

#include <gsl/gsl_randist.h>

#include "driver/burden_tests.h"
#include "driver/score_logs.h"
#include "numeric/arrays.h"
#include "stats/combination.h"
#include "stats/families.h"
#include "stats/thresholds.h"

namespace {

// A family of more kept scores than this gets no maximum-statistic p-value:
// the multivariate normal integration takes at most 20 variables and the
// family is limited to 19.
const int kMaxKept = 19;

// A p-value 1 - P of the multivariate normal integration or of Davies'
// routine falls below 0 when the estimate P exceeds 1 by its error. Such a
// value is set to 0 (the gene then gets the test's accuracy warning); the
// marker of a p-value not computed is left as it is. Returns whether the
// value was below 0.
bool clamp_below_zero(double *p) {
  if (!(*p < 0) || *p == kCombinationNotComputed) return false;
  *p = 0.0;
  return true;
}

void zero_dmatrix(double **m, int rows, int cols) {
  for (int r = 0; r < rows; r++) memset(m[r], 0, sizeof(double) * (size_t)cols);
}

// Subjects per block when the genotype columns are copied into rows.
const int kCopyBlock = 64;

// The rows the gene resampling reuses: the kept variants' columns of x (in
// blocks of subjects, so that the block's rows of x stay in cache) with
// their SKAT weights.
void keep_skat_rows(int N, int D, int M, double **x, const int *null_snp, const double *weight_sq,
                    int N_SKAT, FamilyRows &rows) {
  rows.n_skat = N_SKAT;
  rows.S_skat = dmatrix(0, N_SKAT - 1, 0, N - 1);
  rows.SZ_skat = dmatrix(0, N_SKAT - 1, 0, D - 1);
  rows.weight_skat = dvector(0, N_SKAT - 1);
  zero_dmatrix(rows.SZ_skat, N_SKAT, D);
  for (int j = 0, r = 0; j < M; j++)
    if (null_snp[j] == 0) rows.weight_skat[r++] = weight_sq[j];
  for (int i0 = 0; i0 < N; i0 += kCopyBlock) {
    const int i1 = N - i0 < kCopyBlock ? N : i0 + kCopyBlock;
    for (int j = 0, r = 0; j < M; j++) {
      if (null_snp[j] != 0) continue;
      double *row = rows.S_skat[r++];
      for (int i = i0; i < i1; i++) row[i] = x[i][j];
    }
  }
}

void skat_test(const Settings &settings, const LoadedData &data, const NullModel &null_model,
               RunArrays &run, GeneUnderTest &gene, FamilyRows &rows, double *weight_sq,
               MessageLog &log) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  const int M = (int)gene.N_SNP;
  const long k = gene.k;
  double *U_snp = dvector(0, M - 1);
  int *null_snp = ivector(0, M - 1);
  double **cov_snp = dmatrix(0, M - 1, 0, M - 1);
  int *mac_snp = ivector(0, M - 1);
  int N_SKAT = 0;
  // The minor-allele-count bound of SKAT is always 0.
  if (data.pheno.BINARY_Y)
    SKAT_binary(N, D, M, gene.x, data.pheno.z, null_model.centerY, null_model.v,
                null_model.Iz, 0, mac_snp, U_snp, cov_snp, &N_SKAT, null_snp);
  else
    SKAT_quan(N, D, M, gene.x, data.pheno.z, null_model.centerY,
              null_model.SigmaSQ, null_model.Iz, 0, mac_snp, U_snp, cov_snp, &N_SKAT, null_snp);
  run.N_SKAT = N_SKAT;
  append_variant_log(settings, variant_log_block(gene.geneID, M, gene.gene_snpID, gene.maf,
                                                 mac_snp, gene.nobs, U_snp, cov_snp));
  if (N_SKAT > 0) {
    for (int j = 0; j < M; j++) weight_sq[j] = skat_weight(gene.maf[j]);
    if (settings.PERM_FLAG) keep_skat_rows(N, D, M, gene.x, null_snp, weight_sq, N_SKAT, rows);
    int inform = 0;
    ZEPH_metaPval_v2(2, M, U_snp, cov_snp, weight_sq, &rows.skat_stat, &run.pvalue_skat[k],
                     &inform);
    run.inform = inform;
    if (clamp_below_zero(&run.pvalue_skat[k]) || inform > 0)
      report_warning(log, "GENE %s Warning: The asymptotic SKAT p-value may not be accurate.\n",
                     gene.geneID);
  } else if (settings.PERM_FLAG) {
    run.pvalue_perm_skat[k] = 99;
  }
  free_ivector(null_snp, 0, M - 1);
  free_dvector(U_snp, 0, M - 1);
  free_dmatrix(cov_snp, 0, M - 1, 0, M - 1);
  free_ivector(mac_snp, 0, M - 1);
  for (int j = 0; j < M; j++) weight_sq[j] = 1.0;
}

void vt_test(const Settings &settings, const LoadedData &data, const NullModel &null_model,
             RunArrays &run, GeneUnderTest &gene, FamilyRows &rows, double *weight_sq,
             MessageLog &log) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  const int M = (int)gene.N_SNP;
  const long k = gene.k;
  const int model = genetic_model(settings);
  if (!data.map.EXT_THRESH)
    getThresh(model, N, M, gene.x0, gene.maf, settings.MAC_LB, &gene.n_thresh, gene.thresh);
  const int n_thresh = gene.n_thresh;
  int N_VT = 0;
  if (n_thresh > 0) {
    int *null_thresh = ivector(0, n_thresh - 1);
    double **S_thresh = dmatrix(0, n_thresh - 1, 0, N - 1);
    double *U_thresh = dvector(0, n_thresh - 1);
    double **cov_thresh = dmatrix(0, n_thresh - 1, 0, n_thresh - 1);
    int *mac_thresh = ivector(0, n_thresh - 1);
    if (data.pheno.BINARY_Y)
      VT_binary_fixThresh(model, N, D, M, gene.x0, data.pheno.z,
                          null_model.centerY, null_model.v, null_model.Iz, n_thresh, gene.thresh,
                          gene.maf, gene.q, settings.MAC_LB, mac_thresh, S_thresh, U_thresh,
                          cov_thresh, &N_VT, null_thresh);
    else
      VT_quan_fixThresh(model, N, D, M, gene.x0, data.pheno.z, null_model.centerY,
                        null_model.SigmaSQ, null_model.Iz, n_thresh, gene.thresh, gene.maf,
                        gene.q, settings.MAC_LB, mac_thresh, S_thresh, U_thresh, cov_thresh,
                        &N_VT, null_thresh);
    append_vt_log(settings, vt_log_block(gene.geneID, n_thresh, gene.thresh, mac_thresh,
                                         U_thresh, cov_thresh));
    if (N_VT > 0) {
      if (settings.PERM_FLAG) {
        rows.n_var = N_VT;
        rows.S_var = dmatrix(0, N_VT - 1, 0, N - 1);
        rows.SZ_var = dmatrix(0, N_VT - 1, 0, D - 1);
        zero_dmatrix(rows.SZ_var, N_VT, D);
        int r = 0;
        for (int j = 0; j < n_thresh; j++)
          if (null_thresh[j] == 0)
            memcpy(rows.S_var[r++], S_thresh[j], sizeof(double) * (size_t)N);
      }
      if (N_VT <= kMaxKept) {
        int inform = 0;
        ZEPH_metaPval_v2(1, n_thresh, U_thresh, cov_thresh, weight_sq, &rows.vt_stat,
                         &run.pvalue_vt[k], &inform);
        rows.vt_stat_set = true;
        run.inform = inform;
        if (clamp_below_zero(&run.pvalue_vt[k]) || inform > 0)
          report_warning(log, "GENE %s Warning: The asymptotic VT p-value may not be accurate.\n",
                         gene.geneID);
      }
    } else if (settings.PERM_FLAG) {
      run.pvalue_perm_vt[k] = 99;
    }
    free_ivector(null_thresh, 0, n_thresh - 1);
    free_dmatrix(S_thresh, 0, n_thresh - 1, 0, N - 1);
    free_dvector(U_thresh, 0, n_thresh - 1);
    free_dmatrix(cov_thresh, 0, n_thresh - 1, 0, n_thresh - 1);
    free_ivector(mac_thresh, 0, n_thresh - 1);
  } else {
    N_VT = 0;
    if (settings.PERM_FLAG) run.pvalue_perm_vt[k] = 99;
  }
  run.N_VT = N_VT;
}

void customized_test(const Settings &settings, const LoadedData &data,
                     const NullModel &null_model, RunArrays &run, GeneUnderTest &gene,
                     double *weight_sq, MessageLog &log) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  const int M = (int)gene.N_SNP;
  const int n_weight = gene.n_weight;
  const long k = gene.k;
  int *null_weight = ivector(0, n_weight - 1);
  double *U_weight = dvector(0, n_weight - 1);
  double **cov_weight = dmatrix(0, n_weight - 1, 0, n_weight - 1);
  int *mac_weight = ivector(0, n_weight - 1);
  int N_MULTI = 0;
  if (data.pheno.BINARY_Y)
    MULTI_binary(N, D, M, gene.x0, data.pheno.z, null_model.centerY, null_model.v,
                 null_model.Iz, n_weight, gene.wt, gene.q, settings.MAC_LB, mac_weight, U_weight,
                 cov_weight, &N_MULTI, null_weight);
  else
    MULTI_quan(N, D, M, gene.x0, data.pheno.z, null_model.centerY,
               null_model.SigmaSQ, null_model.Iz, n_weight, gene.wt, gene.q, settings.MAC_LB,
               mac_weight, U_weight, cov_weight, &N_MULTI, null_weight);
  run.N_MULTI = N_MULTI;
  append_multi_log(settings, multi_log_block(gene.geneID, n_weight, mac_weight, U_weight,
                                             cov_weight));
  if (N_MULTI >= 1 && N_MULTI <= kMaxKept) {
    int inform = 0;
    double T = 0;
    ZEPH_metaPval_v2(1, n_weight, U_weight, cov_weight, weight_sq, &T, &run.pvalue_multi[k],
                     &inform);
    run.inform = inform;
    if (clamp_below_zero(&run.pvalue_multi[k]) || inform > 0)
      report_warning(log,
                     "GENE %s Warning: The asymptotic multivariate maximum test p-value may not "
                     "be accurate.\n",
                     gene.geneID);
  }
  free_ivector(null_weight, 0, n_weight - 1);
  free_dvector(U_weight, 0, n_weight - 1);
  free_dmatrix(cov_weight, 0, n_weight - 1, 0, n_weight - 1);
  free_ivector(mac_weight, 0, n_weight - 1);
}

}  // namespace

double skat_weight(double maf) {
  const double b = gsl_ran_beta_pdf(maf, 1.0, 25.0);
  return b * b;
}

void family_tests(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                  RunArrays &run, GeneUnderTest &gene, FamilyRows &rows, MessageLog &log) {
  const int M = (int)gene.N_SNP;
  rows = FamilyRows();
  // The weights of the maximum tests are not read; they are all 1.0 once
  // SKAT is done.
  double *weight_sq = dvector(0, M - 1);
  for (int j = 0; j < M; j++) weight_sq[j] = 1.0;
  skat_test(settings, data, null_model, run, gene, rows, weight_sq, log);
  vt_test(settings, data, null_model, run, gene, rows, weight_sq, log);
  run.N_MULTI = 0;
  if (settings.mwf && gene.n_weight > 0)
    customized_test(settings, data, null_model, run, gene, weight_sq, log);
  free_dvector(weight_sq, 0, M - 1);
}

void release_family_rows(const LoadedData &data, FamilyRows &rows) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  if (rows.S_var != nullptr) free_dmatrix(rows.S_var, 0, rows.n_var - 1, 0, N - 1);
  if (rows.SZ_var != nullptr) free_dmatrix(rows.SZ_var, 0, rows.n_var - 1, 0, D - 1);
  if (rows.S_skat != nullptr) free_dmatrix(rows.S_skat, 0, rows.n_skat - 1, 0, N - 1);
  if (rows.SZ_skat != nullptr) free_dmatrix(rows.SZ_skat, 0, rows.n_skat - 1, 0, D - 1);
  if (rows.weight_skat != nullptr) free_dvector(rows.weight_skat, 0, rows.n_skat - 1);
  rows = FamilyRows();
}
