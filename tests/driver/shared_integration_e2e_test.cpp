// Whole runs where the genes run out before the work does: three genes of
// about sixteen rare variants each, one of them with a variable-threshold
// p-value near 0.05 whose integrations (over up to sixteen thresholds) go on
// to the second accuracy stage long after the other genes are done. With
// several threads the idle ones share that gene's integrations; every
// output must still be the bytes of the one-thread run.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "tests/driver/gene_pass_support.h"

namespace {

using namespace gene_pass_test;

// Runs the data set on one thread (rare.out must hold `lines` lines, the
// header included) and on each of `threads`; every output must be the same.
void ExpectOneThreadBytes(const std::string &data, std::size_t lines, std::initializer_list<int> threads) {
  const Outputs one = run_and_collect_env(data, "QUORVEX_THREADS=1 ", "");
  ASSERT_EQ(one.status, 0) << one.files.at("stdout");
  EXPECT_EQ(count_of(one.files.at("rare.out"), "\n"), lines) << one.files.at("rare.out");
  for (int t : threads) {
    const Outputs many = run_and_collect_env(data, "QUORVEX_THREADS=" + std::to_string(t) + " ", "");
    EXPECT_EQ(many.status, one.status) << t << " threads";
    for (const auto &f : one.files)
      EXPECT_EQ(many.files.at(f.first), f.second) << f.first << ", " << t << " threads";
  }
}

TEST(SharedIntegration, LastGeneSharedWithIdleThreadsSameOutputs) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 200 -variants 50 -genes 3 -trait binary -covariates 1 -mapcols 3 "
           "-causal 1 -effect 1.0 -seed 5");
  ExpectOneThreadBytes(data, 4u, {3, 8});
  remove_dir(data);
}

// A run of one gene: its variable-threshold p-value (14 thresholds, near
// 0.07, so that the integrations go on to the second accuracy stage) is
// integrated with the other threads as spare threads from the start.
TEST(SharedIntegration, LoneGeneSharedWithEveryThreadSameOutputs) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 200 -variants 18 -genes 1 -trait binary -covariates 1 -mapcols 3 "
           "-causal 1 -effect 1.5 -seed 8");
  ExpectOneThreadBytes(data, 2u, {2, 8});
  remove_dir(data);
}

}  // namespace
