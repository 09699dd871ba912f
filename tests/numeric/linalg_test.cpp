#include "numeric/linalg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "tests/support/death_tests.h"
#include "tests/support/tolerances.h"

namespace {

using Rows = std::vector<std::vector<double>>;

// 1-based copy of a small row-major matrix.
double **make_matrix(const Rows &rows) {
  int n = static_cast<int>(rows.size());
  double **a = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; i++)
    for (int j = 1; j <= n; j++) a[i][j] = rows[i - 1][j - 1];
  return a;
}

void free_matrix(double **a, int n) { free_dmatrix(a, 1, n, 1, n); }

// Relative comparison that also accepts an exact zero expectation.
void expect_rel(double got, double want, double tol, const std::string &what) {
  if (want == 0.0)
    EXPECT_EQ(got, 0.0) << what;
  else
    EXPECT_NEAR(got / want, 1.0, tol) << what << ": got " << got << ", want " << want;
}

struct InverseCase {
  const char *name;
  Rows input;
  Rows inverse;  // worked out by hand, with 1e-40 for a zero pivot
};

std::ostream &operator<<(std::ostream &os, const InverseCase &c) { return os << c.name; }

class InverseTable : public ::testing::TestWithParam<InverseCase> {};

TEST_P(InverseTable, MatchesHandComputedInverse) {
  const InverseCase &c = GetParam();
  int n = static_cast<int>(c.input.size());
  double **a = make_matrix(c.input);
  invv(a, n);
  for (int i = 1; i <= n; i++)
    for (int j = 1; j <= n; j++)
      expect_rel(a[i][j], c.inverse[i - 1][j - 1], tol::kRounding,
                 "entry " + std::to_string(i) + "," + std::to_string(j));
  free_matrix(a, n);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InverseTable,
    ::testing::Values(
        InverseCase{"diagonal", {{2, 0}, {0, 4}}, {{0.5, 0}, {0, 0.25}}},
        InverseCase{"symmetric", {{4, 2}, {2, 3}}, {{0.375, -0.25}, {-0.25, 0.5}}},
        // Singular without a zero row: the zero pivot becomes 1e-40.
        InverseCase{"singular", {{1, 2}, {2, 4}}, {{-2e40, 1e40}, {1e40, -5e39}}},
        InverseCase{"one by one", {{-8}}, {{-0.125}}},
        InverseCase{"permutation", {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
                    {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}}),
    [](const ::testing::TestParamInfo<InverseCase> &info) {
      std::string s = info.param.name;
      for (char &ch : s)
        if (ch == ' ') ch = '_';
      return s;
    });

// A general matrix: the product of the matrix and its computed inverse is the
// identity, and solving with the factors reproduces a known solution.
TEST(Inverse, TimesOriginalIsIdentity) {
  const Rows m = {{4, -2, 1, 3}, {3, 6, -4, 2}, {2, 1, 8, -5}, {1, -3, 2, 7}};
  const int n = 4;
  double **a = make_matrix(m);
  invv(a, n);
  for (int i = 0; i < n; i++)
    for (int j = 0; j < n; j++) {
      double s = 0.0;
      for (int k = 0; k < n; k++) s += m[i][k] * a[k + 1][j + 1];
      EXPECT_NEAR(s, i == j ? 1.0 : 0.0, tol::kTight) << i << "," << j;
    }
  free_matrix(a, n);
}

TEST(LuSolve, RecoversKnownSolution) {
  const Rows m = {{0, 2, 1}, {1, 1, 1}, {3, 0, 2}};
  const double x[3] = {1.5, -2.0, 0.25};
  double **a = make_matrix(m);
  int *indx = ivector(1, 3);
  double *b = dvector(1, 3);
  for (int i = 0; i < 3; i++) b[i + 1] = m[i][0] * x[0] + m[i][1] * x[1] + m[i][2] * x[2];
  ludcmp(a, 3, indx);
  lubksb(a, 3, indx, b);
  for (int i = 0; i < 3; i++) EXPECT_NEAR(b[i + 1], x[i], tol::kTight) << i;
  free_dvector(b, 1, 3);
  free_ivector(indx, 1, 3);
  free_matrix(a, 3);
}

struct DeterminantCase {
  const char *name;
  Rows input;
  double det;
};

std::ostream &operator<<(std::ostream &os, const DeterminantCase &c) { return os << c.name; }

class DeterminantTable : public ::testing::TestWithParam<DeterminantCase> {};

TEST_P(DeterminantTable, MatchesHandComputedValue) {
  const DeterminantCase &c = GetParam();
  int n = static_cast<int>(c.input.size());
  double **a = make_matrix(c.input);
  expect_rel(Determinant(a, n), c.det, tol::kRounding, c.name);
  free_matrix(a, n);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeterminantTable,
    ::testing::Values(
        DeterminantCase{"one_interchange", {{0, 1}, {1, 0}}, -1.0},
        // Both rows tie in column 1: the last one is the pivot (parity -1)
        // and the zero second pivot becomes 1e-40.
        DeterminantCase{"all_ones", {{1, 1}, {1, 1}}, -1e-40},
        DeterminantCase{"scaled_tie", {{1, 2}, {2, 4}}, -2e-40},
        DeterminantCase{"zero_row", {{1, 2}, {0, 0}}, 0.0},
        DeterminantCase{"zero_first_row", {{0, 0}, {3, 5}}, 0.0},
        // Cofactor expansion along the first row: 2(12-0) - 1(4-0) + 3(0-6) = 2.
        DeterminantCase{"three_by_three", {{2, 1, 3}, {1, 3, 0}, {2, 0, 4}}, 2.0},
        DeterminantCase{"one_by_one", {{-7.5}}, -7.5}),
    [](const ::testing::TestParamInfo<DeterminantCase> &info) { return info.param.name; });

TEST(Determinant, ZeroRowLeavesArgumentUnchanged) {
  const Rows m = {{1, 2}, {0, 0}};
  double **a = make_matrix(m);
  EXPECT_EQ(Determinant(a, 2), 0.0);
  for (int i = 1; i <= 2; i++)
    for (int j = 1; j <= 2; j++) EXPECT_EQ(a[i][j], m[i - 1][j - 1]);
  free_matrix(a, 2);
}

TEST(Determinant, EmptyMatrixIsOne) {
  double **a = dmatrix(1, 0, 1, 0);
  EXPECT_EQ(Determinant(a, 0), 1.0);
  free_dmatrix(a, 1, 0, 1, 0);
}

TEST(Ludcmp2, ZeroRowGivesZeroParityAndWritesNothing) {
  const Rows m = {{3, 1, 2}, {1, 4, 1}, {0, 0, 0}};
  double **a = make_matrix(m);
  int *indx = ivector(1, 3);
  for (int j = 1; j <= 3; j++) indx[j] = -5;
  double d = 7.0;
  ludcmp2(a, 3, indx, &d);
  EXPECT_EQ(d, 0.0);
  for (int i = 1; i <= 3; i++) {
    EXPECT_EQ(indx[i], -5);
    for (int j = 1; j <= 3; j++) EXPECT_EQ(a[i][j], m[i - 1][j - 1]);
  }
  free_ivector(indx, 1, 3);
  free_matrix(a, 3);
}

TEST(Ludcmp2, ParityAndInterchangesOfTie) {
  double **a = make_matrix({{1, 1}, {1, 1}});
  int *indx = ivector(1, 2);
  double d = 0.0;
  ludcmp2(a, 2, indx, &d);
  EXPECT_EQ(d, -1.0);
  EXPECT_EQ(indx[1], 2);
  EXPECT_EQ(indx[2], 2);
  EXPECT_EQ(a[2][2], 1e-40);
  free_ivector(indx, 1, 2);
  free_matrix(a, 2);
}

const char kSigmatrix[] =
    "^Numerical Recipes run-time error\\.\\.\\.\nSigmatrix in ludcmp\n"
    "\\.\\.\\.now exiting to system\\.\\.\\.\n$";

TEST(InverseDeathTest, OneByOneZeroEndsTheRun) {
  EXPECT_EXIT(
      run_to_exit([&] {
        ignore_leaks_from_here();
        double **a = make_matrix({{0}});
        invv(a, 1);
      }),
      ::testing::ExitedWithCode(1), kSigmatrix);
}

TEST(InverseDeathTest, ZeroRowEndsTheRun) {
  EXPECT_EXIT(
      run_to_exit([&] {
        ignore_leaks_from_here();
        double **a = make_matrix({{1, 2, 3}, {0, 0, 0}, {4, 5, 6}});
        invv(a, 3);
      }),
      ::testing::ExitedWithCode(1), kSigmatrix);
}

}  // namespace

