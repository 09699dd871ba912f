#include "numeric/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

#include "tests/support/tolerances.h"
#include "tests/support/wichmann_hill_reference.h"

namespace {

class Bernoulli : public ::testing::Test {
 protected:
  void SetUp() override { reset_runifC3(); }
  void TearDown() override { reset_runifC3(); }
};

TEST_F(Bernoulli, FirstValuesAndSeedsFromTheInitialSeeds) {
  EXPECT_EQ(gix, 4567);
  EXPECT_EQ(giy, 6789);
  EXPECT_EQ(giz, 8901);
  EXPECT_NEAR(runifC3(), 0.2315964461896911, tol::kRounding);
  EXPECT_EQ(gix, 24232);
  EXPECT_EQ(giy, 16042);
  EXPECT_EQ(giz, 27343);
  EXPECT_NEAR(runifC3(), 0.23058419457385404, tol::kRounding);
  EXPECT_NEAR(runifC3(), 0.1791529343983682, tol::kRounding);
}

TEST_F(Bernoulli, MatchesDirectModularArithmetic) {
  DirectWichmannHill ref{4567, 6789, 8901};
  for (int k = 0; k < 100000; k++) {
    double u = runifC3();
    ASSERT_EQ(u, ref.next()) << "draw " << k;
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    ASSERT_EQ(gix, ref.x);
    ASSERT_EQ(giy, ref.y);
    ASSERT_EQ(giz, ref.z);
  }
}

TEST_F(Bernoulli, ResetRestoresTheSequence) {
  double first = runifC3();
  for (int k = 0; k < 10; k++) runifC3();
  reset_runifC3();
  EXPECT_EQ(runifC3(), first);
}

// One Bernoulli draw per call with n = 1: the first uniform from the
// initial seeds is 0.2316.
struct BernoulliCase {
  double pp, expected;
};

std::ostream &operator<<(std::ostream &os, const BernoulliCase &c) { return os << "pp=" << c.pp; }

class FirstBernoulli : public ::testing::TestWithParam<BernoulliCase> {
 protected:
  void SetUp() override { reset_runifC3(); }
  void TearDown() override { reset_runifC3(); }
};

TEST_P(FirstBernoulli, FromTheInitialSeeds) {
  EXPECT_EQ(rbinomC(GetParam().pp, 1), GetParam().expected);
  EXPECT_EQ(gix, 24232);  // exactly one uniform consumed
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstBernoulli,
                         ::testing::Values(BernoulliCase{0.3, 1.0}, BernoulliCase{0.2, 0.0},
                                           BernoulliCase{0.75, 0.0}, BernoulliCase{0.77, 1.0},
                                           BernoulliCase{0.5, 1.0}, BernoulliCase{0.0, 0.0},
                                           BernoulliCase{1.0, 1.0}));

TEST_F(Bernoulli, SingleTrialFollowsTheUniform) {
  DirectWichmannHill ref{4567, 6789, 8901};
  const double probs[] = {0.0, 1.0, 0.5, 0.3, 0.75, 0.999, 1e-3};
  for (int k = 0; k < 20000; k++) {
    double pp = probs[k % 7];
    double u = ref.next();
    double want = pp <= 0.5 ? (u < pp ? 1.0 : 0.0) : (u < 1.0 - pp ? 0.0 : 1.0);
    ASSERT_EQ(rbinomC(pp, 1), want) << "draw " << k << ", pp " << pp;
  }
}

TEST_F(Bernoulli, ZeroTrialsConsumeNoUniform) {
  EXPECT_EQ(rbinomC(0.3, 0), 0.0);
  EXPECT_EQ(rbinomC(0.8, 0), 0.0);
  EXPECT_EQ(gix, 4567);
  EXPECT_EQ(giy, 6789);
  EXPECT_EQ(giz, 8901);
}

// n = 24 is still counted directly: 24 uniforms, and the count of those
// below p (reflected for p > 0.5).
TEST_F(Bernoulli, DirectRegimeCountsTrials) {
  DirectWichmannHill ref{4567, 6789, 8901};
  for (double pp : {0.3, 0.8}) {
    double p = pp <= 0.5 ? pp : 1.0 - pp;
    double c = 0;
    for (int j = 0; j < 24; j++)
      if (ref.next() < p) c += 1.0;
    if (pp > 0.5) c = 24 - c;
    EXPECT_EQ(rbinomC(pp, 24), c) << "pp " << pp;
    EXPECT_EQ(gix, ref.x);
  }
}

// n = 25 with 25 p < 1: Poisson waiting time, the number of uniforms whose
// running product stays at or above exp(-n p), consuming one more.
TEST_F(Bernoulli, PoissonRegimeCountsWaitingTime) {
  DirectWichmannHill ref{4567, 6789, 8901};
  for (int rep = 0; rep < 200; rep++) {
    double pp = rep % 2 ? 0.02 : 0.985;
    double p = pp <= 0.5 ? pp : 1.0 - pp;
    double g = std::exp(-25 * p), t = 1.0;
    int j = 0;
    for (; j <= 25; j++) {
      t *= ref.next();
      if (t < g) break;
    }
    double want = j <= 25 ? j : 25;
    if (pp > 0.5) want = 25 - want;
    ASSERT_EQ(rbinomC(pp, 25), want) << "repeat " << rep;
    ASSERT_EQ(gix, ref.x);
  }
}

// The rejection regime (n >= 25, n p >= 1) against the binomial mean and
// variance: deterministic draws, judged with their standard error.
struct MomentCase {
  double pp;
  int n;
};

std::ostream &operator<<(std::ostream &os, const MomentCase &c) {
  return os << "n=" << c.n << " pp=" << c.pp;
}

class RejectionRegime : public ::testing::TestWithParam<MomentCase> {
 protected:
  void TearDown() override { reset_runifC3(); }
};

TEST_P(RejectionRegime, MeanAndVarianceMatchTheBinomial) {
  const MomentCase c = GetParam();
  const int reps = 40000;
  double s = 0, s2 = 0;
  for (int r = 0; r < reps; r++) {
    double b = rbinomC(c.pp, c.n);
    ASSERT_EQ(b, std::floor(b));
    ASSERT_GE(b, 0.0);
    ASSERT_LE(b, c.n);
    s += b;
    s2 += b * b;
  }
  double mean = s / reps, var = s2 / reps - mean * mean;
  double mu = c.n * c.pp, sigma2 = c.n * c.pp * (1.0 - c.pp);
  double se = std::sqrt(sigma2 / reps);
  EXPECT_NEAR(mean, mu, 4.0 * se);
  // Standard error of the sample variance is about sigma2 sqrt(2 / reps).
  EXPECT_NEAR(var, sigma2, 4.0 * sigma2 * std::sqrt(2.0 / reps) + 0.1);
}

INSTANTIATE_TEST_SUITE_P(Cases, RejectionRegime,
                         ::testing::Values(MomentCase{0.04, 25}, MomentCase{0.3, 40},
                                           MomentCase{0.7, 40}, MomentCase{0.5, 1000},
                                           MomentCase{0.01, 5000}));

// Alternating n and p in the rejection regime refreshes the cached
// ln Gamma(n + 1) and logarithms of p: each stream keeps its own mean.
TEST_F(Bernoulli, CacheFollowsChangesOfNAndP) {
  const int reps = 20000;
  double s1 = 0, s2 = 0;
  for (int r = 0; r < reps; r++) {
    s1 += rbinomC(0.2, 100);
    s2 += rbinomC(0.6, 30);
  }
  EXPECT_NEAR(s1 / reps, 20.0, 4.0 * std::sqrt(16.0 / reps));
  EXPECT_NEAR(s2 / reps, 18.0, 4.0 * std::sqrt(7.2 / reps));
}

}  // namespace

