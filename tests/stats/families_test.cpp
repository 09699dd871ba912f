#include "stats/families.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "stats/score.h"
#include "tests/support/tolerances.h"
#include "support/death_tests.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

// Deterministic uniform numbers in [0, 1) (64-bit LCG, Knuth's MMIX
// constants), so that the data sets do not depend on the library.
struct Lcg {
  std::uint64_t s;
  explicit Lcg(std::uint64_t seed) : s(seed * 2862933555777941757ULL + 3037000493ULL) {}
  double next() {
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) * (1.0 / 9007199254740992.0);
  }
};

// 0-based index-range matrix filled from a table, freed on scope exit.
struct DMat {
  long r, c;
  double **m;
  DMat(long rows, long cols, double fill = 0.0) : r(rows), c(cols) {
    m = dmatrix(0, r - 1, 0, c - 1);
    for (long i = 0; i < r; i++)
      for (long j = 0; j < c; j++) m[i][j] = fill;
  }
  explicit DMat(const Matrix &t) : DMat(static_cast<long>(t.size()), t.empty() ? 0 : static_cast<long>(t[0].size())) {
    for (long i = 0; i < r; i++)
      for (long j = 0; j < c; j++) m[i][j] = t[i][j];
  }
  ~DMat() { free_dmatrix(m, 0, r - 1, 0, c - 1); }
  DMat(const DMat &) = delete;
  DMat &operator=(const DMat &) = delete;
};

// A null model: the design z (intercept first), residuals, and either the
// binary variances v or the residual variance SigmaSQ, with Iz the inverse of
// Z'VZ or Z'Z.
struct NullModel {
  bool binary;
  int N, p;
  Matrix z;
  std::vector<double> centerY, v, y;
  double SigmaSQ = 0.0;
  Matrix Iz;
};

Matrix Inverse(const Matrix &a) {
  int n = static_cast<int>(a.size());
  double **m = dmatrix(1, n, 1, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) m[i + 1][j + 1] = a[i][j];
  invv(m, n);
  Matrix out(n, std::vector<double>(n));
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) out[i][j] = m[i + 1][j + 1];
  free_dmatrix(m, 1, n, 1, n);
  return out;
}

NullModel MakeNullModel(bool binary, int N, int p, std::uint64_t seed) {
  Lcg rng(seed);
  NullModel nm;
  nm.binary = binary;
  nm.N = N;
  nm.p = p;
  nm.z.assign(N, std::vector<double>(p, 1.0));
  for (int i = 0; i < N; i++)
    for (int d = 1; d < p; d++) nm.z[i][d] = d == 1 ? std::floor(3 * rng.next()) : 2 * rng.next() - 1;
  nm.centerY.resize(N);
  nm.v.assign(N, 0.0);
  nm.y.assign(N, 0.0);
  Matrix zz(p, std::vector<double>(p, 0.0));
  double rss = 0.0;
  for (int i = 0; i < N; i++) {
    double w = 1.0;
    if (binary) {
      double mu = 0.15 + 0.7 * rng.next();
      nm.y[i] = rng.next() < mu ? 1.0 : 0.0;
      nm.centerY[i] = nm.y[i] - mu;
      nm.v[i] = mu * (1 - mu);
      w = nm.v[i];
    } else {
      nm.centerY[i] = 3 * rng.next() - 1.5;
      rss += nm.centerY[i] * nm.centerY[i];
    }
    for (int a = 0; a < p; a++)
      for (int b = 0; b < p; b++) zz[a][b] += w * nm.z[i][a] * nm.z[i][b];
  }
  nm.SigmaSQ = rss / N;
  nm.Iz = Inverse(zz);
  return nm;
}

// The residual weighting matrix built literally, N x N, as the published
// method does: V - V Z Iz Z'V (binary) or s2 (I - Z Iz Z') (quantitative).
Matrix LiteralCovRes(const NullModel &nm) {
  int N = nm.N, p = nm.p;
  double s2 = static_cast<double>(N) * nm.SigmaSQ / static_cast<double>(N - p);
  Matrix r(N, std::vector<double>(N));
  for (int i = 0; i < N; i++)
    for (int k = i; k < N; k++) {
      double t = 0.0;
      for (int d = 0; d < p; d++)
        for (int dd = 0; dd < p; dd++) {
          double term = nm.z[i][dd] * nm.Iz[dd][d] * nm.z[k][d];
          if (nm.binary) term *= nm.v[i] * nm.v[k];
          t += term;
        }
      double e;
      if (nm.binary)
        e = i == k ? nm.v[i] - t : -t;
      else
        e = i == k ? (1 - t) * s2 : -t * s2;
      r[i][k] = e;
      r[k][i] = e;
    }
  return r;
}

