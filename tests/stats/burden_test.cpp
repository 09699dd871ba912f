// Burden scorers over small genotype matrices whose scores, frequencies and
// recoded genotypes were worked out by hand.
#include "stats/burden.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "tests/support/tolerances.h"
#include "support/death_tests.h"

namespace {

using Rows = std::vector<std::vector<double>>;

constexpr double kUntouched = 7.25;  // what S holds before a flagged call

enum Model { kAdditive = 1, kDominant = 2, kRecessive = 3 };

struct BurdenCase {
  std::string name;
  Model model;
  Rows x;                   // subjects x variants, -1 missing
  std::vector<double> maf;  // caller's frequencies
  double MAF_UB;
  int MAC_LB;
  int maf_flag;             // additive model only
  int flag;                 // expected flag
  Rows S;                   // expected rows (ignored when flagged)
  std::vector<double> q;    // expected major-allele frequencies
  Rows x_after;             // expected working matrix after the call
};

// Parameter names in test listings instead of the raw bytes.
void PrintTo(const BurdenCase &c, std::ostream *os) { *os << c.name; }

double **to_dmatrix(const Rows &r) {
  int n = static_cast<int>(r.size()), m = static_cast<int>(r[0].size());
  double **a = dmatrix(0, n - 1, 0, m - 1);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < m; j++) a[i][j] = r[i][j];
  return a;
}

double mbw(double p) { return 1.0 / std::sqrt(p * (1.0 - p)); }

// Column j of x as a vector.
std::vector<double> column(const Rows &x, int j) {
  std::vector<double> c;
  for (const auto &row : x) c.push_back(row[j]);
  return c;
}

