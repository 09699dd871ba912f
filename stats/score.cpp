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

// The sums of the score statistic in one sweep over the subjects, each sum
// in its own local accumulator and over the subjects in ascending order:
// SZ[d] = sum (w[i] S[i]) z[i][d] with w = v (binary trait) or without the
// factor (quantitative trait), U = sum S[i] centerY[i], V1 = sum (S[i] S[i]) v[i]
// (binary) or sum S[i] S[i] (quantitative). DD > 0 fixes the number of design
// columns at compile time so that its accumulators stay in registers; DD = 0
// takes D at run time and sums into SZ.
template <int DD, bool kBinary>
void score_sums(int N, int D, const double *S, double *const *z, const double *centerY,
                const double *v, double *SZ, double *U_sum, double *V1_sum) {
  double U = 0.0, V1 = 0.0;
  if (DD > 0) {
    double acc[DD > 0 ? DD : 1];
    for (int d = 0; d < DD; d++) acc[d] = 0.0;
    for (int i = 0; i < N; i++) {
      const double s = S[i];
      const double *zi = z[i];
      if (kBinary) {
        const double vs = v[i] * s;
        for (int d = 0; d < DD; d++) acc[d] += vs * zi[d];
        U += s * centerY[i];
        V1 += s * s * v[i];
      } else {
        for (int d = 0; d < DD; d++) acc[d] += s * zi[d];
        U += s * centerY[i];
        V1 += s * s;
      }
    }
    for (int d = 0; d < DD; d++) SZ[d] = acc[d];
  } else {
    for (int d = 0; d < D; d++) SZ[d] = 0.0;
    for (int i = 0; i < N; i++) {
      const double s = S[i];
      const double *zi = z[i];
      if (kBinary) {
        const double vs = v[i] * s;
        for (int d = 0; d < D; d++) SZ[d] += vs * zi[d];
        U += s * centerY[i];
        V1 += s * s * v[i];
      } else {
        for (int d = 0; d < D; d++) SZ[d] += s * zi[d];
        U += s * centerY[i];
        V1 += s * s;
      }
    }
  }
  *U_sum = U;
  *V1_sum = V1;
}

template <bool kBinary>
void score_sums_any(int N, int D, const double *S, double *const *z, const double *centerY,
                    const double *v, double *SZ, double *U, double *V1) {
  switch (D) {
    case 1: score_sums<1, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
    case 2: score_sums<2, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
    case 3: score_sums<3, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
    case 4: score_sums<4, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
    case 5: score_sums<5, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
    case 6: score_sums<6, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
    default: score_sums<0, kBinary>(N, D, S, z, centerY, v, SZ, U, V1); break;
  }
}

}  // namespace

double score_stat(int N, int D, double * /*y*/, double *S, double **z, double *centerY, double *v,
                  double **Iz, double *SZ, double *U_output, double *V_output) {
  double U = 0.0, V1 = 0.0;
  score_sums_any<true>(N, D, S, z, centerY, v, SZ, &U, &V1);
  double V = V1 - quadratic_form(D, SZ, Iz);
  *U_output = U;
  *V_output = V;
  return U / std::sqrt(V);
}

double score_stat_quanTrait(int N, int D, double * /*y*/, double *S, double **z, double *centerY,
                            double SigmaSQ, double **Iz, double *SZ, double *U_output,
                            double *V_output) {
  double U = 0.0, V1 = 0.0;
  score_sums_any<false>(N, D, S, z, centerY, nullptr, SZ, &U, &V1);
  double W = (V1 - quadratic_form(D, SZ, Iz)) * SigmaSQ;
  *U_output = U / SigmaSQ;
  *V_output = W / (SigmaSQ * SigmaSQ);
  return U / std::sqrt(W);
}

