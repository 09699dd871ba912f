// The SKAT kernel's eigenvalues without eigenvectors against the
// decomposition with eigenvectors and its sort, bit for bit.

#include <gsl/gsl_randist.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "stats/combination.h"

namespace {

uint64_t bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Squared Beta(1, 25) density, the driver's SKAT weight.
double beta_weight(double maf) {
  const double b = gsl_ran_beta_pdf(maf, 1.0, 25.0);
  return b * b;
}

// Number of positions where the two routines' values differ in any bit;
// both get their own copy of the row-major m x m matrix a.
int differing_values(int m, const std::vector<double> &a) {
  std::vector<double> a1(a), a2(a), fast(static_cast<size_t>(m)), full(static_cast<size_t>(m));
  skat_kernel_eigenvalues(m, a1.data(), fast.data());
  skat_kernel_eigenvalues_with_vectors(m, a2.data(), full.data());
  int differ = 0;
  for (int i = 0; i < m; i++)
    if (bits(fast[static_cast<size_t>(i)]) != bits(full[static_cast<size_t>(i)])) differ++;
  return differ;
}

// A covariance-like SKAT kernel of order m: n subjects, each variant carried
// by a few of them (rare, some doubly), some variants copies of an earlier
// one (exact collinearity: a zero eigenvalue up to rounding, of either
// sign), binary-trait weights v_i, the intercept projected out as the null
// model does (cov = G'VG - a a' / sum v), then the squared Beta(1, 25)
// density weights sqrt(w_i) sqrt(w_j) applied.
std::vector<double> covariance_kernel(int m, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unif(0.0, 1.0);
  const int n = 2 * m + 50;
  std::vector<double> v(static_cast<size_t>(n));
  double vsum = 0.0;
  for (double &x : v) {
    const double mu = 0.2 + 0.6 * unif(rng);
    x = mu * (1 - mu);
    vsum += x;
  }
  // carriers[i]: (variant, dosage) pairs of subject i.
  std::vector<std::vector<std::pair<int, double>>> carriers(static_cast<size_t>(n));
  std::vector<double> maf(static_cast<size_t>(m));
  for (int j = 0; j < m; j++) {
    const bool copy = j > 0 && unif(rng) < 0.05;
    const int source = copy ? static_cast<int>(unif(rng) * j) : j;
    if (copy) {
      for (auto &c : carriers)
        for (size_t e = 0, ne = c.size(); e < ne; e++)
          if (c[e].first == source) c.emplace_back(j, c[e].second);
      maf[static_cast<size_t>(j)] = maf[static_cast<size_t>(source)];
      continue;
    }
    const int count = 1 + static_cast<int>(unif(rng) * 12);
    for (int c = 0; c < count; c++) {
      const int i = static_cast<int>(unif(rng) * n);
      carriers[static_cast<size_t>(i)].emplace_back(j, unif(rng) < 0.1 ? 2.0 : 1.0);
    }
    maf[static_cast<size_t>(j)] = count / (2.0 * n);
  }
  std::vector<double> G(static_cast<size_t>(m) * m, 0.0), a(static_cast<size_t>(m), 0.0);
  for (int i = 0; i < n; i++)
    for (const auto &p : carriers[static_cast<size_t>(i)]) {
      a[static_cast<size_t>(p.first)] += v[static_cast<size_t>(i)] * p.second;
      for (const auto &q : carriers[static_cast<size_t>(i)])
        G[static_cast<size_t>(p.first) * m + q.first] += v[static_cast<size_t>(i)] * p.second * q.second;
    }
  std::vector<double> root(static_cast<size_t>(m));
  for (int j = 0; j < m; j++) root[static_cast<size_t>(j)] = std::sqrt(beta_weight(maf[static_cast<size_t>(j)]));
  for (int r = 0; r < m; r++)
    for (int c = 0; c < m; c++) {
      const size_t e = static_cast<size_t>(r) * m + c;
      G[e] = root[static_cast<size_t>(r)] * root[static_cast<size_t>(c)] *
             (G[e] - a[static_cast<size_t>(r)] * a[static_cast<size_t>(c)] / vsum);
    }
  return G;
}

TEST(SkatKernelEigenvalues, SameBitsAsTheDecompositionWithVectors) {
  // Several matrices per range of orders; the largest orders (seconds each
  // for the decomposition with vectors) in the optimised build only.
  struct Orders {
    int m, count;
  };
  std::vector<Orders> table = {{1, 3},  {2, 4},  {3, 4},   {4, 3},   {5, 3},   {7, 3},
                               {10, 3}, {16, 3}, {31, 3},  {64, 3},  {100, 3}, {127, 2},
                               {200, 2}, {257, 2}, {500, 2}, {750, 1}, {1000, 1}};
#ifdef NDEBUG
  table.push_back({2000, 1});
#endif
  int differ = 0;
  for (const Orders &o : table)
    for (int c = 0; c < o.count; c++) {
      const uint64_t seed = 1000003ULL * static_cast<uint64_t>(o.m) + static_cast<uint64_t>(c);
      const int d = differing_values(o.m, covariance_kernel(o.m, seed));
      EXPECT_EQ(d, 0) << "order " << o.m << ", matrix " << c;
      differ += d;
    }
  EXPECT_EQ(differ, 0);
}

TEST(SkatKernelEigenvalues, TiesOfAbsoluteValueSortAsTheVectorSort) {
  // Diagonal matrices are already tridiagonal: the values reach the sort as
  // given, so these cases pin down the order of equal |value| (x and -x,
  // +0 and -0) and of NaN, where a different sort would move bits.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::vector<double>> diagonals = {
      {1.0, -1.0},
      {-1.0, 1.0},
      {2.0, -1.0, 1.0, -2.0, 1.0, -1.0},
      {0.0, -0.0, 0.0, -0.0},
      {-0.0, 3.0, 0.0, -3.0, -0.0},
      {5.0, nan, -5.0, 1.0, nan, -1.0},
      {nan, 0.5, -0.5},
      {4.0, 3.0, 2.0, 1.0, -1.0, -2.0, -3.0, -4.0},
  };
  for (const auto &d : diagonals) {
    const int m = static_cast<int>(d.size());
    std::vector<double> a(static_cast<size_t>(m) * m, 0.0);
    for (int i = 0; i < m; i++) a[static_cast<size_t>(i) * m + i] = d[static_cast<size_t>(i)];
    EXPECT_EQ(differing_values(m, a), 0) << "diagonal of order " << m;
  }
  // A dense matrix with eigenvalues +1 and -1 repeated (a reflection).
  const int m = 6;
  std::vector<double> a(static_cast<size_t>(m) * m);
  for (int i = 0; i < m; i++)
    for (int j = 0; j < m; j++) a[static_cast<size_t>(i) * m + j] = (i == j ? 1.0 : 0.0) - 2.0 / m;
  EXPECT_EQ(differing_values(m, a), 0);
}

