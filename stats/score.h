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

#endif
