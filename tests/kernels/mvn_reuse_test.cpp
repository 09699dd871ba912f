// The work-saving paths of the multivariate normal integration (records of
// earlier integrations of the same problem, shared conditioning steps and
// ordered evaluation) against the straightforward computation: every value,
// error and inform the same bits, on random problems of 2 to 19 variables
// integrated in sequences of budgets and tolerances as the maximum-statistic
// stages use them, and in orders they do not.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/sadmvn.h"
#include "tests/kernels/mvn_problems.h"

namespace {

using namespace mvn_problems;

#if defined(__SANITIZE_ADDRESS__)
const int kProblems = 100;  // the instrumented build runs a sample
#else
const int kProblems = 2000;
#endif

TEST(MvnWorkSaving, SameBitsAsTheStraightforwardComputation) {
  std::mt19937_64 gen(20261210);
  std::uniform_int_distribution<int> size(2, 19);
  long long evaluated0 = 0, steps0 = 0, evaluated1 = 0, steps1 = 0;
  long long straight_evaluated = 0, straight_steps = 0, saved_evaluated = 0, saved_steps = 0;
  for (int k = 0; k < kProblems && !HasFailure(); k++) {
    const int n = size(gen);
    Problem p = RandomProblem(gen, n);
    const bool staged = k % 4 != 3;
    const uint64_t seed = gen();
    sadmvn_options(false, false);
    sadmvn_counts(&evaluated0, &steps0);
    const std::vector<Outcome> straight = Sequence(p, std::mt19937_64(seed), staged);
    sadmvn_counts(&evaluated1, &steps1);
    straight_evaluated += evaluated1 - evaluated0;
    straight_steps += steps1 - steps0;
    sadmvn_options(true, true);
    const std::vector<Outcome> saving = Sequence(p, std::mt19937_64(seed), staged);
    sadmvn_counts(&evaluated0, &steps0);
    saved_evaluated += evaluated0 - evaluated1;
    saved_steps += steps0 - steps1;
    ExpectSameBits(straight, saving, k, n, "both");
    // Each saving alone.
    const bool resume = k % 2 == 0;
    sadmvn_options(resume, !resume);
    ExpectSameBits(straight, Sequence(p, std::mt19937_64(seed), staged), k, n,
                   resume ? "records only" : "shared steps only");
  }
  sadmvn_options(true, true);
  // Both savings cut the work.
  EXPECT_LT(saved_evaluated, straight_evaluated);
  EXPECT_LT(saved_steps, straight_steps / 2);
  std::printf("straightforward: %lld evaluations, %lld steps; saving: %lld evaluations, %lld steps\n",
              straight_evaluated, straight_steps, saved_evaluated, saved_steps);
}

// Records belong to one problem: a problem differing in one bit of one
// correlation is integrated afresh, and the first problem's records are not
// used for it.
TEST(MvnWorkSaving, RecordsAreKeptPerProblem) {
  std::mt19937_64 gen(7);
  Problem p = RandomProblem(gen, 9);
  Problem q = p;
  q.sigma[5][2] = q.sigma[2][5] = std::nextafter(q.sigma[5][2], 2.0);
  const Attempt runs[] = {{400000, 1e-3}, {400000, 1e-6}, {800000, 1e-6}};
  std::vector<Outcome> straight, saving;
  sadmvn_options(false, false);
  for (const Attempt &r : runs) {
    straight.push_back(Solve(p, r));
    straight.push_back(Solve(q, r));
  }
  sadmvn_options(true, true);
  for (const Attempt &r : runs) {
    saving.push_back(Solve(p, r));
    saving.push_back(Solve(q, r));
  }
  ExpectSameBits(straight, saving, 0, 9, "alternating problems");
  // The same problem again is taken from the records: nothing evaluated.
  long long e0, s0, e1, s1;
  sadmvn_counts(&e0, &s0);
  const Outcome again = Solve(q, runs[2]);
  sadmvn_counts(&e1, &s1);
  EXPECT_EQ(e1, e0);
  EXPECT_EQ(Bits(again.value), Bits(straight.back().value));
  sadmvn_forget();
  sadmvn_counts(&e0, &s0);
  EXPECT_EQ(Bits(Solve(q, runs[2]).value), Bits(straight.back().value));
  sadmvn_counts(&e1, &s1);
  EXPECT_GT(e1, e0);
}

}  // namespace