// Reference score vector and covariance of scores S[l][i] from the literal
// matrix, with the diagonal rule applied in score order over the scores
// whose flag (from the count and the validity check) is 0.
struct Family {
  std::vector<double> U;
  Matrix cov;
  std::vector<int> null;
  int valid = 0;
};

Family LiteralFamily(const NullModel &nm, const Matrix &S, std::vector<int> null) {
  int K = static_cast<int>(S.size()), N = nm.N;
  Matrix R = LiteralCovRes(nm);
  Family f;
  f.U.assign(K, 0.0);
  f.cov.assign(K, std::vector<double>(K, 0.0));
  f.null = null;
  for (int l = 0; l < K; l++) f.valid += null[l] == 0;
  for (int l = 0; l < K; l++) {
    if (f.null[l]) continue;
    double u = 0.0;
    for (int i = 0; i < N; i++) u += nm.centerY[i] * S[l][i];
    f.U[l] = nm.binary ? u : u / nm.SigmaSQ;
    for (int m = 0; m < K; m++) {
      if (f.null[m]) continue;
      double c = 0.0;
      for (int i = 0; i < N; i++) {
        double row = 0.0;
        for (int ii = 0; ii < N; ii++) row += S[l][ii] * R[ii][i];
        c += row * S[m][i];
      }
      f.cov[l][m] = nm.binary ? c : c / (nm.SigmaSQ * nm.SigmaSQ);
    }
    if (f.cov[l][l] <= 0) {
      f.null[l] = 1;
      f.U[l] = 0;
      for (int k = 0; k < K; k++) f.cov[l][k] = f.cov[k][l] = 0.0;
      f.valid--;
    }
  }
  return f;
}

// Builder outputs in plain containers.
struct Built {
  std::vector<int> mac, null;
  std::vector<double> U;
  Matrix cov, S_var;
  int count = -1;
};

// Pointers into a NullModel's tables as index-range matrices.
struct NullArrays {
  DMat z, Iz;
  explicit NullArrays(const NullModel &nm) : z(nm.z), Iz(nm.Iz) {}
};

Built RunSkat(const NullModel &nm, const Matrix &x, int MAC_LB) {
  int K = static_cast<int>(x[0].size());
  NullArrays na(nm);
  DMat X(x), cov(K, K, -99.0);
  Built b;
  b.mac.assign(K, -1);
  b.null.assign(K, -1);
  b.U.assign(K, -99.0);
  std::vector<double> y = nm.y, c = nm.centerY, v = nm.v;
  if (nm.binary)
    SKAT_binary(nm.N, nm.p, K, X.m, na.z.m, c.data(), v.data(), na.Iz.m, MAC_LB,
                b.mac.data(), b.U.data(), cov.m, &b.count, b.null.data());
  else
    SKAT_quan(nm.N, nm.p, K, X.m, na.z.m, c.data(), nm.SigmaSQ, na.Iz.m, MAC_LB,
              b.mac.data(), b.U.data(), cov.m, &b.count, b.null.data());
  b.cov.assign(K, std::vector<double>(K));
  for (int l = 0; l < K; l++)
    for (int m = 0; m < K; m++) b.cov[l][m] = cov.m[l][m];
  return b;
}

Built RunMulti(const NullModel &nm, const Matrix &x0, const Matrix &wt, std::vector<double> q,
               int MAC_LB) {
  int K = static_cast<int>(wt.size()), M = static_cast<int>(x0[0].size());
  NullArrays na(nm);
  DMat X(x0), W(wt), cov(K > 0 ? K : 1, K > 0 ? K : 1, -99.0);
  Built b;
  b.mac.assign(K > 0 ? K : 1, -1);
  b.null.assign(K > 0 ? K : 1, -1);
  b.U.assign(K > 0 ? K : 1, -99.0);
  std::vector<double> y = nm.y, c = nm.centerY, v = nm.v;
  if (nm.binary)
    MULTI_binary(nm.N, nm.p, M, X.m, na.z.m, c.data(), v.data(), na.Iz.m, K, W.m,
                 q.data(), MAC_LB, b.mac.data(), b.U.data(), cov.m, &b.count, b.null.data());
  else
    MULTI_quan(nm.N, nm.p, M, X.m, na.z.m, c.data(), nm.SigmaSQ, na.Iz.m, K, W.m,
               q.data(), MAC_LB, b.mac.data(), b.U.data(), cov.m, &b.count, b.null.data());
  b.cov.assign(K, std::vector<double>(K));
  for (int l = 0; l < K; l++)
    for (int m = 0; m < K; m++) b.cov[l][m] = cov.m[l][m];
  return b;
}

