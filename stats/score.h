#ifndef QUORVEX_STATS_SCORE_H
#define QUORVEX_STATS_SCORE_H

// Score statistic of one score vector S[0..N-1] against a fitted null model:
// U = sum S * centerY, its null variance V = S'VS - (Z'VS)' Iz (Z'VS), and the
// standardized statistic Z = U / sqrt(V), returned without any check (a zero
// or negative variance gives a non-finite Z). z is the N x D design with the
// intercept in column 0; SZ[0..D-1] is caller scratch, overwritten with the
// projection of S on the covariates. y is not read. Nothing is allocated.

// Binary trait: v[i] = mu_i (1 - mu_i) of the logistic null model, Iz the
// inverse of sum v z z'. Writes *U_output = U, *V_output = V.
double score_stat(int N, int D, double *y, double *S, double **z, double *centerY, double *v,
                  double **Iz, double *SZ, double *U_output, double *V_output);

// Quantitative trait: SigmaSQ the residual variance (divisor N), Iz the
// inverse of Z'Z. Writes *U_output = U / SigmaSQ and
// *V_output = (S'S - SZ' Iz SZ) / SigmaSQ; returns U / sqrt((S'S - SZ' Iz SZ) SigmaSQ).
double score_stat_quanTrait(int N, int D, double *y, double *S, double **z, double *centerY,
                            double SigmaSQ, double **Iz, double *SZ, double *U_output,
                            double *V_output);

// SZ' Iz SZ as score_stat and score_stat_quanTrait subtract it: summed
// column by column, sum over j of (sum over k of SZ[k] Iz[k][j]) SZ[j].
double score_quadratic_form(int D, const double *SZ, double **Iz);

// Sparse forms for resampling, where a score row is evaluated under many
// null models. A row is given by its non-zero entries: subjects idx[0..nnz-1]
// in ascending order with values val[]. Each sum runs over those subjects in
// ascending order, so it equals the dense sum term for term: a skipped term
// is an exact zero (0 times a finite factor) and an accumulator that starts
// at +0.0 never becomes -0.0, so adding such a zero changes nothing. This
// needs a finite design z and finite null-model vectors; with a non-finite
// value anywhere in centerY (or v) every dense statistic is NaN, which the
// caller checks once per null model.

// U = sum val * centerY over the entries (binary trait; the quantitative
// score is this sum divided by SigmaSQ).
double score_U_sparse(int nnz, const int *idx, const double *val, const double *centerY);

// The variance part that does not depend on the residuals: V1 - SZ' Iz SZ
// with SZ and V1 as in score_stat (v given, binary trait) or as in
// score_stat_quanTrait (v null: quantitative trait, to be multiplied by
// SigmaSQ). SZ[0..D-1] is scratch.
double score_variance_sparse(int nnz, const int *idx, const double *val, int D, double **z,
                             const double *v, double **Iz, double *SZ);

// score_stat on a sparse row: the same U, V and Z bit for bit.
double score_stat_sparse(int nnz, const int *idx, const double *val, int D, double **z,
                         const double *centerY, const double *v, double **Iz, double *SZ,
                         double *U_output, double *V_output);

// score_stat_sparse for a binary trait with the null model packed by
// subject: rec = packed + i * (D + 1) holds centerY[i], v[i] and the design
// columns 1..D-1 (column 0 is the intercept 1.0, whose product v s 1.0 is
// v s exactly). The same U, V and Z bit for bit as score_stat.
double score_stat_packed(int nnz, const int *idx, const double *val, int D,
                         const double *packed, double **Iz, double *SZ, double *U_output,
                         double *V_output);

#endif
