#include "driver/gene_resampling.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/burden_tests.h"
#include "driver/common_pass.h"
#include "driver/common_resampling.h"
#include "driver/gene_results.h"
#include "numeric/parallel.h"
#include "numeric/run_output.h"
#include "stats/erec.h"
#include "stats/score.h"

namespace {


bool is_finite(double x) { return std::isfinite(x); }

// |Z| of a dense score row under the observed null model (binary: y,
// centerY, v, Iz; quantitative: the standardized trait's null model).
double observed_abs_z(const LoadedData &data, const NullModel &nm, double *row, double *SZ) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  double U, V;
  if (data.pheno.BINARY_Y)
    return std::fabs(score_stat(N, D, data.pheno.y, row, data.pheno.z, nm.centerY, nm.v, nm.Iz,
                                SZ, &U, &V));
  return std::fabs(score_stat_quanTrait(N, D, nm.scaleY, row, data.pheno.z, nm.centerY_scale,
                                        nm.SigmaSQ_scale, nm.Iz, SZ, &U, &V));
}

// Score U of a dense row under the standardized trait's null model.
double observed_quan_U(const LoadedData &data, const NullModel &nm, double *row, double *SZ) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  double U, V;
  score_stat_quanTrait(N, D, nm.scaleY, row, data.pheno.z, nm.centerY_scale, nm.SigmaSQ_scale,
                       nm.Iz, SZ, &U, &V);
  return U;
}

// Largest value of a list: the first, replaced by each later one that is
// greater (a NaN first value stays).
double largest_abs_z(const LoadedData &data, const NullModel &nm, double **rows, int n,
                     double *SZ) {
  double best = observed_abs_z(data, nm, rows[0], SZ);
  for (int l = 1; l < n; l++) {
    const double z = observed_abs_z(data, nm, rows[l], SZ);
    if (z > best) best = z;
  }
  return best;
}

bool design_finite(const LoadedData &data) {
  const long N = data.pheno.pheno_NROW, D = data.pheno.pheno_NCOL;
  for (long i = 0; i < N; i++)
    for (long d = 0; d < D; d++)
      if (!is_finite(data.pheno.z[i][d])) return false;
  return true;
}

void fill_fixed_variances(SparseRows &rows, const ResampleScheme &scheme, double *SZ) {
  if (!scheme.fixed_variance) return;
  rows.vfix.resize((size_t)rows.rows());
  for (int q = 0; q < rows.rows(); q++) {
    const int b = rows.start[q], n = rows.start[q + 1] - b;
    rows.vfix[q] = score_variance_sparse(n, rows.idx.data() + b, rows.val.data() + b, scheme.D,
                                         scheme.z, scheme.binary ? scheme.v_fixed : nullptr,
                                         scheme.binary ? scheme.Iz_fixed : scheme.Iz, SZ);
  }
}

