#include "stats/families.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "stats/burden.h"

namespace {

// A genotype below this value is missing; above kAllele it carries a minor
// allele in the VT dominant and recessive scores; above kCarrier it counts in
// the customized minor-allele count.
constexpr double kMissing = -0.1;
constexpr double kAllele = 0.5;
constexpr double kCarrier = 0.1;

// Collinearity bound on |det(X'X)| of the validity check.
constexpr double kSingularDet = 1e-20;

// Subjects per block when the genotype columns are copied into score rows.
constexpr int kTransposeBlock = 64;

// How the null model weights the subjects: the per-subject variances v of a
// binary trait, or the residual variance SigmaSQ of a quantitative trait.
struct NullWeighting {
  const double *v;  // binary: v[0..N-1]; quantitative: nullptr
  double SigmaSQ;   // quantitative only
  bool binary() const { return v != nullptr; }
};

bool all_finite(const double *x, int n) {
  for (int i = 0; i < n; i++)
    if (!std::isfinite(x[i])) return false;
  return true;
}

bool all_finite(double **x, int rows, int cols) {
  for (int r = 0; r < rows; r++)
    if (!all_finite(x[r], cols)) return false;
  return true;
}

// The covariates z[0..N-1][0..p-1] of the last call: whether they are all
// finite, and Z'Z, the block of the collinearity check's X'X that is the
// same for every score (block[a*p + b] = sum_i z_ia z_ib in subject order).
// A call with the same values (compared bit for bit, so another or a changed
// design is never taken for them) reuses both.
struct Covariates {
  int N = -1, p = -1;
  std::vector<uint64_t> bits;
  bool finite = false;
  std::vector<double> block;
};

const Covariates &covariates(int N, int p, double **z) {
  thread_local Covariates c;
  bool same = c.N == N && c.p == p;
  for (int i = 0; i < N && same; i++)
    for (int d = 0; d < p; d++) {
      uint64_t u;
      std::memcpy(&u, &z[i][d], sizeof u);
      if (u != c.bits[static_cast<size_t>(i) * p + d]) {
        same = false;
        break;
      }
    }
  if (same) return c;
  c.N = N;
  c.p = p;
  c.bits.resize(static_cast<size_t>(N) * p);
  for (int i = 0; i < N; i++)
    std::memcpy(c.bits.data() + static_cast<size_t>(i) * p, z[i], sizeof(double) * p);
  c.finite = all_finite(z, N, p);
  c.block.assign(static_cast<size_t>(p) * p, 0.0);
  for (int i = 0; i < N; i++)
    for (int a = 0; a < p; a++)
      for (int b = 0; b < p; b++) c.block[static_cast<size_t>(a) * p + b] += z[i][a] * z[i][b];
  return c;
}

// A score is constant when every subject's value equals the first; a NaN
// never compares equal, so a NaN score is not constant.
bool score_is_constant(int n, const double *score) {
  for (int i = 0; i < n; i++)
    if (!(score[i] == score[0])) return false;
  return true;
}

// The non-zero values of each score row: row l's subjects nz[l] in
// ascending order with their values val[l]. Empty (no rows) when the full
// passes are taken instead.
struct SparseRows {
  std::vector<std::vector<int>> nz;
  std::vector<std::vector<double>> val;
  bool empty() const { return nz.empty(); }
};

// checkWarning_Quorvex of a score given by its non-zero subjects nz and
// values val (finite) with the fixed
// block of finite covariates: X'X assembled from the block and the score's
// sums over nz, entry by entry the values of the full pass.
void check_score(int n, int p, const std::vector<int> &nz, const std::vector<double> &val,
                 double **z, const std::vector<double> &block, int *singular_score,
                 int *singular_covariates) {
  *singular_score = 0;
  *singular_covariates = 0;
  // Every value equals the first exactly when the row is all zeros (+0.0
  // and -0.0 compare equal) or has no zero and its values are all equal: a
  // row with a zero and a non-zero value is not constant.
  bool constant = nz.empty();
  if (nz.size() == static_cast<size_t>(n) && n > 0) {
    constant = true;
    for (double x : val)
      if (!(x == val[0])) constant = false;
  }
  const int np = p + 1;
  double **XX = dmatrix(1, np, 1, np);
  for (int a = 1; a <= np; a++)
    for (int b = 1; b <= np; b++)
      XX[a][b] = a >= 2 && b >= 2 ? block[static_cast<size_t>(a - 2) * p + (b - 2)] : 0.0;
  for (size_t e = 0; e < nz.size(); e++) {
    const int i = nz[e];
    const double s = val[e];
    XX[1][1] += s * s;
    for (int d = 0; d < p; d++) {
      XX[1][d + 2] += s * z[i][d];
      XX[d + 2][1] += z[i][d] * s;
    }
  }
  if (constant) *singular_score = 1;
  if (std::fabs(Determinant(XX, np)) < kSingularDet) *singular_covariates = 1;
  free_dmatrix(XX, 1, np, 1, np);
}

// Null flags from the counts and the validity check: a score is null when its
// count is below MAC_LB or it is constant or collinear with the covariates.
// Returns the number of valid scores. rows: the rows' non-zero values when
// the covariates and the rows are all finite (the check then takes them and
// the fixed covariate block Z'Z, *block, and S is not read), else empty.
int flag_scores(int N, int p, int K, double **S, double **z, const int *mac, int MAC_LB,
                double *U, int *null_flag, const SparseRows &rows,
                const std::vector<double> *block) {
  int valid = 0;
  for (int l = 0; l < K; l++) {
    int singular_score = 0, singular_covariates = 0;
    if (rows.empty())
      checkWarning_Quorvex(N, p, S[l], z, &singular_score, &singular_covariates);
    else
      check_score(N, p, rows.nz[static_cast<size_t>(l)], rows.val[static_cast<size_t>(l)], z,
                  *block, &singular_score, &singular_covariates);
    if (mac[l] < MAC_LB || singular_score == 1 || singular_covariates == 1) {
      null_flag[l] = 1;
      U[l] = 0.0;
    } else {
      null_flag[l] = 0;
      valid++;
    }
  }
  return valid;
}

// The valid scores of each subject with their non-zero values, in score
// order: subject i's are score/value[start[i] .. start[i+1]-1].
struct ScoresBySubject {
  std::vector<int> start, score;
  std::vector<double> value;
  ScoresBySubject() = default;
  ScoresBySubject(int N, int K, const int *null_flag, const SparseRows &rows)
      : start(static_cast<size_t>(N) + 1, 0) {
    const auto &nz = rows.nz;
    for (int l = 0; l < K; l++)
      if (null_flag[l] == 0)
        for (int i : nz[static_cast<size_t>(l)]) start[static_cast<size_t>(i) + 1]++;
    for (int i = 0; i < N; i++) start[static_cast<size_t>(i) + 1] += start[static_cast<size_t>(i)];
    score.resize(static_cast<size_t>(start[static_cast<size_t>(N)]));
    value.resize(score.size());
    std::vector<int> next(start.begin(), start.end() - 1);
    for (int l = 0; l < K; l++)
      if (null_flag[l] == 0)
        for (size_t f = 0; f < nz[static_cast<size_t>(l)].size(); f++) {
          const int i = nz[static_cast<size_t>(l)][f];
          const size_t e = static_cast<size_t>(next[static_cast<size_t>(i)]++);
          score[e] = l;
          value[e] = rows.val[static_cast<size_t>(l)][f];
        }
  }
};

// Whether the covariance takes its sums over the rows' non-zero values: the
// rows are given (finite rows and covariates) and the null model's vectors
// are finite.
bool sparse_sums(int N, const double *centerY, const NullWeighting &w, const SparseRows &rows) {
  return !rows.empty() && all_finite(centerY, N) && (!w.binary() || all_finite(w.v, N));
}

// Score vector and covariance of the valid scores S[0..K-1][0..N-1] (S is
// read only by the full passes, and may be null when sparse_sums holds).
//
// The residual weighting R = V - V Z Iz Z' V (binary) or s2 (I - Z Iz Z')
// (quantitative) is never formed: with a_l = Z' W S_l (W = V, resp. I),
// S_l' R S_m = S_l' W S_m - a_l' Iz a_m (times s2 for a quantitative trait).
// Scores whose covariance diagonal is <= 0 are nulled in score order, as
// each row is completed. Returns the final number of valid scores.
int score_and_covariance(int N, int p, int K, double **S, double **z, const double *centerY,
                         const NullWeighting &w, double **Iz, int valid, int *null_flag, double *U,
                         double **cov, const SparseRows &rows) {
  for (int l = 0; l < K; l++)
    for (int m = 0; m < K; m++) cov[l][m] = 0.0;
  if (valid == 0) return 0;

  const bool binary = w.binary();
  // Sums over the non-zero subjects of each row when every other factor is
  // finite (see RowSupport).
  const bool sparse = sparse_sums(N, centerY, w, rows);
  const auto &nz = rows.nz;
  // a[l] = sum_i w_i S_l[i] z_i; r[l] = a[l]' Iz.
  double **a = dmatrix(0, K - 1, 0, p - 1);
  double **r = dmatrix(0, K - 1, 0, p - 1);
  for (int l = 0; l < K; l++) {
    if (null_flag[l] != 0) continue;
    for (int d = 0; d < p; d++) a[l][d] = 0.0;
    if (sparse) {
      const std::vector<double> &val = rows.val[static_cast<size_t>(l)];
      for (size_t e = 0; e < val.size(); e++) {
        const int i = nz[static_cast<size_t>(l)][e];
        double wi = binary ? w.v[i] * val[e] : val[e];
        for (int d = 0; d < p; d++) a[l][d] += wi * z[i][d];
      }
    } else {
      for (int i = 0; i < N; i++) {
        double wi = binary ? w.v[i] * S[l][i] : S[l][i];
        for (int d = 0; d < p; d++) a[l][d] += wi * z[i][d];
      }
    }
    for (int d = 0; d < p; d++) {
      double sum = 0.0;
      for (int dd = 0; dd < p; dd++) sum += a[l][dd] * Iz[dd][d];
      r[l][d] = sum;
    }
  }
  const double s2 = binary ? 1.0 : static_cast<double>(N) * w.SigmaSQ / static_cast<double>(N - p);
  const double var2 = binary ? 1.0 : w.SigmaSQ * w.SigmaSQ;

  // Sparse sums of products: g[l][m] = sum over nz[l] of w_i S_l[i] S_m[i]
  // takes only the subjects where S_m is not zero either, from the valid
  // scores of each subject (by_subject). A skipped term is a zero, so each
  // sum has the same terms in the same order; a pair without a shared
  // subject has g = +0.0, as the full sum of zeros.
  const ScoresBySubject by_subject = sparse ? ScoresBySubject(N, K, null_flag, rows)
                                            : ScoresBySubject();
  std::vector<double> g_row(sparse ? static_cast<size_t>(K) : 0, 0.0);
  std::vector<int> touched;

  for (int l = 0; l < K; l++) {
    if (null_flag[l] != 0) continue;
    double u = 0.0;
    if (sparse) {
      const std::vector<double> &val = rows.val[static_cast<size_t>(l)];
      for (size_t e = 0; e < val.size(); e++) u += centerY[nz[static_cast<size_t>(l)][e]] * val[e];
    } else
      for (int i = 0; i < N; i++) u += centerY[i] * S[l][i];
    U[l] = binary ? u : u / w.SigmaSQ;

    if (sparse) {
      const std::vector<double> &val = rows.val[static_cast<size_t>(l)];
      for (size_t e0 = 0; e0 < val.size(); e0++) {
        const int i = nz[static_cast<size_t>(l)][e0];
        const double f = binary ? w.v[i] * val[e0] : val[e0];
        for (int e = by_subject.start[static_cast<size_t>(i)];
             e < by_subject.start[static_cast<size_t>(i) + 1]; e++) {
          const int m = by_subject.score[static_cast<size_t>(e)];
          if (m < l) continue;
          if (g_row[static_cast<size_t>(m)] == 0.0) touched.push_back(m);
          g_row[static_cast<size_t>(m)] += f * by_subject.value[static_cast<size_t>(e)];
        }
      }
    }
    for (int m = 0; m < K; m++) {
      if (null_flag[m] != 0) continue;
      if (m < l) {
        // Row m is complete and m is still valid: the covariance is symmetric.
        cov[l][m] = cov[m][l];
        continue;
      }
      double g = 0.0;
      if (sparse)
        g = g_row[static_cast<size_t>(m)];
      else if (binary)
        for (int i = 0; i < N; i++) g += w.v[i] * S[l][i] * S[m][i];
      else
        for (int i = 0; i < N; i++) g += S[l][i] * S[m][i];
      double h = 0.0;
      for (int d = 0; d < p; d++) h += r[l][d] * a[m][d];
      cov[l][m] = binary ? g - h : s2 * (g - h) / var2;
    }
    for (int m : touched) g_row[static_cast<size_t>(m)] = 0.0;
    touched.clear();
    // A NaN diagonal does not pass the test and leaves the score valid.
    if (cov[l][l] <= 0) {
      null_flag[l] = 1;
      U[l] = 0.0;
      for (int k = 0; k < K; k++) {
        cov[l][k] = 0.0;
        cov[k][l] = 0.0;
      }
      valid--;
    }
  }
  free_dmatrix(r, 0, K - 1, 0, p - 1);
  free_dmatrix(a, 0, K - 1, 0, p - 1);
  return valid;
}

// The subjects of each score row whose value is not zero, in subject order,
// noted by the builder as it fills the rows (subjects in increasing order),
// or none (the full passes) when a covariate or a score value is not
// finite. A sum over the subjects of products with a zero score value only
// adds zeros (+0.0 or -0.0) when the other factors are finite, and adding a
// zero leaves a sum that starts at +0.0 unchanged (it is never -0.0), so
// such a sum over these subjects alone has the same value.
struct RowSupport {
  SparseRows rows;
  bool finite = true;
  explicit RowSupport(int K) {
    rows.nz.resize(static_cast<size_t>(K));
    rows.val.resize(static_cast<size_t>(K));
  }
  void note(int l, int i, double value) {
    if (value == 0.0) return;
    if (!std::isfinite(value)) finite = false;
    rows.nz[static_cast<size_t>(l)].push_back(i);
    rows.val[static_cast<size_t>(l)].push_back(value);
  }
  // The rows' subjects, or none; *block receives Z'Z of the covariates.
  SparseRows take(int N, int p, double **z, const std::vector<double> **block) {
    const Covariates &c = covariates(N, p, z);
    *block = &c.block;
    if (!finite || !c.finite) return {};
    return std::move(rows);
  }
};

// The genotypes of each subject that are not zero (missing ones included),
// in variant order: subject i's are col/val[start[i] .. start[i+1]-1].
struct GenotypeEntries {
  std::vector<int> start, col;
  std::vector<double> val;
  GenotypeEntries(int N, int N_SNP, double **x0) : start(static_cast<size_t>(N) + 1, 0) {
    for (int i = 0; i < N; i++) {
      for (int j = 0; j < N_SNP; j++)
        if (x0[i][j] != 0.0) {
          col.push_back(j);
          val.push_back(x0[i][j]);
        }
      start[static_cast<size_t>(i) + 1] = static_cast<int>(col.size());
    }
  }
};

// VT burden of one subject from its non-zero genotypes (variant col[e],
// value val[e] for e in e0..e1-1, in variant order) over the variants
// marked in `in` (one row of the inclusion table); a zero genotype changes
// none of the burdens. q_miss is scratch for N_SNP values.
double vt_score(int MODEL, int e0, int e1, const int *col, const double *val, const int *in,
                const double *q, double *q_miss) {
  if (MODEL == 2) {
    double P = 1.0;
    for (int e = e0; e < e1; e++) {
      const int j = col[e];
      if (!in[j]) continue;
      if (val[e] > kAllele) return 1.0;
      if (val[e] < kMissing) P *= q[j] * q[j];
    }
    return 1.0 - P > 0 ? 1.0 - P : 0.0;
  }
  if (MODEL == 3) {
    double s = 0.0;
    int c = 0;
    for (int e = e0; e < e1; e++) {
      const int j = col[e];
      if (!in[j]) continue;
      if (val[e] > kAllele)
        s += val[e];
      else if (val[e] < kMissing)
        q_miss[c++] = q[j];
    }
    if (s >= 2) return 1.0;
    if (c > 0) return getS_REC_impute(s, c, q_miss);
    return 0.0;
  }
  double sum = 0.0;
  for (int e = e0; e < e1; e++) {
    const int j = col[e];
    if (!in[j]) continue;
    sum += val[e] < kMissing ? 2.0 * (1.0 - q[j]) : val[e];
  }
  return sum;
}

void vt_family(int MODEL, int N, int p, int N_SNP, double **x0, double **z, double *centerY,
               const NullWeighting &w, double **Iz, int N_UNIQ, double *thresh, double *maf,
               double *q, int MAC_LB, int *mac_thresh, double **S_var, double *U, double **cov,
               int *N_WT, int *null_thresh) {
  if (N_UNIQ < 1) {
    *N_WT = 0;
    return;
  }
  // in[l * N_SNP + j] = 1 when variant j enters the score of threshold l.
  int *in = ivector(0, N_UNIQ * N_SNP - 1);
  for (int l = 0; l < N_UNIQ; l++)
    for (int j = 0; j < N_SNP; j++) in[l * N_SNP + j] = maf[j] <= thresh[l] ? 1 : 0;
  double *q_miss = dvector(0, N_SNP - 1);
  const GenotypeEntries g(N, N_SNP, x0);
  // A subject without a non-zero genotype has the burden +0.0 under every
  // model and threshold.
  for (int l = 0; l < N_UNIQ; l++)
    for (int i = 0; i < N; i++) S_var[l][i] = 0.0;
  RowSupport support(N_UNIQ);
  for (int i = 0; i < N; i++) {
    const int e0 = g.start[static_cast<size_t>(i)], e1 = g.start[static_cast<size_t>(i) + 1];
    if (e0 == e1) continue;
    for (int l = 0; l < N_UNIQ; l++) {
      S_var[l][i] = vt_score(MODEL, e0, e1, g.col.data(), g.val.data(), &in[l * N_SNP], q, q_miss);
      support.note(l, i, S_var[l][i]);
    }
  }
  std::vector<double> mac(static_cast<size_t>(N_UNIQ));
  burdenMAC_entries(MODEL, N, g.start.data(), g.col.data(), g.val.data(), maf, N_UNIQ, thresh,
                    mac.data());
  for (int l = 0; l < N_UNIQ; l++) mac_thresh[l] = static_cast<int>(mac[static_cast<size_t>(l)]);
  free_dvector(q_miss, 0, N_SNP - 1);
  free_ivector(in, 0, N_UNIQ * N_SNP - 1);

  const std::vector<double> *block = nullptr;
  const SparseRows rows = support.take(N, p, z, &block);
  int valid = flag_scores(N, p, N_UNIQ, S_var, z, mac_thresh, MAC_LB, U, null_thresh, rows, block);
  *N_WT = score_and_covariance(N, p, N_UNIQ, S_var, z, centerY, w, Iz, valid, null_thresh, U,
                               cov, rows);
}

void multi_family(int N, int p, int N_SNP, double **x0, double **z, double *centerY,
                  const NullWeighting &w, double **Iz, int n_weight, double **wt, double *q,
                  int MAC_LB, int *mac_weight, double *U, double **cov, int *N_MULTI,
                  int *null_weight) {
  if (n_weight < 1) {
    *N_MULTI = 0;
    return;
  }
  double **S_weight = dmatrix(0, n_weight - 1, 0, N - 1);
  const GenotypeEntries g(N, N_SNP, x0);
  RowSupport support(n_weight);
  for (int k = 0; k < n_weight; k++) {
    // A zero genotype adds wt * 0, a zero, unless the weight is not finite.
    const bool sparse = all_finite(wt[k], N_SNP);
    int mac = 0;
    for (int i = 0; i < N; i++) {
      double s = 0.0;
      bool carrier = false;
      if (sparse) {
        for (int e = g.start[static_cast<size_t>(i)]; e < g.start[static_cast<size_t>(i) + 1];
             e++) {
          const int j = g.col[static_cast<size_t>(e)];
          const double x = g.val[static_cast<size_t>(e)];
          double gij = x < kMissing ? 2.0 * (1.0 - q[j]) : x;
          s += wt[k][j] * gij;
          if (wt[k][j] > 0 && x > kCarrier) carrier = true;
        }
      } else {
        for (int j = 0; j < N_SNP; j++) {
          double gij = x0[i][j] < kMissing ? 2.0 * (1.0 - q[j]) : x0[i][j];
          s += wt[k][j] * gij;
          if (wt[k][j] > 0 && x0[i][j] > kCarrier) carrier = true;
        }
      }
      S_weight[k][i] = s;
      support.note(k, i, s);
      if (carrier) mac++;
    }
    mac_weight[k] = mac;
  }
  const std::vector<double> *block = nullptr;
  const SparseRows rows = support.take(N, p, z, &block);
  int valid =
      flag_scores(N, p, n_weight, S_weight, z, mac_weight, MAC_LB, U, null_weight, rows, block);
  *N_MULTI = score_and_covariance(N, p, n_weight, S_weight, z, centerY, w, Iz, valid, null_weight,
                                  U, cov, rows);
  free_dmatrix(S_weight, 0, n_weight - 1, 0, N - 1);
}

void skat_family(int N, int p, int N_SNP, double **x, double **z, double *centerY,
                 const NullWeighting &w, double **Iz, int MAC_LB, int *mac_thresh, double *U,
                 double **cov, int *N_WT, int *null_thresh) {
  if (N_SNP < 1) {
    *N_WT = 0;
    return;
  }
  // The non-zero values of the columns of x, noted in blocks of subjects
  // (the block's rows of x stay in cache), each row in subject order.
  for (int j = 0; j < N_SNP; j++) mac_thresh[j] = 0;
  RowSupport support(N_SNP);
  for (int i0 = 0; i0 < N; i0 += kTransposeBlock) {
    const int i1 = N - i0 < kTransposeBlock ? N : i0 + kTransposeBlock;
    for (int j = 0; j < N_SNP; j++)
      for (int i = i0; i < i1; i++) {
        support.note(j, i, x[i][j]);
        if (x[i][j] >= 1) mac_thresh[j]++;
      }
  }
  const std::vector<double> *block = nullptr;
  const SparseRows rows = support.take(N, p, z, &block);
  // The columns of x as contiguous rows, only for the full passes.
  double **S = nullptr;
  if (rows.empty() || !sparse_sums(N, centerY, w, rows)) {
    S = dmatrix(0, N_SNP - 1, 0, N - 1);
    for (int i0 = 0; i0 < N; i0 += kTransposeBlock) {
      const int i1 = N - i0 < kTransposeBlock ? N : i0 + kTransposeBlock;
      for (int j = 0; j < N_SNP; j++)
        for (int i = i0; i < i1; i++) S[j][i] = x[i][j];
    }
  }
  int valid = flag_scores(N, p, N_SNP, S, z, mac_thresh, MAC_LB, U, null_thresh, rows, block);
  *N_WT = score_and_covariance(N, p, N_SNP, S, z, centerY, w, Iz, valid, null_thresh, U, cov, rows);
  if (S != nullptr) free_dmatrix(S, 0, N_SNP - 1, 0, N - 1);
}

}  // namespace

