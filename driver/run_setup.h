#ifndef QUORVEX_DRIVER_RUN_SETUP_H
#define QUORVEX_DRIVER_RUN_SETUP_H

// Run set-up after the data summary: the arrays that live for the whole run,
// the null model of the observed trait, the "START" heading, the message log
// and the warning report through which every per-variant and per-gene warning
// of the passes goes.

#include <cstdio>

#include "driver/input.h"
#include "driver/settings.h"

// Null-model quantities of the observed trait (and, for a quantitative trait
// with resampling, of its standardized version). All arrays 0-based.
struct NullModel {
  long N = 0;             // subjects
  long p = 0;             // design columns: intercept + covariates
  double *pY = nullptr;   // [N] fitted probabilities (binary trait with covariates)
  double **Iz = nullptr;  // [p][p] inverse information of the null coefficients
  double *centerY = nullptr;  // [N] residuals
  double *v = nullptr;        // [N] binary: fitted Bernoulli variances
  double *mleZ = nullptr;     // [p] null coefficients
  double SigmaSQ = 0;         // quantitative: residual sum of squares / N
  double DELTA = 1.0;         // EREC delta in force
  // Quantitative trait with resampling only.
  double *scaleY = nullptr;         // [N] standardized trait
  double *centerY_scale = nullptr;  // [N] null residuals of scaleY
  double *addZ = nullptr;           // [N] fitted part of scaleY
  double *RY = nullptr;             // [N] least-squares residuals of scaleY
  double SigmaSQ_scale = 0;
};

// Arrays and scalars of the run that the passes fill (resampling slots hold 99
// when their test takes no part in resampling).
struct RunArrays {
  int N_FIX = 3;
  long N_GENE = 0;
  long geno_NROW = 0;
  int *permY_index = nullptr;  // [N]
  double **S = nullptr;        // [N_FIX][N] burden scores of the gene under test
  double *genek_index = nullptr;  // [geno_NROW] gene set-up work values, all 0.0
  double *wstat = nullptr;     // [N_FIX] |Z| of the burden tests
  double *YZ = nullptr;        // [p]
  double **SZ = nullptr;       // [N_FIX][p] scratch of the score statistic
  // Common-variant pass.
  double *pvalue_com = nullptr, *pvalue_com_stat = nullptr;  // [geno_NROW]
  // Gene pass.
  double **pvalue = nullptr;       // [N_FIX][N_GENE]
  double **pvalue_stat = nullptr;  // [N_FIX][N_GENE]
  double *pvalue_U = nullptr, *pvalue_V = nullptr;  // [N_FIX]
  double *pvalue_vt = nullptr, *pvalue_skat = nullptr;  // [N_GENE], 99
  int *mac_fix = nullptr;          // [N_FIX]
  double *pvalue_multi = nullptr;  // [N_GENE], 99; customized test only
  double *buffer_weight = nullptr; // [0..100]; customized test only
  // Resampling.
  double **gammaPool = nullptr;  // [1000000][p], only when p > 1
  // 1 once the refit cache rows of stage 1 (s < 1,000), stage 2 (s < 100,000)
  // and stage 3 (s < 1,000,000) are filled; shared by both passes.
  long STEP1_FLAG = 0, STEP2_FLAG = 0, STEP3_FLAG = 0;
  double **S_opp = nullptr;      // [2][N]
  double *permY = nullptr, *centerY_perm = nullptr, *v_perm = nullptr;  // [N]
  double **Iz_perm = nullptr;    // [p][p]
  double *perm_wstat = nullptr, *n_perm = nullptr;  // [N_FIX]
  double *pvalue_perm_com = nullptr;  // [geno_NROW], with the common-variant pass
  double **pvalue_perm = nullptr;     // [N_FIX][N_GENE], with the gene pass
  double *pvalue_perm_vt = nullptr, *pvalue_perm_skat = nullptr, *pvalue_opp = nullptr;
  double SigmaSQ_perm = 0;
  int inform = 0, N_VT = 0, N_SKAT = 0, N_MULTI = 0;
};

// Whether a p-value slot holds a p-value that the result files print: a value
// from 0 to 1. The markers of a value not computed (99, the combination
// routine's -999, a failed SKAT's 2, NaN) print as "NA".
inline bool printed_p_value(double p) { return p >= 0 && p <= 1; }

// The message log: open from the start of testing to the end of the run when
// "-msglog" was given, else file is null.
struct MessageLog {
  FILE *file = nullptr;
  const char *name = nullptr;  // the file's name, for the message of a failed write
};

// Stops the run (message and kill_QUORVEX) when the null model cannot be
// fitted: a binary trait with one value only, no more subjects than design
// columns.
void check_null_model_data(const LoadedData &data);

// Stops the run when the design cannot be fitted: a covariate column with
// values beyond 1e150 (or all below 1e-150) in absolute value, or a design
// (intercept and covariates, each scaled to unit length) of which one column
// lies within a relative 1e-8 of the span of the others: a constant
// covariate, or one that is a linear combination of others. The message
// names the phenotype file's columns involved.
void check_design(const Settings &settings, const LoadedData &data);

// Allocates the run arrays the settings call for; the p-value slots of the
// gene pass and the resampling slots start at 99.
void allocate_run(const Settings &settings, const LoadedData &data, NullModel &null_model,
                  RunArrays &run);

// Fits the null model of the observed trait: logistic (binary) or linear
// (quantitative) regression on the intercept and the covariates; with
// resampling and a quantitative trait also the standardized trait. Stops the
// run when a quantitative trait has residual variance 0.
void fit_null_model(const Settings &settings, const LoadedData &data, NullModel &null_model,
                    RunArrays &run);

// Prints the "START" heading with the local time and creates the message log
// when one was named.
void start_testing(const Settings &settings, MessageLog &log);

// The warning report: prints the text on standard output and, when the
// message log is open, writes the same text there.
void report_warning(MessageLog &log, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Closes the message log (when open; a failed write or close stops the run),
// prints the "END" heading with the local time.
void end_testing(MessageLog &log);

// The per-gene scratch of the run for a thread that tests genes side by side
// with others: worker is a copy of shared whose scratch arrays (S, wstat, YZ,
// SZ, genek_index (all 0), pvalue_U, pvalue_V, mac_fix, buffer_weight and
// S_opp)
// are its own; the result arrays indexed by gene stay shared.
void allocate_gene_scratch(const Settings &settings, const LoadedData &data,
                           const RunArrays &shared, RunArrays &worker);
void free_gene_scratch(const Settings &settings, const LoadedData &data, RunArrays &worker);

// Releases everything allocate_run allocated.
void free_run(const Settings &settings, const LoadedData &data, NullModel &null_model,
              RunArrays &run);

#endif