void build_erec(const ResampleScheme &scheme, const GeneUnderTest &gene, double MAF_UB,
                ErecRows &e) {
  const int N = scheme.N, M = (int)gene.N_SNP;
  e.M = M;
  e.active.assign((size_t)M, 0);
  for (int j = 0; j < M; j++) e.active[j] = !(gene.maf[j] > MAF_UB);
  e.sstart.push_back(0);
  for (int i = 0; i < N; i++) {
    bool any = false;
    for (int j = 0; j < M; j++) {
      const double x = gene.x[i][j];
      if (x != 0) {
        e.svar.push_back(j);
        e.sx.push_back(x);
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
  if (scheme.binary) {
    e.cstart.push_back(0);
    e.ostart.push_back(0);
    e.n_car.assign((size_t)M, 0);
    e.n_zero.assign((size_t)M, 0);
    for (int j : e.act) {
      for (int i = 0; i < N; i++) {
        const double g = gene.x0[i][j];
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
      for (int i = 0; i < N; i++) sum_x += gene.x[i][j];
      const double avg_x = sum_x / N;
      double V = 0.0;
      for (int i = 0; i < N; i++) {
        const double dx = gene.x[i][j] - avg_x;
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
}

template <class T>
size_t vec_bytes(const std::vector<T> &v) {
  return v.capacity() * sizeof(T);
}

// |Z| of a sparse row whose variance part is not stored.
double sparse_abs_z(int n, const int *idx, const double *val, const ResampleScheme &scheme,
                    const Resample &r, double *SZ) {
  if (scheme.binary) {
    double U, V;
    if (r.packed != nullptr)
      return std::fabs(score_stat_packed(n, idx, val, scheme.D, r.packed, r.Iz, SZ, &U, &V));
    return std::fabs(
        score_stat_sparse(n, idx, val, scheme.D, scheme.z, r.centerY, r.v, r.Iz, SZ, &U, &V));
  }
  const double var = score_variance_sparse(n, idx, val, scheme.D, scheme.z, nullptr, r.Iz, SZ);
  const double U = score_U_sparse(n, idx, val, r.centerY);
  return std::fabs(U / std::sqrt(var * r.SigmaSQ));
}

// |Z| of row q of stored rows.
double row_abs_z(const SparseRows &rows, int q, const ResampleScheme &scheme, const Resample &r,
                 EvalWork &w) {
  const int b = rows.start[q], n = rows.start[q + 1] - b;
  const int *idx = rows.idx.data() + b;
  const double *val = rows.val.data() + b;
  w.entries += n;
  if (!scheme.fixed_variance) return sparse_abs_z(n, idx, val, scheme, r, w.SZ.data());
  const double U = score_U_sparse(n, idx, val, r.centerY);
  if (scheme.binary) return std::fabs(U / std::sqrt(rows.vfix[q]));
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

// EREC maximum of resample r. A quantitative trait's slope numerators come
// from U_lanes (lane `lane` of the block's side-by-side sums) when given,
// else they are summed here one resample at a time.
double erec_statistic(const PooledGene &g, const ResampleScheme &scheme, const Resample &r,
                      EvalWork &w, double delta, const double *U_lanes = nullptr,
                      int lane = 0) {
  const ErecRows &e = g.erec;
  const int M = e.M;
  double *w0 = w.w0.data(), *w1 = w.w1.data();
  for (int j = 0; j < M; j++) w0[j] = w1[j] = 0.0;
  if (scheme.binary) {
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
      erec_quan_numerators(erec_subject_rows(e, scheme.N), r.ycenter, U, w.dtmp.data());
    for (int a = 0; a < A; a++) {
      const int j = e.act[a];
      const double b = erec_clamp(U[a] / e.V[j]);
      w0[j] = b + delta;
      w1[j] = b - delta;
    }
    w.entries += (long)scheme.N * A;
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
  const double Z0 = finite0 ? sparse_abs_z((int)n_subj, e.subj.data(), row0, scheme, r,
                                           w.SZ.data())
                            : nan;
  const double Z1 = finite1 ? sparse_abs_z((int)n_subj, e.subj.data(), row1, scheme, r,
                                           w.SZ.data())
                            : nan;
  return Z1 > Z0 ? Z1 : Z0;
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

size_t PooledGene::bytes() const {
  return sizeof(PooledGene) + geneID.capacity() + burden.bytes() + vt.bytes() + skat.bytes() +
         vec_bytes(weight_skat) + erec.bytes() + pending.text.capacity() +
         pending.actions.capacity() * sizeof(OutputRecord::Action);
}

bool prepare_gene_resampling(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const ResampleScheme &scheme,
                             RunArrays &run, const GeneUnderTest &gene, const FamilyRows &rows,
                             PooledGene &g) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  const long k = gene.k;
  const bool binary = data.pheno.BINARY_Y != 0;
  const bool additive = genetic_model(settings) == 1;
  const int N_FIX = run.N_FIX;
  std::vector<double> SZ((size_t)D, 0.0);
  g.n_fix = N_FIX;

  // Observed statistics.
  double wstat[3] = {0, 0, 0};
  for (int t = 0; t < N_FIX; t++)
    wstat[t] = binary ? run.wstat[t] : observed_abs_z(data, null_model, run.S[t], SZ.data());
  const int N_VT = rows.n_var, N_SKAT = rows.n_skat;
  double vt_stat = 0, skat_stat = 0;
  if (N_VT > 0) {
    if (binary && rows.vt_stat_set)
      vt_stat = rows.vt_stat;
    else
      vt_stat = largest_abs_z(data, null_model, rows.S_var, N_VT, SZ.data());
  }
  if (N_SKAT > 0) {
    if (binary) {
      skat_stat = rows.skat_stat;
    } else {
      skat_stat = 0.0;
      for (int j = 0; j < N_SKAT; j++) {
        const double U = observed_quan_U(data, null_model, rows.S_skat[j], SZ.data());
        skat_stat += U * U * rows.weight_skat[j];
      }
    }
  }
  double erec_stat = std::nan("");
  if (additive) {
    const int M = (int)gene.N_SNP;
    if (binary)
      getS_opp(N, M, data.pheno.y, gene.x0, gene.x, run.S_opp, gene.maf, settings.MAF_UB,
               null_model.DELTA);
    else
      getS_opp_quan(N, M, null_model.scaleY, gene.x, run.S_opp, gene.maf, settings.MAF_UB,
                    null_model.DELTA);
    const double Z0 = observed_abs_z(data, null_model, run.S_opp[0], SZ.data());
    const double Z1 = observed_abs_z(data, null_model, run.S_opp[1], SZ.data());
    erec_stat = Z1 > Z0 ? Z1 : Z0;
  }

  // Which tests take part: a finite observed statistic (and rows to resample).
  double *slot[kTests] = {run.pvalue_perm[0] + k, run.pvalue_perm[1] + k,
                          N_FIX > 2 ? run.pvalue_perm[2] + k : nullptr, run.pvalue_perm_vt + k,
                          run.pvalue_perm_skat + k, run.pvalue_opp + k};
  double obs[kTests] = {wstat[0], wstat[1], wstat[2], vt_stat, skat_stat, erec_stat};
  bool part[kTests] = {false, false, false, false, false, false};
  for (int t = 0; t < N_FIX; t++) part[t] = is_finite(wstat[t]);
  part[kTestVT] = N_VT > 0 && is_finite(vt_stat);
  part[kTestSKAT] = N_SKAT > 0 && is_finite(skat_stat);
  part[kTestEREC] = additive && is_finite(erec_stat);

  // A gene whose burden tests, VT (asymptotic) and EREC are all unavailable
  // is not resampled, whatever SKAT's state.
  bool resampled = part[kTestEREC] || run.pvalue_vt[k] != 99;
  for (int t = 0; t < N_FIX; t++) resampled = resampled || run.pvalue[t][k] != 99;
  for (int t = 0; t < kTests; t++)
    if (slot[t] != nullptr) *slot[t] = 99;
  g.resampled = resampled;
  if (!resampled) return false;

  const bool dense = !design_finite(data);
  for (int t = 0; t < kTests; t++) {
    g.part[t] = part[t] && slot[t] != nullptr;
    g.test[t].obs = obs[t];
    g.test[t].n = 0.0;
    g.test[t].slot = slot[t];
    g.test[t].in_play = g.part[t];
    if (g.part[t]) *slot[t] = 0.0;
  }
  for (int t = 0; t < N_FIX; t++) g.burden.add(run.S[t], N, dense);
  fill_fixed_variances(g.burden, scheme, SZ.data());
  if (g.part[kTestVT]) {
    for (int l = 0; l < N_VT; l++) g.vt.add(rows.S_var[l], N, dense);
    fill_fixed_variances(g.vt, scheme, SZ.data());
  }
  if (g.part[kTestSKAT]) {
    for (int j = 0; j < N_SKAT; j++) g.skat.add(rows.S_skat[j], N, dense);
    g.weight_skat.assign(rows.weight_skat, rows.weight_skat + N_SKAT);
  }
  g.erec_on = g.part[kTestEREC];
  if (g.erec_on) {
    build_erec(scheme, gene, settings.MAF_UB, g.erec);
    if (dense) {
      // Every subject takes part in the scores of a non-finite design.
      ErecRows &e = g.erec;
      std::vector<int> subj, sstart{0}, svar;
      std::vector<double> sx;
      for (int i = 0; i < N; i++) {
        for (int j = 0; j < e.M; j++) {
          svar.push_back(j);
          sx.push_back(gene.x[i][j]);
        }
        subj.push_back(i);
        sstart.push_back((int)svar.size());
      }
      e.subj.swap(subj);
      e.sstart.swap(sstart);
      e.svar.swap(svar);
      e.sx.swap(sx);
    }
    if (!binary) erec_slope_tiles(erec_subject_rows(g.erec, N), g.erec.tiles);
  }
  return true;
}

void keep_row_values(const RunArrays &run, PooledGene &g) {
  for (int t = 0; t < run.N_FIX; t++) {
    g.mac_fix[t] = run.mac_fix[t];
    g.U[t] = run.pvalue_U[t];
    g.V[t] = run.pvalue_V[t];
  }
}

void write_result_row(const Settings &settings, RunArrays &run, const PooledGene &g) {
  if (g.variant) {
    CommonVariant v;
    v.k = g.k;
    v.snpID = g.geneID.c_str();
    v.U = g.com_U;
    v.V = g.com_V;
    append_common_row(settings, run, v);
    return;
  }
  for (int t = 0; t < run.N_FIX; t++) {
    run.mac_fix[t] = g.mac_fix[t];
    run.pvalue_U[t] = g.U[t];
    run.pvalue_V[t] = g.V[t];
  }
  write_gene_row(settings, run, g.k, g.geneID.c_str());
}

double resampled_statistic(const PooledGene &g, int test, const ResampleScheme &scheme,
                           const Resample &r, EvalWork &w) {
  if (!r.finite) return std::nan("");
  if (test < kTestVT) return row_abs_z(g.burden, test, scheme, r, w);
  if (test == kTestVT) {
    double best = row_abs_z(g.vt, 0, scheme, r, w);
    for (int l = 1; l < g.vt.rows(); l++) {
      const double z = row_abs_z(g.vt, l, scheme, r, w);
      if (z > best) best = z;
    }
    return best;
  }
  if (test == kTestSKAT) {
    double Q = 0.0;
    for (int j = 0; j < g.skat.rows(); j++) {
      const int b = g.skat.start[j], n = g.skat.start[j + 1] - b;
      double U = score_U_sparse(n, g.skat.idx.data() + b, g.skat.val.data() + b, r.centerY);
      if (!scheme.binary) U = U / r.SigmaSQ;
      w.entries += n;
      Q += U * U * g.weight_skat[j];
    }
    return Q;
  }
  return erec_statistic(g, scheme, r, w, scheme.DELTA);
}

static_assert(kResampleBlock <= kErecLanes, "a block of resamples fits the EREC lanes");

void erec_block_statistics(const PooledGene &g, const ResampleScheme &scheme,
                           Resample *const *block, int nb, EvalWork &w, double *T) {
  if (scheme.binary) {
    for (int b = 0; b < nb; b++) T[b] = resampled_statistic(g, kTestEREC, scheme, *block[b], w);
    return;
  }
  erec_quan_numerators_lanes(g.erec.tiles, w.yc_lanes.data(), w.U_lanes.data());
  for (int b = 0; b < nb; b++)
    T[b] = block[b]->finite
               ? erec_statistic(g, scheme, *block[b], w, scheme.DELTA, w.U_lanes.data(), b)
               : std::nan("");
}

void erec_block_lanes(const ResampleScheme &scheme, Resample *const *block, int nb,
                      EvalWork &w) {
  if (scheme.binary) return;
  const int N = scheme.N;
  w.yc_lanes.assign((size_t)N * kErecLanes, 0.0);
  for (int b = 0; b < nb; b++)
    for (int i = 0; i < N; i++) w.yc_lanes[(size_t)i * kErecLanes + b] = block[b]->ycenter[i];
}

namespace {

const char *const kTestName[kTests] = {"T1", "T5", "MB", "VT", "SKAT", "EREC"};

void begin_capture(GenePool &p) {
  p.capture.clear();
  p.saved_capture = output_capture();
  set_output_capture(&p.capture);
  p.capturing = true;
}

// Ends the capture and moves what it holds into record.
void end_capture(GenePool &p, OutputRecord &record) {
  if (!p.capturing) return;
  p.capturing = false;
  set_output_capture(p.saved_capture);
  const size_t base = record.text.size();
  record.text += p.capture.text;
  for (OutputRecord::Action &a : p.capture.actions)
    record.actions.push_back({base + a.at, std::move(a.run)});
  if (p.capture.stop) record.stop = p.capture.stop;
  p.capture.clear();
}

// Writes what a gene's record holds (its text, message-log lines and other
// deferred writes, in order) and empties it.
void write_pending(PooledGene &g) {
  g.pending.stop.reset();
  commit_output(g.pending);
  g.pending.clear();
}

void write_row(GenePool &p, PooledGene &g) { write_result_row(*p.settings, *p.run, g); }

// Writes and drops the queued genes before stop (all finished), then makes
// stop live (its pending text written).
void flush_until(GenePool &p, PooledGene *stop) {
  while (!p.queue.empty() && p.queue.front().get() != stop) {
    std::unique_ptr<PooledGene> g = std::move(p.queue.front());
    p.queue.pop_front();
    if (!g->live) write_pending(*g);
    if (g->has_row) write_row(p, *g);
    p.bytes -= g->counted;
    if (g->resampled) p.waiting--;
  }
  if (stop != nullptr && !stop->live) {
    write_pending(*stop);
    stop->live = true;
  }
}

void gene_warning(GenePool &p, PooledGene &g, const char *test_name) {
  char buf[1400];
  if (g.variant)
    snprintf(buf, sizeof buf,
             "SNP %s Warning: The resampling p-value <1e-4 after 1 million resamples, so the "
             "p-value may not be accurate.\n",
             g.geneID.c_str());
  else
    snprintf(buf, sizeof buf,
             "GENE %s Warning: The resampling p-value of %s test<1e-4 after 1 million "
             "resamples, so the p-value may not be accurate.\n",
             g.geneID.c_str(), test_name);
  if (g.live)
    report_warning(*p.log, "%s", buf);
  else
    capture_output(g.pending, [&] { report_warning(*p.log, "%s", buf); });
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long env_long(const char *name, long fallback) {
  const char *v = getenv(name);
  if (v == nullptr || *v == 0) return fallback;
  return atol(v);
}

// Ranges of a stage of `count` resamples: one per thread, at most one per
// block of resamples; the ranges' blocks are allocated on first use.
int stage_ranges(GenePool &p, long count) {
  long nr = std::min<long>(p.threads, (count + kResampleBlock - 1) / kResampleBlock);
  if (nr < 1) nr = 1;
  if (p.ranges.size() < (size_t)nr) p.ranges.resize((size_t)nr);
  for (long t = 1; t < nr; t++) {
    std::vector<Resample> &block = p.ranges[(size_t)t].block;
    if (!block.empty()) continue;
    block.resize(kResampleBlock);
    for (Resample &x : block) alloc_resample(*p.scheme, x);
  }
  return (int)nr;
}

// Makes the resamples of a range from its first on, block by block, and
// counts the hits of every test in play on them. Runs on the range's
// thread: the generators (thread-local) start at range.from; the genes in
// play, the scheme and the cache rows of other ranges are only read.
// A range after one that stopped the run (first_stop) quits: its output is
// never written.
void run_range(GenePool &p, const std::vector<PooledGene *> &play,
               const std::vector<PooledGene *> &variants, StageRange &range, int index,
               const std::atomic<int> &first_stop) {
  ResampleScheme &scheme = *p.scheme;
  Resample *block[kResampleBlock];
  const bool own = &range != &p.ranges[0];
  for (int b = 0; b < kResampleBlock; b++)
    block[b] = own ? &range.block[(size_t)b] : b == 0 ? p.r : &p.extra[(size_t)b - 1];
  seek_resample(scheme, range.from);
  EvalWork &work = range.work;
  for (long s0 = range.from; s0 < range.to; s0 += kResampleBlock) {
    if (first_stop.load(std::memory_order_relaxed) < index) return;
    const int nb = (int)std::min<long>(kResampleBlock, range.to - s0);
    auto t0 = std::chrono::steady_clock::now();
    // Made in the order of s (a refit's warning or a fatal stop falls where
    // it would); the evaluations print nothing.
    for (int b = 0; b < nb; b++) {
      make_resample(scheme, s0 + b, *block[b], false);
      if (block[b]->refit_warned) range.refit_warnings++;
    }
    erec_block_lanes(scheme, block, nb, work);
    auto t1 = std::chrono::steady_clock::now();
    if (!variants.empty())
      variant_block_hits(variants.data(), (int)variants.size(), block, nb, scheme, work,
                         range.vhits.data());
    for (size_t i = 0; i < play.size(); i++) {
      const PooledGene &g = *play[i];
      if (g.variant) continue;
      for (int t = 0; t < kTests; t++) {
        const ResampleTest &test = g.test[t];
        if (!test.in_play) continue;
        long &hits = range.hits[i * kTests + t];
        if (t == kTestEREC) {
          double T[kResampleBlock];
          erec_block_statistics(g, scheme, block, nb, work, T);
          for (int b = 0; b < nb; b++)
            if (is_hit(T[b], test.obs)) hits++;
          continue;
        }
        for (int b = 0; b < nb; b++)
          if (is_hit(resampled_statistic(g, t, scheme, *block[b], work), test.obs)) hits++;
      }
    }
    if (p.report) {
      range.make_s += std::chrono::duration<double>(t1 - t0).count();
      range.eval_s += seconds_since(t1);
    }
  }
}

}  // namespace

void init_gene_pool(const Settings &settings, RunArrays &run, MessageLog &log,
                    ResampleScheme &scheme, Resample &r, GenePool &pool) {
  pool.settings = &settings;
  pool.run = &run;
  pool.log = &log;
  pool.scheme = &scheme;
  pool.r = &r;
  pool.max_genes = env_long("QUORVEX_RESAMPLE_POOL", 0);
  const long max_bytes = env_long("QUORVEX_RESAMPLE_POOL_BYTES", 1L << 30);
  pool.max_bytes = max_bytes > 0 ? (size_t)max_bytes : (size_t)1 << 30;
  pool.report = env_long("QUORVEX_RESAMPLE_REPORT", 0) != 0;
  pool.work.SZ.assign((size_t)scheme.D, 0.0);
  pool.extra.resize(kResampleBlock - 1);
  for (Resample &x : pool.extra) alloc_resample(scheme, x);
  pool.threads = thread_count();
  pool.ranges.resize(1);
}

void pool_begin_gene(GenePool &pool) {
  if (!pool.queue.empty()) begin_capture(pool);
}

void pool_end_gene(GenePool &pool, std::unique_ptr<PooledGene> g) {
  end_capture(pool, g->pending);
  if (pool.queue.empty() && !g->resampled) {
    if (g->has_row) write_row(pool, *g);
    return;
  }
  if (pool.queue.empty()) g->live = true;  // its text went out directly
  if (g->resampled) {
    EvalWork &w = pool.work;
    const size_t M = (size_t)g->erec.M, n_subj = g->erec.subj.size();
    if (w.w0.size() < M) w.w0.resize(M), w.w1.resize(M), w.Uacc.resize(M), w.dtmp.resize(M);
    if (w.U_lanes.size() < M * kErecLanes) w.U_lanes.resize(M * kErecLanes);
    if (w.row0.size() < n_subj) w.row0.resize(n_subj), w.row1.resize(n_subj);
    pool.waiting++;
  }
  g->counted = g->bytes();
  pool.bytes += g->counted;
  pool.peak_bytes = std::max(pool.peak_bytes, pool.bytes);
  pool.queue.push_back(std::move(g));
  if ((pool.max_genes > 0 && pool.waiting >= pool.max_genes) || pool.bytes >= pool.max_bytes)
    run_pool(pool);
}

void run_pool(GenePool &p) {
  if (p.waiting == 0) {
    flush_until(p, nullptr);
    return;
  }
  p.running = true;
  p.pool_number++;
  ResampleScheme &scheme = *p.scheme;
  std::vector<PooledGene *> play;
  for (int stage = 1; stage <= 4; stage++) {
    if (stage == 4 && scheme.mmore != 1) break;
    play.clear();
    for (auto &g : p.queue) {
      if (!g->resampled || g->finished) continue;
      bool in = stage == 1;
      for (int t = 0; t < kTests; t++) in = in || g->test[t].in_play;
      if (in)
        play.push_back(g.get());
      else
        g->finished = true;
    }
    if (play.empty()) break;
    // Variants (one dense column each) are evaluated together in lanes.
    std::vector<PooledGene *> variants;
    for (PooledGene *g : play)
      if (g->variant && g->test[0].in_play) variants.push_back(g);
    flush_until(p, play[0]);
    const long first = stage_first(stage), end = stage_end(stage, scheme);
    const auto wall0 = std::chrono::steady_clock::now();
    const int nr = stage_ranges(p, end - first);
    for (int t = 0; t < nr; t++) {
      StageRange &range = p.ranges[t];
      range.from = first + (end - first) * t / nr;
      range.to = first + (end - first) * (t + 1) / nr;
      range.work = p.work;
      range.work.entries = 0;
      range.hits.assign(play.size() * kTests, 0);
      range.vhits.assign(variants.size(), 0);
      range.refit_warnings = 0;
      range.make_s = range.eval_s = 0;
    }
    // Each range in a capture on its thread, replayed in range order: the
    // refit warnings in the order of s, and a fatal stop in range r after
    // the text of ranges 0..r-1 (the later ranges' text is dropped). A
    // single range is captured too, so that a stop unwinds its work (and
    // frees its storage) before the run ends.
    std::atomic<int> first_stop(nr);
    if (nr == 1) {
      OutputRecord record;
      capture_output(record, [&] { run_range(p, play, variants, p.ranges[0], 0, first_stop); });
      commit_output(record);
    } else {
      run_in_order(nr, nr, nr, [&](long t, int) {
        try {
          run_range(p, play, variants, p.ranges[(size_t)t], (int)t, first_stop);
        } catch (const RunStop &) {
          int seen = first_stop.load();
          while ((int)t < seen && !first_stop.compare_exchange_weak(seen, (int)t)) {
          }
          throw;
        }
      });
    }
    mark_refits_stored(scheme, first, end);
    long refit_warnings = 0, entries = 0;
    double make_s = 0, eval_s = 0;
    for (int t = 0; t < nr; t++) {
      const StageRange &range = p.ranges[t];
      for (size_t i = 0; i < play.size(); i++)
        for (int k = 0; k < kTests; k++) play[i]->test[k].n += (double)range.hits[i * kTests + k];
      for (size_t v = 0; v < variants.size(); v++)
        variants[v]->test[0].n += (double)range.vhits[v];
      refit_warnings += range.refit_warnings;
      entries += range.work.entries;
      make_s += range.make_s;
      eval_s += range.eval_s;
    }
    for (PooledGene *g : play) {
      // Refits beyond the cache are made again by every gene in play: each
      // prints their warnings (the live gene's went out as they happened).
      if (!g->live)
        for (long c = 0; c < (stage == 4 ? refit_warnings : 0); c++)
          g->pending.text += kRefitWarning;
      for (int t = 0; t < kTests; t++)
        if (g->test[t].in_play && end_stage(g->test[t], stage, scheme))
          gene_warning(p, *g, kTestName[t]);
    }
    if (p.report)
      fprintf(stderr,
              "resampling pool %d stage %d: %ld resamples, %zu genes in play, %d threads, "
              "%.3f s, making %.3f s, evaluating %.3f s (thread sums), %ld entries, %.2f ns per "
              "entry\n",
              p.pool_number, stage, end - first, play.size(), nr, seconds_since(wall0), make_s,
              eval_s, entries, entries > 0 ? eval_s * 1e9 / (double)entries : 0.0);
  }
  for (auto &g : p.queue) g->finished = true;
  p.running = false;
  flush_until(p, nullptr);
}

void feed_gene_pool(GenePool &pool, const std::function<void()> &feed) {
  try {
    feed();
  } catch (const RunStop &) {
    if (!pool.capturing) throw;
    // A stop in a gene set up while earlier genes wait: they are resampled
    // and written first, as the gene-by-gene order has them, then the
    // stopped gene's text; the stop goes on. A stop while resampling them
    // replaces it (the stopped gene then never started).
    OutputRecord stopped;
    end_capture(pool, stopped);
    run_pool(pool);
    stopped.stop.reset();
    commit_output(stopped);
    throw;
  }
}

void finish_gene_pool(GenePool &pool) {
  run_pool(pool);
  for (Resample &x : pool.extra) free_resample(*pool.scheme, x);
  pool.extra.clear();
  for (StageRange &range : pool.ranges)
    for (Resample &x : range.block) free_resample(*pool.scheme, x);
  pool.ranges.clear();
  if (pool.report) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    fprintf(stderr, "resampling pool peak %.1f MB, run peak resident %.1f MB\n",
            (double)pool.peak_bytes / 1e6, (double)usage.ru_maxrss / 1e3);
  }
}
