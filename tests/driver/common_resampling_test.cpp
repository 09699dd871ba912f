// Resampling statistics of the common variants: the block evaluation (the
// resamples of a block side by side in vector lanes, two columns at a time
// where the variance part is fixed) gives, bit for bit, the one-resample
// formula score_stat / score_stat_quanTrait on the dense column, for both
// traits, with one, three and seven design columns, for full and partial
// blocks, for columns with zeros, negative values and no variance, and for
// a resample whose null model is not finite; and the pool's hits of a
// block of resamples follow the hit rule on them.
#include "driver/common_resampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/resampling_pool.h"
#include "stats/column_lanes.h"
#include "tests/driver/block_run.h"

namespace {

using namespace block_run_test;

struct LaneCase {
  const char *name;
  bool binary;
  int D;
};
void PrintTo(const LaneCase &c, std::ostream *os) { *os << c.name; }

class VariantLanes : public ::testing::TestWithParam<LaneCase> {};

TEST_P(VariantLanes, BlockStatisticsEqualTheOneResampleFormulaBitForBit) {
  const LaneCase &c = GetParam();
  BlockRun r(c.binary, c.D);
  const std::vector<std::vector<double>> cols = columns(r.N);
  const int count = (int)cols.size();
  std::vector<PooledVariant> items((size_t)count);
  std::vector<const double *> ptr;
  std::vector<double> vfix;
  for (int v = 0; v < count; v++) {
    CommonVariant var;
    var.k = v;
    var.snpID = "rs";
    var.S = const_cast<double *>(cols[v].data());
    prepare_common_resampling(r.scheme, r.run, var, true, 1.0, items[v]);
    ptr.push_back(items[v].column.data());
    EXPECT_EQ(items[v].column, cols[v]);
    vfix.push_back(items[v].vfix);
    EXPECT_EQ(items[v].test[0].slot, r.slots.data() + v);
  }
  std::vector<double> SZ((size_t)c.D);
  // A resample whose null model is not finite, in the middle of the block.
  r.block[3]->centerY[5] = NAN;
  r.block[3]->finite = false;
  for (int nb : {kResampleBlock, 5, 1}) {
    EvalWork work;
    std::vector<double> T((size_t)count * kResampleBlock, -7.0);
    column_block_statistics(ptr.data(), vfix.data(), count, r.nulls, nb, r.scheme, work, T.data());
    int finite = 0;
    for (int v = 0; v < count; v++)
      for (int b = 0; b < nb; b++) {
        const double want = one_resample_z(cols[v], r.scheme, *r.block[b], SZ.data());
        const double got = T[(size_t)v * kResampleBlock + b];
        EXPECT_TRUE(same_double(got, want)) << "column " << v << " resample " << b << ": " << got
                                            << " against " << want;
        finite += std::isfinite(want);
      }
    // The cases are not degenerate: most statistics are numbers.
    EXPECT_GE(finite, (count - 1) * (nb > 3 ? nb - 1 : nb)) << nb;
  }
}

const LaneCase kLaneCases[] = {
    {"BinaryInterceptOnly", true, 1},       {"BinaryTwoCovariates", true, 3},
    {"BinarySixCovariates", true, 7},       {"QuantitativeInterceptOnly", false, 1},
    {"QuantitativeTwoCovariates", false, 3}, {"QuantitativeSixCovariates", false, 7},
};

INSTANTIATE_TEST_SUITE_P(Cases, VariantLanes, ::testing::ValuesIn(kLaneCases),
                         [](const ::testing::TestParamInfo<LaneCase> &info) {
                           return std::string(info.param.name);
                         });

// The hits of a block are those of the one-resample statistics under the
// hit rule; a variant that is not resampled (no asymptotic p-value, or no
// finite observed statistic) has 99 in its slot.
TEST(VariantLanes, HitsOfABlockAndTheUnresampledVariant) {
  BlockRun r(true, 3);
  const std::vector<std::vector<double>> cols = columns(r.N);
  std::vector<double> SZ(3);
  PooledVariant g, na;
  CommonVariant var;
  var.k = 2;
  var.snpID = "rs2";
  var.S = const_cast<double *>(cols[2].data());
  var.U = 1.5;
  var.V = 2.5;
  // The observed statistic: the median of the block's, so some hit.
  std::vector<double> t;
  for (int b = 0; b < kResampleBlock; b++)
    t.push_back(one_resample_z(cols[2], r.scheme, *r.block[b], SZ.data()));
  std::vector<double> sorted = t;
  std::sort(sorted.begin(), sorted.end());
  const double obs = sorted[kResampleBlock / 2];
  prepare_common_resampling(r.scheme, r.run, var, true, obs, g);
  EXPECT_EQ(g.snpID, "rs2");
  EXPECT_EQ(g.U, 1.5);
  EXPECT_EQ(g.V, 2.5);
  double want = 0;
  for (double x : t) want += is_hit(x, obs);
  PooledVariant *item = &g;
  EvalWork work;
  long hits = 0;
  variant_block_hits(&item, 1, r.nulls, kResampleBlock, r.scheme, work, &hits);
  EXPECT_EQ(hits, want);
  EXPECT_EQ(want, kResampleBlock - kResampleBlock / 2);

  var.k = 4;
  r.slots[4] = 99;
  prepare_common_resampling(r.scheme, r.run, var, false, 0, na);
  EXPECT_FALSE(na.resampled);
  EXPECT_TRUE(na.has_row);
  EXPECT_EQ(r.slots[4], 99);
  // Tested, but without a finite observed statistic: not resampled either.
  PooledVariant nan_obs;
  var.k = 5;
  r.slots[5] = 0.5;
  prepare_common_resampling(r.scheme, r.run, var, true, NAN, nan_obs);
  EXPECT_FALSE(nan_obs.resampled);
  EXPECT_EQ(r.slots[5], 99);
}

}  // namespace
