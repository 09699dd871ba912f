#include "stats/resampled_stats.h"

#include <cmath>

#include "stats/score.h"

namespace {

bool is_finite(double x) { return std::isfinite(x); }

template <class T>
size_t vec_bytes(const std::vector<T> &v) {
  return v.capacity() * sizeof(T);
}

}  // namespace

void SparseRows::add(const double *row, int N, bool dense) {
  for (int i = 0; i < N; i++)
    if (dense || row[i] != 0) {
      idx.push_back(i);
      val.push_back(row[i]);
    }
  start.push_back((int)idx.size());
}

size_t SparseRows::bytes() const {
  return vec_bytes(start) + vec_bytes(idx) + vec_bytes(val) + vec_bytes(vfix);
}

size_t ErecRows::bytes() const {
  return vec_bytes(active) + vec_bytes(subj) + vec_bytes(sstart) + vec_bytes(svar) +
         vec_bytes(sx) + vec_bytes(cstart) + vec_bytes(cidx) + vec_bytes(ostart) +
         vec_bytes(oidx) + vec_bytes(n_car) + vec_bytes(n_zero) + vec_bytes(avg_x) +
         vec_bytes(V) + vec_bytes(neg_avg) + vec_bytes(act) + vec_bytes(pos) + vec_bytes(nd) +
         tiles.bytes();
}

size_t ResampledRows::bytes() const {
  return burden.bytes() + vt.bytes() + skat.bytes() + vec_bytes(weight_skat) + erec.bytes();
}

void EvalWork::fit(size_t M, size_t n_subj) {
  if (w0.size() < M) w0.resize(M), w1.resize(M), Uacc.resize(M), dtmp.resize(M);
  if (U_lanes.size() < M * kErecLanes) U_lanes.resize(M * kErecLanes);
  if (row0.size() < n_subj) row0.resize(n_subj), row1.resize(n_subj);
}

double dense_abs_z(const ResampleDesign &d, const ResampleNull &r, double *row, double *SZ) {
  double U, V;
  if (d.binary)
    return std::fabs(
        score_stat(d.N, d.D, r.permY, row, d.z, r.centerY, r.v, r.Iz, SZ, &U, &V));
  return std::fabs(
      score_stat_quanTrait(d.N, d.D, r.permY, row, d.z, r.centerY, r.SigmaSQ, r.Iz, SZ, &U, &V));
}

double dense_quan_U(const ResampleDesign &d, const ResampleNull &r, double *row, double *SZ) {
  double U, V;
  score_stat_quanTrait(d.N, d.D, r.permY, row, d.z, r.centerY, r.SigmaSQ, r.Iz, SZ, &U, &V);
  return U;
}

double largest_abs_z(const ResampleDesign &d, const ResampleNull &r, double **rows, int n,
                     double *SZ) {
  double best = dense_abs_z(d, r, rows[0], SZ);
  for (int l = 1; l < n; l++) {
    const double z = dense_abs_z(d, r, rows[l], SZ);
    if (z > best) best = z;
  }
  return best;
}

void fill_fixed_variances(SparseRows &rows, const ResampleDesign &d, double *SZ) {
  if (!d.fixed_variance) return;
  rows.vfix.resize((size_t)rows.rows());
  for (int q = 0; q < rows.rows(); q++) {
    const int b = rows.start[q], n = rows.start[q + 1] - b;
    rows.vfix[q] = score_variance_sparse(n, rows.idx.data() + b, rows.val.data() + b, d.D, d.z,
                                         d.binary ? d.v_fixed : nullptr,
                                         d.binary ? d.Iz_fixed : d.Iz, SZ);
  }
}

// |Z| of a sparse row whose variance part is not stored.
double sparse_abs_z(int n, const int *idx, const double *val, const ResampleDesign &design,
                    const ResampleNull &r, double *SZ) {
  if (design.binary) {
    double U, V;
    if (r.packed != nullptr)
      return std::fabs(score_stat_packed(n, idx, val, design.D, r.packed, r.Iz, SZ, &U, &V));
    return std::fabs(
        score_stat_sparse(n, idx, val, design.D, design.z, r.centerY, r.v, r.Iz, SZ, &U, &V));
  }
  const double var = score_variance_sparse(n, idx, val, design.D, design.z, nullptr, r.Iz, SZ);
  const double U = score_U_sparse(n, idx, val, r.centerY);
  return std::fabs(U / std::sqrt(var * r.SigmaSQ));
}

