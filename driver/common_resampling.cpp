#include "driver/common_resampling.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "stats/score.h"

namespace {

// Vector lanes of doubles (GCC vector extensions; plain SSE2 code on the
// baseline target). Every operation acts lane by lane with the IEEE
// rounding of the scalar operation, so a lane's sum is the scalar sum.
typedef double Lanes8 __attribute__((vector_size(8 * sizeof(double))));
typedef double Lanes4 __attribute__((vector_size(4 * sizeof(double))));

const int kLanes = kResampleBlock;  // one lane per resample of a block

// U of two columns under the kLanes resamples of C (residuals by subject,
// then resample): U[b] = sum over i of s[i] * C[i][b], from 0.0 in the order
// of the subjects, as score_stat sums U.
void fixed_u_pair(int N, const double *s0, const double *s1, const double *C, double *U0,
                  double *U1) {
  Lanes8 a0 = {0, 0, 0, 0, 0, 0, 0, 0}, a1 = a0;
  for (int i = 0; i < N; i++) {
    Lanes8 c;
    std::memcpy(&c, C + (size_t)i * kLanes, sizeof c);
    a0 += s0[i] * c;
    a1 += s1[i] * c;
  }
  std::memcpy(U0, &a0, sizeof a0);
  std::memcpy(U1, &a1, sizeof a1);
}

void fixed_u(int N, const double *s, const double *C, double *U) {
  Lanes8 a = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < N; i++) {
    Lanes8 c;
    std::memcpy(&c, C + (size_t)i * kLanes, sizeof c);
    a += s[i] * c;
  }
  std::memcpy(U, &a, sizeof a);
}

// The sums of score_stat for a binary trait, four resamples side by side
// (lanes `half` * 4 .. + 3 of C and V): SZ[d] = sum (v s) z[i][d],
// U = sum s centerY, V1 = sum (s s) v, each from 0.0 in the order of the
// subjects. Out: SZ[lane * DD + d], U[lane], V1[lane].
template <int DD>
void binary_sums(int N, const double *s, double *const *z, const double *C, const double *V,
                 int half, double *SZ, double *U, double *V1) {
  Lanes4 acc[DD];
  for (int d = 0; d < DD; d++) acc[d] = Lanes4{0, 0, 0, 0};
  Lanes4 u = {0, 0, 0, 0}, v1 = u;
  const size_t off = (size_t)half * 4;
  for (int i = 0; i < N; i++) {
    const double si = s[i];
    const double ss = si * si;
    Lanes4 v, c;
    std::memcpy(&v, V + (size_t)i * kLanes + off, sizeof v);
    std::memcpy(&c, C + (size_t)i * kLanes + off, sizeof c);
    const Lanes4 vs = v * si;
    const double *zi = z[i];
    for (int d = 0; d < DD; d++) acc[d] += vs * zi[d];
    u += si * c;
    v1 += ss * v;
  }
  for (int l = 0; l < 4; l++) {
    for (int d = 0; d < DD; d++) SZ[l * DD + d] = acc[d][l];
    U[l] = u[l];
    V1[l] = v1[l];
  }
}

template <int DD>
void binary_column(int N, const double *s, double *const *z, const double *C, const double *V,
                   Resample *const *block, int nb, double *T) {
  double SZ[kLanes * DD], U[kLanes], V1[kLanes];
  binary_sums<DD>(N, s, z, C, V, 0, SZ, U, V1);
  if (nb > 4) binary_sums<DD>(N, s, z, C, V, 1, SZ + 4 * DD, U + 4, V1 + 4);
  for (int b = 0; b < nb; b++) {
    const double Vb = V1[b] - score_quadratic_form(DD, SZ + b * DD, block[b]->Iz);
    T[b] = std::fabs(U[b] / std::sqrt(Vb));
  }
}

}  // namespace

void prepare_common_resampling(const ResampleScheme &scheme, RunArrays &run,
                               const CommonVariant &variant, bool resampled, double observed,
                               PooledGene &g) {
  g.variant = true;
  g.k = variant.k;
  g.geneID = variant.snpID;
  g.has_row = true;
  g.com_U = variant.U;
  g.com_V = variant.V;
  g.resampled = resampled;
  if (!resampled) return;
  const int N = scheme.N;
  g.n_fix = 1;
  g.part[0] = true;
  ResampleTest &test = g.test[0];
  test.obs = observed;
  test.n = 0.0;
  test.slot = run.pvalue_perm_com + variant.k;
  test.in_play = true;
  g.burden.add(variant.S, N, true);  // every subject: the column is dense
  if (scheme.fixed_variance) {
    // The variance part of |Z| does not change between resamples.
    std::vector<double> SZ((size_t)scheme.D);
    g.burden.vfix.assign(1, score_variance_sparse(
                                N, g.burden.idx.data(), g.burden.val.data(), scheme.D, scheme.z,
                                scheme.binary ? scheme.v_fixed : nullptr,
                                scheme.binary ? scheme.Iz_fixed : scheme.Iz, SZ.data()));
  }
}

