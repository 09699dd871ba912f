#include "stats/column_lanes.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "stats/score.h"

namespace {

// Vector lanes of doubles, two to a register (GCC vector extensions;
// plain SSE2 code on the baseline target). Every operation acts lane by
// lane with the IEEE rounding of the scalar operation, so a lane's sum is
// the scalar sum.
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));

const int kLanes = kResampleBlock;  // one lane per resample of a block

inline Pair load_pair(const double *p) {
  Pair x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

inline void store_pair(double *p, Pair x) { std::memcpy(p, &x, sizeof x); }

// U of two columns under the kLanes resamples of C (residuals by subject,
// then resample): U[b] = sum over i of s[i] * C[i][b], from 0.0 in the order
// of the subjects, as score_stat sums U.
void fixed_u_pair(int N, const double *s0, const double *s1, const double *C, double *U0,
                  double *U1) {
  static_assert(kLanes == 8, "four pairs of lanes");
  const Pair zero = {0, 0};
  Pair a0 = zero, a1 = zero, a2 = zero, a3 = zero, b0 = zero, b1 = zero, b2 = zero, b3 = zero;
  for (int i = 0; i < N; i++) {
    const double *c = C + (size_t)i * kLanes;
    const Pair c0 = load_pair(c), c1 = load_pair(c + 2), c2 = load_pair(c + 4),
               c3 = load_pair(c + 6);
    const double x = s0[i], y = s1[i];
    a0 += x * c0;
    a1 += x * c1;
    a2 += x * c2;
    a3 += x * c3;
    b0 += y * c0;
    b1 += y * c1;
    b2 += y * c2;
    b3 += y * c3;
  }
  store_pair(U0, a0);
  store_pair(U0 + 2, a1);
  store_pair(U0 + 4, a2);
  store_pair(U0 + 6, a3);
  store_pair(U1, b0);
  store_pair(U1 + 2, b1);
  store_pair(U1 + 4, b2);
  store_pair(U1 + 6, b3);
}

void fixed_u(int N, const double *s, const double *C, double *U) {
  const Pair zero = {0, 0};
  Pair a0 = zero, a1 = zero, a2 = zero, a3 = zero;
  for (int i = 0; i < N; i++) {
    const double *c = C + (size_t)i * kLanes;
    const double x = s[i];
    a0 += x * load_pair(c);
    a1 += x * load_pair(c + 2);
    a2 += x * load_pair(c + 4);
    a3 += x * load_pair(c + 6);
  }
  store_pair(U, a0);
  store_pair(U + 2, a1);
  store_pair(U + 4, a2);
  store_pair(U + 6, a3);
}

// The sums of score_stat for a binary trait, four resamples side by side
// (lanes 4 half .. 4 half + 3 of C and V): SZ[d] = sum (v s) z[i][d],
// U = sum s centerY, V1 = sum (s s) v, each from 0.0 in the order of the
// subjects. Out: SZ[lane * DD + d], U[lane], V1[lane].
template <int DD>
void binary_sums(int N, const double *s, double *const *z, const double *C, const double *V,
                 int half, double *SZ, double *U, double *V1) {
  const Pair zero = {0, 0};
  Pair acc0[DD], acc1[DD];
  for (int d = 0; d < DD; d++) acc0[d] = acc1[d] = zero;
  Pair u0 = zero, u1 = zero, w0 = zero, w1 = zero;
  const size_t off = (size_t)half * 4;
  for (int i = 0; i < N; i++) {
    const double si = s[i];
    const double ss = si * si;
    const double *ci = C + (size_t)i * kLanes + off, *vi = V + (size_t)i * kLanes + off;
    const Pair v0 = load_pair(vi), v1 = load_pair(vi + 2);
    const Pair vs0 = v0 * si, vs1 = v1 * si;
    const double *zi = z[i];
    for (int d = 0; d < DD; d++) {
      acc0[d] += vs0 * zi[d];
      acc1[d] += vs1 * zi[d];
    }
    u0 += si * load_pair(ci);
    u1 += si * load_pair(ci + 2);
    w0 += ss * v0;
    w1 += ss * v1;
  }
  double a[4];
  for (int d = 0; d < DD; d++) {
    store_pair(a, acc0[d]);
    store_pair(a + 2, acc1[d]);
    for (int l = 0; l < 4; l++) SZ[l * DD + d] = a[l];
  }
  store_pair(U, u0);
  store_pair(U + 2, u1);
  store_pair(V1, w0);
  store_pair(V1 + 2, w1);
}

template <int DD>
void binary_column(int N, const double *s, double *const *z, const double *C, const double *V,
                   const ResampleNull *const *block, int nb, double *T) {
  double SZ[kLanes * DD], U[kLanes], V1[kLanes];
  binary_sums<DD>(N, s, z, C, V, 0, SZ, U, V1);
  if (nb > 4) binary_sums<DD>(N, s, z, C, V, 1, SZ + 4 * DD, U + 4, V1 + 4);
  for (int b = 0; b < nb; b++) {
    const double Vb = V1[b] - score_quadratic_form(DD, SZ + b * DD, block[b]->Iz);
    T[b] = std::fabs(U[b] / std::sqrt(Vb));
  }
}

}  // namespace

