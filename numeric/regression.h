#ifndef QUORVEX_NUMERIC_REGRESSION_H
#define QUORVEX_NUMERIC_REGRESSION_H

// Regression fits behind the null models, and sample moments. Arrays are
// 0-based index-range arrays; x[i][0] is the intercept 1.0.

// Maximum-likelihood logistic regression of the 0/1 trait y[0..N-1] on
// x[0..N-1][0..D-1] by Newton-Raphson with step halving; the coefficients
// are written into vbeta1[0..D-1].
void logisticReg_v0(int N, int D, double *y, double **x, double *vbeta1);

// The same fit; returns false when it stopped at the iteration limit (after
// printing the non-convergence warning, as logisticReg_v0 does).
bool logisticReg_fit(int N, int D, double *y, double **x, double *vbeta1);

// Least-squares coefficients of y on x[0..N-1][0..P-1] by the normal
// equations, written into vbeta[0..P-1].
void linearMLE(int N, int P, double *y, double **x, double *vbeta);

// Logistic mean e / (1 + e) and variance e / (1 + e)^2 of a linear
// predictor eta, e = exp(eta); where exp(eta) overflows they are evaluated
// through exp(-eta), so they stay finite. Every finite e keeps these formulas.
void logistic_moments(double eta, double *mu, double *v);

// Mean of x[nl..nh].
double mean(double *x, long nl, long nh);

// Standard deviation of x[nl..nh] about mean_x, divisor the count, never
// below 1e-10.
double sd(double *x, long nl, long nh, double mean_x);

#endif
