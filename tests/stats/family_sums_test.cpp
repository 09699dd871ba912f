// The family scores, counts, flags and covariances against the
// straightforward order of work (every subject, every variant, the whole
// X'X for every score): the same bits on random sparse genotypes under every
// model, both trait types, missing genotypes and dosages, and with a
// non-finite weight or covariate, where the full passes are kept.

#include "stats/families.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "stats/burden.h"
#include "stats/thresholds.h"

namespace {

namespace straight {
// The families as computed before the sums were taken over the non-zero
// genotypes and scores: full passes in subject and variant order.


// A genotype below this value is missing; above kAllele it carries a minor
// allele in the VT dominant and recessive scores; above kCarrier it counts in
// the customized minor-allele count.
constexpr double kMissing = -0.1;
constexpr double kAllele = 0.5;
constexpr double kCarrier = 0.1;

// Collinearity bound on |det(X'X)| of the validity check.
constexpr double kSingularDet = 1e-20;

// How the null model weights the subjects: the per-subject variances v of a
// binary trait, or the residual variance SigmaSQ of a quantitative trait.
struct NullWeighting {
  const double *v;  // binary: v[0..N-1]; quantitative: nullptr
  double SigmaSQ;   // quantitative only
  bool binary() const { return v != nullptr; }
};

// Null flags from the counts and the validity check: a score is null when its
// count is below MAC_LB or it is constant or collinear with the covariates.
// Returns the number of valid scores.
int flag_scores(int N, int p, int K, double **S, double **z, const int *mac, int MAC_LB,
                double *U, int *null_flag) {
  int valid = 0;
  for (int l = 0; l < K; l++) {
    int singular_score = 0, singular_covariates = 0;
    checkWarning_Quorvex(N, p, S[l], z, &singular_score, &singular_covariates);
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

// Score vector and covariance of the valid scores S[0..K-1][0..N-1].
//
// The residual weighting R = V - V Z Iz Z' V (binary) or s2 (I - Z Iz Z')
// (quantitative) is never formed: with a_l = Z' W S_l (W = V, resp. I),
// S_l' R S_m = S_l' W S_m - a_l' Iz a_m (times s2 for a quantitative trait).
// Scores whose covariance diagonal is <= 0 are nulled in score order, as
// each row is completed. Returns the final number of valid scores.
int score_and_covariance(int N, int p, int K, double **S, double **z, const double *centerY,
                         const NullWeighting &w, double **Iz, int valid, int *null_flag, double *U,
                         double **cov) {
  for (int l = 0; l < K; l++)
    for (int m = 0; m < K; m++) cov[l][m] = 0.0;
  if (valid == 0) return 0;

  const bool binary = w.binary();
  // a[l] = sum_i w_i S_l[i] z_i; r[l] = a[l]' Iz.
  double **a = dmatrix(0, K - 1, 0, p - 1);
  double **r = dmatrix(0, K - 1, 0, p - 1);
  for (int l = 0; l < K; l++) {
    if (null_flag[l] != 0) continue;
    for (int d = 0; d < p; d++) a[l][d] = 0.0;
    for (int i = 0; i < N; i++) {
      double wi = binary ? w.v[i] * S[l][i] : S[l][i];
      for (int d = 0; d < p; d++) a[l][d] += wi * z[i][d];
    }
    for (int d = 0; d < p; d++) {
      double sum = 0.0;
      for (int dd = 0; dd < p; dd++) sum += a[l][dd] * Iz[dd][d];
      r[l][d] = sum;
    }
  }
  const double s2 = binary ? 1.0 : static_cast<double>(N) * w.SigmaSQ / static_cast<double>(N - p);
  const double var2 = binary ? 1.0 : w.SigmaSQ * w.SigmaSQ;

  for (int l = 0; l < K; l++) {
    if (null_flag[l] != 0) continue;
    double u = 0.0;
    for (int i = 0; i < N; i++) u += centerY[i] * S[l][i];
    U[l] = binary ? u : u / w.SigmaSQ;

    for (int m = 0; m < K; m++) {
      if (null_flag[m] != 0) continue;
      if (m < l) {
        // Row m is complete and m is still valid: the covariance is symmetric.
        cov[l][m] = cov[m][l];
        continue;
      }
      double g = 0.0;
      if (binary)
        for (int i = 0; i < N; i++) g += w.v[i] * S[l][i] * S[m][i];
      else
        for (int i = 0; i < N; i++) g += S[l][i] * S[m][i];
      double h = 0.0;
      for (int d = 0; d < p; d++) h += r[l][d] * a[m][d];
      cov[l][m] = binary ? g - h : s2 * (g - h) / var2;
    }
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

// VT burden of subject i over the variants marked in `in` (one row of the
// inclusion table); q_miss is scratch for N_SNP values.
double vt_score(int MODEL, int N_SNP, const double *x0i, const int *in, const double *q,
                double *q_miss) {
  if (MODEL == 2) {
    double P = 1.0;
    for (int j = 0; j < N_SNP; j++) {
      if (!in[j]) continue;
      if (x0i[j] > kAllele) return 1.0;
      if (x0i[j] < kMissing) P *= q[j] * q[j];
    }
    return 1.0 - P > 0 ? 1.0 - P : 0.0;
  }
  if (MODEL == 3) {
    double s = 0.0;
    int c = 0;
    for (int j = 0; j < N_SNP; j++) {
      if (!in[j]) continue;
      if (x0i[j] > kAllele)
        s += x0i[j];
      else if (x0i[j] < kMissing)
        q_miss[c++] = q[j];
    }
    if (s >= 2) return 1.0;
    if (c > 0) return getS_REC_impute(s, c, q_miss);
    return 0.0;
  }
  double sum = 0.0;
  for (int j = 0; j < N_SNP; j++) {
    if (!in[j]) continue;
    sum += x0i[j] < kMissing ? 2.0 * (1.0 - q[j]) : x0i[j];
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
  for (int l = 0; l < N_UNIQ; l++) {
    for (int i = 0; i < N; i++)
      S_var[l][i] = vt_score(MODEL, N_SNP, x0[i], &in[l * N_SNP], q, q_miss);
    mac_thresh[l] = static_cast<int>(burdenMAC(MODEL, N, N_SNP, x0, maf, thresh[l]));
  }
  free_dvector(q_miss, 0, N_SNP - 1);
  free_ivector(in, 0, N_UNIQ * N_SNP - 1);

  int valid = flag_scores(N, p, N_UNIQ, S_var, z, mac_thresh, MAC_LB, U, null_thresh);
  *N_WT = score_and_covariance(N, p, N_UNIQ, S_var, z, centerY, w, Iz, valid, null_thresh, U, cov);
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
  for (int k = 0; k < n_weight; k++) {
    int mac = 0;
    for (int i = 0; i < N; i++) {
      double s = 0.0;
      bool carrier = false;
      for (int j = 0; j < N_SNP; j++) {
        double g = x0[i][j] < kMissing ? 2.0 * (1.0 - q[j]) : x0[i][j];
        s += wt[k][j] * g;
        if (wt[k][j] > 0 && x0[i][j] > kCarrier) carrier = true;
      }
      S_weight[k][i] = s;
      if (carrier) mac++;
    }
    mac_weight[k] = mac;
  }
  int valid = flag_scores(N, p, n_weight, S_weight, z, mac_weight, MAC_LB, U, null_weight);
  *N_MULTI =
      score_and_covariance(N, p, n_weight, S_weight, z, centerY, w, Iz, valid, null_weight, U, cov);
  free_dmatrix(S_weight, 0, n_weight - 1, 0, N - 1);
}

void skat_family(int N, int p, int N_SNP, double **x, double **z, double *centerY,
                 const NullWeighting &w, double **Iz, int MAC_LB, int *mac_thresh, double *U,
                 double **cov, int *N_WT, int *null_thresh) {
  if (N_SNP < 1) {
    *N_WT = 0;
    return;
  }
  // The columns of x, one contiguous row per score.
  double **S = dmatrix(0, N_SNP - 1, 0, N - 1);
  for (int j = 0; j < N_SNP; j++) mac_thresh[j] = 0;
  for (int i = 0; i < N; i++)
    for (int j = 0; j < N_SNP; j++) {
      S[j][i] = x[i][j];
      if (x[i][j] >= 1) mac_thresh[j]++;
    }
  int valid = flag_scores(N, p, N_SNP, S, z, mac_thresh, MAC_LB, U, null_thresh);
  *N_WT = score_and_covariance(N, p, N_SNP, S, z, centerY, w, Iz, valid, null_thresh, U, cov);
  free_dmatrix(S, 0, N_SNP - 1, 0, N - 1);
}

void getThresh(int MODEL, int n, int N_SNP, double **x0, double *maf, int MAC_LB, int *n_thresh,
               double *thresh) {
  *n_thresh = 0;
  // The whole gene (every variant, maf <= 1) must reach the bound.
  if (burdenMAC(MODEL, n, N_SNP, x0, maf, 1.0) < static_cast<double>(MAC_LB)) return;

  // flag: 0 not visited, 1 first variant of a frequency value that stays a
  // candidate, -1 a later variant with the same value or a dropped candidate.
  int *flag = ivector(0, N_SNP - 1);
  for (int j = 0; j < N_SNP; j++) flag[j] = 0;
  for (int j = 0; j < N_SNP; j++) {
    if (flag[j] != 0) continue;
    flag[j] = 1;
    for (int k = j + 1; k < N_SNP; k++)
      if (maf[k] == maf[j]) flag[k] = -1;
  }
  int N_UNIQ = 0;
  for (int j = 0; j < N_SNP; j++) {
    if (flag[j] != 1) continue;
    if (burdenMAC(MODEL, n, N_SNP, x0, maf, maf[j]) < static_cast<double>(MAC_LB))
      flag[j] = -1;
    else
      N_UNIQ++;
  }
  if (N_UNIQ == 0) {
    free_ivector(flag, 0, N_SNP - 1);
    return;
  }

  double *thresh0 = dvector(0, N_UNIQ - 1);
  for (int j = 0, g = 0; j < N_SNP; j++)
    if (flag[j] == 1) thresh0[g++] = maf[j];

  if (N_UNIQ <= 20) {
    for (int g = 0; g < N_UNIQ; g++) thresh[g] = thresh0[g];
    *n_thresh = N_UNIQ;
  } else {
    double *rank_double = dvector(0, N_UNIQ - 1);
    int *rank = ivector(0, N_UNIQ - 1);
    int *index_vt = ivector(0, N_UNIQ - 1);
    bubbleRank_noTie(N_UNIQ, thresh0, rank_double);
    for (int g = 0; g < N_UNIQ; g++) rank[g] = static_cast<int>(rank_double[g] - 1);
    int N_UNIQ2 = 0;
    shrinkVT(N_UNIQ, thresh0, rank, &N_UNIQ2, index_vt);
    for (int g = 0, t = 0; g < N_UNIQ; g++)
      if (index_vt[g] == 1) thresh[t++] = thresh0[g];
    *n_thresh = N_UNIQ2;
    free_ivector(index_vt, 0, N_UNIQ - 1);
    free_ivector(rank, 0, N_UNIQ - 1);
    free_dvector(rank_double, 0, N_UNIQ - 1);
  }
  free_dvector(thresh0, 0, N_UNIQ - 1);
  free_ivector(flag, 0, N_SNP - 1);
}

}  // namespace straight

uint64_t Bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// 0-based matrix freed on scope exit.
struct Mat {
  int r, c;
  double **m;
  Mat(int rows, int cols, double fill) : r(rows), c(cols) {
    m = dmatrix(0, r - 1, 0, c - 1);
    for (int i = 0; i < r; i++)
      for (int j = 0; j < c; j++) m[i][j] = fill;
  }
  ~Mat() { free_dmatrix(m, 0, r - 1, 0, c - 1); }
  Mat(const Mat &) = delete;
  Mat &operator=(const Mat &) = delete;
};

// One random gene: sparse genotypes (frequencies up to 0.2, some variants
// without a minor allele), missing genotypes and, except under the recessive
// model, dosages; tied frequencies; a null model with p covariates.
struct Gene {
  int N, p, M, model;
  bool binary;
  Mat x0, z, Iz, wt;
  std::vector<double> maf, q, centerY, v, y, thresh;
  double SigmaSQ;
  int n_weight;
  Gene(std::mt19937_64 &gen, int N_, int p_, int M_, int model_, bool binary_, int n_weight_)
      : N(N_), p(p_), M(M_), model(model_), binary(binary_), x0(N_, M_, 0.0), z(N_, p_, 1.0),
        Iz(p_, p_, 0.0), wt(n_weight_, M_, 0.0), maf(M_), q(M_), centerY(N_), v(N_), y(N_),
        SigmaSQ(0.5), n_weight(n_weight_) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    const double levels[] = {0.001, 0.004, 0.01, 0.03, 0.08, 0.2};
    for (int j = 0; j < M; j++) {
      maf[j] = levels[static_cast<int>(unit(gen) * 6.0)];
      q[j] = 1.0 - maf[j];
      const double f = unit(gen) < 0.2 ? 0.0 : unit(gen) * 0.2;
      for (int i = 0; i < N; i++) {
        const double u = unit(gen);
        double g = u < f * f ? 2.0 : u < 2.0 * f ? 1.0 : 0.0;
        if (unit(gen) < 0.04) g = -1.0;
        if (model != 3 && g == 0.0 && unit(gen) < 0.03) g = unit(gen) * 2.0;
        x0.m[i][j] = g;
      }
    }
    for (int i = 0; i < N; i++) {
      for (int d = 1; d < p; d++) z.m[i][d] = normal(gen);
      centerY[i] = normal(gen);
      v[i] = 0.01 + 0.24 * unit(gen);
    }
    SigmaSQ = 0.2 + unit(gen);
    for (int a = 0; a < p; a++)
      for (int b = 0; b < p; b++) Iz.m[a][b] = (a == b ? 1.0 : 0.1) / (1.0 + N);
    for (int k = 0; k < n_weight; k++)
      for (int j = 0; j < M; j++) wt.m[k][j] = unit(gen) < 0.3 ? 0.0 : unit(gen) * 3.0;
    std::vector<double> sorted(maf);
    std::sort(sorted.begin(), sorted.end());
    for (double t : sorted)
      if (thresh.empty() || t != thresh.back()) thresh.push_back(t);
  }
};

// Outputs of one family builder.
struct Out {
  std::vector<int> mac, null;
  std::vector<double> U, cov, S;
  int count = -7;
  void Expect(const Out &o, const char *what, int c) const {
    EXPECT_EQ(count, o.count) << what << " case " << c;
    EXPECT_EQ(mac, o.mac) << what << " case " << c;
    EXPECT_EQ(null, o.null) << what << " case " << c;
    ASSERT_EQ(U.size(), o.U.size());
    for (size_t k = 0; k < U.size(); k++) EXPECT_EQ(Bits(U[k]), Bits(o.U[k])) << what << " U " << k << " case " << c;
    ASSERT_EQ(cov.size(), o.cov.size());
    for (size_t k = 0; k < cov.size(); k++)
      EXPECT_EQ(Bits(cov[k]), Bits(o.cov[k])) << what << " cov " << k << " case " << c;
    ASSERT_EQ(S.size(), o.S.size());
    for (size_t k = 0; k < S.size(); k++) EXPECT_EQ(Bits(S[k]), Bits(o.S[k])) << what << " S " << k << " case " << c;
  }
};

// Runs one family (0 VT, 1 customized, 2 SKAT) by the library or the
// straightforward code.
Out Family(Gene &g, int family, bool library) {
  const int K = family == 0 ? static_cast<int>(g.thresh.size()) : family == 1 ? g.n_weight : g.M;
  Out o;
  std::vector<int> mac(K, -1), null(K, -1);
  std::vector<double> U(K, -9.0);
  Mat cov(K, K, -9.0), S(family == 0 ? K : 1, g.N, -9.0);
  if (family == 0) {
    if (library) {
      if (g.binary)
        VT_binary_fixThresh(g.model, g.N, g.p, g.M, g.x0.m, g.z.m, g.centerY.data(),
                            g.v.data(), g.Iz.m, K, g.thresh.data(), g.maf.data(), g.q.data(), 2,
                            mac.data(), S.m, U.data(), cov.m, &o.count, null.data());
      else
        VT_quan_fixThresh(g.model, g.N, g.p, g.M, g.x0.m, g.z.m, g.centerY.data(),
                          g.SigmaSQ, g.Iz.m, K, g.thresh.data(), g.maf.data(), g.q.data(), 2,
                          mac.data(), S.m, U.data(), cov.m, &o.count, null.data());
    } else {
      straight::vt_family(g.model, g.N, g.p, g.M, g.x0.m, g.z.m, g.centerY.data(),
                          straight::NullWeighting{g.binary ? g.v.data() : nullptr, g.SigmaSQ},
                          g.Iz.m, K, g.thresh.data(), g.maf.data(), g.q.data(), 2, mac.data(),
                          S.m, U.data(), cov.m, &o.count, null.data());
    }
    for (int l = 0; l < K; l++) o.S.insert(o.S.end(), S.m[l], S.m[l] + g.N);
  } else if (family == 1) {
    if (library) {
      if (g.binary)
        MULTI_binary(g.N, g.p, g.M, g.x0.m, g.z.m, g.centerY.data(), g.v.data(),
                     g.Iz.m, K, g.wt.m, g.q.data(), 2, mac.data(), U.data(), cov.m, &o.count,
                     null.data());
      else
        MULTI_quan(g.N, g.p, g.M, g.x0.m, g.z.m, g.centerY.data(), g.SigmaSQ,
                   g.Iz.m, K, g.wt.m, g.q.data(), 2, mac.data(), U.data(), cov.m, &o.count,
                   null.data());
    } else {
      straight::multi_family(g.N, g.p, g.M, g.x0.m, g.z.m, g.centerY.data(),
                             straight::NullWeighting{g.binary ? g.v.data() : nullptr, g.SigmaSQ},
                             g.Iz.m, K, g.wt.m, g.q.data(), 2, mac.data(), U.data(), cov.m,
                             &o.count, null.data());
    }
  } else {
    // SKAT takes the working genotypes; the raw ones with missing set to 0 do.
    Mat x(g.N, g.M, 0.0);
    for (int i = 0; i < g.N; i++)
      for (int j = 0; j < g.M; j++) x.m[i][j] = g.x0.m[i][j] < 0 ? 0.0 : g.x0.m[i][j];
    if (library) {
      if (g.binary)
        SKAT_binary(g.N, g.p, g.M, x.m, g.z.m, g.centerY.data(), g.v.data(), g.Iz.m,
                    0, mac.data(), U.data(), cov.m, &o.count, null.data());
      else
        SKAT_quan(g.N, g.p, g.M, x.m, g.z.m, g.centerY.data(), g.SigmaSQ, g.Iz.m, 0,
                  mac.data(), U.data(), cov.m, &o.count, null.data());
    } else {
      straight::skat_family(g.N, g.p, g.M, x.m, g.z.m, g.centerY.data(),
                            straight::NullWeighting{g.binary ? g.v.data() : nullptr, g.SigmaSQ},
                            g.Iz.m, 0, mac.data(), U.data(), cov.m, &o.count, null.data());
    }
  }
  o.mac = mac;
  o.null = null;
  o.U = U;
  for (int l = 0; l < K; l++) o.cov.insert(o.cov.end(), cov.m[l], cov.m[l] + K);
  return o;
}

TEST(FamilySums, SameBitsAsTheFullPasses) {
  std::mt19937_64 gen(101);
  const int sizes[][3] = {{1, 1, 1}, {2, 1, 3}, {7, 2, 5}, {40, 3, 12}, {300, 3, 25},
                          {500, 2, 40}, {120, 1, 8}};
  int c = 0;
  for (int rep = 0; rep < 12; rep++)
    for (const auto &sz : sizes)
      for (int model = 1; model <= 3; model++)
        for (int binary = 0; binary <= 1; binary++, c++) {
          Gene g(gen, sz[0], sz[1], sz[2], model, binary == 1, 1 + c % 4);
          // Now and then a non-finite weight or covariate (the full passes).
          if (c % 17 == 5) g.wt.m[0][0] = std::numeric_limits<double>::infinity();
          if (c % 23 == 7 && g.p > 1) g.z.m[0][1] = std::numeric_limits<double>::infinity();
          for (int family = 0; family < 3; family++) {
            if (family == 0 && g.thresh.empty()) continue;
            const Out a = Family(g, family, true), b = Family(g, family, false);
            a.Expect(b, family == 0 ? "VT" : family == 1 ? "customized" : "SKAT", c);
          }
          // Threshold sets and the counts of many thresholds at once.
          std::vector<double> t1(g.M + 1, -1.0), t2(g.M + 1, -2.0);
          int n1 = -1, n2 = -1;
          getThresh(model, g.N, g.M, g.x0.m, g.maf.data(), 2, &n1, t1.data());
          straight::getThresh(model, g.N, g.M, g.x0.m, g.maf.data(), 2, &n2, t2.data());
          EXPECT_EQ(n1, n2) << "case " << c;
          for (int k = 0; k < n1 && k < n2; k++) EXPECT_EQ(Bits(t1[k]), Bits(t2[k]));
          std::vector<double> limits(g.maf);
          limits.push_back(1.0);
          limits.push_back(0.0);
          std::vector<double> many(limits.size(), -1.0);
          burdenMAC_many(model, g.N, g.M, g.x0.m, g.maf.data(), static_cast<int>(limits.size()),
                         limits.data(), many.data());
          for (size_t k = 0; k < limits.size(); k++)
            EXPECT_EQ(Bits(many[k]), Bits(burdenMAC(model, g.N, g.M, g.x0.m, g.maf.data(), limits[k])))
                << "case " << c << " limit " << limits[k];
          if (HasFailure()) return;
        }
}

// Rare variants of a big gene: a few carriers each, so that most pairs of
// scores share no subject (their product sums are taken from the subjects'
// lists of scores), with copies of earlier variants, carriers shared by
// many variants, dosages, missing genotypes and -0.0 entries.
TEST(FamilySums, SameBitsOnRareVariants) {
  std::mt19937_64 gen(20261211);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int sizes[][3] = {{600, 3, 150}, {250, 1, 90}, {400, 2, 200}};
  int c = 0;
  for (const auto &sz : sizes)
    for (int model = 1; model <= 3; model++)
      for (int binary = 0; binary <= 1; binary++, c++) {
        Gene g(gen, sz[0], sz[1], sz[2], model, binary == 1, 2);
        for (int j = 0; j < g.M; j++) {
          for (int i = 0; i < g.N; i++) g.x0.m[i][j] = 0.0;
          if (j > 0 && unit(gen) < 0.08) {
            const int source = static_cast<int>(unit(gen) * j);
            for (int i = 0; i < g.N; i++) g.x0.m[i][j] = g.x0.m[i][source];
            continue;
          }
          const int carriers = static_cast<int>(unit(gen) * 9);
          for (int e = 0; e < carriers; e++) {
            // Subjects 0..9 carry many variants, the others few.
            const int i = unit(gen) < 0.3 ? static_cast<int>(unit(gen) * 10)
                                          : static_cast<int>(unit(gen) * g.N);
            const double u = unit(gen);
            g.x0.m[i][j] = u < 0.1 ? 2.0 : u < 0.15 ? -1.0 : u < 0.2 ? -0.0 : u < 0.25 && model != 3 ? 0.4 : 1.0;
          }
        }
        // A variant every subject carries once (a constant score), one every
        // subject carries with one dosage apart (not constant), and now and
        // then a non-finite null-model value (the covariance's full passes).
        for (int i = 0; i < g.N; i++) {
          g.x0.m[i][0] = 1.0;
          g.x0.m[i][g.M - 1] = i == g.N / 2 ? 2.0 : 1.0;
        }
        if (c % 4 == 1) g.centerY[3] = std::numeric_limits<double>::quiet_NaN();
        if (c % 4 == 3) g.v[1] = std::numeric_limits<double>::infinity();
        for (int family = 0; family < 3; family++) {
          if (family == 0 && g.thresh.empty()) continue;
          const Out a = Family(g, family, true), b = Family(g, family, false);
          a.Expect(b, family == 0 ? "VT" : family == 1 ? "customized" : "SKAT", c);
        }
        if (HasFailure()) return;
      }
}

}  // namespace
