#ifndef QUORVEX_TESTS_KERNELS_MVN_PROBLEMS_H
#define QUORVEX_TESTS_KERNELS_MVN_PROBLEMS_H

// Random multivariate normal rectangle problems of the maximum-statistic
// kind and the sequences of budgets and tolerances it integrates them with,
// for the tests that compare integrations bit for bit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/sadmvn.h"

namespace mvn_problems {

struct Problem {
  int n = 0;
  std::vector<double> lower, upper, mu;
  std::vector<int> infin;
  std::vector<std::vector<double>> sigma;  // [1..n][1..n]
};

struct Attempt {
  int maxpts;
  double abseps;
};

struct Outcome {
  double value, error;
  int inform;
};

inline uint64_t Bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Rule size of the engine for a cube of dimension m.
inline int RuleSize(int m) {
  if (m == 1) return 9;
  if (m < 12) return (1 << m) + 2 * m * (m + 2) + 1;
  return 2 * m * (2 * m + 1) + 1;
}

// A random problem: correlations from random loadings on a few factors (with
// nested-score structure, exact duplicates or a perfect correlation now and
// then), symmetric limits +-w as the maximum statistic has, or mixed codes.
inline Problem RandomProblem(std::mt19937_64 &gen, int n) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Problem p;
  p.n = n;
  p.lower.assign(n + 1, 0.0);
  p.upper.assign(n + 1, 0.0);
  p.mu.assign(n + 1, 0.0);
  p.infin.assign(n + 1, 2);
  p.sigma.assign(n + 1, std::vector<double>(n + 1, 0.0));
  const int kind = static_cast<int>(unit(gen) * 3.0);
  if (kind == 0) {
    // Nested scores: corr(S_i, S_j) = sqrt(V_i / V_j).
    std::vector<double> v(n + 1, 0.0);
    double total = 0.0;
    for (int k = 1; k <= n; k++) {
      total += 0.1 + unit(gen) * 3.0;
      v[k] = total;
    }
    for (int i = 1; i <= n; i++)
      for (int j = 1; j <= n; j++)
        p.sigma[i][j] = std::sqrt(std::fmin(v[i], v[j]) / std::fmax(v[i], v[j]));
  } else {
    const int factors = 1 + static_cast<int>(unit(gen) * 3.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<std::vector<double>> a(n + 1, std::vector<double>(factors + 1, 0.0));
    for (int i = 1; i <= n; i++)
      for (int f = 0; f <= factors; f++) a[i][f] = f == factors ? 0.2 + unit(gen) : normal(gen);
    for (int i = 1; i <= n; i++)
      for (int j = 1; j <= n; j++) {
        double s = 0.0;
        for (int f = 0; f < factors; f++) s += a[i][f] * a[j][f];
        if (i == j) s += a[i][factors] * a[i][factors];
        p.sigma[i][j] = s;
      }
    for (int i = 1; i <= n; i++)
      for (int j = 1; j <= n; j++)
        if (i != j) p.sigma[i][j] /= std::sqrt(p.sigma[i][i] * p.sigma[j][j]);
    for (int i = 1; i <= n; i++) p.sigma[i][i] = 1.0;
    if (n >= 3 && unit(gen) < 0.15) {
      // A variable fixed by another (zero conditional variance).
      for (int j = 1; j <= n; j++) p.sigma[n][j] = p.sigma[j][n] = p.sigma[1][j];
      p.sigma[n][n] = 1.0;
      p.sigma[1][n] = p.sigma[n][1] = 1.0;
    }
  }
  const double w = 0.5 + unit(gen) * 4.5;
  const bool mixed = kind == 2 && unit(gen) < 0.5;
  for (int i = 1; i <= n; i++) {
    if (!mixed) {
      p.lower[i] = -w;
      p.upper[i] = w;
      continue;
    }
    p.infin[i] = static_cast<int>(unit(gen) * 4.0) - 1;
    p.lower[i] = -3.0 + unit(gen) * 3.0;
    p.upper[i] = p.lower[i] + 0.2 + unit(gen) * 3.0;
  }
  return p;
}

inline Outcome Solve(Problem &p, const Attempt &r) {
  std::vector<double *> rows(p.n + 1);
  for (int i = 1; i <= p.n; i++) rows[i] = p.sigma[i].data();
  Outcome o{-7.0, -7.0, -7};
  o.value = mymvn(r.maxpts, r.abseps, p.n, p.lower.data(), p.upper.data(), p.infin.data(),
                  p.mu.data(), rows.data(), &o.error, &o.inform);
  return o;
}

// The runs of one problem: the three accuracy stages, each trying its budget
// and twice and four times that while the accuracy is missed (every stage
// is run whatever the p-value, to cover them all), or a random sequence of
// budgets and tolerances.
inline std::vector<Outcome> Sequence(Problem &p, std::mt19937_64 gen, bool staged) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int m = std::max(1, p.n - 1);
  const int rule = RuleSize(m);
  // Budgets from below one rule application to a few dozen of them.
  const double scale = m <= 8 ? 12.0 : 3.0;
  const int base = std::max(1, static_cast<int>(rule * (0.5 + unit(gen) * scale)));
  std::vector<Outcome> out;
  if (staged) {
    const double tols[3] = {0.01, std::pow(10.0, -3.0 - unit(gen) * 4.0), 1e-8};
    for (double tol : tols)
      for (int attempt = 0, budget = base; attempt < 3; attempt++, budget *= 2) {
        out.push_back(Solve(p, Attempt{budget, tol}));
        if (out.back().inform == 0) break;
      }
  } else {
    const int runs = 3 + static_cast<int>(unit(gen) * 5.0);
    for (int k = 0; k < runs; k++) {
      const int budget = static_cast<int>(base * (0.25 + unit(gen) * 4.0));
      const double tol = std::pow(10.0, -1.0 - unit(gen) * 8.0);
      out.push_back(Solve(p, Attempt{budget, tol}));
    }
  }
  return out;
}

inline void ExpectSameBits(const std::vector<Outcome> &a, const std::vector<Outcome> &b, int problem,
                    int n, const char *mode) {
  ASSERT_EQ(a.size(), b.size()) << "problem " << problem << " n " << n << " " << mode;
  for (size_t k = 0; k < a.size(); k++) {
    EXPECT_EQ(Bits(a[k].value), Bits(b[k].value))
        << "problem " << problem << " n " << n << " run " << k << " " << mode << ": "
        << a[k].value << " vs " << b[k].value;
    EXPECT_EQ(Bits(a[k].error), Bits(b[k].error))
        << "problem " << problem << " n " << n << " run " << k << " " << mode;
    EXPECT_EQ(a[k].inform, b[k].inform)
        << "problem " << problem << " n " << n << " run " << k << " " << mode;
  }
}

}  // namespace mvn_problems

#endif