std::vector<BurdenCase> burden_cases() {
  std::vector<BurdenCase> cases;

  // Additive model. Variant 0 (maf 0.005) is in T1 and T5, variant 1 (maf
  // exactly 0.01) only in T5, variant 2 (maf exactly 0.05 = MAF_UB) only in MB.
  // Observed sums/denominators: 1/6, 2/8, 3/6, so q = 5/6, 3/4, 1/2 and the
  // imputed values 1/3 (variant 0) and 1 (variant 2).
  const Rows xa = {{1, 0, 2}, {0, 1, -1}, {-1, 0, 0}, {0, 1, 1}};
  const Rows xa_imp = {{1, 0, 2}, {0, 1, 1}, {1.0 / 3, 0, 0}, {0, 1, 1}};
  const std::vector<double> mafa = {0.005, 0.01, 0.05};
  auto mb = [&](double w0, double w1, double w2) {
    std::vector<double> r;
    for (const auto &row : xa_imp) r.push_back(w0 * row[0] + w1 * row[1] + w2 * row[2]);
    return r;
  };
  {
    double w0 = mbw(0.005), w1 = mbw(0.01), w2 = mbw(0.05);
    cases.push_back({"additive_given_frequencies", kAdditive, xa, mafa, 0.05, 0, 0, 0,
                     {column(xa_imp, 0), {1, 1, 1.0 / 3, 1}, mb(w0, w1, w2)},
                     {5.0 / 6, 0.75, 0.5}, xa_imp});
  }
  {
    // maf_flag 1: p = (sum + 1) / (den + 2) = 2/8, 3/10, 4/8.
    double w0 = mbw(0.25), w1 = mbw(0.3), w2 = mbw(0.5);
    cases.push_back({"additive_observed_frequencies", kAdditive, xa, mafa, 0.05, 0, 1, 0,
                     {column(xa_imp, 0), {1, 1, 1.0 / 3, 1}, mb(w0, w1, w2)},
                     {5.0 / 6, 0.75, 0.5}, xa_imp});
  }
  {
    // MAF_UB 0.04 leaves variant 2 out of MB (but it is still imputed).
    double w0 = mbw(0.005), w1 = mbw(0.01);
    cases.push_back({"additive_bound_excludes", kAdditive, xa, mafa, 0.04, 0, 0, 0,
                     {column(xa_imp, 0), {1, 1, 1.0 / 3, 1}, mb(w0, w1, 0)},
                     {5.0 / 6, 0.75, 0.5}, xa_imp});
  }
  {
    // MAC_LB 2: T1's allele sum 1 < 2 zeroes T1; T5 (3) and the total (6)
    // pass; MB is never zeroed.
    double w0 = mbw(0.005), w1 = mbw(0.01), w2 = mbw(0.05);
    cases.push_back({"additive_T1_row_zeroed", kAdditive, xa, mafa, 0.05, 2, 0, 0,
                     {{0, 0, 0, 0}, {1, 1, 1.0 / 3, 1}, mb(w0, w1, w2)},
                     {5.0 / 6, 0.75, 0.5}, xa_imp});
  }
  {
    // MAC_LB 6 equals the total (strict comparison): not flagged, T1 and T5
    // zeroed.
    double w0 = mbw(0.005), w1 = mbw(0.01), w2 = mbw(0.05);
    cases.push_back({"additive_MAC_LB_equal_total", kAdditive, xa, mafa, 0.05, 6, 0, 0,
                     {{0, 0, 0, 0}, {0, 0, 0, 0}, mb(w0, w1, w2)},
                     {5.0 / 6, 0.75, 0.5}, xa_imp});
  }
  // MAC_LB 7 exceeds the total: flagged, S untouched, x imputed all the same.
  cases.push_back({"additive_flag_MAC", kAdditive, xa, mafa, 0.05, 7, 0, 1, {},
                   {5.0 / 6, 0.75, 0.5}, xa_imp});
  // Every variant above the bound: flagged even with MAC_LB 0.
  cases.push_back({"additive_flag_all_above", kAdditive, xa, mafa, 0.001, 0, 0, 1, {},
                   {5.0 / 6, 0.75, 0.5}, xa_imp});
  {
    // With MAC_LB 1 and no variant below 0.01, T1 is zero while T5 and MB are
    // computed. A variant observed only as 0 (maf_flag 1) gets the finite MB
    // weight of p = 1 / (den + 2) = 1/8.
    const Rows x = {{0, 1}, {0, 0}, {0, 2}};
    double w0 = mbw(1.0 / 8), w1 = mbw(4.0 / 8);
    cases.push_back({"additive_no_T1_variant", kAdditive, x, {0.02, 0.03}, 0.05, 1, 1, 0,
                     {{0, 0, 0}, {1, 0, 2}, {w1, 0, 2 * w1 + 0 * w0}},
                     {1.0, 0.5}, x});
  }
  {
    // A variant never observed enters no score, is imputed to 0 and counts as
    // unusable; the other variant is scored as usual.
    const Rows x = {{-1, 1}, {-1, 0}, {-1, 0}};
    cases.push_back({"additive_unobserved_variant", kAdditive, x, {0.005, 0.005}, 0.05, 0, 0, 0,
                     {{1, 0, 0}, {1, 0, 0}, {mbw(0.005), 0, 0}},
                     {1.0, 5.0 / 6}, {{0, 1}, {0, 0}, {0, 0}}});
    cases.push_back({"additive_only_unobserved", kAdditive, {{-1}, {-1}}, {0.005}, 0.05, 0, 0, 1,
                     {}, {1.0}, {{0}, {0}}});
  }

  // Dominant model. Variant 0 (maf 0.005) is in T1 and T5, variants 1 and 2
  // only in T5. Sums/denominators 1/8, 0.3/6, 2/8: q = 7/8, 0.95, 3/4.
  const Rows xd = {{1, -1, 0}, {0, -1, 0}, {0, 0, 0}, {-1, 0.3, 2}, {0, 0, -1}};
  const std::vector<double> mafd = {0.005, 0.02, 0.04};
  const std::vector<double> qd = {7.0 / 8, 0.95, 0.75};
  const double c0 = 1 - qd[0] * qd[0], c1 = 1 - qd[1] * qd[1], c2 = 1 - qd[2] * qd[2];
  // Recoding: x > 0 -> 1 (0.3 included), missing -> 1 - q^2, 0 stays.
  const Rows xd_rec = {{1, c1, 0}, {0, c1, 0}, {0, 0, 0}, {c0, 1, 1}, {0, 0, c2}};
  // s0 observed carrier; s1 only the missing variant 1 in T5; s2 nothing;
  // s3 missing in T1, carrier (2) in T5 whatever its missing genotype and its
  // 0.3, which is no carrier in the score; s4 only the missing variant 2.
  cases.push_back({"dominant", kDominant, xd, mafd, 0.05, 0, 0, 0,
                   {{1, 0, 0, c0, 0}, {1, c1, 0, 1, c2}}, qd, xd_rec});
  // Allele sums: T1 1, T5 = total 3.3. MAC_LB 2 zeroes T1 only.
  cases.push_back({"dominant_T1_row_zeroed", kDominant, xd, mafd, 0.05, 2, 0, 0,
                   {{0, 0, 0, 0, 0}, {1, c1, 0, 1, c2}}, qd, xd_rec});
  cases.push_back({"dominant_flag", kDominant, xd, mafd, 0.05, 4, 0, 1, {}, qd, xd_rec});
  // The scores look at maf < 0.01 and < 0.05, not at MAF_UB: with MAF_UB
  // 0.03, variant 2 (0.04) still enters T5, but not the allele sums.
  cases.push_back({"dominant_bound", kDominant, xd, mafd, 0.03, 0, 0, 0,
                   {{1, 0, 0, c0, 0}, {1, c1, 0, 1, c2}}, qd, xd_rec});

  // Recessive model. Variants 0 and 1 (maf 0.001, 0.005) are in T1 and T5,
  // variant 2 (0.03) only in T5. Sums/denominators 5/12, 1/8, 2/12:
  // q = 7/12, 7/8, 5/6.
  const Rows xr = {{1, 1, 0}, {1, 0, 0}, {1, -1, 0}, {0, -1, 0},
                   {2, 0, -1}, {0, 0, 2}, {-1, -1, 0}};
  const std::vector<double> mafr = {0.001, 0.005, 0.03};
  const std::vector<double> qr = {7.0 / 12, 7.0 / 8, 5.0 / 6};
  const double q0 = qr[0], q1 = qr[1];
  const double one_more = 1 - q1 * q1;                          // type 1, variant 1 missing
  const double two_more = 1 - q1 * q1 - 2 * (1 - q1) * q1;      // type 0, variant 1 missing
  const double two_of_two = 1 - q0 * q0 * q1 * q1 - 2 * (1 - q0) * q0 * q1 * q1 -
                            2 * (1 - q1) * q1 * q0 * q0;        // type 0, variants 0, 1 missing
  const double m2 = (1 - qr[2]) * (1 - qr[2]), m1 = (1 - q1) * (1 - q1),
               m0 = (1 - q0) * (1 - q0);
  const Rows xr_rec = {{0, 0, 0}, {0, 0, 0}, {0, m1, 0}, {0, m1, 0},
                       {1, 0, m2}, {0, 0, 1}, {m0, m1, 0}};
  // s0: 1 + 1 -> 1; s1: a single 1 -> 0; s2: 1 and a missing -> 1 - q^2;
  // s3: 0 and a missing; s4: 2 -> 1 (its missing genotype in T5 changes
  // nothing); s5: 2 at the T5-only variant; s6: two missing genotypes.
  cases.push_back({"recessive", kRecessive, xr, mafr, 0.05, 0, 0, 0,
                   {{1, 0, one_more, two_more, 1, 0, two_of_two},
                    {1, 0, one_more, two_more, 1, 1, two_of_two}},
                   qr, xr_rec});
  // Allele sums: T1 6, T5 = total 8. MAC_LB 7 zeroes T1 only.
  cases.push_back({"recessive_T1_row_zeroed", kRecessive, xr, mafr, 0.05, 7, 0, 0,
                   {{0, 0, 0, 0, 0, 0, 0}, {1, 0, one_more, two_more, 1, 1, two_of_two}},
                   qr, xr_rec});
  cases.push_back({"recessive_flag", kRecessive, xr, mafr, 0.05, 9, 0, 1, {}, qr, xr_rec});

  // A variant never observed (variant 0) enters no dominant or recessive
  // score and is recoded to 0; in the recessive score it is not counted as a
  // missing genotype, so a fractional dosage beside it does not stop the run.
  cases.push_back({"dominant_unobserved_variant", kDominant, {{-1, 1}, {-1, 0}, {-1, -1}},
                   {0.005, 0.005}, 0.05, 0, 0, 0, {{1, 0, 0.4375}, {1, 0, 0.4375}},
                   {1.0, 0.75}, {{0, 1}, {0, 0}, {0, 0.4375}}});
  cases.push_back({"recessive_unobserved_variant", kRecessive, {{-1, 2}, {-1, 1}, {-1, -1}},
                   {0.005, 0.005}, 0.05, 0, 0, 0, {{1, 0, 0.5625}, {1, 0, 0.5625}},
                   {1.0, 0.25}, {{0, 1}, {0, 0}, {0, 0.5625}}});
  cases.push_back({"recessive_unobserved_beside_dosage", kRecessive, {{-1, 1.5}, {-1, 0}},
                   {0.005, 0.005}, 0.05, 0, 0, 0, {{0, 0}, {0, 0}}, {1.0, 0.625},
                   {{0, 0}, {0, 0}}});
  return cases;
}

