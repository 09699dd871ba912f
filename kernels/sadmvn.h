#ifndef QUORVEX_KERNELS_SADMVN_H
#define QUORVEX_KERNELS_SADMVN_H

// Multivariate normal rectangle probability by subregion-adaptive
// integration (Genz, SADMVN 1992). Arrays are 1-based: lower[1..n],
// upper[1..n], infin[1..n] (negative: no limit, 0: (-inf, upper],
// 1: [lower, inf), 2: [lower, upper]), mu[1..n], Sigma[1..n][1..n] (its
// diagonal and lower triangle are read). Returns the probability; writes
// the absolute error estimate and the status (0 met, 1 budget spent,
// 2 bad n or budget) through error and inform.
double mymvn(int maxpts, double abseps, int n, double *lower, double *upper, int *infin,
             double *mu, double **Sigma, double *error, int *inform);

#endif
