#ifndef QUORVEX_STATS_NULL_MODEL_H
#define QUORVEX_STATS_NULL_MODEL_H

// Null-model quantities of the score tests: the trait regressed on an
// intercept and the covariates (logistic for a binary trait, least squares
// for a quantitative one). z (x) is the 0-based N x D design with 1.0 in
// column 0; all outputs are caller-allocated 0-based arrays; scratch is
// allocated and released inside each call. Inversions go through invv, so
// an information matrix with an all-zero row ends the run there.
//
// Binary formulas: mu = e / (1 + e), v = e / (1 + e)^2 with e = exp(eta);
// where exp(eta) overflows (eta above about 709.78) the same quantities are
// evaluated as 1 / (1 + t) and t / (1 + t)^2 with t = exp(-eta), so they stay
// finite.

// Binary trait at the given coefficients gamma[0..D-1]: residuals
// centerY = y - mu, variances v = mu (1 - mu) and Iz = (sum v z z')^-1.
void score_yz_gamma(int N, int D, double *y, double **z, double *gamma, double *centerY, double *v,
                    double **Iz);

// Binary trait: fits the logistic model with logisticReg_v0 and writes the
// fitted probabilities pY[0..N-1].
void p_null(int N, int D, double *y, double **x, double *pY);

// Quantitative trait: least-squares fit by the normal equations; residuals
// centerY, *SigmaSQ = residual sum of squares / N, and Iz = (Z'Z)^-1 (not
// scaled by the residual variance).
void score_yz_quanTrait(int N, int D, double *y, double **z, double *centerY, double *SigmaSQ,
                        double **Iz);

// Quantitative trait at the given coefficients: centerY and *SigmaSQ only.
void score_yz_quanTrait_gamma(int N, int D, double *y, double **z, double *gamma, double *centerY,
                              double *SigmaSQ);

// Least-squares residuals ry of y on x[0..N-1][0..P-1] (coefficients from
// linearMLE).
void linearResidual(int N, int P, double *y, double **x, double *ry);

#endif