class BurdenTest : public ::testing::TestWithParam<BurdenCase> {};

TEST_P(BurdenTest, ScoresFrequenciesAndWorkingMatrix) {
  const BurdenCase &c = GetParam();
  int N = static_cast<int>(c.x.size()), M = static_cast<int>(c.x[0].size());
  int rows = c.model == kAdditive ? 3 : 2;
  double **x = to_dmatrix(c.x);
  double **S = dmatrix(0, rows - 1, 0, N - 1);
  for (int k = 0; k < rows; k++)
    for (int i = 0; i < N; i++) S[k][i] = kUntouched;
  double *maf = dvector(0, M - 1);
  for (int j = 0; j < M; j++) maf[j] = c.maf[j];
  double *q = dvector(0, M - 1);
  int flag = 0;
  if (c.model == kAdditive)
    getS(N, M, x, S, c.MAF_UB, c.MAC_LB, maf, &flag, c.maf_flag, q);
  else if (c.model == kDominant)
    getS_CMC(N, M, x, S, c.MAF_UB, c.MAC_LB, maf, &flag, q);
  else
    getS_REC(N, M, x, S, c.MAF_UB, c.MAC_LB, maf, &flag, q);

  EXPECT_EQ(flag, c.flag);
  for (int k = 0; k < rows; k++) {
    for (int i = 0; i < N; i++) {
      double expect = c.flag ? kUntouched : c.S[k][i];
      EXPECT_NEAR(S[k][i], expect, tol::kTight * (1 + std::fabs(expect)))
          << "row " << k << " subject " << i;
    }
  }
  for (int j = 0; j < M; j++) EXPECT_NEAR(q[j], c.q[j], tol::kRounding) << "variant " << j;
  for (int i = 0; i < N; i++)
    for (int j = 0; j < M; j++)
      EXPECT_NEAR(x[i][j], c.x_after[i][j], tol::kRounding) << "x[" << i << "][" << j << "]";
  free_dvector(q, 0, M - 1);
  free_dvector(maf, 0, M - 1);
  free_dmatrix(S, 0, rows - 1, 0, N - 1);
  free_dmatrix(x, 0, N - 1, 0, M - 1);
}