Built RunVT(const NullModel &nm, int MODEL, const Matrix &x0, std::vector<double> maf,
            std::vector<double> q, std::vector<double> thresh, int MAC_LB) {
  int K = static_cast<int>(thresh.size()), M = static_cast<int>(x0[0].size());
  int Kd = K > 0 ? K : 1;
  NullArrays na(nm);
  DMat X(x0), cov(Kd, Kd, -99.0), S(Kd, nm.N, -99.0);
  Built b;
  b.mac.assign(Kd, -1);
  b.null.assign(Kd, -1);
  b.U.assign(Kd, -99.0);
  std::vector<double> y = nm.y, c = nm.centerY, v = nm.v;
  if (nm.binary)
    VT_binary_fixThresh(MODEL, nm.N, nm.p, M, X.m, na.z.m, c.data(), v.data(),
                        na.Iz.m, K, thresh.data(), maf.data(), q.data(), MAC_LB, b.mac.data(),
                        S.m, b.U.data(), cov.m, &b.count, b.null.data());
  else
    VT_quan_fixThresh(MODEL, nm.N, nm.p, M, X.m, na.z.m, c.data(), nm.SigmaSQ,
                      na.Iz.m, K, thresh.data(), maf.data(), q.data(), MAC_LB, b.mac.data(), S.m,
                      b.U.data(), cov.m, &b.count, b.null.data());
  b.cov.assign(K, std::vector<double>(K));
  b.S_var.assign(K, std::vector<double>(nm.N));
  for (int l = 0; l < K; l++) {
    for (int m = 0; m < K; m++) b.cov[l][m] = cov.m[l][m];
    for (int i = 0; i < nm.N; i++) b.S_var[l][i] = S.m[l][i];
  }
  return b;
}

// Agreement of a builder with the reference: the same flags and count, U and
// cov within `rel` of the scale sqrt(cov_ll cov_mm) of each entry.
void ExpectSameFamily(const Built &b, const Family &f, double rel) {
  int K = static_cast<int>(f.U.size());
  EXPECT_EQ(b.count, f.valid);
  for (int l = 0; l < K; l++) {
    EXPECT_EQ(b.null[l], f.null[l]) << "score " << l;
    double su = std::sqrt(std::fabs(f.cov[l][l]));
    EXPECT_NEAR(b.U[l], f.U[l], rel * (std::fabs(f.U[l]) + su)) << "U " << l;
    for (int m = 0; m < K; m++) {
      double scale = std::sqrt(std::fabs(f.cov[l][l] * f.cov[m][m]));
      if (f.cov[l][m] == 0.0)
        EXPECT_EQ(b.cov[l][m], 0.0) << "cov " << l << "," << m;
      else
        EXPECT_NEAR(b.cov[l][m], f.cov[l][m], rel * scale) << "cov " << l << "," << m;
    }
  }
}

// The null-model invariant: a null score has U = 0 and a zero row and column;
// the count equals the number of zero flags.
void ExpectNullInvariant(const Built &b) {
  int K = static_cast<int>(b.U.size() < b.cov.size() ? b.U.size() : b.cov.size());
  int valid = 0;
  for (int l = 0; l < K; l++) {
    if (b.null[l] == 0) {
      valid++;
      continue;
    }
    EXPECT_EQ(b.null[l], 1);
    EXPECT_EQ(b.U[l], 0.0);
    for (int m = 0; m < K; m++) {
      EXPECT_EQ(b.cov[l][m], 0.0);
      EXPECT_EQ(b.cov[m][l], 0.0);
    }
  }
  EXPECT_EQ(b.count, valid);
}

Matrix RandomGenotypes(int N, int M, std::uint64_t seed, double missing_rate) {
  Lcg rng(seed);
  Matrix x(N, std::vector<double>(M));
  for (int i = 0; i < N; i++)
    for (int j = 0; j < M; j++) {
      double u = rng.next();
      double f = 0.1 + 0.3 * j / (M > 1 ? M - 1 : 1);
      x[i][j] = u < missing_rate ? -1.0 : u < f ? 1.0 : u < f + 0.05 ? 2.0 : 0.0;
    }
  // Each variant gets at least one carrier and one non-carrier.
  for (int j = 0; j < M; j++) {
    x[j % N][j] = 1.0;
    x[(j + 1) % N][j] = 0.0;
  }
  return x;
}

std::vector<double> ObservedQ(const Matrix &x0) {
  int N = static_cast<int>(x0.size()), M = static_cast<int>(x0[0].size());
  std::vector<double> q(M);
  for (int j = 0; j < M; j++) {
    double num = 0, den = 0;
    for (int i = 0; i < N; i++)
      if (x0[i][j] >= 0) {
        num += x0[i][j];
        den += 2;
      }
    q[j] = 1 - num / den;
  }
  return q;
}

Matrix Transpose(const Matrix &x) {
  Matrix t(x[0].size(), std::vector<double>(x.size()));
  for (std::size_t i = 0; i < x.size(); i++)
    for (std::size_t j = 0; j < x[0].size(); j++) t[j][i] = x[i][j];
  return t;
}

