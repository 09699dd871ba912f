// Times one 19-variable multivariate normal rectangle probability (mymvn)
// at the accuracies and budgets the maximum-statistic p-value uses:
// abseps 0.01, 1e-4 and 1e-8, budgets 5000 N^3, doubled twice; first
// straightforwardly (every integration from the start, every conditioning
// step computed), then with the work savings (records of the earlier
// integrations of the problem, shared conditioning steps), with the
// integrand evaluations and conditioning steps of each and a check that
// both give the same bits.
// The correlation matrix is that of 19 nested burden scores: score k sums
// the variants of the first k frequency classes, so with independent
// variants corr(S_i, S_j) = sqrt(V_i / V_j) for i <= j, V_k the variance of S_k.
//
//   bench_mvn_bench [spare threads] [savings only]
// With k spare threads each integration shares its batches of points with
// k other threads (as the last genes of a pass do); 0 (the default) is the
// one-thread run. A second argument of 1 skips the straightforward runs.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <vector>

#include "kernels/sadmvn.h"
#include "numeric/spare_threads.h"

int main(int argc, char **argv) {
  const int spare = argc > 1 ? std::atoi(argv[1]) : 0;
  const bool savings_only = argc > 2 && std::atoi(argv[2]) == 1;
  SpareThreads helpers(spare);
  std::printf("spare threads: %d\n", spare);
  const int n = 19;
  // Variance added by each frequency class: a few rare classes, then larger ones.
  std::vector<double> v(n + 1, 0.0);
  double total = 0.0;
  for (int k = 1; k <= n; k++) {
    total += 1.0 + 0.35 * k + 0.02 * k * k;
    v[k] = total;
  }
  std::vector<std::vector<double>> sigma(n + 1, std::vector<double>(n + 1, 0.0));
  std::vector<double *> rows_ptr(n + 1);
  for (int i = 1; i <= n; i++) {
    for (int j = 1; j <= n; j++) sigma[i][j] = std::sqrt(std::fmin(v[i], v[j]) / std::fmax(v[i], v[j]));
    rows_ptr[i] = sigma[i].data();
  }
  std::printf("19 nested burden scores: corr(S1,S2) = %.4f, corr(S1,S19) = %.4f, corr(S18,S19) = %.4f\n",
              sigma[1][2], sigma[1][19], sigma[18][19]);
  const int base = 5000 * n * n * n;
  struct Row {
    double p, error;
    int inform;
  };
  std::vector<Row> rows[2];
  double total_secs[2] = {0.0, 0.0};
  long long total_evals[2] = {0, 0}, total_steps[2] = {0, 0};
  for (int mode = savings_only ? 1 : 0; mode < 2; mode++) {
    sadmvn_options(mode == 1, mode == 1);
    std::printf("%s\n", mode == 0 ? "straightforward" : "with the work savings");
    std::printf("%6s %8s %10s %12s %14s %12s %7s %12s %14s\n", "w", "abseps", "maxpts",
                "seconds", "1 - P", "error", "inform", "evaluations", "steps");
    for (double w : {2.5, 4.5}) {
      for (double abseps : {1e-2, 1e-4, 1e-8}) {
        for (int factor : {1, 2, 4}) {
          const int maxpts = base * factor;
          std::vector<double> lower(n + 1, -w), upper(n + 1, w), mu(n + 1, 0.0);
          std::vector<int> infin(n + 1, 2);
          double error = 0.0;
          int inform = -1;
          long long e0, s0, e1, s1;
          sadmvn_counts(&e0, &s0);
          const auto t0 = std::chrono::steady_clock::now();
          const double p = mymvn(maxpts, abseps, n, lower.data(), upper.data(), infin.data(),
                                 mu.data(), rows_ptr.data(), &error, &inform);
          const double secs =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
          sadmvn_counts(&e1, &s1);
          total_secs[mode] += secs;
          total_evals[mode] += e1 - e0;
          total_steps[mode] += s1 - s0;
          rows[mode].push_back(Row{p, error, inform});
          std::printf("%6.2f %8.0e %10d %12.4f %14.6e %12.3e %7d %12lld %14lld\n", w, abseps,
                      maxpts, secs, 1.0 - p, error, inform, e1 - e0, s1 - s0);
          std::fflush(stdout);
        }
      }
    }
  }
  if (savings_only) {
    std::printf("total with the savings: %.2f s, %lld evaluations, %lld steps\n", total_secs[1],
                total_evals[1], total_steps[1]);
    return 0;
  }
  bool same = rows[0].size() == rows[1].size();
  for (size_t k = 0; same && k < rows[0].size(); k++)
    same = std::memcmp(&rows[0][k].p, &rows[1][k].p, sizeof(double)) == 0 &&
           std::memcmp(&rows[0][k].error, &rows[1][k].error, sizeof(double)) == 0 &&
           rows[0][k].inform == rows[1][k].inform;
  std::printf("totals: straightforward %.2f s, %lld evaluations, %lld steps; with the savings "
              "%.2f s, %lld evaluations, %lld steps; time ratio %.2f; %s\n",
              total_secs[0], total_evals[0], total_steps[0], total_secs[1], total_evals[1],
              total_steps[1], total_secs[0] / total_secs[1],
              same ? "every result the same bits" : "RESULTS DIFFER");
  return same ? 0 : 1;
}