// |Z| of row q of stored rows.
double row_abs_z(const SparseRows &rows, int q, const ResampleDesign &design,
                 const ResampleNull &r, EvalWork &w) {
  const int b = rows.start[q], n = rows.start[q + 1] - b;
  const int *idx = rows.idx.data() + b;
  const double *val = rows.val.data() + b;
  w.entries += n;
  if (!design.fixed_variance) return sparse_abs_z(n, idx, val, design, r, w.SZ.data());
  const double U = score_U_sparse(n, idx, val, r.centerY);
  if (design.binary) return std::fabs(U / std::sqrt(rows.vfix[q]));
  return std::fabs(U / std::sqrt(rows.vfix[q] * r.SigmaSQ));
}

ErecSubjectRows erec_subject_rows(const ErecRows &e, int N) {
  ErecSubjectRows v;
  v.N = N;
  v.A = (int)e.act.size();
  v.n_subj = (int)e.subj.size();
  v.subj = e.subj.data();
  v.sstart = e.sstart.data();
  v.svar = e.svar.data();
  v.pos = e.pos.data();
  v.sx = e.sx.data();
  v.avg_x = e.avg_x.data();
  v.nd = e.nd.data();
  return v;
}

// EREC maximum: two |Z|, of the rows weighted by b + delta and b - delta.
double erec_statistic(const ErecRows &e, const ResampleDesign &design, const ResampleNull &r,
                      EvalWork &w, double delta, const double *U_lanes, int lane) {
  const int M = e.M;
  double *w0 = w.w0.data(), *w1 = w.w1.data();
  for (int j = 0; j < M; j++) w0[j] = w1[j] = 0.0;
  if (design.binary) {
    for (size_t a = 0; a < e.act.size(); a++) {
      const int j = e.act[a];
      double n11 = 0, others = 0;
      for (int c = e.cstart[a]; c < e.cstart[a + 1]; c++) n11 += r.permY[e.cidx[c]];
      for (int c = e.ostart[a]; c < e.ostart[a + 1]; c++) others += r.permY[e.oidx[c]];
      // Counts of 0/1 values are whole numbers: every order of the sums gives
      // the same table.
      const double n10 = e.n_car[j] - n11;
      const double n01 = r.sum_y - n11 - others;
      const double n00 = e.n_zero[j] - n01;
      const double b = erec_log_odds(n11, n10, n01, n00);
      w0[j] = b + delta;
      w1[j] = b - delta;
    }
    w.entries += (long)(e.cidx.size() + e.oidx.size());
  } else {
    // Slopes: sum over all subjects in order of (y - mean y)(x - mean x),
    // the subjects without a non-zero genotype taking x = 0.
    const int A = (int)e.act.size();
    double *U = w.Uacc.data();
    if (U_lanes != nullptr)
      for (int a = 0; a < A; a++) U[a] = U_lanes[(size_t)a * kErecLanes + lane];
    else
      erec_quan_numerators(erec_subject_rows(e, design.N), r.ycenter, U, w.dtmp.data());
    for (int a = 0; a < A; a++) {
      const int j = e.act[a];
      const double b = erec_clamp(U[a] / e.V[j]);
      w0[j] = b + delta;
      w1[j] = b - delta;
    }
    w.entries += (long)design.N * A;
  }
  bool finite0 = true, finite1 = true;
  for (int j = 0; j < M; j++) {
    if (!is_finite(w0[j])) finite0 = false;
    if (!is_finite(w1[j])) finite1 = false;
  }
  const size_t n_subj = e.subj.size();
  double *row0 = w.row0.data(), *row1 = w.row1.data();
  for (size_t u = 0; u < n_subj; u++) {
    double s0 = 0.0, s1 = 0.0;
    for (int c = e.sstart[u]; c < e.sstart[u + 1]; c++) {
      s0 += e.sx[c] * w0[e.svar[c]];
      s1 += e.sx[c] * w1[e.svar[c]];
    }
    row0[u] = s0;
    row1[u] = s1;
  }
  w.entries += 2 * (long)n_subj;
  // A non-finite weight makes every value of its row NaN (x * w for every
  // subject), hence a NaN statistic.
  const double nan = std::nan("");
  const double Z0 = finite0 ? sparse_abs_z((int)n_subj, e.subj.data(), row0, design, r,
                                           w.SZ.data())
                            : nan;
  const double Z1 = finite1 ? sparse_abs_z((int)n_subj, e.subj.data(), row1, design, r,
                                           w.SZ.data())
                            : nan;
  return Z1 > Z0 ? Z1 : Z0;
}