double variant_resampled_statistic(const double *column, const ResampleScheme &scheme,
                                   const Resample &r, double *SZ) {
  double U, V;
  double *S = const_cast<double *>(column);
  if (scheme.binary)
    return std::fabs(
        score_stat(scheme.N, scheme.D, r.permY, S, scheme.z, r.centerY, r.v, r.Iz, SZ, &U, &V));
  return std::fabs(score_stat_quanTrait(scheme.N, scheme.D, r.permY, S, scheme.z, r.centerY,
                                        r.SigmaSQ, r.Iz, SZ, &U, &V));
}

void variant_block_statistics(const double *const *columns, const double *vfix, int count,
                              Resample *const *block, int nb, const ResampleScheme &scheme,
                              EvalWork &work, double *T) {
  const int N = scheme.N, D = scheme.D;
  const bool lanes = scheme.fixed_variance || D <= 6;
  if (!lanes) {
    // Many covariates: the one-resample formula for each pair.
    work.SZ.resize((size_t)D);
    for (int v = 0; v < count; v++)
      for (int b = 0; b < nb; b++)
        T[v * kLanes + b] = variant_resampled_statistic(columns[v], scheme, *block[b], work.SZ.data());
    return;
  }
  // The block's residuals (and binary variances) by subject, then resample;
  // lanes past nb hold zeros and are not read.
  const bool with_v = !scheme.fixed_variance;
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
  if (scheme.fixed_variance) {
    double U0[kLanes], U1[kLanes];
    int v = 0;
    for (; v + 1 < count; v += 2) {
      fixed_u_pair(N, columns[v], columns[v + 1], C, U0, U1);
      for (int b = 0; b < nb; b++) {
        const double q = scheme.binary ? 1.0 : block[b]->SigmaSQ;
        // Binary: U / sqrt(V); quantitative: U / sqrt((V1 - SZ' Iz SZ) SigmaSQ).
        T[v * kLanes + b] =
            std::fabs(U0[b] / std::sqrt(scheme.binary ? vfix[v] : vfix[v] * q));
        T[(v + 1) * kLanes + b] =
            std::fabs(U1[b] / std::sqrt(scheme.binary ? vfix[v + 1] : vfix[v + 1] * q));
      }
    }
    if (v < count) {
      fixed_u(N, columns[v], C, U0);
      for (int b = 0; b < nb; b++)
        T[v * kLanes + b] = std::fabs(
            U0[b] / std::sqrt(scheme.binary ? vfix[v] : vfix[v] * block[b]->SigmaSQ));
    }
  } else {
    for (int v = 0; v < count; v++) {
      double *t = T + v * kLanes;
      switch (D) {
        case 1: binary_column<1>(N, columns[v], scheme.z, C, Vv, block, nb, t); break;
        case 2: binary_column<2>(N, columns[v], scheme.z, C, Vv, block, nb, t); break;
        case 3: binary_column<3>(N, columns[v], scheme.z, C, Vv, block, nb, t); break;
        case 4: binary_column<4>(N, columns[v], scheme.z, C, Vv, block, nb, t); break;
        case 5: binary_column<5>(N, columns[v], scheme.z, C, Vv, block, nb, t); break;
        default: binary_column<6>(N, columns[v], scheme.z, C, Vv, block, nb, t); break;
      }
    }
  }
  // A resample whose null model is not finite: the one-resample formula
  // (its non-finite terms do not cancel the same way in every layout).
  work.SZ.resize((size_t)D);
  for (int b = 0; b < nb; b++)
    if (!block[b]->finite)
      for (int v = 0; v < count; v++)
        T[v * kLanes + b] = variant_resampled_statistic(columns[v], scheme, *block[b], work.SZ.data());
}

void variant_block_hits(PooledGene *const *variants, int count, Resample *const *block, int nb,
                        const ResampleScheme &scheme, EvalWork &work) {
  std::vector<const double *> columns((size_t)count);
  std::vector<double> vfix((size_t)count, 0.0), T((size_t)count * kLanes);
  for (int v = 0; v < count; v++) {
    columns[v] = variants[v]->burden.val.data();
    if (scheme.fixed_variance) vfix[v] = variants[v]->burden.vfix[0];
  }
  variant_block_statistics(columns.data(), vfix.data(), count, block, nb, scheme, work, T.data());
  for (int v = 0; v < count; v++) {
    ResampleTest &test = variants[v]->test[0];
    for (int b = 0; b < nb; b++)
      if (is_hit(T[v * kLanes + b], test.obs)) test.n += 1.0;
  }
  work.entries += (long)count * nb * scheme.N;
}
