#include "stats/thresholds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "tests/support/tolerances.h"

namespace {

// A gene's genotypes as an index-range matrix, freed on scope exit.
struct Genotypes {
  int n, m;
  double **x0;
  Genotypes(const std::vector<std::vector<double>> &rows)
      : n(static_cast<int>(rows.size())), m(n ? static_cast<int>(rows[0].size()) : 0) {
    x0 = dmatrix(0, n - 1, 0, m - 1);
    for (int i = 0; i < n; i++)
      for (int j = 0; j < m; j++) x0[i][j] = rows[i][j];
  }
  ~Genotypes() { free_dmatrix(x0, 0, n - 1, 0, m - 1); }
};

// One subject per variant carrying one copy of it: every threshold has a
// count of at least 1 under the additive and dominant models.
std::vector<std::vector<double>> OneCarrierPerVariant(int m) {
  std::vector<std::vector<double>> rows(m, std::vector<double>(m, 0.0));
  for (int j = 0; j < m; j++) rows[j][j] = 1.0;
  return rows;
}

std::vector<double> RunGetThresh(int model, const std::vector<std::vector<double>> &rows,
                                 std::vector<double> maf, int mac_lb, double sentinel = -7.0) {
  Genotypes g(rows);
  std::vector<double> thresh(maf.size(), sentinel);
  int n_thresh = -1;
  getThresh(model, g.n, g.m, g.x0, maf.data(), mac_lb, &n_thresh, thresh.data());
  EXPECT_GE(n_thresh, 0);
  EXPECT_LE(n_thresh, 20);
  for (std::size_t k = static_cast<std::size_t>(n_thresh); k < thresh.size(); k++)
    EXPECT_EQ(thresh[k], sentinel) << "entry " << k << " beyond the count was written";
  thresh.resize(static_cast<std::size_t>(n_thresh));
  return thresh;
}

struct ThreshCase {
  const char *name;
  std::vector<double> maf;  // variant frequencies in variant order
  std::vector<double> expected;
};

std::ostream &operator<<(std::ostream &os, const ThreshCase &c) { return os << c.name; }

// The decimals first/scale, (first+1)/scale, ... as the nearest doubles.
std::vector<double> Steps(int count, int first, double scale) {
  std::vector<double> v;
  for (int k = 0; k < count; k++) v.push_back((first + k) / scale);
  return v;
}

std::vector<double> TwentySevenCandidates() {
  // k * 1e-3, k * 1e-4, k * 1e-5 interleaved, k = 1..9.
  std::vector<double> v;
  for (int k = 1; k <= 9; k++) {
    v.push_back(k / 1e3);
    v.push_back(k / 1e4);
    v.push_back(k / 1e5);
  }
  return v;
}

std::vector<double> TwentySevenKept() {
  // The 7 smallest groups (1e-5 .. 7e-5) go; the rest stay in variant order.
  std::vector<double> v;
  for (int k = 1; k <= 9; k++) {
    v.push_back(k / 1e3);
    v.push_back(k / 1e4);
    if (k >= 8) v.push_back(k / 1e5);
  }
  return v;
}

std::vector<double> TwentyClose() {
  // 20 distinct values that would collapse to one group if rounded.
  return Steps(20, 12301, 1e6);
}

std::vector<double> ThirtyKept() {
  std::vector<double> v = Steps(9, 1, 1e3);
  v.push_back(0.014);
  v.push_back(0.024);
  v.push_back(0.030);
  return v;
}

class GetThreshExamples : public ::testing::TestWithParam<ThreshCase> {};

TEST_P(GetThreshExamples, ThresholdsInFirstOccurrenceOrder) {
  const ThreshCase &c = GetParam();
  std::vector<double> got =
      RunGetThresh(1, OneCarrierPerVariant(static_cast<int>(c.maf.size())), c.maf, 1);
  ASSERT_EQ(got.size(), c.expected.size());
  for (std::size_t k = 0; k < got.size(); k++)
    EXPECT_EQ(got[k], c.expected[k]) << "threshold " << k;  // unrounded copies
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetThreshExamples,
    ::testing::Values(
        ThreshCase{"DuplicatesMerged", {0.01, 0.02, 0.01, 0.03}, {0.01, 0.02, 0.03}},
        ThreshCase{"TwentyFiveThinnedAtTwoDigits",
                   Steps(25, 101, 1e4),
                   {0.0104, 0.0114, 0.0124, 0.0125}},
        ThreshCase{"ThirtyThinnedAtOneDigit", Steps(30, 1, 1e3), ThirtyKept()},
        ThreshCase{"TwentySevenDropSevenGroups", TwentySevenCandidates(), TwentySevenKept()},
        ThreshCase{"ExactlyTwentyUnrounded", TwentyClose(), TwentyClose()}),
    [](const ::testing::TestParamInfo<ThreshCase> &info) { return std::string(info.param.name); });

TEST(GetThresh, ThinningIsIndependentOfVariantOrder) {
  // The 25 candidates in descending variant order keep the same values,
  // listed in the new variant order.
  std::vector<double> maf = Steps(25, 101, 1e4);
  std::vector<double> rev(maf.rbegin(), maf.rend());
  std::vector<double> got = RunGetThresh(1, OneCarrierPerVariant(25), rev, 1);
  std::vector<double> expected = {maf[24], maf[23], maf[13], maf[3]};
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t k = 0; k < got.size(); k++) EXPECT_EQ(got[k], expected[k]);
}

