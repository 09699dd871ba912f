#ifndef QUORVEX_STATS_FAMILIES_H
#define QUORVEX_STATS_FAMILIES_H

// Score families of one gene and their covariances under the fitted null
// model: VT (one burden per frequency threshold), customized (one weighted
// burden per weight vector) and SKAT (one score per variant).
//
// For each candidate score S_l (N subject values) a builder gives its
// minor-allele count and a null flag (1 null, 0 valid) and, for the valid
// scores, U[l] and cov[l][m]:
//   binary trait:       U = sum_i centerY_i S_l[i],
//                       cov = S_l' (V - V Z Iz Z' V) S_m, V = diag(v);
//   quantitative trait: U = sum_i centerY_i S_l[i] / SigmaSQ,
//                       cov = s2 S_l' (I - Z Iz Z') S_m / SigmaSQ^2,
//                       s2 = N SigmaSQ / (N - p).
// The covariance is evaluated from p-vectors, a_l = sum_i v_i S_l[i] z_i
// (binary) or b_l = sum_i S_l[i] z_i (quantitative), as
// sum_i v_i S_l[i] S_m[i] - a_l' Iz a_m, resp. s2 (sum_i S_l[i] S_m[i] -
// b_l' Iz b_m) / SigmaSQ^2: O(K N p + K^2 N) time and O(K N) memory, no
// N x N matrix. A score is null when its count is below MAC_LB, when it is
// constant or collinear with the covariates (checkWarning_Quorvex), or when
// its covariance diagonal is <= 0 (a NaN diagonal leaves it valid). A null
// score has U = 0 and an all-zero row and column of cov. The number of valid
// scores goes to *N_WT / *N_MULTI.
//
// Arrays are 0-based: x0, x [0..N-1][0..N_SNP-1] (x0 the raw genotypes with
// -1 for missing, x the working matrix after the burden scorers), z
// [0..N-1][0..p-1] (column 0 the intercept), centerY and v [0..N-1], Iz
// [0..p-1][0..p-1], maf and q [0..N_SNP-1] (q the major-allele frequencies
// that impute a missing genotype), thresh [0..N_UNIQ-1], wt
// [0..n_weight-1][0..N_SNP-1]; outputs sized by the family (K = N_UNIQ,
// n_weight or N_SNP): counts and flags [0..K-1], U [0..K-1], cov
// [0..K-1][0..K-1], S_var [0..N_UNIQ-1][0..N-1]. y is not read.

// VT scores: variant j enters score l when maf[j] <= thresh[l]. MODEL 2
// (dominant): carrier indicator (x0 > 0.5), else the probability 1 - prod
// q_j^2 over the missing genotypes; MODEL 3 (recessive): 1 for at least two
// alleles (x0 > 0.5 summed), else getS_REC_impute over the missing ones;
// otherwise (additive) the allele sum, a missing genotype counting
// 2(1 - q_j). Counts by burdenMAC; the scores are written to S_var.
void VT_binary_fixThresh(int MODEL, int N, int p, int N_SNP, double **x0, double **z,
                         double *centerY, double *v, double **Iz, int N_UNIQ, double *thresh,
                         double *maf, double *q, int MAC_LB, int *mac_thresh, double **S_var,
                         double *U, double **cov, int *N_WT, int *null_thresh);
void VT_quan_fixThresh(int MODEL, int N, int p, int N_SNP, double **x0, double **z,
                       double *centerY, double SigmaSQ, double **Iz, int N_UNIQ, double *thresh,
                       double *maf, double *q, int MAC_LB, int *mac_thresh, double **S_var,
                       double *U, double **cov, int *N_WT, int *null_thresh);

// Customized scores: sum_j wt[k][j] g_ij, g_ij = x0[i][j] or, when missing,
// 2(1 - q_j). Count: subjects with some wt[k][j] > 0 and x0[i][j] > 0.1.
void MULTI_binary(int N, int p, int N_SNP, double **x0, double **z, double *centerY,
                  double *v, double **Iz, int n_weight, double **wt, double *q, int MAC_LB,
                  int *mac_weight, double *U, double **cov, int *N_MULTI, int *null_weight);
void MULTI_quan(int N, int p, int N_SNP, double **x0, double **z, double *centerY,
                double SigmaSQ, double **Iz, int n_weight, double **wt, double *q, int MAC_LB,
                int *mac_weight, double *U, double **cov, int *N_MULTI, int *null_weight);

// SKAT scores: the columns of x. Count: subjects with x[i][j] >= 1.
void SKAT_binary(int N, int p, int N_SNP, double **x, double **z, double *centerY,
                 double *v, double **Iz, int MAC_LB, int *mac_thresh, double *U, double **cov,
                 int *N_WT, int *null_thresh);
void SKAT_quan(int N, int p, int N_SNP, double **x, double **z, double *centerY,
               double SigmaSQ, double **Iz, int MAC_LB, int *mac_thresh, double *U, double **cov,
               int *N_WT, int *null_thresh);

// Validity check of a score[0..n-1] against covariates[0..n-1][0..p-1]:
// *singular_score = 1 when every value equals score[0] exactly (a NaN makes
// it not constant); *singular_covariates = 1 when the determinant of X'X,
// X = [score, covariates], has absolute value below 1e-20 (a NaN
// determinant leaves it 0). Prints nothing.
void checkWarning_Quorvex(int n, int p, double *score, double **covariates, int *singular_score,
                          int *singular_covariates);

#endif
