#include "numeric/regression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "tests/support/death_tests.h"
#include "tests/support/tolerances.h"

namespace {

// Design with the intercept in column 0 and the given covariate columns.
struct Design {
  int N, D;
  double **x;
  double *y;
  Design(const std::vector<double> &yv, const std::vector<std::vector<double>> &cols)
      : N(static_cast<int>(yv.size())), D(static_cast<int>(cols.size()) + 1) {
    x = dmatrix(0, N - 1, 0, D - 1);
    y = dvector(0, N - 1);
    for (int i = 0; i < N; i++) {
      y[i] = yv[i];
      x[i][0] = 1.0;
      for (int j = 1; j < D; j++) x[i][j] = cols[j - 1][i];
    }
  }
  ~Design() {
    free_dmatrix(x, 0, N - 1, 0, D - 1);
    free_dvector(y, 0, N - 1);
  }
  Design(const Design &) = delete;
  Design &operator=(const Design &) = delete;
};

double logit(double p) { return std::log(p / (1.0 - p)); }

const char kWarning[] = "\nLogisticReg Warning:MLE iteration NOT converge!\n";

// Intercept only: the start value, the logit of the trait mean, is already
// the maximum-likelihood estimate.
struct InterceptCase {
  std::vector<double> y;
};

std::ostream &operator<<(std::ostream &os, const InterceptCase &c) {
  return os << "N=" << c.y.size();
}

class LogisticInterceptOnly : public ::testing::TestWithParam<InterceptCase> {};

TEST_P(LogisticInterceptOnly, ReturnsLogitOfTraitMeanSilently) {
  const std::vector<double> &yv = GetParam().y;
  Design d(yv, {});
  double s = 0.0;
  for (double v : yv) s += v;
  double beta[1] = {123.0};
  testing::internal::CaptureStdout();
  logisticReg_v0(d.N, d.D, d.y, d.x, beta);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_NEAR(beta[0], logit(s / d.N), tol::kTight);
}

INSTANTIATE_TEST_SUITE_P(Traits, LogisticInterceptOnly,
                         ::testing::Values(InterceptCase{{0, 1}}, InterceptCase{{1, 0, 0, 0, 0}},
                                           InterceptCase{{1, 1, 1, 0, 1, 0, 1, 1, 1, 1}}));

// One binary covariate: the fit reproduces the 2 x 2 table exactly, with
// intercept logit(p0) and slope logit(p1) - logit(p0).
struct TableCase {
  int a0, n0, a1, n1;  // cases / subjects with covariate 0 and with covariate 1
};

std::ostream &operator<<(std::ostream &os, const TableCase &c) {
  return os << c.a0 << "/" << c.n0 << " vs " << c.a1 << "/" << c.n1;
}

class LogisticTwoByTwo : public ::testing::TestWithParam<TableCase> {};

TEST_P(LogisticTwoByTwo, MatchesClosedForm) {
  const TableCase c = GetParam();
  std::vector<double> yv, t;
  for (int i = 0; i < c.n0; i++) {
    yv.push_back(i < c.a0 ? 1.0 : 0.0);
    t.push_back(0.0);
  }
  for (int i = 0; i < c.n1; i++) {
    yv.push_back(i < c.a1 ? 1.0 : 0.0);
    t.push_back(1.0);
  }
  Design d(yv, {t});
  double beta[2];
  testing::internal::CaptureStdout();
  logisticReg_v0(d.N, d.D, d.y, d.x, beta);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  double b0 = logit(static_cast<double>(c.a0) / c.n0);
  double b1 = logit(static_cast<double>(c.a1) / c.n1) - b0;
  // Newton stops on a relative log-likelihood change below 1e-8; at the
  // quadratic convergence rate the coefficients are then far closer.
  EXPECT_NEAR(beta[0], b0, tol::kClose);
  EXPECT_NEAR(beta[1], b1, tol::kClose);
}

INSTANTIATE_TEST_SUITE_P(Tables, LogisticTwoByTwo,
                         ::testing::Values(TableCase{3, 10, 7, 10}, TableCase{1, 4, 1, 5},
                                           TableCase{20, 30, 4, 50}));

// A continuous covariate: at the maximum the score equations X'(y - mu) = 0
// hold.
TEST(Logistic, ScoreVanishesAtTheFit) {
  std::vector<double> yv = {0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0};
  std::vector<double> t1 = {0.3, 1.2, -0.7, 0.1, 2.0, 0.4, -1.5, 0.9, -0.2, 1.7, 0.8, -0.4};
  std::vector<double> t2 = {1, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0};
  Design d(yv, {t1, t2});
  double beta[3];
  logisticReg_v0(d.N, d.D, d.y, d.x, beta);
  for (int j = 0; j < d.D; j++) {
    double u = 0.0;
    for (int i = 0; i < d.N; i++) {
      double eta = beta[0] + beta[1] * t1[i] + beta[2] * t2[i];
      u += (yv[i] - 1.0 / (1.0 + std::exp(-eta))) * d.x[i][j];
    }
    EXPECT_NEAR(u, 0.0, tol::kClose) << "column " << j;
  }
}

// Complete separation: the log-likelihood rises towards 0 without a maximum,
// its relative change never falls below 1e-8, and after the 5000th step the
// fit warns once and returns its last coefficients, which separate the data.
TEST(Logistic, SeparatedDataWarnsOnceAfterTheLastStep) {
  std::vector<double> t = {-100, -90, 1, 2};
  Design d({0, 0, 1, 1}, {t});
  double beta[2];
  testing::internal::CaptureStdout();
  logisticReg_v0(d.N, d.D, d.y, d.x, beta);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), kWarning);
  for (int i = 0; i < d.N; i++) {
    double eta = beta[0] + beta[1] * t[i];
    EXPECT_TRUE(std::isfinite(eta));
    EXPECT_EQ(eta > 0.0, d.y[i] == 1.0) << "subject " << i;
  }
}

