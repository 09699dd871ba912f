#include "stats/erec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "numeric/arrays.h"

namespace {

// S_opp[r][i] = sum over j of x[i][j] wt[r][j], for both rows.
void fill_rows(int N, int N_SNP, double **x, double **wt, double **S_opp) {
  for (int i = 0; i < N; i++) {
    double s0 = 0.0, s1 = 0.0;
    for (int j = 0; j < N_SNP; j++) {
      s0 += x[i][j] * wt[0][j];
      s1 += x[i][j] * wt[1][j];
    }
    S_opp[0][i] = s0;
    S_opp[1][i] = s1;
  }
}

}  // namespace

double erec_log_odds(double n11, double n10, double n01, double n00) {
  const double OR = ((n11 + 1) * (n00 + 1)) / ((n01 + 1) * (n10 + 1));
  return erec_clamp(std::log(OR));
}

void getS_opp(int N, int N_SNP, double *y, double **x0, double **x, double **S_opp, double *maf,
              double MAF_UB, double delta) {
  if (N_SNP <= 0) {
    for (int i = 0; i < N; i++) S_opp[0][i] = S_opp[1][i] = 0.0;
    return;
  }
  double **wt = dmatrix(0, 1, 0, N_SNP - 1);
  for (int j = 0; j < N_SNP; j++) {
    if (maf[j] > MAF_UB) {
      wt[0][j] = wt[1][j] = 0.0;
      continue;
    }
    double b = 0.0;  // OR = 1 without subjects
    if (N > 0) {
      double n11 = 0, n10 = 0, n01 = 0, n00 = 0;
      for (int i = 0; i < N; i++) {
        const double g = x0[i][j];
        if (g < 0) continue;
        if (g > 0) {
          n11 += y[i];
          n10 += 1 - y[i];
        } else if (g == 0) {
          n01 += y[i];
          n00 += 1 - y[i];
        }
      }
      b = erec_log_odds(n11, n10, n01, n00);
    }
    wt[0][j] = b + delta;
    wt[1][j] = b - delta;
  }
  fill_rows(N, N_SNP, x, wt, S_opp);
  free_dmatrix(wt, 0, 1, 0, N_SNP - 1);
}

void getS_opp_quan(int N, int N_SNP, double *y, double **x, double **S_opp, double *maf,
                   double MAF_UB, double delta) {
  if (N_SNP <= 0) {
    for (int i = 0; i < N; i++) S_opp[0][i] = S_opp[1][i] = 0.0;
    return;
  }
  double **wt = dmatrix(0, 1, 0, N_SNP - 1);
  double sum_y = 0.0;
  for (int i = 0; i < N; i++) sum_y += y[i];
  const double avg_y = sum_y / N;
  for (int j = 0; j < N_SNP; j++) {
    if (maf[j] > MAF_UB) {
      wt[0][j] = wt[1][j] = 0.0;
      continue;
    }
    double sum_x = 0.0;
    for (int i = 0; i < N; i++) sum_x += x[i][j];
    const double avg_x = sum_x / N;
    double U = 0.0, V = 0.0;
    for (int i = 0; i < N; i++) {
      const double dx = x[i][j] - avg_x;
      U += (y[i] - avg_y) * dx;
      V += dx * dx;
    }
    const double b = erec_clamp(U / V);
    wt[0][j] = b + delta;
    wt[1][j] = b - delta;
  }
  fill_rows(N, N_SNP, x, wt, S_opp);
  free_dmatrix(wt, 0, 1, 0, N_SNP - 1);
}

void erec_quan_numerators(const ErecSubjectRows &g, const double *yc, double *U, double *d) {
  const int A = g.A;
  for (int a = 0; a < A; a++) U[a] = 0.0;
  int u = 0;
  for (int i = 0; i < g.N; i++) {
    const double y = yc[i];
    if (u < g.n_subj && g.subj[u] == i) {
      for (int a = 0; a < A; a++) d[a] = g.nd[a];
      for (int c = g.sstart[u]; c < g.sstart[u + 1]; c++) {
        const int j = g.svar[c];
        if (g.pos[j] >= 0) d[g.pos[j]] = g.sx[c] - g.avg_x[j];
      }
      for (int a = 0; a < A; a++) U[a] += y * d[a];
      u++;
    } else {
      for (int a = 0; a < A; a++) U[a] += y * g.nd[a];
    }
  }
}

size_t ErecSlopeTiles::bytes() const {
  return nd.capacity() * sizeof(double) + tstart.capacity() * sizeof(int) +
         esubj.capacity() * sizeof(int) + dev.capacity() * sizeof(double);
}

void erec_slope_tiles(const ErecSubjectRows &g, ErecSlopeTiles &t) {
  const int A = g.A, tiles = (A + kErecLanes - 1) / kErecLanes;
  t.N = g.N;
  t.A = A;
  t.nd.assign(g.nd, g.nd + A);
  t.tstart.assign(1, 0);
  t.esubj.clear();
  t.dev.clear();
  double row[kErecLanes];
  for (int k = 0; k < tiles; k++) {
    const int a0 = k * kErecLanes, nt = std::min(kErecLanes, A - a0);
    for (int u = 0; u < g.n_subj; u++) {
      bool any = false;
      for (int l = 0; l < kErecLanes; l++) row[l] = l < nt ? g.nd[a0 + l] : 0.0;
      // The one-at-a-time code's deviation: x - mean, over nd.
      for (int c = g.sstart[u]; c < g.sstart[u + 1]; c++) {
        const int j = g.svar[c], p = g.pos[j];
        if (p >= a0 && p < a0 + nt) {
          row[p - a0] = g.sx[c] - g.avg_x[j];
          any = true;
        }
      }
      if (!any) continue;
      t.esubj.push_back(g.subj[u]);
      t.dev.insert(t.dev.end(), row, row + kErecLanes);
    }
    t.tstart.push_back((int)t.esubj.size());
  }
}