struct SizeCase {
  int N, p, K;
  bool binary;
};

std::ostream &operator<<(std::ostream &os, const SizeCase &c) {
  return os << (c.binary ? "binary" : "quantitative") << " N=" << c.N << " p=" << c.p
            << " K=" << c.K;
}

std::string SizeName(const ::testing::TestParamInfo<SizeCase> &info) {
  const SizeCase &c = info.param;
  return std::string(c.binary ? "Binary" : "Quan") + "N" + std::to_string(c.N) + "p" +
         std::to_string(c.p) + "K" + std::to_string(c.K);
}

class LiteralCovariance : public ::testing::TestWithParam<SizeCase> {};

TEST_P(LiteralCovariance, SkatMatchesLiteralResidualMatrix) {
  const SizeCase &c = GetParam();
  NullModel nm = MakeNullModel(c.binary, c.N, c.p, 100 + c.N * 7 + c.p);
  Matrix x = RandomGenotypes(c.N, c.K, 5 + c.K, 0.0);
  Built b = RunSkat(nm, x, 0);
  Family f = LiteralFamily(nm, Transpose(x), std::vector<int>(c.K, 0));
  ExpectSameFamily(b, f, tol::kClose);
  ExpectNullInvariant(b);
}

TEST_P(LiteralCovariance, CustomizedMatchesLiteralResidualMatrix) {
  const SizeCase &c = GetParam();
  NullModel nm = MakeNullModel(c.binary, c.N, c.p, 300 + c.N * 3 + c.p);
  int M = 4;
  Matrix x0 = RandomGenotypes(c.N, M, 11 + c.K, 0.1);
  std::vector<double> q = ObservedQ(x0);
  Lcg rng(77 + c.K);
  Matrix wt(c.K, std::vector<double>(M));
  for (auto &row : wt)
    for (double &w : row) w = 0.1 + rng.next();
  Built b = RunMulti(nm, x0, wt, q, 1);
  Matrix S(c.K, std::vector<double>(c.N, 0.0));
  for (int k = 0; k < c.K; k++)
    for (int i = 0; i < c.N; i++)
      for (int j = 0; j < M; j++) S[k][i] += wt[k][j] * (x0[i][j] < -0.1 ? 2 * (1 - q[j]) : x0[i][j]);
  Family f = LiteralFamily(nm, S, std::vector<int>(c.K, 0));
  ExpectSameFamily(b, f, tol::kClose);
}

TEST_P(LiteralCovariance, VtMatchesLiteralResidualMatrix) {
  const SizeCase &c = GetParam();
  NullModel nm = MakeNullModel(c.binary, c.N, c.p, 500 + c.N + c.p);
  int M = c.K + 1;
  Matrix x0 = RandomGenotypes(c.N, M, 21 + c.K, 0.1);
  std::vector<double> q = ObservedQ(x0), maf(M), thresh(c.K);
  for (int j = 0; j < M; j++) maf[j] = 0.001 * (j + 1);
  for (int l = 0; l < c.K; l++) thresh[l] = maf[(l + 1) % M];  // not sorted
  Built b = RunVT(nm, 1, x0, maf, q, thresh, 1);
  Matrix S(c.K, std::vector<double>(c.N, 0.0));
  for (int l = 0; l < c.K; l++)
    for (int i = 0; i < c.N; i++)
      for (int j = 0; j < M; j++)
        if (maf[j] <= thresh[l]) S[l][i] += x0[i][j] < -0.1 ? 2 * (1 - q[j]) : x0[i][j];
  std::vector<int> null(c.K, 0);
  for (int l = 0; l < c.K; l++) {
    bool constant = true;
    for (int i = 0; i < c.N; i++) constant = constant && S[l][i] == S[l][0];
    null[l] = constant;
  }
  Family f = LiteralFamily(nm, S, null);
  ExpectSameFamily(b, f, tol::kClose);
  for (int l = 0; l < c.K; l++)
    for (int i = 0; i < c.N; i++) EXPECT_NEAR(b.S_var[l][i], S[l][i], tol::kRounding * 10);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LiteralCovariance,
                         ::testing::Values(SizeCase{6, 1, 2, true}, SizeCase{6, 1, 2, false},
                                           SizeCase{12, 2, 3, true}, SizeCase{12, 2, 3, false},
                                           SizeCase{25, 3, 5, true}, SizeCase{25, 3, 5, false},
                                           SizeCase{60, 4, 8, true}, SizeCase{60, 4, 8, false},
                                           SizeCase{120, 2, 12, true},
                                           SizeCase{120, 2, 12, false}),
                         SizeName);

class InterceptOnly : public ::testing::TestWithParam<bool> {};