void VT_binary_fixThresh(int MODEL, int N, int p, int N_SNP, double **x0,
                         double **z, double *centerY, double *v, double **Iz, int N_UNIQ,
                         double *thresh, double *maf, double *q, int MAC_LB, int *mac_thresh,
                         double **S_var, double *U, double **cov, int *N_WT, int *null_thresh) {
  vt_family(MODEL, N, p, N_SNP, x0, z, centerY, NullWeighting{v, 0.0}, Iz, N_UNIQ, thresh, maf, q,
            MAC_LB, mac_thresh, S_var, U, cov, N_WT, null_thresh);
}

void VT_quan_fixThresh(int MODEL, int N, int p, int N_SNP, double **x0,
                       double **z, double *centerY, double SigmaSQ, double **Iz, int N_UNIQ,
                       double *thresh, double *maf, double *q, int MAC_LB, int *mac_thresh,
                       double **S_var, double *U, double **cov, int *N_WT, int *null_thresh) {
  vt_family(MODEL, N, p, N_SNP, x0, z, centerY, NullWeighting{nullptr, SigmaSQ}, Iz, N_UNIQ,
            thresh, maf, q, MAC_LB, mac_thresh, S_var, U, cov, N_WT, null_thresh);
}

void MULTI_binary(int N, int p, int N_SNP, double **x0, double **z,
                  double *centerY, double *v, double **Iz, int n_weight, double **wt, double *q,
                  int MAC_LB, int *mac_weight, double *U, double **cov, int *N_MULTI,
                  int *null_weight) {
  multi_family(N, p, N_SNP, x0, z, centerY, NullWeighting{v, 0.0}, Iz, n_weight, wt, q, MAC_LB,
               mac_weight, U, cov, N_MULTI, null_weight);
}

