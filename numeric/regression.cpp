#include "numeric/regression.h"

#include <cmath>
#include <cstdio>

#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "numeric/run_output.h"

namespace {

// Linear predictor x_i . b, summed over the columns in order.
double linear_predictor(const double *xi, const double *b, int D) {
  double eta = 0.0;
  for (int j = 0; j < D; j++) eta += xi[j] * b[j];
  return eta;
}

// log(exp(eta) + 1). Where exp(eta) would overflow (eta > 709) the
// equivalent eta + log1p(exp(-eta)) is used instead, so the log-likelihood
// stays finite; every other value keeps the plain form.
double log_one_plus_exp(double eta) {
  if (eta > 709.0) return eta + std::log1p(std::exp(-eta));
  return std::log(std::exp(eta) + 1.0);
}

// Bernoulli log-likelihood sum_i (eta_i y_i - log(exp(eta_i) + 1)).
double loglik(int N, int D, const double *y, double **x, const double *b) {
  double l = 0.0;
  for (int i = 0; i < N; i++) {
    double eta = linear_predictor(x[i], b, D);
    l += eta * y[i] - log_one_plus_exp(eta);
  }
  return l;
}

}  // namespace

// Logistic mean e / (1 + e) and variance e / (1 + e)^2 with e = exp(eta).
// Where exp(eta) overflows (eta above log(DBL_MAX), about 709.78) both would
// be inf / inf; they are then evaluated as 1 / (1 + t) and t / (1 + t)^2
// with t = exp(-eta), which stay finite. Every eta at which exp is finite
// keeps the formulas in e.
void logistic_moments(double eta, double *mu, double *v) {
  double e = std::exp(eta);
  if (std::isinf(e)) {
    double t = std::exp(-eta);
    *mu = 1.0 / (1.0 + t);
    *v = t / ((1.0 + t) * (1.0 + t));
    return;
  }
  *mu = e / (1.0 + e);
  *v = e / ((1.0 + e) * (1.0 + e));
}

// Newton-Raphson on the Bernoulli log-likelihood, starting from the logit of
// the trait mean for the intercept and 0 for the other coefficients. A step
// that lowers the log-likelihood is halved up to 15 times; the fit stops
// when the relative change of the log-likelihood falls below 1e-8, or after
// 5000 steps with a warning.
bool logisticReg_fit(int N, int D, double *y, double **x, double *vbeta1) {
  bool converged = true;
  double *vbeta2 = dvector(0, D - 1);
  double *vstep = dvector(0, D - 1);
  double *U = dvector(0, D - 1);
  double **I = dmatrix(0, D - 1, 0, D - 1);
  double **inv_I = dmatrix(1, D, 1, D);

  for (int j = 0; j < D; j++) vbeta1[j] = 0.0;
  double ysum = 0.0;
  for (int i = 0; i < N; i++) ysum += y[i];
  double yfreq = ysum / N;
  vbeta1[0] = std::log(yfreq / (1.0 - yfreq));
  double loglik_vbeta1 = loglik(N, D, y, x, vbeta1);

  for (int iter = 0; iter < 5000; iter++) {
    for (int j = 0; j < D; j++) {
      U[j] = 0.0;
      for (int k = 0; k < D; k++) I[j][k] = 0.0;
    }
    for (int i = 0; i < N; i++) {
      double mu, v;
      logistic_moments(linear_predictor(x[i], vbeta1, D), &mu, &v);
      double centerY = y[i] - mu;
      for (int j = 0; j < D; j++) {
        U[j] += centerY * x[i][j];
        for (int k = 0; k < D; k++) I[j][k] += v * x[i][j] * x[i][k];
      }
    }
    for (int j = 0; j < D; j++)
      for (int k = 0; k < D; k++) inv_I[j + 1][k + 1] = I[j][k];
    try {
      invv(inv_I, D);
    } catch (...) {  // a stop inside a capture
      free_dvector(vbeta2, 0, D - 1);
      free_dvector(vstep, 0, D - 1);
      free_dvector(U, 0, D - 1);
      free_dmatrix(I, 0, D - 1, 0, D - 1);
      free_dmatrix(inv_I, 1, D, 1, D);
      throw;
    }
    for (int j = 0; j < D; j++) {
      double s = 0.0;
      for (int k = 0; k < D; k++) s += inv_I[j + 1][k + 1] * U[k];
      vstep[j] = s;
      vbeta2[j] = vbeta1[j] + vstep[j];
    }
    double loglik_vbeta2 = loglik(N, D, y, x, vbeta2);
    if (loglik_vbeta2 < loglik_vbeta1) {
      for (int h = 0; h < 15; h++) {
        for (int j = 0; j < D; j++) {
          vstep[j] = 0.5 * vstep[j];
          vbeta2[j] = vbeta1[j] + vstep[j];
        }
        loglik_vbeta2 = loglik(N, D, y, x, vbeta2);
        if (loglik_vbeta2 >= loglik_vbeta1) break;
      }
    }
    for (int j = 0; j < D; j++) vbeta1[j] = vbeta2[j];
    if (std::fabs((loglik_vbeta2 - loglik_vbeta1) / loglik_vbeta2) < 1e-8) break;
    if (iter == 4999) {
      run_print("\nLogisticReg Warning:MLE iteration NOT converge!\n");
      converged = false;
      break;
    }
    loglik_vbeta1 = loglik_vbeta2;
  }

  free_dvector(vbeta2, 0, D - 1);
  free_dvector(vstep, 0, D - 1);
  free_dvector(U, 0, D - 1);
  free_dmatrix(I, 0, D - 1, 0, D - 1);
  free_dmatrix(inv_I, 1, D, 1, D);
  return converged;
}

