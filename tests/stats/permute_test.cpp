#include "stats/permute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <vector>

#include "numeric/arrays.h"
#include "numeric/random.h"
#include "tests/support/tolerances.h"
#include "tests/support/wichmann_hill_reference.h"

namespace {

class Permutations : public ::testing::Test {
 protected:
  void SetUp() override { reset_runifC3P(); }
  void TearDown() override { reset_runifC3P(); }

  std::vector<int> permute(int n) {
    int *per = ivector(0, n - 1);
    getPermute(per, n);
    std::vector<int> v(per, per + n);
    free_ivector(per, 0, n - 1);
    return v;
  }
};

TEST_F(Permutations, FirstValuesFromTheInitialSeeds) {
  EXPECT_EQ(bix, 7335);
  EXPECT_EQ(biy, 4623);
  EXPECT_EQ(biz, 8097);
  EXPECT_NEAR(runifC3P(), 0.06890598309532381, tol::kRounding);
  EXPECT_NEAR(runifC3P(), 0.6253789143280275, tol::kRounding);
  EXPECT_NEAR(runifC3P(), 0.630703186515472, tol::kRounding);
}

TEST_F(Permutations, GeneratorMatchesDirectModularArithmetic) {
  DirectWichmannHill ref{7335, 4623, 8097};
  for (int k = 0; k < 100000; k++) {
    ASSERT_EQ(runifC3P(), ref.next()) << "draw " << k;
    ASSERT_EQ(bix, ref.x);
    ASSERT_EQ(biy, ref.y);
    ASSERT_EQ(biz, ref.z);
  }
}

// The two generators share no state.
TEST_F(Permutations, IndependentOfTheBernoulliSeeds) {
  reset_runifC3();
  for (int k = 0; k < 5; k++) runifC3P();
  EXPECT_EQ(gix, 4567);
  EXPECT_EQ(giy, 6789);
  EXPECT_EQ(giz, 8901);
  double u = runifC3();
  reset_runifC3P();
  EXPECT_NEAR(runifC3P(), 0.06890598309532381, tol::kRounding);
  reset_runifC3();
  EXPECT_EQ(runifC3(), u);
  reset_runifC3();
}

struct SequenceCase {
  int n;
  std::vector<std::vector<int>> calls;  // consecutive calls after a reset
};

std::ostream &operator<<(std::ostream &os, const SequenceCase &c) { return os << "n=" << c.n; }

class PermutationSequences : public ::testing::TestWithParam<SequenceCase> {
 protected:
  void SetUp() override { reset_runifC3P(); }
  void TearDown() override { reset_runifC3P(); }
};

TEST_P(PermutationSequences, AfterAReset) {
  const SequenceCase &c = GetParam();
  int *per = ivector(0, c.n - 1);
  for (const std::vector<int> &want : c.calls) {
    getPermute(per, c.n);
    EXPECT_EQ(std::vector<int>(per, per + c.n), want);
  }
  free_ivector(per, 0, c.n - 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, PermutationSequences,
                         ::testing::Values(SequenceCase{5, {{4, 3, 1, 2, 0}, {0, 4, 2, 3, 1}}},
                                           SequenceCase{2, {{1, 0}}},
                                           SequenceCase{3, {{2, 1, 0}}},
                                           SequenceCase{1, {{0}, {0}}}));

// The shuffle from the last position down, with the interval index of each
// draw found by walking the closed unit intervals from the bottom.
TEST_F(Permutations, MatchesIntervalWalkWithDirectGenerator) {
  DirectWichmannHill ref{7335, 4623, 8097};
  for (int n : {7, 50, 1, 2, 300}) {
    std::vector<int> want(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) want[static_cast<size_t>(i)] = i;
    for (int i = n - 1; i >= 1; i--) {
      double ran = (i + 1) * ref.next();
      int k = -1;
      for (int j = 1; j <= i + 1; j++)
        if (j - 1 <= ran && ran <= j) {
          k = j - 1;
          break;
        }
      std::swap(want[static_cast<size_t>(i)], want[static_cast<size_t>(k)]);
    }
    EXPECT_EQ(permute(n), want) << "n = " << n;
    EXPECT_EQ(bix, ref.x) << "n - 1 uniforms consumed";
  }
}

struct IndexCase {
  double ran;
  int k;
};

std::ostream &operator<<(std::ostream &os, const IndexCase &c) { return os << "ran=" << c.ran; }

class IntervalIndex : public ::testing::TestWithParam<IndexCase> {};

TEST_P(IntervalIndex, ClosedIntervalsSearchedFromTheBottom) {
  EXPECT_EQ(permuteIndex(GetParam().ran), GetParam().k);
}

INSTANTIATE_TEST_SUITE_P(Cases, IntervalIndex,
                         ::testing::Values(IndexCase{0.0, 0}, IndexCase{0.138, 0},
                                           IndexCase{1.0, 0}, IndexCase{1.0000001, 1},
                                           IndexCase{2.0, 1}, IndexCase{2.5, 2},
                                           IndexCase{3.0, 2}, IndexCase{3.999, 3}));

TEST_F(Permutations, SingleSubjectConsumesNoUniform) {
  EXPECT_EQ(permute(1), std::vector<int>{0});
  EXPECT_EQ(bix, 7335);
  EXPECT_EQ(biy, 4623);
  EXPECT_EQ(biz, 8097);
}

TEST_F(Permutations, EmptyOrNegativeCountWritesNothing) {
  int per[3] = {-7, -7, -7};
  getPermute(per, 0);
  getPermute(per, -4);
  EXPECT_EQ(per[0], -7);
  EXPECT_EQ(per[1], -7);
  EXPECT_EQ(per[2], -7);
  EXPECT_EQ(bix, 7335);
}

// Every result is a permutation, and the six orders of three subjects come
// out with frequency 1/6 each (judged with the binomial standard error).
TEST_F(Permutations, OrdersOfThreeAreUniform) {
  const int reps = 60000;
  std::map<std::vector<int>, int> count;
  for (int r = 0; r < reps; r++) {
    std::vector<int> p = permute(3);
    std::vector<int> s = p;
    std::sort(s.begin(), s.end());
    ASSERT_EQ(s, (std::vector<int>{0, 1, 2}));
    count[p]++;
  }
  EXPECT_EQ(count.size(), 6u);
  double se = std::sqrt(reps * (1.0 / 6) * (5.0 / 6));
  for (const auto &kv : count) EXPECT_NEAR(kv.second, reps / 6.0, 4.0 * se);
}

}  // namespace
