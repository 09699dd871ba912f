#ifndef QUORVEX_STATS_COMBINATION_H
#define QUORVEX_STATS_COMBINATION_H

// Gene-level p-values that combine a family of correlated scores U with
// covariance V (0-based, [0..n_thresh-1]): the maximum standardized score
// through the multivariate normal distribution, SKAT through Davies'
// distribution of a weighted sum of chi-square variables, and an
// inverse-variance quadratic form with a chi-square tail.

// The p-value written when no score (or, for SKAT, no eigenvalue) is usable.
constexpr double kCombinationNotComputed = -999.0;

// Combination p-value of the scores whose variance V[i][i] > 0 (the others
// are dropped). method 0: T = U' V^-1 U, pvalue = 1 - chi-square(K) cdf;
// method 1: T = max |U_i| / sqrt(V_ii), pvalue = P(max |Z| >= T) from the
// correlation matrix, a score whose correlation with an earlier one is
// within 1e-10 of +1 left out of the integration (*inform = 0 on entry, then
// as mvn_pvalue sets it); method 2: SKAT with weight[0..n_thresh-1]
// (*inform from SKAT). Without a usable score pvalue = -999 and T is not
// written. Any other method writes nothing.
void ZEPH_metaPval_v2(int method, int n_thresh, double *U, double **V, double *weight, double *T,
                      double *pvalue, int *inform);

// P(max_i |Z_i| >= wstat_max) for Z ~ N(0, Sigma), Sigma[1..N_WT][1..N_WT] a
// correlation matrix, 1 <= N_WT <= 20, by subregion-adaptive integration
// (Genz 1992) in up to three stages: absolute accuracy 0.01; then, when
// p < 0.1, p/100; then, when p < 1e-4, 1e-8. Each stage tries the budget
// 5000 N_WT^3 points and, while the accuracy is missed, twice and four times
// that (never above 10^9). A stage that misses its accuracy ends the
// computation with *inform = 1, 2 or 3 and its last estimate; *inform is
// not written otherwise. A later attempt or stage continues from the engine
// calls it shares with an earlier one (see sadmvn_options): the same bits
// as integrating each attempt from the start.
double mvn_pvalue(int N_WT, double wstat_max, double **Sigma, int *inform);

// SKAT statistic T = sum_i weight_i S_i^2 of m >= 1 scores S[0..m-1] with
// covariance covS[0..m-1][0..m-1], and its p-value P(Q > T) where Q =
// sum_j lambda_j chi2_1 over the eigenvalues of the kernel sqrt(w_i w_j)
// covS[i][j] (skat_kernel_eigenvalues) above 1e-5 of the mean
// non-negative eigenvalue, by Davies' algorithm (AS 155) at accuracy 1e-8
// with 10^9 integration terms at most. Prints a newline on every call. No
// non-negative eigenvalue: prints "No Eigenvalue is bigger than 0!!",
// *T_pvalue = -999 and *errorInd untouched; otherwise *errorInd receives
// Davies' fault code, and a failed evaluation gives *T_pvalue = 2.
void SKAT(int m, double *S, double **covS, double *weight, double *T, double *T_pvalue,
          int *errorInd);

// Eigenvalues of the symmetric m x m matrix A (row-major, m >= 1; A is
// overwritten) into eval[0..m-1] in ascending absolute value. GSL's
// eigenvalues-only solver (Householder reduction to tridiagonal form, then
// implicit symmetric QR steps: Golub and Van Loan 8.3), then the selection
// sort of gsl_eigen_symmv_sort: bit for bit the values and order of
// skat_kernel_eigenvalues_with_vectors, which runs the same reduction and QR
// steps and also accumulates the eigenvectors. O(m^3) time, no m x m storage
// beyond A.
void skat_kernel_eigenvalues(int m, double *A, double *eval);

// The same eigenvalues through gsl_eigen_symmv (eigenvectors accumulated and
// not read) and gsl_eigen_symmv_sort with GSL_EIGEN_SORT_ABS_ASC: the
// straightforward form, about five times the work and a second m x m matrix.
void skat_kernel_eigenvalues_with_vectors(int m, double *A, double *eval);

#endif
