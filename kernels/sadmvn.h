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

// Work saved without changing a result. resume: an integration of the same
// problem (the same inputs byte for byte) with another budget or tolerance
// takes the engine calls it shares with a recorded one from the record and
// continues the engine from the state kept there. share: the integrand
// continues from the conditioning steps the previous point shares with it
// (the engine evaluates each rule's points in lexicographic order for this).
// Both are on by default; either way every value, error and inform is the
// same bits. Changing them drops the records.
void sadmvn_options(bool resume, bool share);

// Drops the records of the last problem (their memory).
void sadmvn_forget();

// Integrand evaluations and conditioning steps computed since the start by
// the calling thread's integrations, those of their points that spare
// threads evaluated included (each part a spare thread takes starts with no
// shared steps, so the steps, unlike the evaluations and every result,
// depend on how the work was split).
void sadmvn_counts(long long *evaluated, long long *conditioned);

// The layers below mymvn, every argument by address, arrays 0-based of n
// elements in variable order. Working state is module-level: one
// integration at a time, not re-entrant.

// Rectangle probability of n (1..20) standardised variables with the
// packed strict lower triangle correl of their correlation matrix
// ((2,1), (3,1), (3,2), (4,1), ...). Tolerance max(fabseps, releps*|value|);
// inform__ 0 met (or exact), 1 budget maxpts spent, 2 n out of range or
// maxpts below one rule application (value 0, error 1).
void sadmvn_(int *n, double *lower, double *upper, int *infin, double *correl, int *maxpts,
             double *fabseps, double *releps, double *error, double *value, int *inform__);

// Sets up the integrand (ordering, scaled Cholesky factor) for n variables;
// infis receives the number of variables without limits, d__ and e the
// probability limits of the first variable (with exactly two finite
// variables: d__ = 0 and e the finished bivariate probability, infis + 1).
// Returns 0.
double mvnnit_(int *n, double *correl, double *lower, double *upper, int *infin, int *infis,
               double *d__, double *e);

// The integrand at w[0..n-1] of the unit cube (n integration variables).
double mvnfnc_(int *n, double *w);

// Limits, variable order by smallest expected probability and the packed
// scaled Cholesky factor cov (row i holds L(i,1..i-1)/L(i,i), 1).
void ncvsrt_(int *n, double *lower, double *upper, double *correl, int *infin, double *y,
             int *infis, double *a, double *b, int *infi, double *cov, double *d__, double *e);

// Exchanges variables p < q (1-based) in a, b, infin and the packed lower
// triangle c__ of n rows.
void rcswap_(int *p, int *q, double *a, double *b, int *infin, int *n, double *c__);

// Probability limits of one variable: lower = Phi(a) unless infin is 0,
// upper = Phi(b) unless infin is 1; 0 and 1 for a negative code.
void limits_(double *a, double *b, int *infin, double *lower, double *upper);

#endif