namespace {

// Rank check. Columns 1, a = (1,-1,1,-1) and w = (1,1,-1,-1) are orthogonal,
// so the column c = s a + eps w, scaled to unit length, lies at distance
// eps |w| / |c| = eps / sqrt(s^2 + eps^2) from the span of 1 and a: the
// design is rank-deficient exactly when that is below the tolerance.
struct RankCase {
  const char *name;
  double s, eps, offset;  // column 2 = s a + eps w + offset
  int dependent;          // expected column, or -1
  std::vector<int> involved;
};
void PrintTo(const RankCase &c, std::ostream *os) { *os << c.name; }

class DependentColumn : public ::testing::TestWithParam<RankCase> {};

TEST_P(DependentColumn, FindsTheColumnCloserThanTheToleranceToTheOthers) {
  const RankCase c = GetParam();
  const double a[4] = {1, -1, 1, -1}, w[4] = {1, 1, -1, -1};
  std::vector<std::vector<double>> rows(4);
  std::vector<double *> x;
  for (int i = 0; i < 4; i++) {
    rows[i] = {1.0, a[i], c.s * a[i] + c.eps * w[i] + c.offset};
    x.push_back(rows[i].data());
  }
  const double tol = 1e-8;
  // The closed-form distance decides, not the code under test.
  const double distance = c.offset == 0 ? c.eps / std::sqrt(c.s * c.s + c.eps * c.eps) : -1;
  if (distance >= 0) {
    EXPECT_EQ(distance < tol, c.dependent >= 0) << "case table disagrees with the closed form";
  }
  int involved[3] = {9, 9, 9};
  EXPECT_EQ(dependent_column(x.data(), 4, 3, tol, involved), c.dependent);
  if (c.dependent >= 0) {
    for (int j = 0; j < 3; j++) EXPECT_EQ(involved[j], c.involved[(size_t)j]) << "column " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Designs, DependentColumn,
    ::testing::Values(RankCase{"FullRank", 3, 1, 0, -1, {}},
                      RankCase{"JustAboveTolerance", 1, 2e-8, 0, -1, {}},
                      RankCase{"JustBelowTolerance", 1, 0.5e-8, 0, 2, {0, 1, 1}},
                      RankCase{"ExactMultiple", -2.5, 0, 0, 2, {0, 1, 1}},
                      RankCase{"MultiplePlusIntercept", 2, 0, 7, 2, {1, 1, 1}},
                      RankCase{"Constant", 0, 0, 4, 2, {1, 0, 1}},
                      RankCase{"Zeros", 0, 0, 0, 2, {0, 0, 1}},
                      RankCase{"LargeScaleKeepsFullRank", 1e140, 1e139, 0, -1, {}}),
    [](const ::testing::TestParamInfo<RankCase> &info) { return std::string(info.param.name); });

}  // namespace