void column_block_statistics(const double *const *columns, const double *vfix, int count,
                             const ResampleNull *const *block, int nb,
                             const ResampleDesign &design, EvalWork &work, double *T) {
  const int N = design.N, D = design.D;
  const bool lanes = design.fixed_variance || D <= 6;
  if (!lanes) {
    // Many covariates: the one-resample formula for each pair.
    work.SZ.resize((size_t)D);
    for (int v = 0; v < count; v++)
      for (int b = 0; b < nb; b++)
        T[v * kLanes + b] =
            dense_abs_z(design, *block[b], const_cast<double *>(columns[v]), work.SZ.data());
    return;
  }
  // The block's residuals (and binary variances) by subject, then resample;
  // lanes past nb hold zeros and are not read.
  const bool with_v = !design.fixed_variance;
  work.lanes.assign((size_t)N * kLanes * (with_v ? 2 : 1), 0.0);
  double *C = work.lanes.data();
  double *Vv = with_v ? C + (size_t)N * kLanes : nullptr;
  for (int b = 0; b < nb; b++) {
    const double *c = block[b]->centerY;
    for (int i = 0; i < N; i++) C[(size_t)i * kLanes + b] = c[i];
    if (with_v) {
      const double *v = block[b]->v;
      for (int i = 0; i < N; i++) Vv[(size_t)i * kLanes + b] = v[i];
    }
  }
  if (design.fixed_variance) {
    double U0[kLanes], U1[kLanes];
    int v = 0;
    for (; v + 1 < count; v += 2) {
      fixed_u_pair(N, columns[v], columns[v + 1], C, U0, U1);
      // Binary: U / sqrt(V); quantitative: U / sqrt((V1 - SZ' Iz SZ) SigmaSQ).
      for (int b = 0; b < nb; b++) {
        const double q = block[b]->SigmaSQ;
        T[v * kLanes + b] =
            std::fabs(U0[b] / std::sqrt(design.binary ? vfix[v] : vfix[v] * q));
        T[(v + 1) * kLanes + b] =
            std::fabs(U1[b] / std::sqrt(design.binary ? vfix[v + 1] : vfix[v + 1] * q));
      }
    }
    if (v < count) {
      fixed_u(N, columns[v], C, U0);
      for (int b = 0; b < nb; b++)
        T[v * kLanes + b] = std::fabs(
            U0[b] / std::sqrt(design.binary ? vfix[v] : vfix[v] * block[b]->SigmaSQ));
    }
  } else {
    for (int v = 0; v < count; v++) {
      double *t = T + v * kLanes;
      switch (D) {
        case 1: binary_column<1>(N, columns[v], design.z, C, Vv, block, nb, t); break;
        case 2: binary_column<2>(N, columns[v], design.z, C, Vv, block, nb, t); break;
        case 3: binary_column<3>(N, columns[v], design.z, C, Vv, block, nb, t); break;
        case 4: binary_column<4>(N, columns[v], design.z, C, Vv, block, nb, t); break;
        case 5: binary_column<5>(N, columns[v], design.z, C, Vv, block, nb, t); break;
        default: binary_column<6>(N, columns[v], design.z, C, Vv, block, nb, t); break;
      }
    }
  }
  // A resample whose null model is not finite: the one-resample formula
  // (its non-finite terms do not cancel the same way in every layout).
  work.SZ.resize((size_t)D);
  for (int b = 0; b < nb; b++)
    if (!block[b]->finite)
      for (int v = 0; v < count; v++)
        T[v * kLanes + b] =
            dense_abs_z(design, *block[b], const_cast<double *>(columns[v]), work.SZ.data());
}