namespace {

// The sums of score_sums over the listed subjects only (same terms, same
// order). kWithU adds U = sum s centerY.
template <int DD, bool kBinary, bool kWithU>
void sparse_sums(int nnz, const int *idx, const double *val, int D, double *const *z,
                 const double *centerY, const double *v, double *SZ, double *U_sum,
                 double *V1_sum) {
  const int DN = DD > 0 ? DD : D;
  double acc[8];
  double *a = DD > 0 ? acc : SZ;
  for (int d = 0; d < DN; d++) a[d] = 0.0;
  double U = 0.0, V1 = 0.0;
  for (int e = 0; e < nnz; e++) {
    const int i = idx[e];
    const double s = val[e];
    const double *zi = z[i];
    if (kBinary) {
      const double vs = v[i] * s;
      for (int d = 0; d < DN; d++) a[d] += vs * zi[d];
      if (kWithU) U += s * centerY[i];
      V1 += s * s * v[i];
    } else {
      for (int d = 0; d < DN; d++) a[d] += s * zi[d];
      if (kWithU) U += s * centerY[i];
      V1 += s * s;
    }
  }
  if (DD > 0)
    for (int d = 0; d < DN; d++) SZ[d] = acc[d];
  *U_sum = U;
  *V1_sum = V1;
}

template <bool kBinary, bool kWithU>
void sparse_sums_any(int nnz, const int *idx, const double *val, int D, double *const *z,
                     const double *centerY, const double *v, double *SZ, double *U,
                     double *V1) {
  switch (D) {
    case 1: sparse_sums<1, kBinary, kWithU>(nnz, idx, val, D, z, centerY, v, SZ, U, V1); break;
    case 2: sparse_sums<2, kBinary, kWithU>(nnz, idx, val, D, z, centerY, v, SZ, U, V1); break;
    case 3: sparse_sums<3, kBinary, kWithU>(nnz, idx, val, D, z, centerY, v, SZ, U, V1); break;
    case 4: sparse_sums<4, kBinary, kWithU>(nnz, idx, val, D, z, centerY, v, SZ, U, V1); break;
    default: sparse_sums<0, kBinary, kWithU>(nnz, idx, val, D, z, centerY, v, SZ, U, V1); break;
  }
}

}  // namespace

double score_quadratic_form(int D, const double *SZ, double **Iz) {
  return quadratic_form(D, SZ, Iz);
}

double score_U_sparse(int nnz, const int *idx, const double *val, const double *centerY) {
  double U = 0.0;
  for (int e = 0; e < nnz; e++) U += val[e] * centerY[idx[e]];
  return U;
}

double score_variance_sparse(int nnz, const int *idx, const double *val, int D, double **z,
                             const double *v, double **Iz, double *SZ) {
  double U = 0.0, V1 = 0.0;
  if (v != nullptr)
    sparse_sums_any<true, false>(nnz, idx, val, D, z, nullptr, v, SZ, &U, &V1);
  else
    sparse_sums_any<false, false>(nnz, idx, val, D, z, nullptr, nullptr, SZ, &U, &V1);
  return V1 - quadratic_form(D, SZ, Iz);
}

double score_stat_sparse(int nnz, const int *idx, const double *val, int D, double **z,
                         const double *centerY, const double *v, double **Iz, double *SZ,
                         double *U_output, double *V_output) {
  double U = 0.0, V1 = 0.0;
  sparse_sums_any<true, true>(nnz, idx, val, D, z, centerY, v, SZ, &U, &V1);
  const double V = V1 - quadratic_form(D, SZ, Iz);
  *U_output = U;
  *V_output = V;
  return U / std::sqrt(V);
}

namespace {

template <int DD>
void packed_sums(int nnz, const int *idx, const double *val, int D, const double *packed,
                 double *SZ, double *U_sum, double *V1_sum) {
  const int DN = DD > 0 ? DD : D;
  const int stride = DN + 1;
  double acc[8];
  double *a = DD > 0 ? acc : SZ;
  for (int d = 0; d < DN; d++) a[d] = 0.0;
  double U = 0.0, V1 = 0.0;
  for (int e = 0; e < nnz; e++) {
    const double *rec = packed + (size_t)idx[e] * (size_t)stride;
    const double s = val[e];
    const double vs = rec[1] * s;
    a[0] += vs;  // times the intercept 1.0
    for (int d = 1; d < DN; d++) a[d] += vs * rec[d + 1];
    U += s * rec[0];
    V1 += s * s * rec[1];
  }
  if (DD > 0)
    for (int d = 0; d < DN; d++) SZ[d] = acc[d];
  *U_sum = U;
  *V1_sum = V1;
}

}  // namespace

double score_stat_packed(int nnz, const int *idx, const double *val, int D,
                         const double *packed, double **Iz, double *SZ, double *U_output,
                         double *V_output) {
  double U = 0.0, V1 = 0.0;
  switch (D) {
    case 1: packed_sums<1>(nnz, idx, val, D, packed, SZ, &U, &V1); break;
    case 2: packed_sums<2>(nnz, idx, val, D, packed, SZ, &U, &V1); break;
    case 3: packed_sums<3>(nnz, idx, val, D, packed, SZ, &U, &V1); break;
    case 4: packed_sums<4>(nnz, idx, val, D, packed, SZ, &U, &V1); break;
    default: packed_sums<0>(nnz, idx, val, D, packed, SZ, &U, &V1); break;
  }
  const double V = V1 - quadratic_form(D, SZ, Iz);
  *U_output = U;
  *V_output = V;
  return U / std::sqrt(V);
}