void build_erec_rows(const ResampleDesign &d, int M, double **x, double **x0, const double *maf,
                     double MAF_UB, bool dense, ErecRows &e) {
  const int N = d.N;
  e.M = M;
  e.active.assign((size_t)M, 0);
  for (int j = 0; j < M; j++) e.active[j] = !(maf[j] > MAF_UB);
  e.sstart.push_back(0);
  for (int i = 0; i < N; i++) {
    bool any = false;
    for (int j = 0; j < M; j++) {
      const double xij = x[i][j];
      if (xij != 0) {
        e.svar.push_back(j);
        e.sx.push_back(xij);
        any = true;
      }
    }
    if (any) {
      e.subj.push_back(i);
      e.sstart.push_back((int)e.svar.size());
    }
  }
  for (int j = 0; j < M; j++)
    if (e.active[j]) e.act.push_back(j);
  if (d.binary) {
    e.cstart.push_back(0);
    e.ostart.push_back(0);
    e.n_car.assign((size_t)M, 0);
    e.n_zero.assign((size_t)M, 0);
    for (int j : e.act) {
      for (int i = 0; i < N; i++) {
        const double g = x0[i][j];
        if (g > 0) {
          e.cidx.push_back(i);
          e.n_car[j] += 1;
        } else if (g == 0) {
          e.n_zero[j] += 1;
        } else {
          e.oidx.push_back(i);
        }
      }
      e.cstart.push_back((int)e.cidx.size());
      e.ostart.push_back((int)e.oidx.size());
    }
  } else {
    e.avg_x.assign((size_t)M, 0);
    e.V.assign((size_t)M, 0);
    e.neg_avg.assign((size_t)M, 0);
    for (int j : e.act) {
      double sum_x = 0.0;
      for (int i = 0; i < N; i++) sum_x += x[i][j];
      const double avg_x = sum_x / N;
      double V = 0.0;
      for (int i = 0; i < N; i++) {
        const double dx = x[i][j] - avg_x;
        V += dx * dx;
      }
      e.avg_x[j] = avg_x;
      e.V[j] = V;
      e.neg_avg[j] = 0.0 - avg_x;
    }
    e.pos.assign((size_t)M, -1);
    for (size_t a = 0; a < e.act.size(); a++) {
      e.pos[e.act[a]] = (int)a;
      e.nd.push_back(e.neg_avg[e.act[a]]);
    }
  }
  if (dense) {
    // Every subject takes part in the scores of a non-finite design.
    std::vector<int> subj, sstart{0}, svar;
    std::vector<double> sx;
    for (int i = 0; i < N; i++) {
      for (int j = 0; j < e.M; j++) {
        svar.push_back(j);
        sx.push_back(x[i][j]);
      }
      subj.push_back(i);
      sstart.push_back((int)svar.size());
    }
    e.subj.swap(subj);
    e.sstart.swap(sstart);
    e.svar.swap(svar);
    e.sx.swap(sx);
  }
  if (!d.binary) erec_slope_tiles(erec_subject_rows(e, N), e.tiles);
}

double resampled_statistic(const ResampledRows &g, int test, const ResampleDesign &design,
                           const ResampleNull &r, EvalWork &w) {
  if (!r.finite) return std::nan("");
  if (test < kTestVT) return row_abs_z(g.burden, test, design, r, w);
  if (test == kTestVT) {
    double best = row_abs_z(g.vt, 0, design, r, w);
    for (int l = 1; l < g.vt.rows(); l++) {
      const double z = row_abs_z(g.vt, l, design, r, w);
      if (z > best) best = z;
    }
    return best;
  }
  if (test == kTestSKAT) {
    double Q = 0.0;
    for (int j = 0; j < g.skat.rows(); j++) {
      const int b = g.skat.start[j], n = g.skat.start[j + 1] - b;
      double U = score_U_sparse(n, g.skat.idx.data() + b, g.skat.val.data() + b, r.centerY);
      if (!design.binary) U = U / r.SigmaSQ;
      w.entries += n;
      Q += U * U * g.weight_skat[j];
    }
    return Q;
  }
  return erec_statistic(g.erec, design, r, w, design.DELTA);
}

void erec_block_statistics(const ErecRows &e, const ResampleDesign &design,
                           const ResampleNull *const *block, int nb, EvalWork &w, double *T) {
  if (design.binary) {
    for (int b = 0; b < nb; b++)
      T[b] = block[b]->finite ? erec_statistic(e, design, *block[b], w, design.DELTA)
                              : std::nan("");
    return;
  }
  erec_quan_numerators_lanes(e.tiles, w.yc_lanes.data(), w.U_lanes.data());
  for (int b = 0; b < nb; b++)
    T[b] = block[b]->finite
               ? erec_statistic(e, design, *block[b], w, design.DELTA, w.U_lanes.data(), b)
               : std::nan("");
}

void erec_block_lanes(const ResampleDesign &design, const ResampleNull *const *block, int nb,
                      EvalWork &w) {
  if (design.binary) return;
  const int N = design.N;
  w.yc_lanes.assign((size_t)N * kErecLanes, 0.0);
  for (int b = 0; b < nb; b++)
    for (int i = 0; i < N; i++) w.yc_lanes[(size_t)i * kErecLanes + b] = block[b]->ycenter[i];
}
