// Times one 19-variable multivariate normal rectangle probability (mymvn)
// at the accuracies and budgets the maximum-statistic p-value uses:
// abseps 0.01, 1e-4 and 1e-8, budgets 5000 N^3, doubled twice.
// The correlation matrix is that of 19 nested burden scores: score k sums
// the variants of the first k frequency classes, so with independent
// variants corr(S_i, S_j) = sqrt(V_i / V_j) for i <= j, V_k the variance of S_k.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "kernels/sadmvn.h"

int main() {
  const int n = 19;
  // Variance added by each frequency class: a few rare classes, then larger ones.
  std::vector<double> v(n + 1, 0.0);
  double total = 0.0;
  for (int k = 1; k <= n; k++) {
    total += 1.0 + 0.35 * k + 0.02 * k * k;
    v[k] = total;
  }
  std::vector<std::vector<double>> sigma(n + 1, std::vector<double>(n + 1, 0.0));
  std::vector<double *> rows(n + 1);
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) sigma[i][j] = std::sqrt(std::fmin(v[i], v[j]) / std::fmax(v[i], v[j]));
    rows[i] = sigma[i].data();
  }
  std::printf("19 nested burden scores: corr(S1,S2) = %.4f, corr(S1,S19) = %.4f, corr(S18,S19) = %.4f\n",
              sigma[1][2], sigma[1][19], sigma[18][19]);
  std::printf("%6s %8s %10s %12s %14s %12s %7s\n", "w", "abseps", "maxpts", "seconds", "1 - P",
              "error", "inform");
  const int base = 5000 * n * n * n;
  for (double w : {2.5, 4.5}) {
    for (double abseps : {1e-2, 1e-4, 1e-8}) {
      for (int factor : {1, 2, 4}) {
        const int maxpts = base * factor;
        std::vector<double> lower(n + 1, -w), upper(n + 1, w), mu(n + 1, 0.0);
        std::vector<int> infin(n + 1, 2);
        double error = 0.0;
        int inform = -1;
        const auto t0 = std::chrono::steady_clock::now();
        const double p = mymvn(maxpts, abseps, n, lower.data(), upper.data(), infin.data(),
                               mu.data(), rows.data(), &error, &inform);
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%6.2f %8.0e %10d %12.4f %14.6e %12.3e %7d\n", w, abseps, maxpts, secs,
                    1.0 - p, error, inform);
        std::fflush(stdout);
      }
    }
  }
  return 0;
}
