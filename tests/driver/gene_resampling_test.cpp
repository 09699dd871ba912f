// One gene through the driver's own steps up to its resampling: a gene with
// 22 VT thresholds (no asymptotic VT p-value) still resamples VT, from the
// largest |Z| of its kept threshold scores; and every resampled statistic
// of the pooled evaluation (sparse rows, packed null model, EREC tables from
// carrier lists) equals, bit for bit, the straightforward dense computation
// on the same resamples, with and without covariates.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "driver/burden_tests.h"
#include "driver/family_tests.h"
#include "driver/gene_resampling.h"
#include "driver/gene_setup.h"
#include "driver/input.h"
#include "driver/resampling.h"
#include "driver/run_setup.h"
#include "driver/settings.h"
#include "numeric/arrays.h"
#include "stats/erec.h"
#include "stats/resampled_stats.h"
#include "stats/score.h"
#include "tests/driver/gene_pass_support.h"

using namespace gene_pass_test;

namespace {

const int kN = 60, kVariants = 22;

// Binary trait; with `covariate`, one covariate. Variant j is carried by
// subjects j, j + 22 (and j + 44 for even j), one missing genotype in
// every third variant; the mapping flags all 22 distinct frequencies.
void write_data(const std::string &dir, bool covariate) {
  std::string pheno, geno, map;
  for (int i = 0; i < kN; i++) {
    char buf[64];
    const int y = (i * 7 + 3) % 5 < 2;
    if (covariate)
      snprintf(buf, sizeof buf, "s%d\t%d\t%.2f\n", i, y, std::sin(0.7 * i));
    else
      snprintf(buf, sizeof buf, "s%d\t%d\n", i, y);
    pheno += buf;
  }
  for (int j = 0; j < kVariants; j++) {
    geno += "v" + std::to_string(j);
    for (int i = 0; i < kN; i++) {
      const bool carrier = i == j || i == j + 22 || (j % 2 == 0 && i == j + 44);
      const bool missing = j % 3 == 0 && i == (j + 5) % kN && !carrier;
      geno += missing ? "\tNA" : carrier ? "\t1" : "\t0";
    }
    geno += "\n";
    char buf[64];
    snprintf(buf, sizeof buf, "G\tv%d\t%.4f\t1\n", j, 0.0005 * (j + 1));
    map += buf;
  }
  write_file(dir, "pheno.txt", pheno);
  write_file(dir, "geno.txt", geno);
  write_file(dir, "mapping.txt", map);
}

struct GeneRun {
  std::string dir, ph, ge, ma, vt, sk;
  Settings s;
  LoadedData data;
  NullModel nm;
  RunArrays run;
  MessageLog log;
  GeneUnderTest gene;
  FamilyRows rows;
  ResampleScheme scheme;
  Resample r;

