#ifndef QUORVEX_TESTS_IMHOF_REFERENCE_H
#define QUORVEX_TESTS_IMHOF_REFERENCE_H

#include <gsl/gsl_integration.h>

#include <cmath>
#include <vector>

// Independent upper tail of Q = sum_j lambda_j chi2_1, for the tests.
// Imhof (1961): P(Q > x) = 1/2 + (1/pi) int_0^inf sin(theta(u)) / (u rho(u)) du
// with theta(u) = A(u) - x u / 2, A(u) = (1/2) sum atan(lambda_j u) and
// rho(u) = prod (1 + lambda_j^2 u^2)^(1/4). On [0, 1] the integrand is
// integrated directly (61-point Gauss-Kronrod); beyond 1 it is split into
// sin(A) cos(xu/2) - cos(A) sin(xu/2) over u rho(u) and each part integrated
// as a Fourier integral (GSL qawf), which copes with the slow decay.
struct ImhofParams {
  const std::vector<double> *lambda;
  double x;
  int part;  // 0 whole integrand, 1 sin(A) / (u rho), 2 cos(A) / (u rho)
};

inline double imhof_integrand(double u, void *params) {
  const ImhofParams *ip = static_cast<const ImhofParams *>(params);
  if (u == 0.0) {
    double sum_lambda = 0.0;
    for (double l : *ip->lambda) sum_lambda += l;
    return 0.5 * (sum_lambda - ip->x);
  }
  double A = 0.0, log_rho = 0.0;
  for (double l : *ip->lambda) {
    A += 0.5 * std::atan(l * u);
    log_rho += 0.25 * std::log1p(l * l * u * u);
  }
  double denom = u * std::exp(log_rho);
  if (ip->part == 1) return std::sin(A) / denom;
  if (ip->part == 2) return std::cos(A) / denom;
  return std::sin(A - 0.5 * ip->x * u) / denom;
}

inline double imhof_upper_tail(const std::vector<double> &lambda, double x) {
  gsl_integration_workspace *w = gsl_integration_workspace_alloc(2000);
  gsl_integration_workspace *cw = gsl_integration_workspace_alloc(2000);
  gsl_integration_qawo_table *table =
      gsl_integration_qawo_table_alloc(0.5 * x, 1.0, GSL_INTEG_COSINE, 50);
  double head = 0, sin_part = 0, cos_part = 0, err = 0;
  ImhofParams whole{&lambda, x, 0}, p1{&lambda, x, 1}, p2{&lambda, x, 2};
  gsl_function F0{&imhof_integrand, &whole}, F1{&imhof_integrand, &p1},
      F2{&imhof_integrand, &p2};
  gsl_integration_qag(&F0, 0.0, 1.0, 1e-15, 1e-13, 2000, GSL_INTEG_GAUSS61, w, &head, &err);
  gsl_integration_qawf(&F1, 1.0, 1e-13, 2000, w, cw, table, &sin_part, &err);
  gsl_integration_qawo_table_set(table, 0.5 * x, 1.0, GSL_INTEG_SINE);
  gsl_integration_qawf(&F2, 1.0, 1e-13, 2000, w, cw, table, &cos_part, &err);
  gsl_integration_qawo_table_free(table);
  gsl_integration_workspace_free(cw);
  gsl_integration_workspace_free(w);
  return 0.5 + (head + sin_part - cos_part) / M_PI;
}

#endif