INSTANTIATE_TEST_SUITE_P(Models, BurdenTest, ::testing::ValuesIn(burden_cases()),
                         [](const ::testing::TestParamInfo<BurdenCase> &info) {
                           return info.param.name;
                         });

// A flag raised by an earlier gene is never cleared.
TEST(BurdenFlag, NeverCleared) {
  double **x = to_dmatrix({{1}, {0}});
  double **S = dmatrix(0, 2, 0, 1);
  double maf[1] = {0.005}, q[1];
  int flag = 1;
  getS(2, 1, x, S, 0.05, 0, maf, &flag, 0, q);
  EXPECT_EQ(flag, 1);
  free_dmatrix(S, 0, 2, 0, 1);
  free_dmatrix(x, 0, 1, 0, 0);
}

// Worked values of the recessive imputation.
struct ImputeCase {
  double type;
  std::vector<double> q;
  double expect;
};

TEST(RecessiveImpute, WorkedValues) {
  const std::vector<ImputeCase> cases = {
      {1, {0.9}, 0.19},                    // 1 - 0.81
      {0, {0.9}, 0.01},                    // 1 - 0.81 - 2 x 0.1 x 0.9
      {1, {}, 0.0},                        // nothing missing
      {0, {}, 0.0},
      {1, {0.9, 0.8}, 1 - 0.81 * 0.64},
      {0, {0.9, 0.8}, 1 - 0.81 * 0.64 - 2 * 0.1 * 0.9 * 0.64 - 2 * 0.2 * 0.8 * 0.81},
      {0, {0.0, 0.5}, 1.0},                // a certain minor homozygote
      {1, {1.0, 1.0, 1.0}, 0.0},           // monomorphic missing variants
  };
  for (const auto &c : cases) {
    std::vector<double> q = c.q;
    q.push_back(0);  // keep data() valid for an empty list
    double got = getS_REC_impute(c.type, static_cast<int>(c.q.size()), q.data());
    EXPECT_NEAR(got, c.expect, tol::kTight) << "type " << c.type << " n " << c.q.size();
  }
}

