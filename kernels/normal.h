#ifndef QUORVEX_KERNELS_NORMAL_H
#define QUORVEX_KERNELS_NORMAL_H

// Univariate and bivariate standard normal functions used by the
// multivariate normal integration. Every argument by address; no state is
// kept between calls.

// Phi(z), the standard normal distribution function: Hart et al. (1968),
// algorithm 5666, with a continued fraction for |z| >= 10/sqrt(2); exactly
// 0 below -37 and 1 above 37. Absolute error at most 2.2e-16.
double phi_(double *z__);

// Phi^-1(p), the standard normal quantile: Wichura (1988), AS 241 (PPND16).
// Returns -9 for p <= 0 and 9 for p >= 1.
double phinv_(double *p);

// P(X > sh, Y > sk) for standard normal X, Y with correlation r__:
// Drezner and Wesolowsky (1990) as refined by Genz (2004), Gauss-Legendre
// rules of 6, 12 or 20 points chosen by |r__|; -1 <= r__ <= 1.
double bvnu_(double *sh, double *sk, double *r__);

// P(lower[0] <= X <= upper[0], lower[1] <= Y <= upper[1]) for standard normal
// X, Y with correlation correl. infin[i] per variable: 0 upper limit only,
// 1 lower limit only, 2 both (an unused limit is not read).
double bvn_(double *lower, double *upper, int *infin, double *correl);

#endif
