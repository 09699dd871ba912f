#include "stats/combination.h"

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_eigen.h>
#include <gsl/gsl_matrix.h>
#include <gsl/gsl_vector.h>

#include <cmath>
#include <cstdio>

#include "kernels/qfc.h"
#include "kernels/sadmvn.h"
#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "numeric/run_output.h"

namespace {

constexpr double kNotComputed = kCombinationNotComputed;

// Two standardized scores whose correlation is within this of +1 are one
// statistic for the maximum test.
constexpr double kDuplicateCorrelation = 1e-10;

// Multivariate normal budget: 5000 N^3 points per attempt, doubled at most
// twice, no attempt above kMaxBudget.
constexpr int kBudgetPerCube = 5000;
constexpr long long kMaxBudget = 1000000000LL;

// Eigenvalues at or below this fraction of the mean non-negative eigenvalue
// are left out of the SKAT null distribution.
constexpr double kEigenCutoff = 100000.0;

// Davies' routine settings for SKAT.
constexpr double kDaviesAccuracy = 1e-8;
constexpr int kDaviesTerms = 1000000000;

// Method 0: inverse-variance quadratic form of the usable scores.
void quadratic_form(int n_thresh, const int *usable, int K, double *U, double **V, double *T,
                    double *pvalue) {
  if (K == 0) {
    *pvalue = kNotComputed;
    return;
  }
  double *UU = dvector(1, K);
  double **VV = dmatrix(1, K, 1, K);
  for (int i = 0, a = 0; i < n_thresh; i++) {
    if (!usable[i]) continue;
    a++;
    UU[a] = U[i];
    for (int j = 0, b = 0; j < n_thresh; j++) {
      if (!usable[j]) continue;
      b++;
      VV[a][b] = V[i][j];
    }
  }
  invv(VV, K);
  double Tmeta = 0.0;
  for (int i = 1; i <= K; i++) {
    double row = 0.0;
    for (int j = 1; j <= K; j++) row += UU[j] * VV[i][j];
    Tmeta += row * UU[i];
  }
  *T = Tmeta;
  *pvalue = 1 - gsl_cdf_chisq_P(Tmeta, static_cast<double>(K));
  free_dmatrix(VV, 1, K, 1, K);
  free_dvector(UU, 1, K);
}

// Method 1: maximum absolute standardized score.
void maximum_statistic(int n_thresh, const int *usable, int K, double *U, double **V, double *T,
                       double *pvalue, int *inform) {
  *inform = 0;
  if (K == 0) {
    // No score sets the maximum; T is left as it was.
    *pvalue = kNotComputed;
    return;
  }
  int *index = ivector(1, K);  // index[a] = the a-th usable score
  double Tmax = 0.0;
  for (int i = 0, a = 0; i < n_thresh; i++) {
    if (!usable[i]) continue;
    index[++a] = i;
    double w = std::fabs(U[i] / std::sqrt(V[i][i]));
    if (a == 1 || w > Tmax) Tmax = w;
  }
  *T = Tmax;

  double **Sigma = dmatrix(0, K, 0, K);
  for (int a = 1; a <= K; a++)
    for (int b = 1; b <= K; b++) {
      int k = index[a], l = index[b];
      Sigma[a][b] = a == b ? 1.0 : V[k][l] / std::sqrt(V[k][k] * V[l][l]);
    }
  // A later score whose correlation with an earlier one (dropped or not) is
  // within 1e-10 of +1 is dropped; a correlation near -1 does not count.
  int *keep = ivector(1, K);
  for (int a = 1; a <= K; a++) keep[a] = 1;
  for (int j = 1; j <= K - 1; j++)
    for (int k = j + 1; k <= K; k++)
      if (std::fabs(Sigma[j][k] - 1) < kDuplicateCorrelation) keep[k] = 0;
  int n_thresh2 = 0;
  for (int a = 1; a <= K; a++) n_thresh2 += keep[a];

  if (n_thresh2 == K) {
    *pvalue = mvn_pvalue(K, Tmax, Sigma, inform);
  } else {
    double **Sigma2 = dmatrix(0, n_thresh2, 0, n_thresh2);
    for (int a = 1, a2 = 0; a <= K; a++) {
      if (!keep[a]) continue;
      a2++;
      for (int b = 1, b2 = 0; b <= K; b++) {
        if (!keep[b]) continue;
        Sigma2[a2][++b2] = Sigma[a][b];
      }
    }
    *pvalue = mvn_pvalue(n_thresh2, Tmax, Sigma2, inform);
    free_dmatrix(Sigma2, 0, n_thresh2, 0, n_thresh2);
  }
  free_ivector(keep, 1, K);
  free_dmatrix(Sigma, 0, K, 0, K);
  free_ivector(index, 1, K);
}

// Selection sort of v[0..n-1] into ascending |value|: for each position the
// first value of strictly smallest |value| among the rest is swapped in,
// exactly as gsl_eigen_symmv_sort orders the eigenvalues with
// GSL_EIGEN_SORT_ABS_ASC, so values of equal |value| (x and -x, +0 and -0)
// and NaNs end up in the same places.
void sort_abs_ascending(int n, double *v) {
  for (int i = 0; i + 1 < n; i++) {
    int k = i;
    double ek = v[i];
    for (int j = i + 1; j < n; j++) {
      const double ej = v[j];
      if (std::fabs(ej) < std::fabs(ek)) {
        k = j;
        ek = ej;
      }
    }
    if (k != i) {
      v[k] = v[i];
      v[i] = ek;
    }
  }
}

// SKAT of the m scores index[0..m-1] of S, covS and weight (index null: the
// scores 0..m-1), as SKAT of the copied scores.
void skat_of(int m, const int *index, const double *S, double **covS, const double *weight,
             double *T, double *T_pvalue, int *errorInd) {
  double Q = 0.0;
  for (int a = 0; a < m; a++) {
    const int i = index != nullptr ? index[a] : a;
    Q += S[i] * weight[i] * S[i];
  }
  *T = Q;

  // Weighted kernel, row-major, element (a, b) = sqrt(w_i) sqrt(w_j) covS[i][j]
  // for the a-th and b-th scores i and j; each square root is taken once.
  double *root = dvector(0, m - 1);
  for (int a = 0; a < m; a++) root[a] = std::sqrt(weight[index != nullptr ? index[a] : a]);
  double *KK = dvector(0, static_cast<long>(m) * m - 1);
  for (int a = 0; a < m; a++) {
    const double *row = covS[index != nullptr ? index[a] : a];
    double *out = KK + static_cast<long>(a) * m;
    for (int b = 0; b < m; b++) out[b] = root[a] * root[b] * row[index != nullptr ? index[b] : b];
  }
  free_dvector(root, 0, m - 1);
  double *lambda0 = dvector(0, m - 1);
  skat_kernel_eigenvalues(m, KK, lambda0);
  free_dvector(KK, 0, static_cast<long>(m) * m - 1);

  run_write("\n", 1);

  double sum = 0.0;
  int count = 0;
  for (int i = 0; i < m; i++)
    if (lambda0[i] >= 0) {
      sum += lambda0[i];
      count++;
    }
  if (count == 0) {
    run_print("No Eigenvalue is bigger than 0!!");
    *T_pvalue = kNotComputed;
  } else {
    const double cutoff = sum / count / kEigenCutoff;
    int r = 0;
    for (int i = 0; i < m; i++)
      if (lambda0[i] > cutoff) r++;
    double *lambda = dvector(0, r - 1);
    double *delta = dvector(0, r - 1);
    int *h = ivector(0, r - 1);
    double *trace = dvector(0, 6);
    for (int i = 0, k = 0; i < m; i++)
      if (lambda0[i] > cutoff) {
        lambda[k] = lambda0[i];
        delta[k] = 0.0;
        h[k] = 1;
        k++;
      }
    for (int k = 0; k < 7; k++) trace[k] = 0.0;
    int ifault = 0, lim = kDaviesTerms;
    double sigma = 0.0, acc = kDaviesAccuracy, pvalue = 0.0;
    qfc(lambda, delta, h, &r, &sigma, &Q, &lim, &acc, trace, &ifault, &pvalue);
    *errorInd = ifault;
    // Upper tail; a failed evaluation (-1) gives 2.
    *T_pvalue = 1 - pvalue;
    free_dvector(trace, 0, 6);
    free_ivector(h, 0, r - 1);
    free_dvector(delta, 0, r - 1);
    free_dvector(lambda, 0, r - 1);
  }
  free_dvector(lambda0, 0, m - 1);
}


// Method 2: SKAT over the usable scores, read in place.
void skat_statistic(int n_thresh, const int *usable, int K, double *U, double **V, double *weight,
                    double *T, double *pvalue, int *inform) {
  if (K == 0) {
    *pvalue = kNotComputed;
    return;
  }
  int *index = ivector(0, K - 1);
  for (int i = 0, a = 0; i < n_thresh; i++)
    if (usable[i]) index[a++] = i;
  skat_of(K, index, U, V, weight, T, pvalue, inform);
  free_ivector(index, 0, K - 1);
}

// One accuracy stage of mvn_pvalue: budgets maxpts, 2 maxpts, 4 maxpts while
// the accuracy is missed and the budget stays within kMaxBudget. Writes the
// last estimate to *p and returns whether the accuracy was met.
bool mvn_stage(int N_WT, double abseps, int maxpts, double *lower, double *upper, int *infin,
               double *mu, double **Sigma, double *p) {
  int info = 0;
  double error = 0.0;
  for (long long budget = maxpts, attempt = 0; attempt < 3; attempt++, budget *= 2) {
    if (budget > kMaxBudget) break;
    *p = 1 - mymvn(static_cast<int>(budget), abseps, N_WT, lower, upper, infin, mu, Sigma, &error,
                   &info);
    if (info == 0) return true;
  }
  return false;
}

}  // namespace

