#include "stats/combination.h"

#include <gsl/gsl_cdf.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "kernels/sadmvn.h"
#include "numeric/arrays.h"
#include "tests/support/imhof_reference.h"
#include "tests/support/tolerances.h"

namespace {

using Matrix = std::vector<std::vector<double>>;

// 0-based index-range matrix copied from a table, freed on scope exit.
struct DMat {
  long n;
  double **m;
  explicit DMat(const Matrix &t) : n(static_cast<long>(t.size())) {
    m = dmatrix(0, n > 0 ? n - 1 : 0, 0, n > 0 ? n - 1 : 0);
    for (long i = 0; i < n; i++)
      for (long j = 0; j < n; j++) m[i][j] = t[i][j];
  }
  ~DMat() { free_dmatrix(m, 0, n > 0 ? n - 1 : 0, 0, n > 0 ? n - 1 : 0); }
  DMat(const DMat &) = delete;
  DMat &operator=(const DMat &) = delete;
};

// 1-based correlation matrix [1..n][1..n] inside bounds 0..n, as the
// multivariate normal wrapper takes it.
struct Corr {
  int n;
  double **m;
  explicit Corr(const Matrix &t) : n(static_cast<int>(t.size())) {
    m = dmatrix(0, n, 0, n);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < n; j++) m[i + 1][j + 1] = t[i][j];
  }
  ~Corr() { free_dmatrix(m, 0, n, 0, n); }
  Corr(const Corr &) = delete;
  Corr &operator=(const Corr &) = delete;
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// P(|Z| >= t) for one standard normal.
double TwoSidedNormal(double t) { return std::erfc(t / std::sqrt(2.0)); }

// ---------------------------------------------------------------------------
// Independent upper tails of Q = sum_j lambda_j chi2_1.

// Each eigenvalue twice: Q = 2a E1 + 2b E2 with exponential E, so
// P(Q > x) = (a exp(-x/(2a)) - b exp(-x/(2b))) / (a - b).
double PairedUpperTail(double a, double b, double x) {
  return (a * std::exp(-x / (2 * a)) - b * std::exp(-x / (2 * b))) / (a - b);
}

// Symmetric kernel H D H with H the Householder reflection of v, turned into
// a covariance for weights w: cov[i][j] = K[i][j] / (sqrt(w_i) sqrt(w_j)).
Matrix CovarianceWithKernelEigenvalues(const std::vector<double> &d, const std::vector<double> &v,
                                       const std::vector<double> &w) {
  std::size_t m = d.size();
  double vv = 0;
  for (double e : v) vv += e * e;
  Matrix H(m, std::vector<double>(m));
  for (std::size_t i = 0; i < m; i++)
    for (std::size_t j = 0; j < m; j++) H[i][j] = (i == j ? 1.0 : 0.0) - 2 * v[i] * v[j] / vv;
  Matrix cov(m, std::vector<double>(m, 0.0));
  for (std::size_t i = 0; i < m; i++)
    for (std::size_t j = 0; j < m; j++) {
      double k = 0;
      for (std::size_t l = 0; l < m; l++) k += H[i][l] * d[l] * H[j][l];
      cov[i][j] = k / (std::sqrt(w[i]) * std::sqrt(w[j]));
    }
  return cov;
}

struct SkatOut {
  double T = -7, p = -7;
  int err = -7;
  std::string printed;
};

SkatOut RunSkat(std::vector<double> S, const Matrix &cov, std::vector<double> w) {
  DMat C(cov);
  SkatOut o;
  testing::internal::CaptureStdout();
  SKAT(static_cast<int>(S.size()), S.data(), C.m, w.data(), &o.T, &o.p, &o.err);
  o.printed = testing::internal::GetCapturedStdout();
  return o;
}

double WeightedSum(const std::vector<double> &S, const std::vector<double> &w) {
  double q = 0;
  for (std::size_t i = 0; i < S.size(); i++) q += S[i] * w[i] * S[i];
  return q;
}

// ---------------------------------------------------------------------------
// SKAT

TEST(Skat, EqualEigenvaluesGiveAChiSquare) {
  // Kernel 1.5 I through weights 0.5, 2, 3 and a diagonal covariance.
  std::vector<double> w = {0.5, 2.0, 3.0}, S = {1.2, -0.7, 0.9};
  Matrix cov = {{3.0, 0, 0}, {0, 0.75, 0}, {0, 0, 0.5}};
  SkatOut o = RunSkat(S, cov, w);
  double Q = WeightedSum(S, w);
  EXPECT_NEAR(o.T, Q, tol::kRounding * Q);
  EXPECT_EQ(o.err, 0);
  EXPECT_NEAR(o.p, gsl_cdf_chisq_Q(Q / 1.5, 3), 1e-8);
  EXPECT_EQ(o.printed, "\n");
}

TEST(Skat, CentredKernelIsAChiSquareOnOneDegreeLess) {
  // Kernel c (I - 11'/m): eigenvalues c (m - 1 times) and 0, which is below
  // the cut-off; Q ~ c chi2_{m-1}.
  const int m = 5;
  const double c = 0.8;
  std::vector<double> w(m, 1.0), S = {0.5, -1.0, 1.5, 0.3, -0.9};
  Matrix cov(m, std::vector<double>(m));
  for (int i = 0; i < m; i++)
    for (int j = 0; j < m; j++) cov[i][j] = c * ((i == j ? 1.0 : 0.0) - 1.0 / m);
  SkatOut o = RunSkat(S, cov, w);
  EXPECT_EQ(o.err, 0);
  EXPECT_NEAR(o.p, gsl_cdf_chisq_Q(WeightedSum(S, w) / c, m - 1), 1e-8);
}

struct PairCase {
  double a, b;
  std::vector<double> S, w;
};

std::ostream &operator<<(std::ostream &os, const PairCase &c) {
  return os << "eigenvalues " << c.a << " and " << c.b;
}

class SkatPairedEigenvalues : public ::testing::TestWithParam<PairCase> {};

TEST_P(SkatPairedEigenvalues, AgreesWithTheExponentialMixture) {
  const PairCase &c = GetParam();
  Matrix cov = CovarianceWithKernelEigenvalues({c.a, c.b, c.a, c.b}, {1, -2, 0.5, 1}, c.w);
  SkatOut o = RunSkat(c.S, cov, c.w);
  double Q = WeightedSum(c.S, c.w);
  EXPECT_EQ(o.err, 0);
  EXPECT_NEAR(o.p, PairedUpperTail(c.a, c.b, Q), 1e-8) << "Q = " << Q;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SkatPairedEigenvalues,
    ::testing::Values(PairCase{2.0, 0.5, {1.0, 0.5, -0.8, 1.1}, {1, 1, 1, 1}},
                      PairCase{1.0, 0.1, {2.0, -1.5, 1.0, 2.5}, {0.3, 1.7, 0.9, 2.2}},
                      PairCase{5.0, 4.0, {0.1, 0.2, -0.1, 0.05}, {1, 2, 3, 4}},
                      PairCase{0.3, 3.0, {3.0, 2.0, -2.5, 1.0}, {0.5, 0.5, 2, 2}}));

TEST(Skat, DistinctEigenvaluesAgreeWithImhof) {
  std::vector<double> d = {3.0, 1.5, 0.7, 0.4, 0.2};
  std::vector<double> w = {1.0, 0.5, 2.0, 1.5, 0.8};
  Matrix cov = CovarianceWithKernelEigenvalues(d, {0.3, 1, -1, 0.5, 2}, w);
  for (double scale : {0.2, 1.0, 3.0}) {
    std::vector<double> S = {1.0 * scale, -0.5 * scale, 0.8 * scale, 1.2 * scale, -0.3 * scale};
    SkatOut o = RunSkat(S, cov, w);
    double Q = WeightedSum(S, w);
    EXPECT_EQ(o.err, 0);
    EXPECT_NEAR(o.p, imhof_upper_tail(d, Q), 1e-8) << "Q = " << Q;
  }
}

TEST(Skat, EigenvalueBelowTheCutOffIsLeftOut) {
  // Eigenvalues 1, 1, e: the cut-off is (2 + e) / 3 / 1e5 (about 6.67e-6).
  // e = 6e-6 is below it, so Q is treated as chi2_2 exactly; e = 7e-6 is
  // kept, and the p-value moves by about 1e-6, far above the accuracy.
  std::vector<double> w(3, 1.0), S = {1.0, 0.6, 0.2};
  double Q = WeightedSum(S, w);
  SkatOut dropped = RunSkat(S, {{1, 0, 0}, {0, 1, 0}, {0, 0, 6e-6}}, w);
  SkatOut kept = RunSkat(S, {{1, 0, 0}, {0, 1, 0}, {0, 0, 7e-6}}, w);
  EXPECT_NEAR(dropped.p, std::exp(-Q / 2), 1e-9);
  EXPECT_NEAR(kept.p, imhof_upper_tail({1.0, 1.0, 7e-6}, Q), 1e-8);
  EXPECT_GT(kept.p - std::exp(-Q / 2), 5e-7);
}

TEST(Skat, NegativeEigenvaluesAreLeftOut) {
  // Eigenvalues 2 and -1 (indefinite covariance): only 2 enters.
  std::vector<double> w = {1, 1}, S = {0.7, 1.1};
  Matrix cov = CovarianceWithKernelEigenvalues({2.0, -1.0}, {1, 0.4}, w);
  SkatOut o = RunSkat(S, cov, w);
  EXPECT_NEAR(o.p, gsl_cdf_chisq_Q(WeightedSum(S, w) / 2, 1), 1e-8);
}

TEST(Skat, NoNonNegativeEigenvalue) {
  std::vector<double> S = {1.0, 2.0};
  SkatOut o = RunSkat(S, {{-1, 0}, {0, -2}}, {1, 1});
  EXPECT_EQ(o.printed, "\nNo Eigenvalue is bigger than 0!!");
  EXPECT_EQ(o.p, -999.0);
  EXPECT_EQ(o.err, -7);  // not written
  EXPECT_EQ(o.T, 5.0);
}

TEST(Skat, AllEigenvaluesZeroIsAStepAtZero) {
  // Zero covariance: cut-off 0, no eigenvalue passes it, Davies' routine has
  // no term: P(Q' > Q) is 0 for Q > 0 and 1 for Q = 0.
  SkatOut positive = RunSkat({1.0, 0.0}, {{0, 0}, {0, 0}}, {1, 1});
  EXPECT_EQ(positive.p, 0.0);
  EXPECT_EQ(positive.err, 0);
  SkatOut zero = RunSkat({0.0, 0.0}, {{0, 0}, {0, 0}}, {1, 1});
  EXPECT_EQ(zero.p, 1.0);
  EXPECT_EQ(zero.printed, "\n");
}

TEST(Skat, DaviesFaultGivesTwo) {
  // A statistic that is not a number: Davies' routine reports fault 1 and
  // the result -1, so the p-value is 2.
  SkatOut o = RunSkat({kNaN, 1.0}, {{1, 0}, {0, 1}}, {1, 1});
  EXPECT_EQ(o.err, 1);
  EXPECT_EQ(o.p, 2.0);
}

TEST(Skat, OneScore) {
  SkatOut o = RunSkat({1.96}, {{1.0}}, {2.0});
  EXPECT_NEAR(o.T, 2 * 1.96 * 1.96, tol::kRounding * 8);
  EXPECT_NEAR(o.p, TwoSidedNormal(1.96), 1e-8);
}

// ---------------------------------------------------------------------------
// ZEPH_metaPval_v2

struct MetaOut {
  double T = -7, p = -7;
  int inform = -7;
  std::string printed;
};

MetaOut RunMeta(int method, std::vector<double> U, const Matrix &V, std::vector<double> w = {}) {
  if (w.empty()) w.assign(U.size(), 1.0);
  DMat C(V);
  MetaOut o;
  testing::internal::CaptureStdout();
  ZEPH_metaPval_v2(method, static_cast<int>(U.size()), U.data(), C.m, w.data(), &o.T, &o.p,
                   &o.inform);
  o.printed = testing::internal::GetCapturedStdout();
  return o;
}

TEST(MetaPvalue, UnknownMethodWritesNothing) {
  for (int method : {3, -1, 42}) {
    MetaOut o = RunMeta(method, {1.0, 2.0}, {{1, 0.2}, {0.2, 1}});
    EXPECT_EQ(o.T, -7);
    EXPECT_EQ(o.p, -7);
    EXPECT_EQ(o.inform, -7);
    EXPECT_EQ(o.printed, "");
  }
}

TEST(MetaPvalue, NoUsableScore) {
  Matrix zero = {{0, 0, 0}, {0, 0, 0}, {0, 0, -1}};
  for (int method : {0, 1, 2}) {
    MetaOut o = RunMeta(method, {0, 0, 0}, zero);
    EXPECT_EQ(o.p, -999.0) << "method " << method;
    EXPECT_EQ(o.printed, "") << "method " << method;  // SKAT is not called
    if (method != 1) {
      EXPECT_EQ(o.T, -7) << "method " << method;
      EXPECT_EQ(o.inform, -7) << "method " << method;
    } else {
      EXPECT_EQ(o.inform, 0);
    }
  }
}

TEST(MetaPvalue, QuadraticFormIsChiSquare) {
  // Two usable scores around a null one: T = U' V^-1 U over the usable ones,
  // and with 2 degrees of freedom the tail is exp(-T/2).
  std::vector<double> U = {1.5, 0.0, -0.8};
  Matrix V = {{2.0, 0, 0.6}, {0, 0, 0}, {0.6, 0, 1.0}};
  MetaOut o = RunMeta(0, U, V);
  double det = 2.0 * 1.0 - 0.6 * 0.6;
  double T = (1.0 * 1.5 * 1.5 - 2 * 0.6 * 1.5 * -0.8 + 2.0 * 0.8 * 0.8) / det;
  EXPECT_NEAR(o.T, T, tol::kTight * T);
  EXPECT_NEAR(o.p, std::exp(-T / 2), tol::kTight);
  EXPECT_EQ(o.inform, -7);  // method 0 never writes it
}

TEST(MetaPvalue, SkatMethodUsesOnlyUsableScores) {
  // The null middle score is removed from U, V and the weights alike.
  std::vector<double> U = {1.0, 5.0, -0.5}, w = {2.0, 9.0, 0.5};
  Matrix V = {{1.0, 0, 0.3}, {0, 0, 0}, {0.3, 0, 2.0}};
  MetaOut o = RunMeta(2, U, V, w);
  SkatOut direct = RunSkat({1.0, -0.5}, {{1.0, 0.3}, {0.3, 2.0}}, {2.0, 0.5});
  EXPECT_EQ(o.T, direct.T);
  EXPECT_EQ(o.p, direct.p);
  EXPECT_EQ(o.inform, direct.err);
  EXPECT_EQ(o.printed, "\n");
  EXPECT_NEAR(o.T, 2.0 + 0.125, tol::kRounding * 4);
}

TEST(MetaPvalue, MaximumWithOnlyTheMiddleScoreUsable) {
  std::vector<double> U = {3.0, -2.0, 7.0};
  Matrix V = {{0, 0, 0}, {0, 1.6, 0}, {0, 0, -0.5}};
  MetaOut o = RunMeta(1, U, V);
  double t = 2.0 / std::sqrt(1.6);
  EXPECT_NEAR(o.T, t, tol::kRounding * t);
  EXPECT_EQ(o.inform, 0);
  EXPECT_NEAR(o.p, TwoSidedNormal(t), tol::kClose);
}

TEST(MetaPvalue, CorrelationWithinOneTenBillionthOfOneIsDropped) {
  // Scores 0 and 1 have correlation 1 - 5e-11: score 1 is dropped and the
  // integration sees score 0 and score 2 only; the maximum still runs over all.
  double r = 1 - 5e-11;
  std::vector<double> U = {1.0, 2.5, -0.5};
  Matrix V = {{1, r, 0.3}, {r, 1, 0.3}, {0.3, 0.3, 1}};
  MetaOut o = RunMeta(1, U, V);
  EXPECT_EQ(o.T, 2.5);
  Corr kept({{1, 0.3}, {0.3, 1}});
  int inform = 0;
  EXPECT_EQ(o.p, mvn_pvalue(2, 2.5, kept.m, &inform));
  EXPECT_EQ(o.inform, 0);

  // Two scores only: one statistic is left, P(|Z| >= T).
  MetaOut two = RunMeta(1, {1.0, 2.5}, {{1, r}, {r, 1}});
  EXPECT_NEAR(two.p, TwoSidedNormal(2.5), tol::kClose);
}

TEST(MetaPvalue, CorrelationMinusOneIsKept) {
  // Z2 = -Z1: both stay; the integration of the pair gives P(|Z1| >= T).
  MetaOut o = RunMeta(1, {1.2, -1.2}, {{1, -1}, {-1, 1}});
  Corr both({{1, -1}, {-1, 1}});
  int inform = 0;
  EXPECT_EQ(o.p, mvn_pvalue(2, 1.2, both.m, &inform));
  EXPECT_NEAR(o.p, TwoSidedNormal(1.2), tol::kClose);
}

TEST(MetaPvalue, DuplicateRuleRunsOverDroppedPositions) {
  // Scores 0, 1, 2 pairwise within 1e-10 of correlation 1 only through
  // score 1: 0-1 and 1-2 near 1, 0-2 not. Score 1 is dropped by 0, and
  // score 2 is dropped by the dropped score 1.
  double r = 1 - 2e-11;
  Matrix V = {{1, r, 0.9}, {r, 1, r}, {0.9, r, 1}};
  MetaOut o = RunMeta(1, {0.5, 1.0, 2.0}, V);
  Corr single(Matrix{{1.0}});
  int inform = 0;
  EXPECT_EQ(o.p, mvn_pvalue(1, 2.0, single.m, &inform));
  EXPECT_NEAR(o.p, TwoSidedNormal(2.0), tol::kClose);
}

TEST(MetaPvalue, MaximumOfIndependentScores) {
  // Unit variances scaled: statistics U_i / sqrt(V_ii) = 1.0, -2.2, 1.5.
  std::vector<double> U = {2.0, -2.2, 0.75};
  Matrix V = {{4, 0, 0}, {0, 1, 0}, {0, 0, 0.25}};
  MetaOut o = RunMeta(1, U, V);
  EXPECT_NEAR(o.T, 2.2, tol::kRounding * 4);
  double inside = 1 - TwoSidedNormal(2.2);
  EXPECT_NEAR(o.p, 1 - inside * inside * inside, 1e-6);
  EXPECT_EQ(o.inform, 0);
}

// ---------------------------------------------------------------------------
// mvn_pvalue stages

// One attempt of a stage computed directly with the integration wrapper.
struct Attempt {
  double p;
  int info;
};

Attempt DirectAttempt(int n, double w, double **Sigma, int budget, double abseps) {
  std::vector<double> lower(n + 1, -w), upper(n + 1, w), mu(n + 1, 0.0);
  std::vector<int> infin(n + 1, 2);
  double error = 0;
  int info = 0;
  double v = mymvn(budget, abseps, n, lower.data(), upper.data(), infin.data(), mu.data(), Sigma,
                   &error, &info);
  return {1 - v, info};
}

Matrix Equicorrelated(int n, double rho) {
  Matrix m(n, std::vector<double>(n, rho));
  for (int i = 0; i < n; i++) m[i][i] = 1;
  return m;
}

struct StageCase {
  const char *name;
  int n;
  double rho, w;
  int stages;  // the stages that must run
};

std::ostream &operator<<(std::ostream &os, const StageCase &c) { return os << c.name; }

class MvnStages : public ::testing::TestWithParam<StageCase> {};

TEST_P(MvnStages, ReturnsTheLastStageRun) {
  // Each stage's attempt is repeated here directly with the wrapper (the
  // integration is deterministic); the cases are chosen so that the values
  // of neighbouring stages differ, so the result names the stages that ran.
  const StageCase &c = GetParam();
  Corr S(Equicorrelated(c.n, c.rho));
  int budget = 5000 * c.n * c.n * c.n;
  Attempt s1 = DirectAttempt(c.n, c.w, S.m, budget, 0.01);
  Attempt s2 = DirectAttempt(c.n, c.w, S.m, budget, s1.p / 100);
  Attempt s3 = DirectAttempt(c.n, c.w, S.m, budget, 1e-8);
  int stages = s1.p >= 0.1 ? 1 : s2.p >= 1e-4 ? 2 : 3;
  ASSERT_EQ(stages, c.stages);
  // The stages that run meet their accuracy with the first budget.
  int info[3] = {s1.info, s2.info, s3.info};
  for (int k = 0; k < stages; k++) ASSERT_EQ(info[k], 0) << "stage " << k + 1;
  double value[3] = {s1.p, s2.p, s3.p};
  if (stages < 3) {
    ASSERT_NE(value[stages - 1], value[stages]) << "case does not tell the stages apart";
  }
  if (stages > 1) {
    ASSERT_NE(value[stages - 1], value[stages - 2]) << "case does not tell the stages apart";
  }
  int inform = -7;
  double p = mvn_pvalue(c.n, c.w, S.m, &inform);
  EXPECT_EQ(p, value[stages - 1]);
  EXPECT_EQ(inform, -7);  // written only when a stage fails
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MvnStages,
    ::testing::Values(StageCase{"AboveTenPercentStageOneOnly", 5, 0.5, 2.0, 1},
                      StageCase{"FourPercentTwoStages", 5, 0.5, 2.6, 2},
                      StageCase{"SmallPAllThreeStages", 3, 0.4, 4.2, 3}),
    [](const ::testing::TestParamInfo<StageCase> &i) { return std::string(i.param.name); });

TEST(MvnPvalue, FailedStageOneReportsOne) {
  // 21 statistics are beyond the integration kernel: every attempt reports
  // status 2 with probability 0, so stage 1 fails after its three budgets
  // and its last estimate 1 - 0 is returned. (The driver never asks for
  // more than 19.)
  Corr S(Equicorrelated(21, 0.1));
  int inform = -7;
  EXPECT_EQ(mvn_pvalue(21, 2.0, S.m, &inform), 1.0);
  EXPECT_EQ(inform, 1);
}

struct ExactCase {
  int n;
  double rho, w;
};

std::ostream &operator<<(std::ostream &os, const ExactCase &c) {
  return os << c.n << " variables, rho " << c.rho << ", w " << c.w;
}

class MvnExact : public ::testing::TestWithParam<ExactCase> {};

TEST_P(MvnExact, AgreesWithTheClosedForm) {
  // One variable, and independent variables: 1 - (1 - P(|Z| >= w))^n.
  const ExactCase &c = GetParam();
  Corr S(Equicorrelated(c.n, c.rho));
  int inform = -7;
  double p = mvn_pvalue(c.n, c.w, S.m, &inform);
  double one = TwoSidedNormal(c.w);
  double expected = 1 - std::pow(1 - one, c.n);
  // Stage accuracies: 0.01, then p/100, then 1e-8 absolute.
  double tolerance = expected >= 0.1 ? 0.01 : expected >= 1e-4 ? expected / 100 : 1e-8;
  EXPECT_NEAR(p, expected, tolerance);
  EXPECT_EQ(inform, -7);
}

INSTANTIATE_TEST_SUITE_P(Cases, MvnExact,
                         ::testing::Values(ExactCase{1, 0, 0.5}, ExactCase{1, 0, 2.0},
                                           ExactCase{1, 0, 4.5}, ExactCase{2, 0, 2.5},
                                           ExactCase{3, 0, 1.0}, ExactCase{3, 0, 2.4},
                                           ExactCase{3, 0, 4.4}, ExactCase{5, 0, 3.0}));

TEST(MvnPvalue, BivariateAgreesWithTheBivariateNormal) {
  // P(max(|Z1|, |Z2|) >= w) for correlation 0.5, through the inclusion-
  // exclusion of the quadrant probabilities computed by numerical
  // integration over z1 of Phi((w - rho z1)/s) - Phi((-w - rho z1)/s).
  double rho = 0.5, w = 2.1, s = std::sqrt(1 - rho * rho);
  struct P {
    double rho, w, s;
  } prm{rho, w, s};
  gsl_function F{[](double z, void *v) {
                   const P *q = static_cast<const P *>(v);
                   double inner = gsl_cdf_ugaussian_P((q->w - q->rho * z) / q->s) -
                                  gsl_cdf_ugaussian_P((-q->w - q->rho * z) / q->s);
                   return std::exp(-0.5 * z * z) / std::sqrt(2 * M_PI) * inner;
                 },
                 &prm};
  gsl_integration_workspace *ws = gsl_integration_workspace_alloc(1000);
  double inside = 0, err = 0;
  gsl_integration_qag(&F, -w, w, 1e-15, 1e-13, 1000, GSL_INTEG_GAUSS61, ws, &inside, &err);
  gsl_integration_workspace_free(ws);
  Corr S({{1, rho}, {rho, 1}});
  int inform = -7;
  EXPECT_NEAR(mvn_pvalue(2, w, S.m, &inform), 1 - inside, 1e-12);
}

}  // namespace

