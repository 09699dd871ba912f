#ifndef QUORVEX_DRIVER_SCORE_LOGS_H
#define QUORVEX_DRIVER_SCORE_LOGS_H

// The three score logs of the gene pass: the VT log (one line per VT
// threshold), the variant log (one line per used variant, the SKAT scores)
// and, with the customized test, the customized log (one line per weight
// vector). Each is created (truncated) when the gene pass starts, with the
// header "#ResidualVariance = %.9f\n" for a quantitative trait and empty for
// a binary one; every tested gene appends its block by reopening the log
// for appending. A line ends with one row of the family covariance as a
// lower triangle: "\t%.9E" for the columns up to the diagonal, "\t0" above.

#include <string>

#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// Creates the VT log, the variant log and (customized test on) the
// customized log, in that order; stops the run when one cannot be created.
void create_score_logs(const Settings &settings, const LoadedData &data,
                       const NullModel &null_model);

// Appends the lower triangle of row j of cov[0..K-1][0..K-1] to line.
void append_lower_triangle(std::string &line, int K, int j, double **cov);

// Variant-log block of one gene: per variant j of N_SNP,
// "%s\t%s\t%E\t%d\t%d\t%.9E" with geneID, snpID[j], maf[j], mac[j], nobs[j],
// U[j], then row j of cov.
std::string variant_log_block(const char *geneID, int N_SNP, char **snpID, const double *maf,
                              const int *mac, const int *nobs, const double *U, double **cov);

// VT-log block: per threshold j of n_thresh, "%s\t%E\t%d\t%.9E" with geneID,
// thresh[j], mac[j], U[j], then row j of cov.
std::string vt_log_block(const char *geneID, int n_thresh, const double *thresh, const int *mac,
                         const double *U, double **cov);

// Customized-log block: per weight vector j of n_weight, "%s\t%d\t%d\t%.9E"
// with geneID, j + 1, mac[j], U[j], then row j of cov.
std::string multi_log_block(const char *geneID, int n_weight, const int *mac, const double *U,
                            double **cov);

// Appends a block (taken over, not copied: a big gene's block is most of a
// gigabyte) to the VT log, the variant log or the customized log; stops the
// run when the log cannot be reopened.
void append_vt_log(const Settings &settings, std::string block);
void append_variant_log(const Settings &settings, std::string block);
void append_multi_log(const Settings &settings, std::string block);

#endif