TEST_P(InterceptOnly, ClosedFormCovariance) {
  // p = 1: quantitative cov = N/(N-1) sum (S_l - mean)(S_m - mean) / SigmaSQ;
  // binary cov = sum v S_l S_m - (sum v S_l)(sum v S_m) / sum v.
  bool binary = GetParam();
  int N = 30, K = 4;
  NullModel nm = MakeNullModel(binary, N, 1, 4242);
  Matrix x = RandomGenotypes(N, K, 99, 0.0);
  Built b = RunSkat(nm, x, 0);
  ASSERT_EQ(b.count, K);
  double sv = 0;
  for (int i = 0; i < N; i++) sv += nm.v[i];
  for (int l = 0; l < K; l++)
    for (int m = 0; m < K; m++) {
      double expected;
      if (binary) {
        double a = 0, bl = 0, bm = 0;
        for (int i = 0; i < N; i++) {
          a += nm.v[i] * x[i][l] * x[i][m];
          bl += nm.v[i] * x[i][l];
          bm += nm.v[i] * x[i][m];
        }
        expected = a - bl * bm / sv;
      } else {
        double ml = 0, mm = 0;
        for (int i = 0; i < N; i++) {
          ml += x[i][l] / N;
          mm += x[i][m] / N;
        }
        double s = 0;
        for (int i = 0; i < N; i++) s += (x[i][l] - ml) * (x[i][m] - mm);
        expected = static_cast<double>(N) / (N - 1) * s / nm.SigmaSQ;
      }
      EXPECT_NEAR(b.cov[l][m], expected, tol::kClose * std::fabs(expected) + 1e-14) << l << "," << m;
    }
  for (int l = 0; l < K; l++) {
    double u = 0;
    for (int i = 0; i < N; i++) u += nm.centerY[i] * x[i][l];
    EXPECT_NEAR(b.U[l], binary ? u : u / nm.SigmaSQ, tol::kTight * (1 + std::fabs(u)));
  }
}

INSTANTIATE_TEST_SUITE_P(Traits, InterceptOnly, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &i) {
                           return std::string(i.param ? "Binary" : "Quantitative");
                         });

TEST_P(InterceptOnly, DiagonalAgreesWithTheOneScoreStatistic) {
  // The family variance of a score equals the one-score variance for a
  // binary trait and is N/(N - p) times it for a quantitative trait.
  bool binary = GetParam();
  for (int p : {1, 3}) {
    int N = 40, K = 3;
    NullModel nm = MakeNullModel(binary, N, p, 808 + p);
    Matrix x = RandomGenotypes(N, K, 17, 0.0);
    Built b = RunSkat(nm, x, 0);
    NullArrays na(nm);
    std::vector<double> y = nm.y, c = nm.centerY, v = nm.v, SZ(p);
    for (int l = 0; l < K; l++) {
      std::vector<double> S(N);
      for (int i = 0; i < N; i++) S[i] = x[i][l];
      double U = 0, V = 0;
      if (binary)
        score_stat(N, p, y.data(), S.data(), na.z.m, c.data(), v.data(), na.Iz.m, SZ.data(), &U,
                   &V);
      else
        score_stat_quanTrait(N, p, y.data(), S.data(), na.z.m, c.data(), nm.SigmaSQ, na.Iz.m,
                             SZ.data(), &U, &V);
      double factor = binary ? 1.0 : static_cast<double>(N) / (N - p);
      EXPECT_NEAR(b.cov[l][l], factor * V, tol::kClose * std::fabs(V)) << "p " << p << " score " << l;
      EXPECT_NEAR(b.U[l], U, tol::kClose * (1 + std::fabs(U)));
    }
  }
}

struct CheckCase {
  const char *name;
  std::vector<double> score;
  int singular_score, singular_covariates;
};

std::ostream &operator<<(std::ostream &os, const CheckCase &c) { return os << c.name; }

class ValidityCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ValidityCheck, Flags) {
  // Four subjects, intercept and the covariate 0, 1, 2, 3.
  const CheckCase &c = GetParam();
  DMat z(Matrix{{1, 0}, {1, 1}, {1, 2}, {1, 3}});
  std::vector<double> score = c.score;
  int ss = -1, sc = -1;
  checkWarning_Quorvex(4, 2, score.data(), z.m, &ss, &sc);
  EXPECT_EQ(ss, c.singular_score);
  EXPECT_EQ(sc, c.singular_covariates);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, ValidityCheck,
    ::testing::Values(CheckCase{"EqualToCovariate", {0, 1, 2, 3}, 0, 1},
                      CheckCase{"TwiceCovariate", {0, 2, 4, 6}, 0, 1},
                      CheckCase{"ReversedCovariate", {3, 2, 1, 0}, 0, 0},  // pivots not exactly 0
                      CheckCase{"Constant", {2, 2, 2, 2}, 1, 1},
                      CheckCase{"AllZero", {0, 0, 0, 0}, 1, 1},
                      CheckCase{"NaNValue", {0, kNaN, 1, 0}, 0, 0},
                      CheckCase{"NaNFirst", {kNaN, kNaN, kNaN, kNaN}, 0, 0},
                      CheckCase{"Valid", {0, 1, 0, 2}, 0, 0}),
    [](const ::testing::TestParamInfo<CheckCase> &i) { return std::string(i.param.name); });