void ZEPH_metaPval_v2(int method, int n_thresh, double *U, double **V, double *weight, double *T,
                      double *pvalue, int *inform) {
  if (method != 0 && method != 1 && method != 2) return;
  int *usable = ivector(0, n_thresh > 0 ? n_thresh - 1 : 0);
  int K = 0;
  for (int i = 0; i < n_thresh; i++) {
    usable[i] = V[i][i] > 0 ? 1 : 0;
    K += usable[i];
  }
  if (method == 0)
    quadratic_form(n_thresh, usable, K, U, V, T, pvalue);
  else if (method == 1)
    maximum_statistic(n_thresh, usable, K, U, V, T, pvalue, inform);
  else
    skat_statistic(n_thresh, usable, K, U, V, weight, T, pvalue, inform);
  free_ivector(usable, 0, n_thresh > 0 ? n_thresh - 1 : 0);
}

double mvn_pvalue(int N_WT, double wstat_max, double **Sigma, int *inform) {
  const int maxpts = kBudgetPerCube * N_WT * N_WT * N_WT;
  double *lower = dvector(0, N_WT);
  double *upper = dvector(0, N_WT);
  double *mu = dvector(0, N_WT);
  int *infin = ivector(0, N_WT);
  for (int i = 1; i <= N_WT; i++) {
    lower[i] = -wstat_max;
    upper[i] = wstat_max;
    infin[i] = 2;
    mu[i] = 0.0;
  }
  double p = 0.0;
  if (!mvn_stage(N_WT, 0.01, maxpts, lower, upper, infin, mu, Sigma, &p)) {
    *inform = 1;
  } else if (p < 0.1) {
    const double abseps = p / 100;
    if (!mvn_stage(N_WT, abseps, maxpts, lower, upper, infin, mu, Sigma, &p)) {
      *inform = 2;
    } else if (p < 1e-4) {
      if (!mvn_stage(N_WT, 1e-8, maxpts, lower, upper, infin, mu, Sigma, &p)) *inform = 3;
    }
  }
  // The stages above share their integration's records (the same problem
  // with other budgets and accuracies); nothing later needs them.
  sadmvn_forget();
  free_ivector(infin, 0, N_WT);
  free_dvector(mu, 0, N_WT);
  free_dvector(upper, 0, N_WT);
  free_dvector(lower, 0, N_WT);
  return p;
}