// The stages of the maximum-statistic p-value with their records and shared
// conditioning steps against integrating every attempt from the start: the
// same p-value bits and inform, through one, two and three stages (the
// engine-level test covers missed accuracies on random problems).
TEST(MaximumStatisticStages, SameBitsAsIntegratingEachAttemptAfresh) {
  struct Case {
    int n;
    double rho, w;
  };
  const Case cases[] = {{3, 0.5, 1.0}, {3, 0.5, 2.8}, {3, 0.9, 4.6}, {5, 0.3, 3.0},
                        {5, 0.7, 4.4}, {6, 0.6, 3.3}, {6, 0.2, 4.9}};
  for (const Case &c : cases) {
    // Correlations rho^|i-j| (nested-score-like decay).
    double **Sigma = dmatrix(0, c.n, 0, c.n);
    for (int i = 1; i <= c.n; i++)
      for (int j = 1; j <= c.n; j++) Sigma[i][j] = std::pow(c.rho, std::abs(i - j));
    int inform_straight = -5, inform_saving = -5;
    sadmvn_options(false, false);
    const double straight = mvn_pvalue(c.n, c.w, Sigma, &inform_straight);
    sadmvn_options(true, true);
    const double saving = mvn_pvalue(c.n, c.w, Sigma, &inform_saving);
    EXPECT_EQ(std::memcmp(&straight, &saving, sizeof straight), 0)
        << "n " << c.n << " w " << c.w << ": " << straight << " vs " << saving;
    EXPECT_EQ(inform_straight, inform_saving) << "n " << c.n << " w " << c.w;
    free_dmatrix(Sigma, 0, c.n, 0, c.n);
  }
}