  explicit GeneRun(bool covariate) {
    dir = scratch_dir();
    write_data(dir, covariate);
    ph = dir + "/pheno.txt", ge = dir + "/geno.txt", ma = dir + "/mapping.txt";
    vt = dir + "/vt.log", sk = dir + "/skat.log";
    set_defaults(&s);
    s.phenotype = ph.c_str();
    s.genotype = ge.c_str();
    s.mapfile = ma.c_str();
    s.vtlog = vt.c_str();
    s.skatlog = sk.c_str();
    s.PERM_FLAG = 1;
    s.MORE = 1000000;
    load_data(s, &data);
    allocate_run(s, data, nm, run);
    fit_null_model(s, data, nm, run);
    GenotypeIndex index;
    build_genotype_index(data, index);
    WeightIndex weights;
    long map_index = 0;
    select_gene_variants(s, data, index, run, map_index, gene);
    read_gene_data(s, data, weights, run, gene);
    burden_step(s, data, run, gene, log);
    burden_tests(s, data, nm, run, gene, log);
    family_tests(s, data, nm, run, gene, rows, log);
    init_resample_scheme(s, data, nm, run, scheme, r);
  }
  ~GeneRun() {
    free_resample_scheme(scheme, r);
    release_family_rows(data, rows);
    release_gene(data, run, gene);
    free_run(s, data, nm, run);
    free_loaded_data(&data);
  }
};

double dense_abs_z(GeneRun &t, double *row) {
  const int N = kN, D = t.scheme.D;
  std::vector<double> SZ(D);
  double U, V;
  return std::fabs(score_stat(N, D, t.r.permY, row, t.data.pheno.z, t.r.centerY, t.r.v, t.r.Iz,
                              SZ.data(), &U, &V));
}

class GeneResampling : public ::testing::TestWithParam<bool> {};

TEST_P(GeneResampling, TwentyTwoThresholdsAndStatisticsEqualTheDenseOnes) {
  GeneRun t(GetParam());
  ASSERT_EQ(t.gene.N_SNP, kVariants);
  ASSERT_GE(t.rows.n_var, 20);
  EXPECT_EQ(t.run.pvalue_vt[0], 99);  // more than 19 kept thresholds
  PooledGene g;
  ASSERT_TRUE(prepare_gene_resampling(t.s, t.data, t.nm, t.scheme, t.run, t.gene, t.rows, g));
  // VT takes part with the largest |Z| of its kept scores under the
  // observed null model.
  ASSERT_TRUE(g.part[kTestVT]);
  EXPECT_EQ(t.run.pvalue_perm_vt[0], 0.0);
  double best = 0;
  for (int l = 0; l < t.rows.n_var; l++) {
    std::vector<double> SZ(t.scheme.D);
    double U, V;
    const double z = std::fabs(score_stat(kN, t.scheme.D, t.data.pheno.y, t.rows.S_var[l],
                                          t.data.pheno.z, t.nm.centerY, t.nm.v, t.nm.Iz,
                                          SZ.data(), &U, &V));
    if (l == 0 || z > best) best = z;
  }
  EXPECT_EQ(g.test[kTestVT].obs, best);
  ASSERT_TRUE(g.part[kTestEREC]);
  ASSERT_TRUE(g.part[kTestSKAT]);

  EvalWork w;
  w.SZ.assign((size_t)t.scheme.D, 0.0);
  w.w0.resize(kVariants), w.w1.resize(kVariants), w.Uacc.resize(kVariants);
  w.dtmp.resize(kVariants), w.row0.resize(kN), w.row1.resize(kN);
  double **S_opp = dmatrix(0, 1, 0, kN - 1);
  start_resampling(t.scheme);
  for (long s = 0; s < 25; s++) {
    make_resample(t.scheme, s, t.r);
    double expect[kTests];
    for (int q = 0; q < t.run.N_FIX; q++) expect[q] = dense_abs_z(t, t.run.S[q]);
    expect[kTestVT] = dense_abs_z(t, t.rows.S_var[0]);
    for (int l = 1; l < t.rows.n_var; l++) {
      const double z = dense_abs_z(t, t.rows.S_var[l]);
      if (z > expect[kTestVT]) expect[kTestVT] = z;
    }
    double Q = 0.0;
    for (int j = 0; j < t.rows.n_skat; j++) {
      std::vector<double> SZ(t.scheme.D);
      double U, V;
      score_stat(kN, t.scheme.D, t.r.permY, t.rows.S_skat[j], t.data.pheno.z, t.r.centerY, t.r.v,
                 t.r.Iz, SZ.data(), &U, &V);
      Q += U * U * t.rows.weight_skat[j];
    }
    expect[kTestSKAT] = Q;
    getS_opp(kN, kVariants, t.r.permY, t.gene.x0, t.gene.x, S_opp, t.gene.maf, t.s.MAF_UB,
             t.nm.DELTA);
    const double Z0 = dense_abs_z(t, S_opp[0]), Z1 = dense_abs_z(t, S_opp[1]);
    expect[kTestEREC] = Z1 > Z0 ? Z1 : Z0;
    for (int q = 0; q < kTests; q++) {
      if (!g.part[q]) continue;
      const double got = resampled_statistic(g.rows, q, t.scheme, t.r, w);
      EXPECT_EQ(std::memcmp(&got, &expect[q], sizeof got), 0)
          << "resample " << s << " test " << q << ": " << got << " vs " << expect[q];
    }
  }
  free_dmatrix(S_opp, 0, 1, 0, kN - 1);
  remove_dir(t.dir);
}

INSTANTIATE_TEST_SUITE_P(Covariates, GeneResampling, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                           return std::string(info.param ? "WithCovariate" : "InterceptOnly");
                         });

}  // namespace
