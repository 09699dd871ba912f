#ifndef QUORVEX_STATS_EREC_H
#define QUORVEX_STATS_EREC_H

// EREC scores: two weighted burden scores per gene whose variant weights are
// the variants' estimated effects on the trait, shifted up and down by a
// fixed delta. Row 0 of S_opp takes the weights b[j] + delta, row 1 the
// weights b[j] - delta, S_opp[r][i] = sum over j (ascending, from 0.0) of
// x[i][j] w_r[j]. The effect b[j] is clamped to [-3, 3]; a variant with
// maf[j] > MAF_UB has weight 0 in both rows. Arrays are 0-based; S_opp is
// 2 x N and caller-allocated.

// Binary trait (y 0/1): b[j] = log of the odds ratio of the 2 x 2 table of
// case status against carrier status, counted from the untouched genotypes
// x0 over the subjects observed at the variant (x0 >= 0; carrier x0 > 0,
// non-carrier x0 exactly 0), with 1 added to each cell (Haldane-Anscombe).
// The scores are built from the working genotypes x.
void getS_opp(int N, int N_SNP, double *y, double **x0, double **x, double **S_opp, double *maf,
              double MAF_UB, double delta);

// Quantitative trait: b[j] = least-squares slope of y on column j of x,
// sum (y - mean y)(x - mean x) / sum (x - mean x)^2 over all N subjects; a
// constant column gives 0/0, a NaN slope that the clamping keeps, so every
// value of both rows is NaN.
void getS_opp_quan(int N, int N_SNP, double *y, double **x, double **S_opp, double *maf,
                   double MAF_UB, double delta);

// Clamps an effect estimate to [-3, 3] (NaN stays NaN).
inline double erec_clamp(double b) {
  if (b > 3) return 3;
  if (b < -3) return -3;
  return b;
}

// Log odds ratio of a 2 x 2 table with 1 added to each cell, clamped:
// log((n11 + 1)(n00 + 1) / ((n01 + 1)(n10 + 1))).
double erec_log_odds(double n11, double n10, double n01, double n00);

#endif
