// Time of one call of Davies' quadratic-form distribution (AS 155) as the
// SKAT p-value uses it: m eigenvalues in ascending order, one degree of
// freedom each, no non-centrality, no normal term, acc 1e-8, limit 10^9.
// Three spectra of decreasing positive weights (harmonic lb_j = 1/j,
// geometric lb_j = 0.9^(j-1), and one dominant weight 1 with the others
// 0.02/(j-1)) for m = 50 and 500, at points c = mean + z sd.
//   usage: bench_qfc_bench [seconds per case, default 0.3]
#include "kernels/qfc.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Timing {
  double seconds;  // median over repetitions of one call
  double res;
  int ifault;
  double terms;   // trace[1]
  double evals;   // trace[6]
};

Timing time_call(std::vector<double> lb, double c, double budget) {
  int r = static_cast<int>(lb.size());
  std::vector<double> nc(lb.size(), 0.0);
  std::vector<int> n(lb.size(), 1);
  double sigma = 0.0, acc = 1e-8, trace[7], res = 0.0;
  int lim = 1000000000, ifault = 0;
  std::vector<double> times;
  double total = 0.0;
  while (total < budget || times.size() < 3) {
    for (double &t : trace) t = 0.0;
    ifault = 0;
    auto t0 = std::chrono::steady_clock::now();
    qfc(lb.data(), nc.data(), n.data(), &r, &sigma, &c, &lim, &acc, trace, &ifault, &res);
    auto t1 = std::chrono::steady_clock::now();
    double s = std::chrono::duration<double>(t1 - t0).count();
    times.push_back(s);
    total += s;
    if (times.size() >= 100000) break;
  }
  std::sort(times.begin(), times.end());
  return Timing{times[times.size() / 2], res, ifault, trace[1], trace[6]};
}

}  // namespace

int main(int argc, char **argv) {
  double budget = argc > 1 ? std::atof(argv[1]) : 0.3;
  std::printf("%-9s %4s %5s %12s %22s %6s %8s %6s\n", "spectrum", "m", "z", "time (ms)",
              "P(Q < c)", "fault", "terms", "evals");
  const char *names[] = {"harmonic", "geometric", "dominant"};
  for (int spectrum = 0; spectrum < 3; spectrum++) {
    for (int m : {50, 500}) {
      std::vector<double> lb(m);
      for (int j = 0; j < m; j++) {
        int rank = m - j;  // ascending order: the largest weight last
        if (spectrum == 0)
          lb[j] = 1.0 / rank;
        else if (spectrum == 1)
          lb[j] = std::pow(0.9, rank - 1);
        else
          lb[j] = rank == 1 ? 1.0 : 0.02 / (rank - 1);
      }
      double mean = 0.0, var = 0.0;
      for (double l : lb) {
        mean += l;
        var += 2.0 * l * l;
      }
      for (double z : {0.0, 2.0, 4.0, 8.0}) {
        double c = mean + z * std::sqrt(var);
        Timing t = time_call(lb, c, budget);
        std::printf("%-9s %4d %5.1f %12.4f %22.15g %6d %8.0f %6.0f\n",
                    names[spectrum], m, z, 1e3 * t.seconds, t.res,
                    t.ifault, t.terms, t.evals);
      }
    }
  }
  return 0;
}
