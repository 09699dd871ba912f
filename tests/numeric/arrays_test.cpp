#include "numeric/arrays.h"
#include "support/death_tests.h"

#include <gtest/gtest.h>

#include <ostream>

TEST(IndexRangeArrays, VectorIsAddressedFromItsLowerBound) {
  double *v = dvector(1, 3);
  for (long i = 1; i <= 3; i++) v[i] = static_cast<double>(i);
  EXPECT_EQ(&v[2], &v[1] + 1);
  EXPECT_EQ(&v[3], &v[1] + 2);
  free_dvector(v, 1, 3);
  int *iv = ivector(-2, 2);
  for (int i = -2; i <= 2; i++) iv[i] = i;
  EXPECT_EQ(iv[-2], -2);
  free_ivector(iv, -2, 999);  // upper bound is not used
}

struct MatrixShape {
  long nrl, nrh, ncl, nch;
};

std::ostream &operator<<(std::ostream &os, const MatrixShape &s) {
  return os << "[" << s.nrl << ".." << s.nrh << "][" << s.ncl << ".." << s.nch << "]";
}

class IndexRangeMatrix : public ::testing::TestWithParam<MatrixShape> {};

TEST_P(IndexRangeMatrix, RowsAreOneContiguousRowMajorBlock) {
  const MatrixShape s = GetParam();
  double **m = dmatrix(s.nrl, s.nrh, s.ncl, s.nch);
  long ncol = s.nch - s.ncl + 1;
  double *first = &m[s.nrl][s.ncl];
  long k = 0;
  for (long i = s.nrl; i <= s.nrh; i++)
    for (long j = s.ncl; j <= s.nch; j++, k++) {
      EXPECT_EQ(&m[i][j], first + k);
      m[i][j] = static_cast<double>(k);
    }
  for (long i = s.nrl + 1; i <= s.nrh; i++) EXPECT_EQ(m[i], m[i - 1] + ncol);
  free_dmatrix(m, s.nrl, s.nrh + 5, s.ncl, s.nch + 5);
}

INSTANTIATE_TEST_SUITE_P(Shapes, IndexRangeMatrix,
                         ::testing::Values(MatrixShape{0, 1, 0, 2}, MatrixShape{1, 2, 1, 2},
                                           MatrixShape{0, 0, 0, 0}, MatrixShape{3, 7, -1, 4}));

TEST(IndexRangeArrays, EmptyRangesAreReleasableAndSilent) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  double *v = dvector(0, -1);
  double **m = dmatrix(0, -1, 0, -1);
  double **cols0 = dmatrix(0, 2, 0, -1);
  free_dvector(v, 0, -1);
  free_dmatrix(m, 0, -1, 0, -1);
  free_dmatrix(cols0, 0, 2, 0, -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(IndexRangeArraysDeathTest, NrerrorWritesThreeLinesToStderrAndExitsWithOne) {
  EXPECT_EXIT(run_to_exit([&] { nrerror("allocation failure in dvector()"); }), ::testing::ExitedWithCode(1),
              "^Numerical Recipes run-time error\\.\\.\\.\nallocation failure in dvector\\(\\)\n"
              "\\.\\.\\.now exiting to system\\.\\.\\.\n$");
}
