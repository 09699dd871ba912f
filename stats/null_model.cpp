#include "stats/null_model.h"

#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "numeric/regression.h"

#include <cmath>

namespace {

double linear_predictor(int D, const double *gamma, const double *zi) {
  double eta = 0.0;
  for (int d = 0; d < D; d++) eta += gamma[d] * zi[d];
  return eta;
}

// Copies the 0-based D x D matrix A into a 1-based one, inverts it with
// invv and copies the inverse into the 0-based Iz.
void invert_into(int D, double **A, double **Iz) {
  double **work = dmatrix(1, D, 1, D);
  for (int d = 0; d < D; d++)
    for (int dd = 0; dd < D; dd++) work[d + 1][dd + 1] = A[d][dd];
  try {
    invv(work, D);
  } catch (...) {  // a stop inside a capture
    free_dmatrix(work, 1, D, 1, D);
    throw;
  }
  for (int d = 0; d < D; d++)
    for (int dd = 0; dd < D; dd++) Iz[d][dd] = work[d + 1][dd + 1];
  free_dmatrix(work, 1, D, 1, D);
}

}  // namespace

void score_yz_gamma(int N, int D, double *y, double **z, double *gamma, double *centerY, double *v,
                    double **Iz) {
  double **A = dmatrix(0, D - 1, 0, D - 1);
  for (int d = 0; d < D; d++)
    for (int dd = 0; dd < D; dd++) A[d][dd] = 0.0;
  for (int i = 0; i < N; i++) {
    double mu, var;
    logistic_moments(linear_predictor(D, gamma, z[i]), &mu, &var);
    v[i] = var;
    centerY[i] = y[i] - mu;
    for (int d = 0; d < D; d++)
      for (int dd = 0; dd < D; dd++) A[d][dd] += v[i] * z[i][d] * z[i][dd];
  }
  try {
    invert_into(D, A, Iz);
  } catch (...) {  // a stop inside a capture
    free_dmatrix(A, 0, D - 1, 0, D - 1);
    throw;
  }
  free_dmatrix(A, 0, D - 1, 0, D - 1);
}

void p_null(int N, int D, double *y, double **x, double *pY) {
  double *vbeta = dvector(0, D - 1);
  logisticReg_v0(N, D, y, x, vbeta);
  for (int i = 0; i < N; i++) {
    double mu, var;
    logistic_moments(linear_predictor(D, vbeta, x[i]), &mu, &var);
    pY[i] = mu;
  }
  free_dvector(vbeta, 0, D - 1);
}

void score_yz_quanTrait(int N, int D, double *y, double **z, double *centerY, double *SigmaSQ,
                        double **Iz) {
  *SigmaSQ = 0.0;
  double *YZ = dvector(0, D - 1);
  double **A = dmatrix(0, D - 1, 0, D - 1);
  for (int d = 0; d < D; d++) {
    YZ[d] = 0.0;
    for (int dd = 0; dd < D; dd++) A[d][dd] = 0.0;
  }
  for (int i = 0; i < N; i++) {
    for (int d = 0; d < D; d++) {
      YZ[d] += y[i] * z[i][d];
      for (int dd = 0; dd < D; dd++) A[d][dd] += z[i][d] * z[i][dd];
    }
  }
  invert_into(D, A, Iz);
  double *gamma = dvector(0, D - 1);
  for (int d = 0; d < D; d++) {
    double g = 0.0;
    for (int dd = 0; dd < D; dd++) g += Iz[d][dd] * YZ[dd];
    gamma[d] = g;
  }
  score_yz_quanTrait_gamma(N, D, y, z, gamma, centerY, SigmaSQ);
  free_dvector(gamma, 0, D - 1);
  free_dmatrix(A, 0, D - 1, 0, D - 1);
  free_dvector(YZ, 0, D - 1);
}

void score_yz_quanTrait_gamma(int N, int D, double *y, double **z, double *gamma, double *centerY,
                              double *SigmaSQ) {
  double ss = 0.0;
  for (int i = 0; i < N; i++) {
    centerY[i] = y[i] - linear_predictor(D, gamma, z[i]);
    ss += centerY[i] * centerY[i];
  }
  *SigmaSQ = ss / N;
}

void linearResidual(int N, int P, double *y, double **x, double *ry) {
  double *vbeta = dvector(0, P - 1);
  linearMLE(N, P, y, x, vbeta);
  for (int i = 0; i < N; i++) ry[i] = y[i] - linear_predictor(P, vbeta, x[i]);
  free_dvector(vbeta, 0, P - 1);
}