namespace {

// The lane sums of one tile of NT variants: G registers of W lanes each,
// lanes lane0 .. lane0 + G W - 1, every lane and variant its own chain of
// additions in the order of the subjects.
template <int W, int NT, int G>
__attribute__((always_inline)) inline void tile_lanes(const ErecSlopeTiles &t, int k, int lane0,
                                                      const double *C, double *U) {
  typedef double Vec __attribute__((vector_size(W * sizeof(double))));
  const int a0 = k * kErecLanes;
  const Vec zero = {};  // +0.0 in every lane, the one-at-a-time start
  Vec acc[G][NT];
  for (int g = 0; g < G; g++)
    for (int v = 0; v < NT; v++) acc[g][v] = zero;
  double nd[NT];
  for (int v = 0; v < NT; v++) nd[v] = t.nd[a0 + v];
  const int *es = t.esubj.data();
  const double *dev = t.dev.data();
  int e = t.tstart[k];
  const int e_end = t.tstart[k + 1];
  int i = 0;
  const int N = t.N;
  for (;;) {
    const int next = e < e_end ? es[e] : N;
    for (; i < next; i++) {
      const double *c = C + (size_t)i * kErecLanes + lane0;
      for (int g = 0; g < G; g++) {
        Vec y;
        std::memcpy(&y, c + g * W, sizeof y);
        for (int v = 0; v < NT; v++) acc[g][v] += y * nd[v];
      }
    }
    if (i >= N) break;
    const double *c = C + (size_t)i * kErecLanes + lane0;
    const double *d = dev + (size_t)e * kErecLanes;
    for (int g = 0; g < G; g++) {
      Vec y;
      std::memcpy(&y, c + g * W, sizeof y);
      for (int v = 0; v < NT; v++) acc[g][v] += y * d[v];
    }
    i++;
    e++;
  }
  for (int g = 0; g < G; g++)
    for (int v = 0; v < NT; v++)
      std::memcpy(U + (size_t)(a0 + v) * kErecLanes + lane0 + g * W, &acc[g][v], sizeof(Vec));
}

// Every lane of a tile of NT variants: as many registers side by side as
// give about eight independent chains (the additions' latency), then the
// next lanes.
template <int W, int NT>
__attribute__((always_inline)) inline void tile_all_lanes(const ErecSlopeTiles &t, int k,
                                                          const double *C, double *U) {
  constexpr int regs = kErecLanes / W;
  constexpr int want = NT >= 8 ? 1 : 8 / NT;
  constexpr int G = want < regs ? want : regs;
  static_assert(regs % G == 0 || G == regs, "lane groups");
  for (int lane0 = 0; lane0 < kErecLanes; lane0 += G * W) tile_lanes<W, NT, G>(t, k, lane0, C, U);
}

template <int W>
__attribute__((always_inline)) inline void all_tiles(const ErecSlopeTiles &t, const double *C,
                                                     double *U) {
  const int tiles = (t.A + kErecLanes - 1) / kErecLanes;
  for (int k = 0; k < tiles; k++) {
    switch (std::min(kErecLanes, t.A - k * kErecLanes)) {
      case 1: tile_all_lanes<W, 1>(t, k, C, U); break;
      case 2: tile_all_lanes<W, 2>(t, k, C, U); break;
      case 3: tile_all_lanes<W, 3>(t, k, C, U); break;
      case 4: tile_all_lanes<W, 4>(t, k, C, U); break;
      case 5: tile_all_lanes<W, 5>(t, k, C, U); break;
      case 6: tile_all_lanes<W, 6>(t, k, C, U); break;
      case 7: tile_all_lanes<W, 7>(t, k, C, U); break;
      default: tile_all_lanes<W, 8>(t, k, C, U); break;
    }
  }
}

void lanes_baseline(const ErecSlopeTiles &t, const double *C, double *U) { all_tiles<2>(t, C, U); }

__attribute__((target("avx2"))) void lanes_avx2(const ErecSlopeTiles &t, const double *C,
                                                double *U) {
  all_tiles<4>(t, C, U);
}

__attribute__((target("avx512f"))) void lanes_avx512(const ErecSlopeTiles &t, const double *C,
                                                     double *U) {
  all_tiles<8>(t, C, U);
}

}  // namespace

bool erec_lane_code_available(ErecLaneCode code) {
  switch (code) {
    case ErecLaneCode::kAvx2: return __builtin_cpu_supports("avx2");
    case ErecLaneCode::kAvx512: return __builtin_cpu_supports("avx512f");
    default: return true;
  }
}

ErecLaneCode erec_best_lane_code() {
  static const ErecLaneCode best = erec_lane_code_available(ErecLaneCode::kAvx512)
                                       ? ErecLaneCode::kAvx512
                                       : erec_lane_code_available(ErecLaneCode::kAvx2)
                                             ? ErecLaneCode::kAvx2
                                             : ErecLaneCode::kBaseline;
  return best;
}

void erec_quan_numerators_lanes(const ErecSlopeTiles &t, const double *C, double *U,
                                ErecLaneCode code) {
  switch (code) {
    case ErecLaneCode::kAvx512: lanes_avx512(t, C, U); break;
    case ErecLaneCode::kAvx2: lanes_avx2(t, C, U); break;
    default: lanes_baseline(t, C, U); break;
  }
}