void logisticReg_v0(int N, int D, double *y, double **x, double *vbeta1) {
  logisticReg_fit(N, D, y, x, vbeta1);
}

// Least squares by the normal equations: (X'X)^-1 X'y.
void linearMLE(int N, int P, double *y, double **x, double *vbeta) {
  double **xx = dmatrix(0, P - 1, 0, P - 1);
  double *xy = dvector(0, P - 1);
  double **inv_xx = dmatrix(1, P, 1, P);
  for (int j = 0; j < P; j++) {
    for (int jj = 0; jj < P; jj++) {
      double s = 0.0;
      for (int i = 0; i < N; i++) s += x[i][j] * x[i][jj];
      xx[j][jj] = s;
    }
    double s = 0.0;
    for (int i = 0; i < N; i++) s += x[i][j] * y[i];
    xy[j] = s;
  }
  for (int j = 0; j < P; j++)
    for (int jj = 0; jj < P; jj++) inv_xx[j + 1][jj + 1] = xx[j][jj];
  invv(inv_xx, P);
  for (int j = 0; j < P; j++) {
    double s = 0.0;
    for (int jj = 0; jj < P; jj++) s += inv_xx[j + 1][jj + 1] * xy[jj];
    vbeta[j] = s;
  }
  free_dmatrix(xx, 0, P - 1, 0, P - 1);
  free_dvector(xy, 0, P - 1);
  free_dmatrix(inv_xx, 1, P, 1, P);
}

double mean(double *x, long nl, long nh) {
  double s = 0.0;
  for (long i = nl; i <= nh; i++) s += x[i];
  return s / static_cast<double>(nh - nl + 1);
}

// Population standard deviation (divisor the count) about the given mean,
// floored at 1e-10 so that a constant vector never gives 0.
double sd(double *x, long nl, long nh, double mean_x) {
  double s = 0.0;
  for (long i = nl; i <= nh; i++) s += (x[i] - mean_x) * (x[i] - mean_x);
  double r = std::sqrt(s / static_cast<double>(nh - nl + 1));
  if (r < 1e-10) r = 1e-10;
  return r;
}