// Skipping k steps at once lands where k single steps land, for both
// generators' seeds and for skips across many periods' worth of steps.
TEST(WichmannHillSkip, EqualsSingleSteps) {
  const long seeds[2][3] = {{4567, 6789, 8901}, {7335, 4623, 8097}};
  for (const auto &seed : seeds)
    for (unsigned long long k : {0ULL, 1ULL, 2ULL, 299ULL, 1000ULL, 12345ULL}) {
      long a = seed[0], b = seed[1], c = seed[2];
      for (unsigned long long s = 0; s < k; s++) wichmann_hill_next(&a, &b, &c);
      long x = seed[0], y = seed[1], z = seed[2];
      wichmann_hill_skip(&x, &y, &z, k);
      EXPECT_EQ(x, a) << k;
      EXPECT_EQ(y, b) << k;
      EXPECT_EQ(z, c) << k;
    }
  // A skip of 10^9 steps equals ten skips of 10^8.
  long a = 7335, b = 4623, c = 8097, x = 7335, y = 4623, z = 8097;
  for (int r = 0; r < 10; r++) wichmann_hill_skip(&a, &b, &c, 100000000ULL);
  wichmann_hill_skip(&x, &y, &z, 1000000000ULL);
  EXPECT_EQ(x, a);
  EXPECT_EQ(y, b);
  EXPECT_EQ(z, c);
}