void skat_kernel_eigenvalues(int m, double *A, double *eval) {
  gsl_matrix_view kernel = gsl_matrix_view_array(A, static_cast<size_t>(m), static_cast<size_t>(m));
  gsl_vector_view values = gsl_vector_view_array(eval, static_cast<size_t>(m));
  gsl_eigen_symm_workspace *work = gsl_eigen_symm_alloc(static_cast<size_t>(m));
  gsl_eigen_symm(&kernel.matrix, &values.vector, work);
  gsl_eigen_symm_free(work);
  sort_abs_ascending(m, eval);
}

void skat_kernel_eigenvalues_with_vectors(int m, double *A, double *eval) {
  gsl_matrix_view kernel = gsl_matrix_view_array(A, static_cast<size_t>(m), static_cast<size_t>(m));
  gsl_vector *values = gsl_vector_alloc(static_cast<size_t>(m));
  gsl_matrix *evec = gsl_matrix_alloc(static_cast<size_t>(m), static_cast<size_t>(m));
  gsl_eigen_symmv_workspace *work = gsl_eigen_symmv_alloc(static_cast<size_t>(m));
  gsl_eigen_symmv(&kernel.matrix, values, evec, work);
  gsl_eigen_symmv_free(work);
  gsl_eigen_symmv_sort(values, evec, GSL_EIGEN_SORT_ABS_ASC);
  for (int i = 0; i < m; i++) eval[i] = gsl_vector_get(values, static_cast<size_t>(i));
  gsl_vector_free(values);
  gsl_matrix_free(evec);
}

void SKAT(int m, double *S, double **covS, double *weight, double *T, double *T_pvalue,
          int *errorInd) {
  skat_of(m, nullptr, S, covS, weight, T, T_pvalue, errorInd);
}
