#include "numeric/gamma.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <string>

#include "tests/support/tolerances.h"
#include "support/death_tests.h"

namespace {

// Relative tolerance for tail values at x: the exponent -x + a log(x) - ln
// Gamma(a) carries an absolute rounding of a few units in the last place of
// x, that is a relative error growing like x * 1e-16 in exp(.). Up to
// x = 100 kTight holds; beyond, x * kRounding (4e-13 at x = 400).
double tail_tolerance(double x) { return x <= 100.0 ? tol::kTight : x * tol::kRounding; }

// Upper tail of a chi-square with one degree of freedom: Q(1/2, x) equals
// erfc(sqrt(x)). Below x = 1.5 (the series branch) the values lie in
// (0.08, 1] and are compared absolutely; from 1.5 on relatively.
TEST(IncompleteGamma, HalfMatchesErfcOverTheDriverRange) {
  for (int k = 1; k <= 40000; k++) {
    double x = 0.01 * k;
    double q = gammq(0.5, x), e = std::erfc(std::sqrt(x));
    if (x < 1.5)
      ASSERT_NEAR(q, e, tol::kTight) << "x = " << x;
    else
      ASSERT_NEAR(q / e, 1.0, tail_tolerance(x)) << "x = " << x;
  }
  for (double x : {1e-300, 1e-20, 1e-8, 1e-3}) EXPECT_NEAR(gammq(0.5, x), std::erfc(std::sqrt(x)), tol::kTight);
}

struct KnownValue {
  double a, x, q;
  const char *what;
};

std::ostream &operator<<(std::ostream &os, const KnownValue &c) { return os << c.what; }

class IncompleteGammaValues : public ::testing::TestWithParam<KnownValue> {};

TEST_P(IncompleteGammaValues, MatchesClosedForm) {
  const KnownValue &c = GetParam();
  EXPECT_NEAR(gammq(c.a, c.x) / c.q, 1.0, tail_tolerance(c.x)) << c.what;
}

// Closed forms: Q(1/2, x) = erfc(sqrt x); Q(1, x) = exp(-x);
// Q(2, x) = (1 + x) exp(-x); Q(3, x) = (1 + x + x^2/2) exp(-x).
INSTANTIATE_TEST_SUITE_P(
    Cases, IncompleteGammaValues,
    ::testing::Values(KnownValue{0.5, 2.0, std::erfc(std::sqrt(2.0)), "p_0.0455"},
                      KnownValue{0.5, 1.9208, std::erfc(std::sqrt(1.9208)), "z_1.96"},
                      KnownValue{0.5, 400.0, std::erfc(20.0), "far_tail"},
                      KnownValue{2.0, 0.7, 1.7 * std::exp(-0.7), "a2_series"},
                      KnownValue{2.0, 9.0, 10.0 * std::exp(-9.0), "a2_fraction"},
                      KnownValue{3.0, 1.5, (1.0 + 1.5 + 1.125) * std::exp(-1.5), "a3_series"},
                      KnownValue{3.0, 25.0, (1.0 + 25.0 + 312.5) * std::exp(-25.0), "a3_fraction"}));

TEST(IncompleteGamma, ApproximateDriverValues) {
  EXPECT_NEAR(gammq(0.5, 2.0), 0.0455, 5e-5);
  EXPECT_NEAR(gammq(0.5, 1.96 * 1.96 * 0.5), 0.05, 5e-5);
  double far = gammq(0.5, 400.0);
  EXPECT_GT(far, 5.3e-176);
  EXPECT_LT(far, 5.5e-176);
}

TEST(IncompleteGamma, ExponentialCase) {
  for (int k = 1; k <= 5000; k++) {
    double x = 0.1 * k;
    ASSERT_NEAR(gammq(1.0, x) / std::exp(-x), 1.0, tail_tolerance(x)) << "x = " << x;
  }
}

// For a = 1 the first partial numerator -1 (1 - a) vanishes, so the first
// iteration already gives del = 1 and Q(1, x) = exp(-x) from h = 1/x.
TEST(IncompleteGamma, ExponentialFractionStopsAtOnce) {
  for (double x : {2.0, 5.0, 37.5, 300.0}) {
    double q, gln;
    gcf(&q, 1.0, x, &gln);
    EXPECT_EQ(q, std::exp(-x + std::log(x) - gln) * (1.0 / x)) << "x = " << x;
  }
}

TEST(IncompleteGamma, ZeroArgumentGivesOne) {
  for (double a : {0.5, 1.0, 3.0, 250.0}) EXPECT_EQ(gammq(a, 0.0), 1.0) << "a = " << a;
}

// The series serves x < a + 1 only; x = a + 1 exactly goes to the fraction.
TEST(IncompleteGamma, BranchPointUsesTheFraction) {
  double q, p, gln;
  gcf(&q, 0.5, 1.5, &gln);
  EXPECT_EQ(gammq(0.5, 1.5), q);
  double below = std::nextafter(1.5, 0.0);
  gser(&p, 0.5, below, &gln);
  EXPECT_EQ(gammq(0.5, below), 1.0 - p);
  // Both sides agree with the closed form.
  EXPECT_NEAR(q, std::erfc(std::sqrt(1.5)), tol::kTight);
  EXPECT_NEAR(1.0 - p, std::erfc(std::sqrt(below)), tol::kTight);
}

TEST(IncompleteGamma, SeriesAndFractionAgreeWhereBothConverge) {
  for (double a : {0.5, 2.5, 10.0}) {
    for (double x : {a + 1.0, a + 2.0, a + 3.0}) {
      double p, q, gln1, gln2;
      gser(&p, a, x, &gln1);
      gcf(&q, a, x, &gln2);
      EXPECT_EQ(gln1, gln2);
      // P and Q share the factor exp(-ln Gamma(a)), so their sum misses 1 by
      // the error of the Lanczos series (5e-13 at a = 10): kClose.
      EXPECT_NEAR(p + q, 1.0, tol::kClose) << "a = " << a << ", x = " << x;
    }
  }
}

TEST(IncompleteGamma, NonFiniteArgument) {
  EXPECT_TRUE(std::isnan(gammq(0.5, std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(gammq(0.5, std::numeric_limits<double>::infinity()), 0.0);
}

// ln Gamma against the library's lgamma: the Lanczos series is accurate to
// about 2e-10 relative in Gamma, so kClose relative to max(1, |ln Gamma|).
TEST(LogGamma, MatchesLibraryLgamma) {
  for (int k = 1; k <= 2000; k++) {
    double x = 0.05 * k;
    double ref = std::lgamma(x);
    ASSERT_NEAR(gammln(x), ref, tol::kClose * std::fmax(1.0, std::fabs(ref))) << "x = " << x;
  }
  EXPECT_NEAR(gammln(0.5), 0.5 * std::log(M_PI), tol::kClose);
  EXPECT_NEAR(gammln(1.0), 0.0, tol::kClose);
  EXPECT_NEAR(gammln(11.0), std::log(3628800.0), tol::kClose);
}

// The messages go to standard output; the child sends its standard output
// to the stream the death test reads, so the match also proves that
// nothing else is written.
template <typename F>
void with_stdout_on_stderr(F f) {
  std::fflush(stdout);
  dup2(2, 1);
  f();
}

struct FatalCase {
  double a, x;
  const char *message;
};

std::ostream &operator<<(std::ostream &os, const FatalCase &c) {
  return os << "a=" << c.a << " x=" << c.x;
}

class IncompleteGammaDeathTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(IncompleteGammaDeathTest, PrintsMessageAndExitsWithOne) {
  const FatalCase c = GetParam();
  std::string regex = std::string("^") + c.message + "\n$";
  EXPECT_EXIT(run_to_exit([&] { with_stdout_on_stderr([&] { gammq(c.a, c.x); }); }), ::testing::ExitedWithCode(1),
              regex);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IncompleteGammaDeathTest,
    ::testing::Values(FatalCase{0.5, -1.0, "Invalid arguments in routine gammp"},
                      FatalCase{0.0, 1.0, "Invalid arguments in routine gammp"},
                      FatalCase{-2.0, 1.0, "Invalid arguments in routine gammp"},
                      FatalCase{1000.0, 999.0, "a too large, ITMAX too small in routine gser"},
                      FatalCase{1e5, 1.005e5, "A too large, ITMAX too small"}));

}  // namespace