// A covariate with one outlying value at a case: the first Newton steps put
// that subject's linear predictor above log(DBL_MAX) (about 709.78), where
// exp(eta) overflows and e / (1 + e) would be inf / inf. Its mean and
// variance are then taken through exp(-eta) (1 and about 0), so the data,
// which are not separated, get their maximum-likelihood fit instead of a
// NaN information matrix that ends the run; at the fit the score equations
// X'(y - mu) = 0 hold.
TEST(Logistic, OverflowingLinearPredictorStillConverges) {
  std::vector<double> yv = {1, 1, 0, 1, 0, 0, 1};
  std::vector<double> t = {10000, 1.5, 3.5, 9.2, 2.1, 2.7, 5.9};
  Design d(yv, {t});
  double beta[2];
  testing::internal::CaptureStdout();
  logisticReg_v0(d.N, d.D, d.y, d.x, beta);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_GT(beta[0] + beta[1] * t[0], std::log(1.7976931348623157e308));
  for (int j = 0; j < d.D; j++) {
    double u = 0.0;
    for (int i = 0; i < d.N; i++) {
      double eta = beta[0] + beta[1] * t[i];
      u += (yv[i] - 1.0 / (1.0 + std::exp(-eta))) * d.x[i][j];
    }
    EXPECT_NEAR(u, 0.0, tol::kClose) << "column " << j;
  }
}

const char kSigmatrix[] =
    "^Numerical Recipes run-time error\\.\\.\\.\nSigmatrix in ludcmp\n"
    "\\.\\.\\.now exiting to system\\.\\.\\.\n$";

TEST(LogisticDeathTest, AllZeroTraitEndsTheRun) {
  EXPECT_EXIT(
      run_to_exit([&] {
        ignore_leaks_from_here();
        Design *d = new Design({0, 0, 0}, {{1, 2, 3}});
        double beta[2];
        logisticReg_v0(d->N, d->D, d->y, d->x, beta);
      }),
      ::testing::ExitedWithCode(1), kSigmatrix);
}

