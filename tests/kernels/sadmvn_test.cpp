#include "kernels/sadmvn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>
#include <vector>

#include "kernels/adapt.h"
#include "kernels/normal.h"
#include "tests/support/tolerances.h"

namespace {

const double kExactError = 2.000000033724767e-16;

double RefPhi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// A problem in mymvn's 1-based form.
struct Problem {
  int n;
  std::vector<double> lower, upper, mu;
  std::vector<int> infin;
  std::vector<std::vector<double>> sigma;  // [1..n][1..n]
  explicit Problem(int n_)
      : n(n_), lower(n_ + 1, 0.0), upper(n_ + 1, 0.0), mu(n_ + 1, 0.0), infin(n_ + 1, 2),
        sigma(n_ + 1, std::vector<double>(n_ + 1, 0.0)) {
    for (int i = 1; i <= n; i++) sigma[i][i] = 1.0;
  }
  void Set(int i, int code, double lo, double up) {
    infin[i] = code;
    lower[i] = lo;
    upper[i] = up;
  }
  void Correlate(int i, int j, double r) {
    sigma[i][j] = r * std::sqrt(sigma[i][i] * sigma[j][j]);
    sigma[j][i] = sigma[i][j];
  }
};

struct Result {
  double value, error;
  int inform;
};

Result Solve(Problem p, int maxpts, double abseps) {
  std::vector<double *> rows(p.n + 1);
  for (int i = 1; i <= p.n; i++) rows[i] = p.sigma[i].data();
  Result r{-7.0, -7.0, -7};
  r.value = mymvn(maxpts, abseps, p.n, p.lower.data(), p.upper.data(), p.infin.data(),
                  p.mu.data(), rows.data(), &r.error, &r.inform);
  return r;
}

// Probability of variable i's own interval (standardised by its mean and sd).
double Marginal(const Problem &p, int i) {
  const double s = std::sqrt(p.sigma[i][i]);
  const double lo = p.infin[i] == 0 || p.infin[i] < 0 ? 0.0 : RefPhi((p.lower[i] - p.mu[i]) / s);
  const double up = p.infin[i] == 1 || p.infin[i] < 0 ? 1.0 : RefPhi((p.upper[i] - p.mu[i]) / s);
  return up - lo;
}

// Monte Carlo estimate of the rectangle probability with its standard error:
// X = mu + L Z with L the Cholesky factor of Sigma.
void MonteCarlo(const Problem &p, int samples, unsigned seed, double *est, double *se) {
  const int n = p.n;
  std::vector<std::vector<double>> l(n + 1, std::vector<double>(n + 1, 0.0));
  for (int i = 1; i <= n; i++)
    for (int j = 1; j <= i; j++) {
      double s = p.sigma[i][j];
      for (int k = 1; k < j; k++) s -= l[i][k] * l[j][k];
      l[i][j] = i == j ? std::sqrt(s) : s / l[j][j];
    }
  std::mt19937_64 gen(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> z(n + 1);
  long hits = 0;
  for (int s = 0; s < samples; s++) {
    for (int i = 1; i <= n; i++) z[i] = normal(gen);
    bool inside = true;
    for (int i = 1; i <= n && inside; i++) {
      double x = p.mu[i];
      for (int k = 1; k <= i; k++) x += l[i][k] * z[k];
      if (p.infin[i] >= 0) {
        if (p.infin[i] != 0 && x < p.lower[i]) inside = false;
        if (p.infin[i] != 1 && x > p.upper[i]) inside = false;
      }
    }
    hits += inside;
  }
  *est = static_cast<double>(hits) / samples;
  *se = std::sqrt(*est * (1.0 - *est) / samples);
}

// Correlation of nested burden scores: corr(S_i, S_j) = sqrt(V_i / V_j), i <= j.
Problem NestedBurden(int n, double w) {
  Problem p(n);
  std::vector<double> v(n + 1, 0.0);
  double total = 0.0;
  for (int k = 1; k <= n; k++) {
    total += 1.0 + 0.35 * k + 0.02 * k * k;
    v[k] = total;
  }
  for (int i = 1; i <= n; i++) {
    p.Set(i, 2, -w, w);
    for (int j = 1; j < i; j++) p.Correlate(i, j, std::sqrt(v[j] / v[i]));
  }
  return p;
}

TEST(MultivariateNormal, VariableCountOutOfRange) {
  for (int n : {0, -3, 21, 50, 60}) {
    Problem p(std::max(n, 1) + 1);
    std::vector<double *> rows(p.n + 1);
    for (int i = 1; i <= p.n; i++) rows[i] = p.sigma[i].data();
    double error = -7.0;
    int inform = -7;
    // The arrays are larger than n only for n <= 1; mymvn must not read them.
    const double value =
        mymvn(10000, 1e-3, n, p.lower.data(), p.upper.data(), p.infin.data(), p.mu.data(),
              n <= 1 ? rows.data() : nullptr, &error, &inform);
    EXPECT_EQ(value, 0.0) << n;
    EXPECT_EQ(error, 1.0);
    EXPECT_EQ(inform, 2);
  }
  for (int n : {0, 21}) {
    double lower[25] = {0}, upper[25] = {0}, correl[300] = {0}, fabseps = 1e-3, releps = 0.0,
           error = -7.0, value = -7.0;
    int infin[25] = {0}, maxpts = 10000, inform = -7, nn = n;
    sadmvn_(&nn, lower, upper, infin, correl, &maxpts, &fabseps, &releps, &error, &value,
            &inform);
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(error, 1.0);
    EXPECT_EQ(inform, 2);
  }
}

TEST(MultivariateNormal, BudgetBelowOneRuleApplication) {
  Problem p = NestedBurden(5, 2.0);
  // The 4-dimensional rule needs 65 evaluations.
  Result r = Solve(p, 64, 1e-3);
  EXPECT_EQ(r.inform, 2);
  EXPECT_EQ(r.value, 0.0);
  EXPECT_EQ(r.error, 1.0);
  r = Solve(p, 65, 1e-3);  // one application is allowed, the tolerance is not reached
  EXPECT_EQ(r.inform, 1);
  EXPECT_GT(r.value, 0.5);
  EXPECT_LT(r.value, 1.0);
}

TEST(MultivariateNormal, NoFiniteVariableGivesOne) {
  Problem p(4);
  for (int i = 1; i <= 4; i++) p.Set(i, -1, 5.0, -5.0);
  p.Correlate(2, 1, 0.5);
  Result r = Solve(p, 100000, 1e-6);
  EXPECT_EQ(r.value, 1.0);
  EXPECT_EQ(r.error, 0.0);
  EXPECT_EQ(r.inform, 0);
}

TEST(MultivariateNormal, OneFiniteVariableIsExact) {
  Problem p(3);
  p.Set(1, -1, 0.0, 0.0);
  p.Set(2, 2, -1.3, 0.8);
  p.Set(3, -2, 0.0, 0.0);
  p.sigma[2][2] = 4.0;
  p.mu[2] = 0.5;
  p.Correlate(2, 1, 0.4);
  p.Correlate(3, 2, -0.3);
  Result r = Solve(p, 100000, 1e-6);
  EXPECT_NEAR(r.value, RefPhi((0.8 - 0.5) / 2.0) - RefPhi((-1.3 - 0.5) / 2.0), tol::kRounding);
  EXPECT_EQ(r.error, kExactError);
  EXPECT_EQ(r.inform, 0);
  for (int code : {0, 1}) {
    p.infin[2] = code;
    r = Solve(p, 100000, 1e-6);
    EXPECT_NEAR(r.value, Marginal(p, 2), tol::kRounding) << code;
    EXPECT_EQ(r.error, kExactError);
  }
}

// P(X1 in [l1,u1], X2 in [l2,u2]) by Simpson's rule over x1 (unit variances).
double BivariateBySimpson(double l1, double u1, double l2, double u2, double r) {
  const double s = std::sqrt(1.0 - r * r);
  const int n = 100000;
  const double h = (u1 - l1) / n;
  auto f = [&](double x) {
    return std::exp(-x * x / 2.0) / std::sqrt(2.0 * M_PI) *
           (RefPhi((u2 - r * x) / s) - RefPhi((l2 - r * x) / s));
  };
  double sum = f(l1) + f(u1);
  for (int i = 1; i < n; i++) sum += (i % 2 ? 4.0 : 2.0) * f(l1 + i * h);
  return sum * h / 3.0;
}

TEST(MultivariateNormal, TwoFiniteVariablesAreExactWithoutIntegration) {
  Problem p(4);
  p.Set(1, 2, -1.0, 1.5);
  p.Set(2, -1, 0.0, 0.0);
  p.Set(3, 2, -0.5, 2.0);
  p.Set(4, -1, 0.0, 0.0);
  p.Correlate(3, 1, 0.6);
  p.Correlate(2, 1, 0.9);
  p.Correlate(4, 3, -0.8);
  Result r = Solve(p, 100000, 1e-12);
  EXPECT_NEAR(r.value, BivariateBySimpson(-1.0, 1.5, -0.5, 2.0, 0.6), tol::kClose);
  EXPECT_EQ(r.error, kExactError);
  EXPECT_EQ(r.inform, 0);
  // One-sided codes (upper limits 40 stand for +infinity in the reference).
  p.Set(1, 1, -1.0, 0.0);
  p.Set(3, 0, 0.0, 0.7);
  r = Solve(p, 100000, 1e-12);
  EXPECT_NEAR(r.value, BivariateBySimpson(-1.0, 40.0, -40.0, 0.7, 0.6), tol::kClose);
  EXPECT_EQ(r.error, kExactError);
}

// Correlation +-1 between two finite variables: the second is fixed by the
// first, so the probability is that of the intersection of the intervals.
TEST(MultivariateNormal, TwoPerfectlyCorrelatedVariables) {
  struct {
    double r, l2, u2, expected_lo, expected_up;
  } cases[] = {{1.0, -0.5, 3.0, -0.5, 1.5}, {-1.0, -0.5, 3.0, -1.0, 0.5},
               {-1.0, -2.0, 2.0, -1.0, 1.5}, {1.0, -2.0, 2.0, -1.0, 1.5}};
  for (const auto &c : cases) {
    Problem p(2);
    p.Set(1, 2, -1.0, 1.5);
    p.Set(2, 2, c.l2, c.u2);
    p.Correlate(2, 1, c.r);
    Result r = Solve(p, 100000, 1e-8);
    EXPECT_NEAR(r.value, RefPhi(c.expected_up) - RefPhi(c.expected_lo), tol::kTight) << c.r;
    EXPECT_EQ(r.inform, 0);
  }
  // Symmetric limits +-w, as the maximum statistic passes them.
  Problem p(2);
  p.Set(1, 2, -2.0, 2.0);
  p.Set(2, 2, -2.0, 2.0);
  p.Correlate(2, 1, -1.0);
  EXPECT_NEAR(Solve(p, 100000, 1e-8).value, RefPhi(2.0) - RefPhi(-2.0), tol::kTight);
}

// A variable that equals another and has a one-sided limit: ordered last
// (its conditional variance is 0), it becomes an indicator in which the
// absent limit always holds.
TEST(MultivariateNormal, DegenerateVariableWithOneSidedLimit) {
  for (int code : {0, 1}) {
    Problem p(3);
    p.Set(1, 2, -1.0, 1.0);
    p.Set(2, code, -1.5, 1.5);  // X2 = X1; X2 <= 1.5 or X2 >= -1.5, looser than X1's
    p.Set(3, 0, 0.0, 0.5);
    p.Correlate(2, 1, 1.0);
    p.Correlate(3, 1, 0.4);
    p.Correlate(3, 2, 0.4);
    Result r = Solve(p, 200000, 1e-7);
    // P(X1 in [-1, 1], X3 <= 0.5) with corr(X1, X3) = 0.4.
    const double expected = BivariateBySimpson(-1.0, 1.0, -40.0, 0.5, 0.4);
    EXPECT_NEAR(r.value, expected, 1e-6) << code;
    EXPECT_EQ(r.inform, 0);
  }
}

TEST(MultivariateNormal, IndependentVariablesGiveTheProductOfMarginals) {
  for (int n : {3, 5, 8, 12}) {
    Problem p(n);
    double product = 1.0;
    for (int i = 1; i <= n; i++) {
      const int code = i % 3 == 0 ? 0 : (i % 3 == 1 ? 2 : 1);
      p.Set(i, code, -1.0 - 0.1 * i, 0.5 + 0.2 * i);
      p.sigma[i][i] = 0.5 + 0.25 * i;
      p.mu[i] = 0.1 * (i - 3);
      product *= Marginal(p, i);
    }
    Result r = Solve(p, 5000 * n * n * n, 1e-6);
    EXPECT_EQ(r.inform, 0) << n;
    EXPECT_NEAR(r.value, product, std::fmax(r.error, tol::kTight)) << n;
    std::printf("independent n=%d: |value - product| = %.3g, error estimate %.3g\n", n,
                std::fabs(r.value - product), r.error);
  }
}

class Equicorrelated : public ::testing::TestWithParam<int> {};

// rho = 1/2: X_i = (Z_0 + Z_i)/sqrt(2), so P(all X_i <= 0) = 1/(n+1).
TEST_P(Equicorrelated, OrthantProbabilityIsOneOverNPlusOne) {
  const int n = GetParam();
  Problem p(n);
  for (int i = 1; i <= n; i++) {
    p.Set(i, 0, 0.0, 0.0);
    for (int j = 1; j < i; j++) p.Correlate(i, j, 0.5);
  }
  const double abseps = n <= 6 ? 1e-5 : 1e-4;
  const auto t0 = std::chrono::steady_clock::now();
  Result r = Solve(p, std::min(5000 * n * n * n, 3000000), abseps);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double exact = 1.0 / (n + 1);
  std::printf("equicorrelated n=%d: value %.10f, |value - 1/(n+1)| = %.3g, error %.3g, inform %d, "
              "%.3f s\n",
              n, r.value, std::fabs(r.value - exact), r.error, r.inform, secs);
  // The orthant integrand has power-law singularities on the faces of the
  // cube and the null-rule estimates are optimistic for it from about eight
  // variables on (true error up to three times the estimate): the check is
  // against the tolerance plus the estimate.
  EXPECT_NEAR(r.value, exact, abseps + r.error);
  EXPECT_EQ(r.inform, 0);
}
INSTANTIATE_TEST_SUITE_P(Sizes, Equicorrelated, ::testing::Values(2, 3, 4, 5, 6, 8, 10));

struct McCase {
  int n;
  double w;
  int maxpts;
};
std::ostream &operator<<(std::ostream &os, const McCase &c) {
  return os << "n=" << c.n << " w=" << c.w;
}

class AgainstMonteCarlo : public ::testing::TestWithParam<McCase> {};

// Nested burden correlations, limits +-w: the integration agrees with a
// Monte Carlo estimate within four standard errors plus its error estimate.
TEST_P(AgainstMonteCarlo, NestedBurdenScores) {
  const McCase c = GetParam();
  Problem p = NestedBurden(c.n, c.w);
  const auto t0 = std::chrono::steady_clock::now();
  Result r = Solve(p, c.maxpts, 1e-3);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double est, se;
  MonteCarlo(p, 400000, 20240 + c.n, &est, &se);
  std::printf("nested n=%d w=%.2f: value %.6f, MC %.6f (se %.2g), |diff| = %.2g, error %.2g, "
              "inform %d, %.3f s\n",
              c.n, c.w, r.value, est, se, std::fabs(r.value - est), r.error, r.inform, secs);
  EXPECT_NE(r.inform, 2);
  EXPECT_NEAR(r.value, est, 4.0 * se + r.error) << c;
}
INSTANTIATE_TEST_SUITE_P(Sizes, AgainstMonteCarlo,
                         ::testing::Values(McCase{5, 2.0, 625000}, McCase{7, 2.3, 1715000},
                                           McCase{10, 2.5, 1000000}, McCase{13, 2.5, 1000000},
                                           McCase{16, 2.7, 1000000}, McCase{19, 2.5, 1000000}));

// A general problem through mymvn: non-zero means, variances, mixed codes,
// a doubly infinite variable and a random correlation matrix.
TEST(MultivariateNormal, GeneralCovarianceAgainstMonteCarlo) {
  const int n = 7;
  Problem p(n);
  std::mt19937_64 gen(77);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  // Sigma = B B^T + D from random loadings.
  std::vector<std::vector<double>> load(n + 1, std::vector<double>(3));
  for (int i = 1; i <= n; i++)
    for (int k = 0; k < 3; k++) load[i][k] = u(gen);
  for (int i = 1; i <= n; i++)
    for (int j = 1; j <= n; j++) {
      double s = i == j ? 0.3 + 0.1 * i : 0.0;
      for (int k = 0; k < 3; k++) s += load[i][k] * load[j][k];
      p.sigma[i][j] = s;
    }
  const int codes[8] = {0, 2, 0, 1, 2, -1, 2, 1};
  for (int i = 1; i <= n; i++) {
    p.mu[i] = 0.2 * u(gen);
    p.Set(i, codes[i], -1.5 + 0.1 * i, 1.0 + 0.15 * i);
  }
  Result r = Solve(p, 5000 * n * n * n, 1e-4);
  double est, se;
  MonteCarlo(p, 400000, 99, &est, &se);
  std::printf("general n=%d: value %.6f, MC %.6f (se %.2g), error %.2g, inform %d\n", n, r.value,
              est, se, r.error, r.inform);
  EXPECT_EQ(r.inform, 0);
  EXPECT_NEAR(r.value, est, 4.0 * se + r.error);
  // The doubly infinite variable placed elsewhere, or dropped: same result.
  Problem q(n - 1);
  int qi = 0;
  std::vector<int> keep;
  for (int i = 1; i <= n; i++)
    if (codes[i] >= 0) keep.push_back(i);
  for (int i : keep) {
    qi++;
    q.mu[qi] = p.mu[i];
    q.Set(qi, p.infin[i], p.lower[i], p.upper[i]);
    int qj = 0;
    for (int j : keep) q.sigma[qi][++qj] = p.sigma[i][j];
  }
  Result rq = Solve(q, 5000 * n * n * n, 1e-4);
  EXPECT_NEAR(rq.value, r.value, r.error + rq.error);
}

TEST(MultivariateNormal, DoublyInfiniteVariablesDropOut) {
  Problem base = NestedBurden(4, 1.8);
  base.Set(2, 1, -0.5, 0.0);
  Result r0 = Solve(base, 500000, 1e-6);
  // Insert unlimited variables at positions 1 and 4 with correlations.
  Problem p(6);
  const int map[5] = {0, 2, 3, 5, 6};
  for (int i = 1; i <= 4; i++) {
    p.Set(map[i], base.infin[i], base.lower[i], base.upper[i]);
    for (int j = 1; j < i; j++) p.Correlate(map[i], map[j], base.sigma[i][j]);
  }
  p.Set(1, -1, 0.0, 0.0);
  p.Set(4, -1, 0.0, 0.0);
  p.Correlate(1, 2, 0.3);
  p.Correlate(4, 5, 0.2);
  p.Correlate(4, 1, 0.1);
  Result r = Solve(p, 500000, 1e-6);
  EXPECT_EQ(r0.inform, 0);
  EXPECT_EQ(r.inform, 0);
  EXPECT_NEAR(r.value, r0.value, r.error + r0.error);
}

TEST(MultivariateNormal, BudgetSpentReportsInformOne) {
  Problem p = NestedBurden(12, 2.5);
  Result r = Solve(p, 20000, 1e-9);
  EXPECT_EQ(r.inform, 1);
  EXPECT_GT(r.error, 1e-9);
  double est, se;
  MonteCarlo(p, 200000, 5, &est, &se);
  EXPECT_NEAR(r.value, est, 4.0 * se + r.error);
}

TEST(MultivariateNormal, ToleranceMetExactlyCountsAsMet) {
  Problem p = NestedBurden(3, 1.5);
  Result first = Solve(p, 100000, 1e-3);
  ASSERT_EQ(first.inform, 0);
  ASSERT_GT(first.error, 0.0);
  // The same integration stops at the same point when the tolerance equals
  // the error it reached.
  Result again = Solve(p, 100000, first.error);
  EXPECT_EQ(again.value, first.value);
  EXPECT_EQ(again.error, first.error);
  EXPECT_EQ(again.inform, 0);
}

// The probe, fresh start and continuation loop written out on the engine
// and the integrand entries: after each continuation call the error is
// |value - previous value| + sqrt(rulcls error^2 / total count), the square
// taken first. The driver must reproduce value, error and status exactly.
Result DriverLoop(int n, double *lower, double *upper, int *infin, double *correl, int maxpts,
                  double abseps) {
  static double work[8000];
  int lenwrk = 8000, infis = 0;
  double d = 0.0, e = 0.0, releps = 0.0;
  Result r{0.0, 0.0, 0};
  mvnnit_(&n, correl, lower, upper, infin, &infis, &d, &e);
  int ndim = n - infis - 1;
  EXPECT_GE(ndim, 1);
  int rulcls = 1, zero = 0;
  adapt_(&ndim, &rulcls, &zero, mvnfnc_, &abseps, &releps, &lenwrk, work, &r.error, &r.value,
         &r.inform);
  int maxcls = std::min(10 * rulcls, maxpts), totcls = 0;
  adapt_(&ndim, &totcls, &maxcls, mvnfnc_, &abseps, &releps, &lenwrk, work, &r.error, &r.value,
         &r.inform);
  if (r.error <= abseps) return r;
  for (;;) {
    const double oldval = r.value;
    maxcls = std::max(2 * rulcls, std::min(3 * maxcls / 2, maxpts - totcls));
    int newcls = -1;
    adapt_(&ndim, &newcls, &maxcls, mvnfnc_, &abseps, &releps, &lenwrk, work, &r.error,
           &r.value, &r.inform);
    totcls += newcls;
    const double sq = r.error * r.error;
    r.error = std::fabs(r.value - oldval) + std::sqrt(rulcls * sq / totcls);
    if (r.error <= abseps) {
      r.inform = 0;
      return r;
    }
    if (maxpts - totcls <= 2 * rulcls) return r;
  }
}

TEST(MultivariateNormal, ContinuationErrorFollowsTheCombinedEstimate) {
  int differing = 0;
  for (int n : {3, 5, 7})
    for (double w : {2.0, 2.7})
      for (double abseps : {1e-4, 1e-6}) {
        Problem p = NestedBurden(n, w);
        std::vector<double> lo(n), up(n), correl;
        std::vector<int> inf(n, 2);
        for (int i = 1; i <= n; i++) {
          lo[i - 1] = -w;
          up[i - 1] = w;
          for (int j = 1; j < i; j++) correl.push_back(p.sigma[i][j]);
        }
        const int maxpts = 5000 * n * n * n;
        const Result want =
            DriverLoop(n, lo.data(), up.data(), inf.data(), correl.data(), maxpts, abseps);
        const Result got = Solve(p, maxpts, abseps);
        EXPECT_EQ(got.value, want.value) << n << " " << w << " " << abseps;
        EXPECT_EQ(got.error, want.error) << n << " " << w << " " << abseps;
        EXPECT_EQ(got.inform, want.inform) << n << " " << w << " " << abseps;
        differing += got.error != want.error;
      }
  EXPECT_EQ(differing, 0);
}

TEST(VariableOrdering, EqualExpectedProbabilityTakesTheLaterCandidate) {
  // Code 0 with upper 0.5 and code 1 with lower -0.5: both probabilities are
  // exactly 1 - Phi(-0.5).
  int n = 2, infis = -1, infin[2] = {0, 1}, infi[2];
  double lower[2] = {0.0, -0.5}, upper[2] = {0.5, 0.0}, correl[1] = {0.3};
  double y[2], a[2], b[2], cov[3], d = -1.0, e = -1.0;
  ncvsrt_(&n, lower, upper, correl, infin, y, &infis, a, b, infi, cov, &d, &e);
  EXPECT_EQ(infis, 0);
  EXPECT_EQ(infi[0], 1);  // the second variable went first
  EXPECT_EQ(infi[1], 0);
  EXPECT_EQ(a[0], -0.5);
  // Smallest expected probability first: a narrow interval moves ahead.
  int infin3[3] = {2, 2, 2};
  double lower3[3] = {-3.0, -2.0, -0.5}, upper3[3] = {3.0, 2.0, 0.5}, correl3[3] = {0.2, 0.1, 0.4};
  int infi3[3];
  double y3[3], a3[3], b3[3], cov3[6];
  n = 3;
  ncvsrt_(&n, lower3, upper3, correl3, infin3, y3, &infis, a3, b3, infi3, cov3, &d, &e);
  EXPECT_EQ(a3[0], -0.5);
  EXPECT_NEAR(d, RefPhi(-0.5), tol::kRounding);
  EXPECT_NEAR(e, RefPhi(0.5), tol::kRounding);
}

// rcswap_ on a packed lower triangle equals exchanging rows and columns of
// the full symmetric matrix.
TEST(VariableOrdering, SwapOfPackedTriangleMatchesFullMatrix) {
  const int n = 6;
  for (int p = 1; p <= n; p++)
    for (int q = p + 1; q <= n; q++) {
      double full[7][7];
      for (int i = 1; i <= n; i++)
        for (int j = 1; j <= n; j++) full[i][j] = i == j ? 10.0 * i : std::min(i, j) + 0.01 * std::max(i, j);
      std::vector<double> c;
      for (int i = 1; i <= n; i++)
        for (int j = 1; j <= i; j++) c.push_back(full[i][j]);
      double a[n], b[n];
      int infin[n];
      for (int i = 0; i < n; i++) {
        a[i] = i;
        b[i] = -i;
        infin[i] = i % 3;
      }
      int pp = p, qq = q, nn = n;
      rcswap_(&pp, &qq, a, b, infin, &nn, c.data());
      int perm[7];
      for (int i = 1; i <= n; i++) perm[i] = i;
      std::swap(perm[p], perm[q]);
      int k = 0;
      for (int i = 1; i <= n; i++)
        for (int j = 1; j <= i; j++, k++) EXPECT_EQ(c[k], full[perm[i]][perm[j]]) << p << q;
      EXPECT_EQ(a[p - 1], q - 1.0);
      EXPECT_EQ(b[q - 1], -(p - 1.0));
      EXPECT_EQ(infin[p - 1], (q - 1) % 3);
    }
}

TEST(ProbabilityLimits, CodesSelectTheLimits) {
  double a = -0.7, b = 1.2, lo, up;
  const struct {
    int code;
    double lo, up;
  } cases[] = {{-1, 0.0, 1.0}, {0, 0.0, RefPhi(1.2)}, {1, RefPhi(-0.7), 1.0},
               {2, RefPhi(-0.7), RefPhi(1.2)}};
  for (const auto &c : cases) {
    int code = c.code;
    limits_(&a, &b, &code, &lo, &up);
    EXPECT_NEAR(lo, c.lo, tol::kRounding) << c.code;
    EXPECT_NEAR(up, c.up, tol::kRounding) << c.code;
  }
}

}  // namespace