TEST(GetThresh, GeneBelowBoundGivesNoThreshold) {
  // Two carriers in all, bound 3: the whole-gene count fails.
  std::vector<double> got = RunGetThresh(1, OneCarrierPerVariant(2), {0.01, 0.02}, 3);
  EXPECT_TRUE(got.empty());
}

TEST(GetThresh, SmallCandidatesBelowBoundAreDropped) {
  // Frequencies 0.03, 0.01, 0.02, one carrier each: with bound 2 the count
  // reaches the bound only from 0.02 on, so 0.01 is dropped.
  std::vector<double> got = RunGetThresh(1, OneCarrierPerVariant(3), {0.03, 0.01, 0.02}, 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], 0.03);
  EXPECT_EQ(got[1], 0.02);
}

TEST(GetThresh, RecessiveCountNeedsTwoAlleles) {
  // Subject 0: one allele at each of variants 0 and 1; subject 1: two at
  // variant 2. Recessive counts: at 0.01 (variant 0 only) 0, at 0.02 one
  // subject, at 0.03 two subjects. With bound 1, 0.01 is dropped.
  std::vector<std::vector<double>> rows = {{1, 1, 0}, {0, 0, 2}};
  std::vector<double> got = RunGetThresh(3, rows, {0.01, 0.02, 0.03}, 1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0], 0.02);
  EXPECT_EQ(got[1], 0.03);
  // Additive: the carrier at variant 0 counts already at 0.01.
  EXPECT_EQ(RunGetThresh(1, rows, {0.01, 0.02, 0.03}, 1).size(), 3u);
}

TEST(GetThresh, MissingGenotypesNeverCount) {
  std::vector<std::vector<double>> rows = {{-1, 1}, {-1, 0}};
  std::vector<double> got = RunGetThresh(2, rows, {0.01, 0.02}, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], 0.02);
}

struct SigCase {
  double value;
  int dig;
  double expected;
};

std::ostream &operator<<(std::ostream &os, const SigCase &c) {
  return os << c.value << " to " << c.dig << " digits";
}

class SigDigitCases : public ::testing::TestWithParam<SigCase> {};

TEST_P(SigDigitCases, CutTextRoundedHalfUp) {
  const SigCase &c = GetParam();
  double v = c.value;
  sigDigit(1, &v, c.dig);
  EXPECT_NEAR(v, c.expected, tol::kRounding * c.expected) << c.value << " at " << c.dig;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SigDigitCases,
    ::testing::Values(SigCase{0.012345, 3, 0.0123}, SigCase{0.012345, 1, 0.01},
                      SigCase{0.01249, 3, 0.0125}, SigCase{0.0125, 2, 0.013},
                      SigCase{0.01249, 2, 0.012},  // one rounding of the original
                      SigCase{0.0155, 2, 0.016}, SigCase{0.0149, 1, 0.01},
                      SigCase{0.0150, 1, 0.02}, SigCase{0.000012345, 2, 0.000012},
                      SigCase{0.5, 1, 0.5}, SigCase{0.96, 1, 1.0}, SigCase{0.0, 3, 0.0}));

