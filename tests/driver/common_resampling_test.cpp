// Resampling statistics of the common variants: the block evaluation (the
// resamples of a block side by side in vector lanes, two columns at a time
// where the variance part is fixed) gives, bit for bit, the one-resample
// formula score_stat / score_stat_quanTrait on the dense column, for both
// traits, with one, three and seven design columns, for full and partial
// blocks, for columns with zeros, negative values and no variance, and for
// a resample whose null model is not finite. A pool's stages split between
// threads count the hits and fill the refit cache of the resamples made in
// order.
#include "driver/common_resampling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "stats/score.h"

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
    set_run_wide_values(scheme);
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
void PrintTo(const LaneCase &c, std::ostream *os) { *os << c.name; }

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

namespace {

// A pool's stages split between threads. Three variants and a gene (T1 and
// SKAT) wait in a pool; their observed statistics are quantiles of their
// first 1,000 resampled ones, so that each goes on to stage 2 (99,000 more
// resamples). The hit counts, hence the slots' p-values, and the refit
// cache that the stages fill are checked against a second method: the
// resamples made one at a time in order, each statistic by the
// one-resample formula, the hits counted by the rule of the stages.
struct SplitCase {
  const char *name;
  bool binary;
  int D;
};
void PrintTo(const SplitCase &c, std::ostream *os) { *os << c.name; }

class StageSplit : public ::testing::TestWithParam<SplitCase> {};

const int kSplitVariants = 3;

// The gene's rows: a burden row (T1) and two SKAT rows with their weights.
struct GeneRows {
  std::vector<double> burden, skat0, skat1;
  double w0 = 0.7, w1 = 1.9;
  explicit GeneRows(int N) {
    for (int i = 0; i < N; i++) {
      burden.push_back(i % 4 == 1 ? 1 : (i % 9 == 2 ? 2 : 0));
      skat0.push_back(i % 5 == 0 ? 1 : 0);
      skat1.push_back(i % 7 == 3 ? 2 : (i % 11 == 6 ? 1 : 0));
    }
  }
};

// The statistics of resamples 0..count-1 made in order: [item][s], items
// the variants, then the gene's T1 and SKAT.
std::vector<std::vector<double>> serial_statistics(BlockRun &r, const GeneRows &rows,
                                                   long count) {
  const std::vector<std::vector<double>> cols = columns(r.N);
  std::vector<std::vector<double>> T(kSplitVariants + 2);
  std::vector<double> SZ((size_t)r.D);
  Resample x;
  alloc_resample(r.scheme, x);
  start_resampling(r.scheme);
  for (long s = 0; s < count; s++) {
    make_resample(r.scheme, s, x);
    for (int v = 0; v < kSplitVariants; v++)
      T[v].push_back(variant_resampled_statistic(cols[v].data(), r.scheme, x, SZ.data()));
    // T1: |U| / sqrt(V) of the burden row by the one-resample formula;
    // SKAT: sum of w U^2 (U / SigmaSQ for a quantitative trait).
    double *b = const_cast<double *>(rows.burden.data());
    if (!x.finite) {
      T[kSplitVariants].push_back(NAN);
      T[kSplitVariants + 1].push_back(NAN);
      continue;
    }
    T[kSplitVariants].push_back(variant_resampled_statistic(b, r.scheme, x, SZ.data()));
    double Q = 0;
    const std::vector<double> *sk[2] = {&rows.skat0, &rows.skat1};
    const double w[2] = {rows.w0, rows.w1};
    for (int j = 0; j < 2; j++) {
      double u = 0;
      for (int i = 0; i < r.N; i++)
        if ((*sk[j])[i] != 0) u += (*sk[j])[i] * x.centerY[i];
      if (!r.binary) u = u / x.SigmaSQ;
      Q += u * u * w[j];
    }
    T[kSplitVariants + 1].push_back(Q);
  }
  free_resample(r.scheme, x);
  return T;
}

// Expected p-value of an observed statistic by the stage rules (stages 1
// and 2 only: none of these reaches p <= 0.001).
double expected_p(const std::vector<double> &T, double obs) {
  double n = 0;
  for (long s = 0; s < 1000; s++) n += is_hit(T[s], obs);
  if ((n + 1) / 1001 > 0.1) return (n + 1) / 1001;
  for (long s = 1000; s < 100000; s++) n += is_hit(T[s], obs);
  return (n + 1) / 100001;
}

// The pool's p-values on `threads` threads (variants' slots, then the
// gene's), and its run's refit cache.
std::vector<double> pooled_p(BlockRun &r, const GeneRows &rows, const std::vector<double> &obs,
                             int threads) {
  const std::vector<std::vector<double>> cols = columns(r.N);
  Settings settings{};
  MessageLog log;
  Resample x;
  alloc_resample(r.scheme, x);
  GenePool pool;
  init_gene_pool(settings, r.run, log, r.scheme, x, pool);
  pool.threads = threads;
  for (int v = 0; v < kSplitVariants; v++) {
    CommonVariant var;
    var.k = v;
    var.snpID = "rs";
    var.S = const_cast<double *>(cols[v].data());
    std::unique_ptr<PooledGene> g(new PooledGene());
    prepare_common_resampling(r.scheme, r.run, var, true, obs[v], *g);
    g->has_row = false;
    pool_begin_gene(pool);
    pool_end_gene(pool, std::move(g));
  }
  double gene_slots[kTests] = {99, 99, 99, 99, 99, 99};
  std::unique_ptr<PooledGene> g(new PooledGene());
  g->resampled = true;
  g->n_fix = 1;
  std::vector<double> SZ((size_t)r.D);
  g->burden.add(rows.burden.data(), r.N, false);
  if (r.scheme.fixed_variance) {
    const int n = g->burden.start[1];
    g->burden.vfix.assign(1, score_variance_sparse(
                                 n, g->burden.idx.data(), g->burden.val.data(), r.D, r.scheme.z,
                                 r.binary ? r.scheme.v_fixed : nullptr,
                                 r.binary ? r.scheme.Iz_fixed : r.scheme.Iz, SZ.data()));
  }
  g->skat.add(rows.skat0.data(), r.N, false);
  g->skat.add(rows.skat1.data(), r.N, false);
  g->weight_skat = {rows.w0, rows.w1};
  const int tests[2] = {0, kTestSKAT};
  for (int k = 0; k < 2; k++) {
    ResampleTest &t = g->test[tests[k]];
    g->part[tests[k]] = true;
    t.obs = obs[kSplitVariants + k];
    t.slot = &gene_slots[tests[k]];
    t.in_play = true;
    *t.slot = 0;
  }
  pool_begin_gene(pool);
  pool_end_gene(pool, std::move(g));
  finish_gene_pool(pool);
  free_resample(r.scheme, x);
  std::vector<double> p(r.slots.begin(), r.slots.begin() + kSplitVariants);
  p.push_back(gene_slots[0]);
  p.push_back(gene_slots[kTestSKAT]);
  return p;
}

TEST_P(StageSplit, HitCountsAndRefitCacheOfOneThreadAndOfTheResamplesInOrder) {
  const SplitCase &c = GetParam();
  BlockRun ref(c.binary, c.D);
  const GeneRows rows(ref.N);
  const std::vector<std::vector<double>> T = serial_statistics(ref, rows, 100000);
  // Observed: the 960th of the first 1,000 statistics in increasing order
  // (about 40 hits, more with ties: p about 0.04, on to stage 2).
  std::vector<double> obs, want;
  int stage2 = 0;
  for (const std::vector<double> &t : T) {
    std::vector<double> first(t.begin(), t.begin() + 1000);
    std::sort(first.begin(), first.end());
    obs.push_back(first[959]);
    want.push_back(expected_p(t, obs.back()));
    stage2 += want.back() < 0.1;
    EXPECT_GT(want.back(), 0.001);
  }
  EXPECT_GE(stage2, 3);
  for (int threads : {1, 2, 3, 8}) {
    BlockRun r(c.binary, c.D);
    const std::vector<double> got = pooled_p(r, rows, obs, threads);
    EXPECT_EQ(got, want) << threads << " threads";
    if (c.D > 1) {
      // Every row of stages 1 and 2 filled, the same bits as made in order.
      EXPECT_EQ(r.run.STEP1_FLAG, 1);
      EXPECT_EQ(r.run.STEP2_FLAG, 1);
      EXPECT_EQ(r.run.STEP3_FLAG, 0);
      long differ = 0;
      for (long s = 0; s < 100000; s++)
        differ += std::memcmp(r.run.gammaPool[s], ref.run.gammaPool[s],
                              sizeof(double) * (size_t)c.D) != 0;
      EXPECT_EQ(differ, 0) << threads << " threads";
    }
  }
}

const SplitCase kSplits[] = {
    {"BinaryBernoulliDrawsRefitted", true, 2},
    {"BinaryPermuted", true, 1},
    {"QuantitativeResidualsPermuted", false, 3},
};

INSTANTIATE_TEST_SUITE_P(Cases, StageSplit, ::testing::ValuesIn(kSplits),
                         [](const ::testing::TestParamInfo<SplitCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