// The stop message goes to standard output; the death test reads standard
// error, so the child sends its standard output there.
void to_stderr() {
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

TEST(RecessiveImputeDeathTest, OnlyTypesZeroAndOne) {
  double q[1] = {0.9};
  EXPECT_EXIT(run_to_exit([&] { (to_stderr(), getS_REC_impute(0.5, 1, q)); }), ::testing::ExitedWithCode(1),
              "^Only type=0 or 1 is acceptable\n$");
  EXPECT_EXIT(run_to_exit([&] { (to_stderr(), getS_REC_impute(2.0, 1, q)); }), ::testing::ExitedWithCode(1),
              "^Only type=0 or 1 is acceptable\n$");
}

// A fractional dosage above 0.5 together with a missing genotype in the set.
void score_fractional_dosage() {
  to_stderr();
  double **x = to_dmatrix({{1.5, -1}, {0, 0}, {0, 1}});
  double **S = dmatrix(0, 1, 0, 2);
  double maf[2] = {0.005, 0.005}, q[2];
  int flag = 0;
  getS_REC(3, 2, x, S, 0.05, 0, maf, &flag, q);
}

TEST(RecessiveImputeDeathTest, FractionalDosageStopsTheScore) {
  EXPECT_EXIT(run_to_exit([&] { score_fractional_dosage(); }), ::testing::ExitedWithCode(1),
              "^Only type=0 or 1 is acceptable\n$");
}

struct MacCase {
  int model;
  int n;
  double thresh;
  double expect;
};

TEST(BurdenMAC, CountsPerModelAndThreshold) {
  // Frequencies 0.01, 0.03, 0.05; the limit is inclusive.
  double **x0 = to_dmatrix({{1, 0, -1}, {0, 0.05, 1}, {2, 1, 0}, {0.5, 1.5, 0}, {-1, -1, -1}});
  double maf[3] = {0.01, 0.03, 0.05};
  const std::vector<MacCase> cases = {
      {1, 5, 0.01, 2},  {2, 5, 0.01, 2},  {3, 5, 0.01, 1},  {0, 5, 0.01, 3.5},
      {1, 5, 0.03, 3},  {2, 5, 0.03, 3},  {3, 5, 0.03, 2},  {0, 5, 0.03, 6},
      {1, 5, 0.05, 4},  {3, 5, 0.05, 2},  {4, 5, 0.05, 7},  {1, 5, 1.0, 4},
      {1, 5, 0.005, 0}, {3, 5, 0.005, 0}, {0, 5, 0.005, 0}, {1, 2, 0.05, 2},
      {3, 3, 0.05, 1},  {0, 2, 0.05, 2},
  };
  for (const auto &c : cases)
    EXPECT_EQ(burdenMAC(c.model, c.n, 3, x0, maf, c.thresh), c.expect)
        << "model " << c.model << " n " << c.n << " thresh " << c.thresh;
  free_dmatrix(x0, 0, 4, 0, 2);
}

}  // namespace