TEST(LogisticDeathTest, AllOneTraitEndsTheRun) {
  EXPECT_EXIT(
      run_to_exit([&] {
        ignore_leaks_from_here();
        Design *d = new Design({1, 1, 1}, {});
        double beta[1];
        logisticReg_v0(d->N, d->D, d->y, d->x, beta);
      }),
      ::testing::ExitedWithCode(1), kSigmatrix);
}

TEST(Linear, ExactLineIsRecovered) {
  std::vector<double> t = {-2, 0.5, 1, 3, 7.25};
  std::vector<double> yv;
  for (double v : t) yv.push_back(1.0 + 2.0 * v);
  Design d(yv, {t});
  double beta[2];
  linearMLE(d.N, d.D, d.y, d.x, beta);
  EXPECT_NEAR(beta[0], 1.0, tol::kTight);
  EXPECT_NEAR(beta[1], 2.0, tol::kTight);
}

// Simple regression against its closed form: slope Sxy / Sxx, intercept
// ybar - slope * tbar.
TEST(Linear, SimpleRegressionMatchesClosedForm) {
  std::vector<double> t = {0.2, 1.9, 3.1, 4.4, 5.0, 6.8};
  std::vector<double> yv = {1.1, 2.7, 2.2, 5.9, 4.8, 7.5};
  Design d(yv, {t});
  double beta[2];
  linearMLE(d.N, d.D, d.y, d.x, beta);
  double tb = 0, yb = 0;
  for (int i = 0; i < d.N; i++) {
    tb += t[i] / d.N;
    yb += yv[i] / d.N;
  }
  double sxy = 0, sxx = 0;
  for (int i = 0; i < d.N; i++) {
    sxy += (t[i] - tb) * (yv[i] - yb);
    sxx += (t[i] - tb) * (t[i] - tb);
  }
  EXPECT_NEAR(beta[1], sxy / sxx, tol::kTight);
  EXPECT_NEAR(beta[0], yb - sxy / sxx * tb, tol::kTight);
}

TEST(LinearDeathTest, ZeroColumnEndsTheRun) {
  EXPECT_EXIT(
      run_to_exit([&] {
        ignore_leaks_from_here();
        Design *d = new Design({1, 2, 3}, {{0, 0, 0}});
        double beta[2];
        linearMLE(d->N, d->D, d->y, d->x, beta);
      }),
      ::testing::ExitedWithCode(1), kSigmatrix);
}

struct MomentCase {
  const char *name;
  std::vector<double> x;
  long nl;
  double mean, sd;  // sd about the given mean, divisor the count
};

std::ostream &operator<<(std::ostream &os, const MomentCase &c) { return os << c.name; }

class Moments : public ::testing::TestWithParam<MomentCase> {};

TEST_P(Moments, MeanAndSdOverIndexRange) {
  const MomentCase &c = GetParam();
  long nh = c.nl + static_cast<long>(c.x.size()) - 1;
  double *v = dvector(c.nl, nh);
  for (long i = c.nl; i <= nh; i++) v[i] = c.x[static_cast<size_t>(i - c.nl)];
  EXPECT_NEAR(mean(v, c.nl, nh), c.mean, tol::kRounding);
  EXPECT_NEAR(sd(v, c.nl, nh, c.mean), c.sd, tol::kRounding);
  free_dvector(v, c.nl, nh);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Moments,
    ::testing::Values(MomentCase{"one_to_four", {1, 2, 3, 4}, 1, 2.5, std::sqrt(1.25)},
                      MomentCase{"pair", {1, 3}, 0, 2.0, 1.0},
                      MomentCase{"constant_floor", {4.5, 4.5, 4.5}, 0, 4.5, 1e-10},
                      MomentCase{"single", {-3}, 0, -3.0, 1e-10},
                      MomentCase{"binary", {0, 1, 1, 1}, 0, 0.75, std::sqrt(0.1875)}),
    [](const ::testing::TestParamInfo<MomentCase> &info) { return info.param.name; });

}  // namespace
