#ifndef QUORVEX_TESTS_DRIVER_FAMILY_REFERENCE_H
#define QUORVEX_TESTS_DRIVER_FAMILY_REFERENCE_H

// Independent reference computations of the gene tests that combine several
// scores: symmetric eigenvalues by cyclic Jacobi rotations, the upper tail of
// a weighted sum of chi-square(1) variables by Imhof's (1961) inversion
// formula, and P(max |Z_i| >= t) for correlated standard normals (closed
// form for one variable, a one-dimensional integral for two, a long Monte
// Carlo run beyond).

#include <gsl/gsl_cdf.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "tests/support/imhof_reference.h"

namespace family_reference {

using Matrix = std::vector<std::vector<double>>;

// Eigenvalues of the symmetric matrix A by cyclic Jacobi rotations.
inline std::vector<double> jacobi_eigenvalues(Matrix A) {
  const size_t n = A.size();
  for (int sweep = 0; sweep < 100; sweep++) {
    double off = 0, diag = 0;
    for (size_t i = 0; i < n; i++)
      for (size_t j = 0; j < n; j++) (i == j ? diag : off) += A[i][j] * A[i][j];
    if (off <= 1e-30 * diag || off == 0) break;
    for (size_t p = 0; p < n; p++)
      for (size_t q = p + 1; q < n; q++) {
        if (A[p][q] == 0) continue;
        double theta = (A[q][q] - A[p][p]) / (2 * A[p][q]);
        double t = (theta >= 0 ? 1 : -1) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
        double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (size_t k = 0; k < n; k++) {
          double akp = A[k][p], akq = A[k][q];
          A[k][p] = c * akp - s * akq;
          A[k][q] = s * akp + c * akq;
        }
        for (size_t k = 0; k < n; k++) {
          double apk = A[p][k], aqk = A[q][k];
          A[p][k] = c * apk - s * aqk;
          A[q][k] = s * apk + c * aqk;
        }
      }
  }
  std::vector<double> ev(n);
  for (size_t i = 0; i < n; i++) ev[i] = A[i][i];
  return ev;
}

// P(sum_j lambda_j chi2_1 > x), lambda_j > 0: Imhof's formula, [0, 1] by
// Gauss-Kronrod, the tail as two Fourier integrals (GSL qawf); one
// eigenvalue by the chi-square(1) closed form.
inline double chisq_mixture_upper_tail(const std::vector<double> &lambda, double x) {
  if (lambda.empty()) return x > 0 ? 0.0 : 1.0;
  if (lambda.size() == 1) return std::erfc(std::sqrt(x / lambda[0] / 2));
  // Far in the tail: Q <= lambda_max chi2_r bounds the probability, and a
  // bound below 1e-12 is as good as the value for the comparisons here.
  const double lmax = *std::max_element(lambda.begin(), lambda.end());
  const double bound = gsl_cdf_chisq_Q(x / lmax, (double)lambda.size());
  if (bound < 1e-12) return bound;
  return imhof_upper_tail(lambda, x);
}

inline double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// A reference p-value and how far the program's value may honestly lie
// from it.
struct Reference {
  double p;
  double tol;
};

// P(max_i |Z_i| >= t) for Z ~ N(0, R), R a correlation matrix. One
// variable: erfc; two: 1 - int_{-t}^{t} phi(z) [Phi((t - r z)/s) -
// Phi((-t - r z)/s)] dz, s = sqrt(1 - r^2), by composite Simpson; more:
// Monte Carlo with `draws` draws through the Cholesky factor. tol: what the
// program's staged accuracy allows (0.01 while p >= 0.1, else p / 100), plus
// four standard errors of a Monte Carlo estimate.
inline Reference max_normal_tail(const Matrix &R, double t, long draws = 400000) {
  const size_t K = R.size();
  Reference ref{0, 0};
  if (K == 1 || (K == 2 && std::fabs(R[0][1]) >= 1 - 1e-9)) {
    // Two variables with correlation -1 have one maximum |Z|.
    ref.p = std::erfc(t / std::sqrt(2.0));
  } else if (K == 2 && std::fabs(R[0][1]) < 1 - 1e-9) {
    const double r = R[0][1], s = std::sqrt(1 - r * r);
    const int n = 4000;
    const double h = 2 * t / n;
    double sum = 0;
    for (int k = 0; k <= n; k++) {
      double z = -t + k * h;
      double f = std::exp(-z * z / 2) / std::sqrt(2 * M_PI) *
                 (Phi((t - r * z) / s) - Phi((-t - r * z) / s));
      sum += f * (k == 0 || k == n ? 1 : (k % 2 ? 4 : 2));
    }
    ref.p = 1 - sum * h / 3;
  } else {
    Matrix L(K, std::vector<double>(K, 0.0));
    for (size_t i = 0; i < K; i++)
      for (size_t j = 0; j <= i; j++) {
        double s = R[i][j];
        for (size_t k = 0; k < j; k++) s -= L[i][k] * L[j][k];
        L[i][j] = i == j ? std::sqrt(std::max(s, 0.0)) : (L[j][j] > 0 ? s / L[j][j] : 0.0);
      }
    std::mt19937_64 gen(20261210);
    std::normal_distribution<double> normal;
    std::vector<double> e(K);
    long hits = 0;
    for (long d = 0; d < draws; d++) {
      for (size_t i = 0; i < K; i++) e[i] = normal(gen);
      bool out = false;
      for (size_t i = 0; i < K && !out; i++) {
        double z = 0;
        for (size_t k = 0; k <= i; k++) z += L[i][k] * e[k];
        out = std::fabs(z) >= t;
      }
      hits += out;
    }
    ref.p = (double)hits / (double)draws;
    ref.tol = 4 * std::sqrt(std::max(ref.p * (1 - ref.p), 1.0 / (double)draws) / (double)draws);
  }
  ref.tol += ref.p >= 0.1 ? 0.01 : std::max(ref.p / 100, 1e-12);
  return ref;
}

}  // namespace family_reference

#endif
