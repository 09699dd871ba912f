#include "stats/score.h"

#include <cmath>

namespace {

// SZ' Iz SZ, summed column by column: sum over j of (sum over k of
// SZ[k] Iz[k][j]) SZ[j].
double quadratic_form(int D, const double *SZ, double **Iz) {
  double Vq = 0.0;
  for (int j = 0; j < D; j++) {
    double col = 0.0;
    for (int k = 0; k < D; k++) col += SZ[k] * Iz[k][j];
    Vq += col * SZ[j];
  }
  return Vq;
}

}  // namespace

double score_stat(int N, int D, double * /*y*/, double *S, double **z, double *centerY, double *v,
                  double **Iz, double *SZ, double *U_output, double *V_output) {
  for (int d = 0; d < D; d++) SZ[d] = 0.0;
  for (int i = 0; i < N; i++)
    for (int d = 0; d < D; d++) SZ[d] += v[i] * S[i] * z[i][d];
  double U = 0.0;
  for (int i = 0; i < N; i++) U += S[i] * centerY[i];
  double V1 = 0.0;
  for (int i = 0; i < N; i++) V1 += S[i] * S[i] * v[i];
  double V = V1 - quadratic_form(D, SZ, Iz);
  *U_output = U;
  *V_output = V;
  return U / std::sqrt(V);
}

double score_stat_quanTrait(int N, int D, double * /*y*/, double *S, double **z, double *centerY,
                            double SigmaSQ, double **Iz, double *SZ, double *U_output,
                            double *V_output) {
  for (int d = 0; d < D; d++) SZ[d] = 0.0;
  for (int i = 0; i < N; i++)
    for (int d = 0; d < D; d++) SZ[d] += S[i] * z[i][d];
  double U = 0.0, V1 = 0.0;
  for (int i = 0; i < N; i++) {
    U += S[i] * centerY[i];
    V1 += S[i] * S[i];
  }
  double W = (V1 - quadratic_form(D, SZ, Iz)) * SigmaSQ;
  *U_output = U / SigmaSQ;
  *V_output = W / (SigmaSQ * SigmaSQ);
  return U / std::sqrt(W);
}