TEST(SigDigit, SecondPassWorksOnTheFirstPassResult) {
  double v[2] = {0.01249, 0.01249};
  sigDigit(1, &v[0], 3);
  sigDigit(1, &v[0], 2);
  sigDigit(1, &v[1], 2);
  EXPECT_NEAR(v[0], 0.013, tol::kRounding);
  EXPECT_NEAR(v[1], 0.012, tol::kRounding);
}

TEST(SigDigit, RoundsEveryEntry) {
  double v[3] = {0.0123456, 0.00098765, 0.25};
  sigDigit(3, v, 2);
  EXPECT_NEAR(v[0], 0.012, tol::kRounding);
  EXPECT_NEAR(v[1], 0.00099, tol::kRounding);
  EXPECT_NEAR(v[2], 0.25, tol::kRounding);
}

struct RankCase {
  std::vector<double> values;
  std::vector<double> ranks;
};

std::ostream &operator<<(std::ostream &os, const RankCase &c) {
  os << "values";
  for (double v : c.values) os << " " << v;
  return os;
}

class BubbleRank : public ::testing::TestWithParam<RankCase> {};

TEST_P(BubbleRank, StableAscendingRanks) {
  const RankCase &c = GetParam();
  std::vector<double> in = c.values, rank(c.values.size(), 0.0);
  bubbleRank_noTie(static_cast<int>(in.size()), in.data(), rank.data());
  EXPECT_EQ(rank, c.ranks);
  EXPECT_EQ(in, c.values);  // the input is not touched
}

INSTANTIATE_TEST_SUITE_P(Cases, BubbleRank,
                         ::testing::Values(RankCase{{3, 1, 2, 1}, {4, 1, 3, 2}},
                                           RankCase{{0.5}, {1}},
                                           RankCase{{2, 2, 2}, {1, 2, 3}},
                                           RankCase{{5, 4, 3, 2, 1}, {5, 4, 3, 2, 1}},
                                           RankCase{{0.1, 0.3, 0.2, 0.3, 0.0},
                                                    {2, 4, 3, 5, 1}}));

TEST(UniqueNum, DistinctCountOfSortedArray) {
  double a[] = {1, 1, 2, 3, 3, 3, 4};
  EXPECT_EQ(uniqueNum(7, a), 4);
  EXPECT_EQ(uniqueNum(1, a), 1);
  EXPECT_EQ(uniqueNum(0, a), 1);
  EXPECT_EQ(uniqueNum(2, a), 1);
  EXPECT_EQ(uniqueNum(3, a), 2);
}

TEST(ShrinkVT, KeepsLargestOfEachGroupInCandidateOrder) {
  // 21 candidates: 0.0100 .. 0.0120 at steps of 0.0001 shuffled; at 3 digits
  // they stay 21 distinct, at 2 digits groups 0.010 (0.0100..0.0104), 0.011
  // (0.0105..0.0114) and 0.012 (0.0115..0.0120).
  std::vector<double> thresh;
  for (int k = 20; k >= 0; k -= 2) thresh.push_back((100 + k) / 1e4);
  for (int k = 1; k <= 19; k += 2) thresh.push_back((100 + k) / 1e4);
  int n = static_cast<int>(thresh.size());
  std::vector<double> rank_double(thresh.size());
  bubbleRank_noTie(n, thresh.data(), rank_double.data());
  std::vector<int> rank(thresh.size()), index_vt(thresh.size(), -1);
  for (int i = 0; i < n; i++) rank[i] = static_cast<int>(rank_double[i] - 1);
  int kept = -1;
  shrinkVT(n, thresh.data(), rank.data(), &kept, index_vt.data());
  EXPECT_EQ(kept, 3);
  for (int i = 0; i < n; i++) {
    int k = static_cast<int>(std::lround((thresh[i] - 0.0100) / 0.0001));
    EXPECT_EQ(index_vt[i], (k == 4 || k == 14 || k == 20) ? 1 : 0) << "candidate " << thresh[i];
  }
}

}  // namespace