void MULTI_quan(int N, int p, int N_SNP, double **x0, double **z, double *centerY,
                double SigmaSQ, double **Iz, int n_weight, double **wt, double *q, int MAC_LB,
                int *mac_weight, double *U, double **cov, int *N_MULTI, int *null_weight) {
  multi_family(N, p, N_SNP, x0, z, centerY, NullWeighting{nullptr, SigmaSQ}, Iz, n_weight, wt, q,
               MAC_LB, mac_weight, U, cov, N_MULTI, null_weight);
}

void SKAT_binary(int N, int p, int N_SNP, double **x, double **z,
                 double *centerY, double *v, double **Iz, int MAC_LB, int *mac_thresh, double *U,
                 double **cov, int *N_WT, int *null_thresh) {
  skat_family(N, p, N_SNP, x, z, centerY, NullWeighting{v, 0.0}, Iz, MAC_LB, mac_thresh, U, cov,
              N_WT, null_thresh);
}

void SKAT_quan(int N, int p, int N_SNP, double **x, double **z, double *centerY,
               double SigmaSQ, double **Iz, int MAC_LB, int *mac_thresh, double *U, double **cov,
               int *N_WT, int *null_thresh) {
  skat_family(N, p, N_SNP, x, z, centerY, NullWeighting{nullptr, SigmaSQ}, Iz, MAC_LB,
              mac_thresh, U, cov, N_WT, null_thresh);
}

void checkWarning_Quorvex(int n, int p, double *score, double **covariates, int *singular_score,
                          int *singular_covariates) {
  *singular_score = 0;
  *singular_covariates = 0;
  const bool constant = score_is_constant(n, score);
  // XX = X'X for X = [score, covariates], 1-based, each entry summed over the
  // subjects in order; one pass over the subjects.
  const int np = p + 1;
  double **XX = dmatrix(1, np, 1, np);
  double *X = dvector(1, np);
  for (int a = 1; a <= np; a++)
    for (int b = 1; b <= np; b++) XX[a][b] = 0.0;
  for (int i = 0; i < n; i++) {
    X[1] = score[i];
    for (int d = 0; d < p; d++) X[d + 2] = covariates[i][d];
    for (int a = 1; a <= np; a++)
      for (int b = 1; b <= np; b++) XX[a][b] += X[a] * X[b];
  }
  free_dvector(X, 1, np);
  if (constant) *singular_score = 1;
  // A NaN determinant fails the comparison and leaves the flag 0.
  if (std::fabs(Determinant(XX, np)) < kSingularDet) *singular_covariates = 1;
  free_dmatrix(XX, 1, np, 1, np);
}
