// Resampling statistics of the common variants: the block evaluation (the
// resamples of a block side by side in vector lanes, two columns at a time
// where the variance part is fixed) gives, bit for bit, the one-resample
// formula score_stat / score_stat_quanTrait on the dense column, for both
// traits, with one, three and seven design columns, for full and partial
// blocks, for columns with zeros, negative values and no variance, and for
// a resample whose null model is not finite.
#include "driver/common_resampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "numeric/arrays.h"

namespace {

// A hand-made run: N subjects, design [1, covariates...], a trait and its
// null-model pieces (any values: the test compares two orders of work).
struct BlockRun {
  int N, D;
  bool binary;
  std::vector<double> y, pY, RY, addZ, scaleY, slots;
  double **z, **Iz;
  double mleZ[1];
  RunArrays run;
  ResampleScheme scheme;
  Resample block_storage[kResampleBlock];
  Resample *block[kResampleBlock];

  BlockRun(bool binary_, int D_) : N(37), D(D_), binary(binary_) {
    z = dmatrix(0, N - 1, 0, D - 1);
    Iz = dmatrix(0, D - 1, 0, D - 1);
    for (int i = 0; i < N; i++) {
      z[i][0] = 1;
      for (int d = 1; d < D; d++) z[i][d] = std::sin(1.0 + i * d) + (d == 2 ? 0.3 * (i % 2) : 0);
      y.push_back(binary ? (i % 3 == 0 || i % 7 == 1) : std::cos(2.0 * i) + 0.1 * i);
      pY.push_back(0.2 + 0.5 * (i % 4) / 4.0);
      scaleY.push_back(y.back() - 0.1);
      RY.push_back(0.3 * std::cos(3.0 * i));
      addZ.push_back(scaleY.back() - RY.back());
    }
    // Iz = (Z'Z)^-1 by Gauss-Jordan elimination (the quantitative null model).
    std::vector<std::vector<double>> A((size_t)D, std::vector<double>(2 * (size_t)D, 0.0));
    for (int a = 0; a < D; a++) {
      for (int b = 0; b < D; b++)
        for (int i = 0; i < N; i++) A[a][b] += z[i][a] * z[i][b];
      A[a][D + a] = 1;
    }
    for (int c = 0; c < D; c++) {
      const double piv = A[c][c];
      for (int k = 0; k < 2 * D; k++) A[c][k] /= piv;
      for (int r = 0; r < D; r++)
        if (r != c) {
          const double m = A[r][c];
          for (int k = 0; k < 2 * D; k++) A[r][k] -= m * A[c][k];
        }
    }
    for (int a = 0; a < D; a++)
      for (int b = 0; b < D; b++) Iz[a][b] = A[a][D + b];
    mleZ[0] = binary ? std::log(14.0 / 23.0) : 0.05;
    if (D > 1) run.gammaPool = dmatrix(0, 999999, 0, D - 1);
    slots.assign(8, 99.0);
    run.pvalue_perm_com = slots.data();
    scheme.N = N;
    scheme.D = D;
    scheme.binary = binary;
    scheme.y = y.data();
    scheme.z = z;
    scheme.pY = pY.data();
    scheme.RY = RY.data();
    scheme.addZ = addZ.data();
    scheme.scaleY = scaleY.data();
    scheme.Iz = Iz;
    scheme.mleZ = mleZ;
    scheme.run = &run;
    scheme.MORE = 1000000;
    for (int b = 0; b < kResampleBlock; b++) {
      alloc_resample(scheme, block_storage[b]);
      block[b] = &block_storage[b];
    }
    start_resampling(scheme);
    for (int b = 0; b < kResampleBlock; b++) make_resample(scheme, b, *block[b]);
  }
  ~BlockRun() {
    for (int b = 1; b < kResampleBlock; b++) free_resample(scheme, block_storage[b]);
    free_resample_scheme(scheme, block_storage[0]);
    if (D > 1) free_dmatrix(run.gammaPool, 0, 999999, 0, D - 1);
    free_dmatrix(z, 0, N - 1, 0, D - 1);
    free_dmatrix(Iz, 0, D - 1, 0, D - 1);
  }
};

// Coded columns: additive genotypes with zeros, a dominant-coded one with a
// missing value's mean, dosages, a column of a negative value (a value
// other than -1 that the dominant model leaves), and a constant column (no
// variance: Z is not finite).
std::vector<std::vector<double>> columns(int N) {
  std::vector<std::vector<double>> c(5, std::vector<double>((size_t)N));
  for (int i = 0; i < N; i++) {
    c[0][i] = (i * 7) % 3;
    c[1][i] = i % 5 == 2 ? 0.51 : (i % 4 == 0 ? 1 : 0);
    c[2][i] = std::round(100 * (1 + std::sin(2.1 * i))) / 100;
    c[3][i] = i % 6 == 1 ? -0.5 : (i % 2);
    c[4][i] = 1;
  }
  return c;
}

bool same_double(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

struct LaneCase {
  const char *name;
  bool binary;
  int D;
};

class VariantLanes : public ::testing::TestWithParam<LaneCase> {};

TEST_P(VariantLanes, BlockStatisticsEqualTheOneResampleFormulaBitForBit) {
  const LaneCase &c = GetParam();
  BlockRun r(c.binary, c.D);
  const std::vector<std::vector<double>> cols = columns(r.N);
  const int count = (int)cols.size();
  std::vector<PooledGene> items((size_t)count);
  std::vector<const double *> ptr;
  std::vector<double> vfix;
  for (int v = 0; v < count; v++) {
    CommonVariant var;
    var.k = v;
    var.snpID = "rs";
    var.S = const_cast<double *>(cols[v].data());
    prepare_common_resampling(r.scheme, r.run, var, true, 1.0, items[v]);
    ptr.push_back(items[v].burden.val.data());
    vfix.push_back(r.scheme.fixed_variance ? items[v].burden.vfix[0] : 0.0);
    EXPECT_EQ(items[v].test[0].slot, r.slots.data() + v);
  }
  std::vector<double> SZ((size_t)c.D);
  // A resample whose null model is not finite, in the middle of the block.
  r.block[3]->centerY[5] = NAN;
  r.block[3]->finite = false;
  for (int nb : {kResampleBlock, 5, 1}) {
    EvalWork work;
    std::vector<double> T((size_t)count * kResampleBlock, -7.0);
    variant_block_statistics(ptr.data(), vfix.data(), count, r.block, nb, r.scheme, work, T.data());
    int finite = 0;
    for (int v = 0; v < count; v++)
      for (int b = 0; b < nb; b++) {
        const double want = variant_resampled_statistic(cols[v].data(), r.scheme, *r.block[b], SZ.data());
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
  PooledGene g, na;
  CommonVariant var;
  var.k = 2;
  var.snpID = "rs2";
  var.S = const_cast<double *>(cols[2].data());
  var.U = 1.5;
  var.V = 2.5;
  // The observed statistic: the median of the block's, so some hit.
  std::vector<double> t;
  for (int b = 0; b < kResampleBlock; b++)
    t.push_back(variant_resampled_statistic(cols[2].data(), r.scheme, *r.block[b], SZ.data()));
  std::vector<double> sorted = t;
  std::sort(sorted.begin(), sorted.end());
  const double obs = sorted[kResampleBlock / 2];
  prepare_common_resampling(r.scheme, r.run, var, true, obs, g);
  EXPECT_EQ(g.geneID, "rs2");
  EXPECT_EQ(g.com_U, 1.5);
  EXPECT_EQ(g.com_V, 2.5);
  double want = 0;
  for (double x : t) want += is_hit(x, obs);
  PooledGene *item = &g;
  EvalWork work;
  long hits = 0;
  variant_block_hits(&item, 1, r.block, kResampleBlock, r.scheme, work, &hits);
  EXPECT_EQ(hits, want);
  EXPECT_EQ(want, kResampleBlock - kResampleBlock / 2);

  var.k = 4;
  r.slots[4] = 99;
  prepare_common_resampling(r.scheme, r.run, var, false, 0, na);
  EXPECT_FALSE(na.resampled);
  EXPECT_TRUE(na.has_row);
  EXPECT_EQ(r.slots[4], 99);
  // Tested, but without a finite observed statistic: not resampled either.
  PooledGene nan_obs;
  var.k = 5;
  r.slots[5] = 0.5;
  prepare_common_resampling(r.scheme, r.run, var, true, NAN, nan_obs);
  EXPECT_FALSE(nan_obs.resampled);
  EXPECT_EQ(r.slots[5], 99);
}

}  // namespace