TEST(SkatKernelEigenvalues, AscendingAbsoluteValuesOfAKnownSpectrum) {
  // An independent check of the values: Q diag(d) Q' with Q a Householder
  // reflection has the eigenvalues d.
  const std::vector<double> d = {3.0, -0.5, 1e-3, 2.0, -4.0, 0.25};
  const std::vector<double> u = {1.0, -2.0, 0.5, 3.0, 1.5, -1.0};
  const int m = static_cast<int>(d.size());
  double uu = 0.0;
  for (double e : u) uu += e * e;
  std::vector<double> a(static_cast<size_t>(m) * m, 0.0);
  for (int i = 0; i < m; i++)
    for (int j = 0; j < m; j++)
      for (int l = 0; l < m; l++) {
        const double qil = (i == l ? 1.0 : 0.0) - 2 * u[i] * u[l] / uu;
        const double qjl = (j == l ? 1.0 : 0.0) - 2 * u[j] * u[l] / uu;
        a[static_cast<size_t>(i) * m + j] += qil * d[static_cast<size_t>(l)] * qjl;
      }
  std::vector<double> eval(static_cast<size_t>(m));
  skat_kernel_eigenvalues(m, a.data(), eval.data());
  const std::vector<double> expected = {1e-3, 0.25, -0.5, 2.0, 3.0, -4.0};
  for (int i = 0; i < m; i++) EXPECT_NEAR(eval[static_cast<size_t>(i)], expected[static_cast<size_t>(i)], 1e-13);
}

}  // namespace