TEST(ValidityCheck, ConstantScoreWithoutCovariates) {
  // p = 1 (intercept only): a constant score is collinear with it as well.
  DMat z(Matrix{{1}, {1}, {1}});
  double score[3] = {1, 1, 1};
  int ss = -1, sc = -1;
  checkWarning_Quorvex(3, 1, score, z.m, &ss, &sc);
  EXPECT_EQ(ss, 1);
  EXPECT_EQ(sc, 1);
  double varying[3] = {1, 0, 1};
  checkWarning_Quorvex(3, 1, varying, z.m, &ss, &sc);
  EXPECT_EQ(ss, 0);
  EXPECT_EQ(sc, 0);
}

TEST(SkatFamily, ScoresNulledByCountCheckAndCovariate) {
  // Variant 0: one carrier (count 1 < bound 2); variant 1: no carrier, all 0
  // (constant); variant 2: equal to the covariate column; variant 3 valid.
  NullModel nm = MakeNullModel(true, 8, 2, 9);
  for (int i = 0; i < 8; i++) nm.z[i][1] = i % 3;
  Matrix zz(2, std::vector<double>(2, 0.0));
  for (int i = 0; i < 8; i++)
    for (int a = 0; a < 2; a++)
      for (int b2 = 0; b2 < 2; b2++) zz[a][b2] += nm.v[i] * nm.z[i][a] * nm.z[i][b2];
  nm.Iz = Inverse(zz);
  Matrix x(8, std::vector<double>(5, 0.0));
  x[0][0] = 1;
  for (int i = 0; i < 8; i++) {
    x[i][2] = nm.z[i][1];
    x[i][3] = i % 2;
    x[i][4] = (i == 1 || i == 4 || i == 6) ? 2.0 : 0.0;
  }
  Built b = RunSkat(nm, x, 2);
  EXPECT_EQ(b.null, (std::vector<int>{1, 1, 1, 0, 0}));
  EXPECT_EQ(b.mac, (std::vector<int>{1, 0, 5, 4, 3}));
  EXPECT_EQ(b.count, 2);
  ExpectNullInvariant(b);
  EXPECT_GT(b.cov[3][3], 0);
  EXPECT_EQ(b.cov[3][4], b.cov[4][3]);
}

TEST(SkatFamily, CountIgnoresValuesBelowOne) {
  // A SKAT count does not count an imputed 0.9 or a 0.5.
  NullModel nm = MakeNullModel(false, 6, 1, 3);
  Matrix x = {{0.9}, {0.5}, {1}, {0}, {2}, {0}};
  Built b = RunSkat(nm, x, 0);
  EXPECT_EQ(b.mac[0], 2);
  EXPECT_EQ(b.null[0], 0);
}

TEST(SkatFamily, NaNScoreStaysValid) {
  NullModel nm = MakeNullModel(true, 6, 1, 4);
  Matrix x = {{1, 0}, {kNaN, 1}, {0, 0}, {2, 1}, {0, 0}, {1, 2}};
  Built b = RunSkat(nm, x, 0);
  EXPECT_EQ(b.null, (std::vector<int>{0, 0}));
  EXPECT_EQ(b.count, 2);
  EXPECT_TRUE(std::isnan(b.cov[0][0]));
  EXPECT_TRUE(std::isnan(b.U[0]));
  EXPECT_GT(b.cov[1][1], 0);
}

TEST(SkatFamily, NonPositiveDiagonalNullsInScoreOrder) {
  // Binary trait whose variance v is 0 at subjects 0 and 1: a score carried
  // only there has covariance diagonal exactly 0 and is nulled, with its row
  // and column, while the others keep the literal values.
  NullModel nm = MakeNullModel(true, 10, 2, 17);
  nm.v[0] = nm.v[1] = 0.0;
  Matrix zz(2, std::vector<double>(2, 0.0));
  for (int i = 0; i < 10; i++)
    for (int a = 0; a < 2; a++)
      for (int c = 0; c < 2; c++) zz[a][c] += nm.v[i] * nm.z[i][a] * nm.z[i][c];
  nm.Iz = Inverse(zz);
  Matrix x = RandomGenotypes(10, 3, 8, 0.0);
  for (int i = 0; i < 10; i++) x[i][1] = 0.0;
  x[0][1] = 1.0;
  x[1][1] = 2.0;
  Built b = RunSkat(nm, x, 0);
  Family f = LiteralFamily(nm, Transpose(x), {0, 0, 0});
  EXPECT_EQ(f.null, (std::vector<int>{0, 1, 0}));
  ExpectSameFamily(b, f, tol::kClose);
  ExpectNullInvariant(b);
}

