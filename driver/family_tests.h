#ifndef QUORVEX_DRIVER_FAMILY_TESTS_H
#define QUORVEX_DRIVER_FAMILY_TESTS_H

// The gene tests that combine several correlated scores, after the burden
// tests: SKAT (one score per variant, weights the squared Beta(1, 25)
// density at the variant's frequency, p-value by Davies' method), VT (one
// burden per frequency threshold, maximum standardized score through the
// multivariate normal distribution, at most 19 kept thresholds) and, with a
// weight file under the additive model, the customized maximum test over the
// user's weight vectors (also at most 19 kept scores). Writes the gene's
// blocks of the three score logs, the p-values into the run's slots
// pvalue_skat, pvalue_vt and pvalue_multi, and, with resampling on, keeps
// the score rows that the gene resampling reuses.

#include "driver/gene_setup.h"
#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// Score rows of the gene kept for its resampling (built with resampling on
// only; the statistics always); released with the gene's arrays
// (release_family_rows).
struct FamilyRows {
  double **S_var = nullptr;   // [N_VT][N] kept VT threshold scores, threshold order
  double **SZ_var = nullptr;  // [N_VT][p] scratch rows
  int n_var = 0;              // rows allocated (N_VT when built)
  double **S_skat = nullptr;   // [N_SKAT][N] kept variants' columns of x, variant order
  double **SZ_skat = nullptr;  // [N_SKAT][p] scratch rows
  double *weight_skat = nullptr;  // [N_SKAT] their SKAT weights
  int n_skat = 0;                 // rows allocated (N_SKAT when built)
  double vt_stat = 0;    // VT maximum |Z| when the asymptotic VT test ran
  bool vt_stat_set = false;
  double skat_stat = 0;  // SKAT statistic when its p-value was computed
};

// SKAT, VT and the customized test of the gene that passed its burden step
// (burden_step and burden_tests done): the counts go to run.N_SKAT, run.N_VT
// and run.N_MULTI, and, with resampling on, the resampling slot of a test
// without kept scores to 99. A p-value 1 - P that comes out below 0 is set
// to 0 and the gene gets the test's "may not be accurate" warning, as when
// an accuracy stage fails. Warnings go through the warning report.
void family_tests(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                  RunArrays &run, GeneUnderTest &gene, FamilyRows &rows, MessageLog &log);

// Releases the rows kept for resampling (nothing when none were built).
void release_family_rows(const LoadedData &data, FamilyRows &rows);

// SKAT weight of a variant of frequency maf: the square of the Beta(1, 25)
// density at maf (GSL).
double skat_weight(double maf);

#endif
