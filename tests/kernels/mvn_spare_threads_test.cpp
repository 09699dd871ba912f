// One integration shared with spare threads: the engine's results and the
// multivariate normal probabilities are the same bits whether every point is
// evaluated on the calling thread or the points of a rule application are
// split between it and waiting spare threads; and the spare threads do take
// part.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernels/adapt.h"
#include "kernels/sadmvn.h"
#include "numeric/spare_threads.h"
#include "tests/kernels/mvn_problems.h"

namespace {

using namespace mvn_problems;

bool AwaitSpare(int count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (spare_threads_waiting() < count) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

#if defined(__SANITIZE_ADDRESS__)
const int kSpareProblems = 16;  // the instrumented build runs a sample
#else
const int kSpareProblems = 150;
#endif

// Random problems of 2 to 19 variables in the staged budgets of the maximum
// statistic (and random sequences), integrated on the calling thread alone,
// then all of them with 3 spare threads and some with 1 (the spare threads
// going from one problem to the next), from no records each time; with the
// work savings on, and for some problems off (points evaluated one by one
// in the rule's order, only the division-axis differences split).
TEST(MvnSpareThreads, SameBitsForAnyNumberOfThreads) {
  std::mt19937_64 gen(20261211);
  std::uniform_int_distribution<int> size(2, 19);
  struct Case {
    Problem p;
    bool staged, savings;
    uint64_t seed;
    std::vector<Outcome> alone;
  };
  std::vector<Case> cases;
  long long evaluated_alone = 0, e0, s0, e1, s1;
  for (int k = 0; k < kSpareProblems; k++) {
    const int n = k < 6 ? 19 - k : size(gen);
    Case c{RandomProblem(gen, n), k % 4 != 3, k % 5 != 4, 0, {}};
    c.seed = gen();
    sadmvn_options(c.savings, c.savings);
    sadmvn_counts(&e0, &s0);
    c.alone = Sequence(c.p, std::mt19937_64(c.seed), c.staged);
    sadmvn_counts(&e1, &s1);
    evaluated_alone += e1 - e0;
    cases.push_back(std::move(c));
  }
  for (int spare_count : {3, 1}) {
    SpareThreads spare(spare_count);
    ASSERT_TRUE(AwaitSpare(spare_count));
    const int problems = spare_count == 3 ? kSpareProblems : kSpareProblems / 5;
    long long evaluated_shared = 0;
    const long long off0 = spare_chunks_run();
    for (int k = 0; k < problems && !HasFailure(); k++) {
      Case &c = cases[static_cast<size_t>(k)];
      sadmvn_options(c.savings, c.savings);  // also drops the records
      sadmvn_counts(&e0, &s0);
      const std::vector<Outcome> shared = Sequence(c.p, std::mt19937_64(c.seed), c.staged);
      sadmvn_counts(&e1, &s1);
      evaluated_shared += e1 - e0;
      ExpectSameBits(c.alone, shared, k, c.p.n, c.savings ? "savings on" : "savings off");
    }
    // The spare threads evaluated points, and their evaluations count as
    // the integrating thread's.
    EXPECT_GT(spare_chunks_run() - off0, 0) << spare_count;
    if (spare_count == 3) {
      EXPECT_EQ(evaluated_shared, evaluated_alone);
    }
  }
  sadmvn_options(true, true);
}

// A budget that fills the engine's store, so that regions are refined in
// place into meshes of cells (evaluated for a whole region at once when
// spare threads wait).
TEST(MvnSpareThreads, SameBitsOnceTheStoreIsFull) {
  std::mt19937_64 gen(31);
  Problem p = RandomProblem(gen, 19);
  sadmvn_options(true, true);
  const Attempt runs[] = {{600000, 1e-9}};
  std::vector<Outcome> alone, shared;
  for (const Attempt &r : runs) alone.push_back(Solve(p, r));
  sadmvn_forget();
  {
    SpareThreads spare(3);
    ASSERT_TRUE(AwaitSpare(3));
    for (const Attempt &r : runs) shared.push_back(Solve(p, r));
  }
  sadmvn_forget();
  ExpectSameBits(alone, shared, 0, 19, "full store");
}

// The same with the regions' cells evaluated in groups: a limit of a few
// cells' values (18 integration variables, 1,333 points a cell) puts every
// region refined in place beyond it through groups, the last one short.
TEST(MvnSpareThreads, SameBitsWithCellsInGroups) {
  std::mt19937_64 gen(31);
  Problem p = RandomProblem(gen, 19);
  sadmvn_options(true, true);
  const Attempt run{600000, 1e-9};
  const Outcome alone = Solve(p, run);
  sadmvn_forget();
  for (size_t limit : {size_t{1}, size_t{3 * 1333 + 5}}) {
    adapt_set_batch_limit(limit);
    Outcome shared;
    {
      SpareThreads spare(3);
      ASSERT_TRUE(AwaitSpare(3));
      shared = Solve(p, run);
    }
    sadmvn_forget();
    ExpectSameBits({alone}, {shared}, 0, 19, limit == 1 ? "groups of one cell" : "groups of 3 cells");
  }
  adapt_set_batch_limit(0);
}

// A stateless integrand needs no set-up on the spare threads.
void NoSetUp(const void *, bool) {}

// exp(-sum c_i z_i^2) * (1 + z_1 z_2): smooth, not symmetric in its axes.
double Peak(int *ndim, double *z) {
  double s = 0.0;
  for (int i = 0; i < *ndim; i++) s += (0.5 + 0.25 * i) * z[i] * z[i];
  return std::exp(-s) * (1.0 + z[0] * z[1]);
}

uint64_t Bits64(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

struct EngineRun {
  std::vector<double> estimates, errors, work;
  std::vector<int> counts, informs;
};

// A fresh call and two continuations of the engine, in a store small
// enough that the regions are refined in place into meshes of cells.
EngineRun Integrate(int ndim, int lenwrk) {
  EngineRun r;
  r.work.assign(static_cast<size_t>(lenwrk), 0.0);
  double abs_req = 1e-12, rel_req = 0.0;
  int mincls = 0;
  for (int call = 0; call < 3; call++) {
    int maxcls = 60000 * (call + 1);
    double error = 0.0, value = 0.0;
    int inform = -1;
    adapt_(&ndim, &mincls, &maxcls, Peak, &abs_req, &rel_req, &lenwrk, r.work.data(), &error,
           &value, &inform);
    r.estimates.push_back(value);
    r.errors.push_back(error);
    r.counts.push_back(mincls);
    r.informs.push_back(inform);
    mincls = -1;
  }
  return r;
}

void ExpectSameRun(const EngineRun &alone, const EngineRun &shared, const std::string &what) {
  for (size_t c = 0; c < alone.estimates.size(); c++) {
    EXPECT_EQ(Bits64(alone.estimates[c]), Bits64(shared.estimates[c])) << what << " " << c;
    EXPECT_EQ(Bits64(alone.errors[c]), Bits64(shared.errors[c])) << what << " " << c;
    EXPECT_EQ(alone.counts[c], shared.counts[c]) << what << " " << c;
    EXPECT_EQ(alone.informs[c], shared.informs[c]) << what << " " << c;
  }
  EXPECT_EQ(0, std::memcmp(alone.work.data(), shared.work.data(),
                           alone.work.size() * sizeof(double)))
      << what << ": the stored regions differ";
}

TEST(MvnSpareThreads, EngineSameBitsWithSpareThreads) {
  adapt_share_with(NoSetUp, nullptr);
  for (int ndim : {6, 11, 14}) {
    // Enough storage for a few dozen regions: the later calls refine meshes.
    const int lenwrk = 6 * (ndim + 4) + 7 * ndim + 40 * (3 * ndim + 3);
    const EngineRun alone = Integrate(ndim, lenwrk);
    EngineRun shared;
    long long off;
    {
      SpareThreads spare(3);
      ASSERT_TRUE(AwaitSpare(3));
      const long long off0 = spare_chunks_run();
      shared = Integrate(ndim, lenwrk);
      off = spare_chunks_run() - off0;
    }
    // Below about 8000 coordinates a rule application is not worth splitting.
    if (ndim >= 11) {
      EXPECT_GT(off, 0) << ndim;
    }
    ExpectSameRun(alone, shared, std::to_string(ndim));
  }
  adapt_share_with(nullptr, nullptr);
}

// Regions refined in place into more cells than one batch may hold are
// evaluated in groups of cells, each group split between the threads: the
// estimates, counts and the whole store (generators included) are those of
// the calling thread alone. Limits of one cell's values (every group one
// cell), of a few cells (the last group of a region short) and of a few
// cells and one point (what a group holds is rounded down to whole cells).
TEST(MvnSpareThreads, EngineSameBitsWithCellsInGroups) {
  adapt_share_with(NoSetUp, nullptr);
  struct Case {
    int ndim;
    size_t limit;
  };
  // Points of one rule application: 161 (6 variables), 2,335 (11), 813 (14).
  const Case cases[] = {{6, 161}, {6, 4 * 161}, {11, 2335}, {11, 2 * 2335 + 1},
                        {14, 813}, {14, 3 * 813 + 1}};
  for (const Case &c : cases) {
    const int lenwrk = 6 * (c.ndim + 4) + 7 * c.ndim + 40 * (3 * c.ndim + 3);
    const EngineRun alone = Integrate(c.ndim, lenwrk);
    adapt_set_batch_limit(c.limit);
    EngineRun shared;
    long long off;
    {
      SpareThreads spare(3);
      ASSERT_TRUE(AwaitSpare(3));
      const long long off0 = spare_chunks_run();
      shared = Integrate(c.ndim, lenwrk);
      off = spare_chunks_run() - off0;
    }
    adapt_set_batch_limit(0);
    const std::string what = std::to_string(c.ndim) + " variables, limit " + std::to_string(c.limit);
    if (c.ndim >= 11) {
      EXPECT_GT(off, 0) << what;
    }
    ExpectSameRun(alone, shared, what);
  }
  adapt_share_with(nullptr, nullptr);
}

}  // namespace