TEST(SkatFamily, NoVariantWritesOnlyTheCount) {
  NullModel nm = MakeNullModel(false, 4, 1, 1);
  NullArrays na(nm);
  DMat x(4, 1);
  int count = -5, mac = -7, null = -7;
  double U = -9, c = -9;
  double *covrow[1] = {&c};
  std::vector<double> y = nm.y, cy = nm.centerY;
  SKAT_quan(4, 1, 0, x.m, na.z.m, cy.data(), nm.SigmaSQ, na.Iz.m, 0, &mac, &U, covrow,
            &count, &null);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(mac, -7);
  EXPECT_EQ(null, -7);
  EXPECT_EQ(U, -9);
  EXPECT_EQ(c, -9);
}

TEST(CustomizedFamily, CountsEachCarrierOnceAndSmallDosages) {
  // Weight vector 0 weighs variants 0 and 1; vector 1 only variant 2; vector
  // 2 is all 0 (constant score, null even with bound 0).
  NullModel nm = MakeNullModel(true, 5, 1, 6);
  Matrix x0 = {{1, 1, 0}, {0.2, 0, 0}, {0, 0, 0.05}, {0, 2, 1}, {-1, 0, 0}};
  Matrix wt = {{1, 0.5, 0}, {0, -1, 2}, {0, 0, 0}};
  std::vector<double> q = {0.8, 0.7, 0.9};
  Built b = RunMulti(nm, x0, wt, q, 0);
  EXPECT_EQ(b.mac, (std::vector<int>{3, 1, 0}));
  EXPECT_EQ(b.null, (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(b.count, 2);
  ExpectNullInvariant(b);
  // Subject 4 misses variant 0: imputed 2(1 - 0.8) = 0.4 under weight 1.
  double U0 = 0;
  double s0[5] = {1.5, 0.2, 0, 1.0, 0.4};
  for (int i = 0; i < 5; i++) U0 += nm.centerY[i] * s0[i];
  EXPECT_NEAR(b.U[0], U0, tol::kTight);
}

TEST(CustomizedFamily, NoWeightVectorWritesOnlyTheCount) {
  NullModel nm = MakeNullModel(true, 4, 1, 2);
  Matrix x0 = {{1}, {0}, {0}, {1}};
  Built b = RunMulti(nm, x0, Matrix{}, {0.75}, 1);
  EXPECT_EQ(b.count, 0);
  EXPECT_EQ(b.mac[0], -1);
  EXPECT_EQ(b.U[0], -99.0);
}

struct VtScoreCase {
  const char *name;
  int MODEL;
  std::vector<double> genotypes;  // one subject, three variants
  std::vector<double> q;
  double expected;
};

std::ostream &operator<<(std::ostream &os, const VtScoreCase &c) { return os << c.name; }

class VtSubjectScore : public ::testing::TestWithParam<VtScoreCase> {};

TEST_P(VtSubjectScore, ValueOfFirstSubject) {
  // Subject 0 carries the case's genotypes; the others make the scores vary.
  const VtScoreCase &c = GetParam();
  NullModel nm = MakeNullModel(false, 4, 1, 8);
  Matrix x0 = {c.genotypes, {2, 2, 2}, {0, 0, 0}, {1, 0, 0}};
  Built b = RunVT(nm, c.MODEL, x0, {0.01, 0.02, 0.5}, c.q, {0.02}, 0);
  EXPECT_NEAR(b.S_var[0][0], c.expected, tol::kRounding) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VtSubjectScore,
    ::testing::Values(
        // Variant 2 (maf 0.5) is outside the threshold 0.02 in every case.
        VtScoreCase{"DominantTwoMissing", 2, {-1, -1, 1}, {0.9, 0.8, 0.5}, 1 - 0.81 * 0.64},
        VtScoreCase{"DominantNoMissing", 2, {0, 0, 2}, {0.9, 0.8, 0.5}, 0.0},
        VtScoreCase{"DominantCarrierWithMissing", 2, {-1, 0.7, 0}, {0.9, 0.8, 0.5}, 1.0},
        VtScoreCase{"DominantSmallDosageIsNoCarrier", 2, {0.4, 0, 0}, {0.9, 0.8, 0.5}, 0.0},
        VtScoreCase{"RecessiveOneAlleleOneMissing", 3, {1, -1, 0}, {0.9, 0.7, 0.5}, 1 - 0.7 * 0.7},
        VtScoreCase{"RecessiveNoAlleleOneMissing", 3, {0, -1, 0}, {0.9, 0.7, 0.5},
                    1 - 0.7 * 0.7 - 2 * (1 - 0.7) * 0.7},
        VtScoreCase{"RecessiveTwoAlleles", 3, {1, 1, 0}, {0.9, 0.7, 0.5}, 1.0},
        VtScoreCase{"RecessiveOneAllele", 3, {1, 0, 2}, {0.9, 0.7, 0.5}, 0.0},
        VtScoreCase{"AdditiveMissingImputed", 1, {-1, 2, 1}, {0.9, 0.7, 0.5}, 2 * 0.1 + 2},
        VtScoreCase{"OtherCodeAsAdditive", 7, {1, -1, 1}, {0.9, 0.7, 0.5}, 1 + 2 * 0.3}),
    [](const ::testing::TestParamInfo<VtScoreCase> &i) { return std::string(i.param.name); });

TEST(VtFamily, RecessiveDominantFamiliesMatchLiteralMatrix) {
  for (int MODEL : {2, 3})
    for (bool binary : {true, false}) {
      NullModel nm = MakeNullModel(binary, 40, 3, 60 + MODEL);
      Matrix x0 = RandomGenotypes(40, 5, 31, 0.15);
      std::vector<double> q = ObservedQ(x0), maf = {0.01, 0.02, 0.03, 0.04, 0.05};
      std::vector<double> thresh = {0.03, 0.05, 0.02};
      Built b = RunVT(nm, MODEL, x0, maf, q, thresh, 1);
      std::vector<int> null(3);
      for (int l = 0; l < 3; l++) {
        bool constant = true;
        for (int i = 0; i < 40; i++) constant = constant && b.S_var[l][i] == b.S_var[l][0];
        null[l] = constant || b.mac[l] < 1;
      }
      Family f = LiteralFamily(nm, b.S_var, null);
      SCOPED_TRACE("MODEL " + std::to_string(MODEL) + (binary ? " binary" : " quantitative"));
      ExpectSameFamily(b, f, tol::kClose);
    }
}

TEST(VtFamily, CountsFollowTheBurdenRule) {
  NullModel nm = MakeNullModel(true, 4, 1, 12);
  Matrix x0 = {{1, 0, 0}, {0, 1, 1}, {0.5, 0, 0}, {0, 0, 2}};
  std::vector<double> maf = {0.01, 0.02, 0.03}, q = {0.9, 0.9, 0.9};
  Built add = RunVT(nm, 1, x0, maf, q, {0.01, 0.02, 0.03}, 2);
  EXPECT_EQ(add.mac, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(add.null[0], 1);  // one carrier, bound 2
  EXPECT_EQ(add.null[1], 0);
  Built rec = RunVT(nm, 3, x0, maf, q, {0.01, 0.02, 0.03}, 1);
  EXPECT_EQ(rec.mac, (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(rec.null, (std::vector<int>{1, 1, 0}));
  ExpectNullInvariant(rec);
}

TEST(VtFamily, NullScoreRowIsStillWritten) {
  // Threshold 0.001 takes no variant: the score is 0 everywhere, null, and
  // its row of S_var is written (all 0).
  NullModel nm = MakeNullModel(false, 4, 1, 13);
  Matrix x0 = {{1, 0}, {0, 1}, {0, 0}, {2, 1}};
  Built b = RunVT(nm, 1, x0, {0.01, 0.02}, {0.9, 0.9}, {0.001, 0.02}, 0);
  EXPECT_EQ(b.null, (std::vector<int>{1, 0}));
  for (int i = 0; i < 4; i++) EXPECT_EQ(b.S_var[0][i], 0.0);
  EXPECT_EQ(b.count, 1);
}

TEST(VtFamily, NoThresholdWritesOnlyTheCount) {
  NullModel nm = MakeNullModel(true, 4, 1, 14);
  Matrix x0 = {{1}, {0}, {0}, {1}};
  Built b = RunVT(nm, 1, x0, {0.01}, {0.75}, {}, 1);
  EXPECT_EQ(b.count, 0);
  EXPECT_EQ(b.mac[0], -1);
  EXPECT_EQ(b.null[0], -1);
}

// The stop message goes to standard output; the child sends it to standard
// error, where the death test reads it.
void StdoutToStderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

TEST(VtFamilyDeathTest, FractionalRecessiveTypeStops) {
  // A dosage of 0.7 (> 0.5) with a missing genotype in the same score gives
  // the imputation a type of 0.7.
  NullModel nm = MakeNullModel(true, 3, 1, 15);
  Matrix x0 = {{0.7, -1}, {0, 1}, {2, 0}};
  EXPECT_EXIT(run_to_exit([&] { (StdoutToStderr(), RunVT(nm, 3, x0, {0.01, 0.02}, {0.9, 0.9}, {0.02}, 0)); }),
              ::testing::ExitedWithCode(1), "^Only type=0 or 1 is acceptable\n$");
}

}  // namespace
