// The gene's SKAT, VT and customized tests through the driver's own steps:
// the score rows kept for the gene resampling (S_skat with weight_skat, S_var),
// their counts and statistics, and their release.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "driver/burden_tests.h"
#include "driver/family_tests.h"
#include "driver/gene_setup.h"
#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"
#include "tests/driver/gene_pass_support.h"
#include "tests/support/tolerances.h"

using namespace gene_pass_test;

namespace {

// Twelve subjects, binary trait, one covariate; gene G with four variants of
// distinct frequencies: v2 and v4 have a missing genotype, v3 one subject
// with two minor alleles.
const char kPheno[] =
    "a\t1\t0.5\nb\t0\t1.2\nc\t1\t-0.3\nd\t0\t0.8\ne\t1\t2.0\nf\t1\t0.1\n"
    "g\t0\t-1.0\nh\t0\t0.4\ni\t1\t1.5\nj\t0\t-0.7\nk\t0\t0.9\nl\t1\t0.2\n";
const char kGeno[] =
    "v1\t0\t0\t1\t0\t0\t0\t0\t0\t0\t1\t0\t0\n"
    "v2\t0\tNA\t0\t0\t1\t0\t0\t0\t0\t1\t0\t0\n"
    "v3\t0\t0\t0\t0\t0\t0\t2\t0\t0\t0\t0\t0\n"
    "v4\t1\t0\t0\t0\t0\t0\t0\t0\tNA\t0\t1\t1\n";
const char kMap[] = "G\tv1\t0.005\nG\tv2\t0.008\nG\tv3\t0.03\nG\tv4\t0.045\n";
const char kWeights[] = "G v1 1 0\nG v2 1 0\nG v3 0 1\nG v4 0 1\n";

// The gene's family tests with resampling on or off; rows and the run's
// p-values and counts returned for comparison.
struct FamilyRun {
  double skat_stat = -1, vt_stat = -1, p_skat = -1, p_vt = -1, p_multi = -1;
  int n_skat = -1, n_vt = -1, n_multi = -1;
  bool rows_built = true;
};

FamilyRun RunFamilyTests(bool resample, bool check_rows);
void CheckRows(const GeneUnderTest &gene, const NullModel &nm, const RunArrays &run,
               const FamilyRows &rows);

TEST(FamilyTests, RowsKeptForResamplingMatchTheKeptScores) { RunFamilyTests(true, true); }

TEST(FamilyTests, WithoutResamplingNoRowsAndTheSameStatistics) {
  const FamilyRun on = RunFamilyTests(true, false), off = RunFamilyTests(false, false);
  EXPECT_FALSE(off.rows_built);
  EXPECT_EQ(off.skat_stat, on.skat_stat);
  EXPECT_EQ(off.vt_stat, on.vt_stat);
  EXPECT_EQ(off.p_skat, on.p_skat);
  EXPECT_EQ(off.p_vt, on.p_vt);
  EXPECT_EQ(off.p_multi, on.p_multi);
  EXPECT_EQ(off.n_skat, on.n_skat);
  EXPECT_EQ(off.n_vt, on.n_vt);
  EXPECT_EQ(off.n_multi, on.n_multi);
}

FamilyRun RunFamilyTests(bool resample, bool check_rows) {
  FamilyRun result;
  const std::string dir = scratch_dir();
  const std::string ph = write_file(dir, "pheno.txt", kPheno), ge = write_file(dir, "geno.txt", kGeno),
                    ma = write_file(dir, "mapping.txt", kMap), wf = write_file(dir, "w.txt", kWeights);
  const std::string vt = dir + "/vt.log", sk = dir + "/skat.log", mu = dir + "/multi.log";
  Settings s;
  set_defaults(&s);
  s.phenotype = ph.c_str();
  s.genotype = ge.c_str();
  s.mapfile = ma.c_str();
  s.wfile = wf.c_str();
  s.mwf = 1;
  s.vtlog = vt.c_str();
  s.skatlog = sk.c_str();
  s.multilog = mu.c_str();
  s.PERM_FLAG = resample ? 1 : 0;
  LoadedData data;
  load_data(s, &data);
  NullModel nm;
  RunArrays run;
  allocate_run(s, data, nm, run);
  fit_null_model(s, data, nm, run);
  MessageLog log;
  GenotypeIndex index;
  build_genotype_index(data, index);
  WeightIndex weights;
  GeneUnderTest gene;
  long map_index = 0;
  EXPECT_EQ(select_gene_variants(s, data, index, run, map_index, gene), 4);
  read_gene_data(s, data, weights, run, gene);
  EXPECT_TRUE(burden_step(s, data, run, gene, log));
  burden_tests(s, data, nm, run, gene, log);
  FamilyRows rows;
  family_tests(s, data, nm, run, gene, rows, log);
  result = {rows.skat_stat, rows.vt_stat, run.pvalue_skat[0], run.pvalue_vt[0],
            run.pvalue_multi[0], run.N_SKAT, run.N_VT, run.N_MULTI,
            rows.S_skat != nullptr || rows.S_var != nullptr || rows.weight_skat != nullptr ||
                rows.SZ_skat != nullptr || rows.SZ_var != nullptr};
  if (check_rows) CheckRows(gene, nm, run, rows);
  release_family_rows(data, rows);
  EXPECT_EQ(rows.S_var, nullptr);
  EXPECT_EQ(rows.S_skat, nullptr);
  EXPECT_EQ(rows.weight_skat, nullptr);
  release_gene(data, run, gene);
  free_run(s, data, nm, run);
  free_loaded_data(&data);
  if (!testing::Test::HasFailure()) remove_dir(dir);
  return result;
}

void CheckRows(const GeneUnderTest &gene, const NullModel &nm, const RunArrays &run,
               const FamilyRows &rows) {

  const int N = 12;
  // Every variant is a valid SKAT score: the rows are the columns of the
  // working genotypes, the weights the squared Beta(1, 25) densities.
  ASSERT_EQ(run.N_SKAT, 4);
  ASSERT_EQ(rows.n_skat, 4);
  double Q = 0;
  for (int j = 0; j < 4; j++) {
    const double w = std::pow(25 * std::pow(1 - gene.maf[j], 24), 2);
    EXPECT_NEAR(rows.weight_skat[j], w, tol::kTight * w);
    double U = 0;
    for (int i = 0; i < N; i++) {
      EXPECT_EQ(rows.S_skat[j][i], gene.x[i][j]) << "variant " << j << " subject " << i;
      U += nm.centerY[i] * gene.x[i][j];
    }
    Q += w * U * U;
  }
  EXPECT_NEAR(rows.skat_stat, Q, tol::kClose * Q);
  EXPECT_LE(run.pvalue_skat[0], 1.0);
  // VT thresholds in variant order: 0.005, 0.008, 0.03, 0.045, all four
  // kept; the rows
  // are the additive burdens of the untouched genotypes (a missing genotype
  // counting twice the variant's frequency estimate 1 - q).
  ASSERT_EQ(gene.n_thresh, 4);
  ASSERT_EQ(run.N_VT, 4);
  ASSERT_EQ(rows.n_var, 4);
  for (int l = 0; l < 4; l++)
    for (int i = 0; i < N; i++) {
      double b = 0;
      for (int j = 0; j <= l; j++) b += gene.x0[i][j] < 0 ? 2 * (1 - gene.q[j]) : gene.x0[i][j];
      EXPECT_NEAR(rows.S_var[l][i], b, tol::kRounding) << "threshold " << l << " subject " << i;
    }
  for (int l = 0; l < 4; l++)
    for (int d = 0; d < 2; d++) EXPECT_EQ(rows.SZ_var[l][d], 0.0);
  EXPECT_TRUE(rows.vt_stat_set);
  EXPECT_LE(run.pvalue_vt[0], 1.0);
  // The largest |Z| is at least that of any single threshold.
  EXPECT_GT(rows.vt_stat, 0.0);
  // Two weight vectors, both valid.
  EXPECT_EQ(run.N_MULTI, 2);
  EXPECT_LE(run.pvalue_multi[0], 1.0);
}

}  // namespace
