// End-to-end runs of the common-variant pass with "-resample": the pooled
// order (each resample made once for every waiting variant) against the
// variant-by-variant order (pool size 1) and pools of three, and the
// stages' resamples split between 2, 3 and 8 threads against one thread,
// whole outputs compared byte for byte (result files, standard output and
// error, message log),
// with the warnings of the pass (variance, end of stage 3, refits that do
// not converge) where the variant-by-variant order prints them; and the
// gene pass after the common-variant pass giving the resampling p-values
// of the gene pass alone, its refits read from the cache that the
// common-variant pass filled.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/driver/gene_pass_support.h"

using namespace gene_pass_test;

namespace {

// Appends a genotype row that follows the trait (0, 1 or 2 from the trait's
// rank, with a few subjects switched), so that its resampling p-value is
// small enough to reach the third stage.
void add_associated_row(const std::string &dir, const std::string &id) {
  const std::vector<std::string> lines = split(read_file(dir + "/pheno.txt"), '\n');
  std::vector<double> y;
  for (const std::string &l : lines)
    if (!l.empty()) y.push_back(std::atof(split(l, '\t')[1].c_str()));
  std::vector<double> sorted = y;
  std::sort(sorted.begin(), sorted.end());
  const double lo = sorted[sorted.size() / 3], hi = sorted[2 * sorted.size() / 3];
  std::string row = id;
  for (size_t i = 0; i < y.size(); i++) {
    int g = y[i] > hi ? 2 : y[i] > lo ? 1 : 0;
    if (i % 9 == 4) g = 2 - g;
    row += "\t" + std::to_string(g);
  }
  write_file(dir, "geno.txt", read_file(dir + "/geno.txt") + row + "\n");
}

struct PoolCase {
  const char *name;
  const char *data;  // generator options
  const char *args;  // program options
  bool associated;   // a row that follows the trait (stage 3 and its warning)
  bool three;        // also a pool of three variants
};
void PrintTo(const PoolCase &c, std::ostream *os) { *os << c.name; }

class CommonPoolSizes : public ::testing::TestWithParam<PoolCase> {};

TEST_P(CommonPoolSizes, WholeOutputsEqualTheVariantByVariantOrder) {
  const PoolCase &c = GetParam();
  const std::string data = scratch_dir();
  generate(data, c.data);
  if (c.associated) add_associated_row(data, "assoc");
  // The straightforward order: variant by variant on one thread.
  const Outputs one = run_and_collect(data, "1", c.args, 1);
  EXPECT_EQ(one.status, 0) << one.files.at("stdout");
  expect_same_outputs(one, run_and_collect(data, "", c.args, 1), "pooled, 1 thread");
  for (int threads : kThreadCounts)
    expect_same_outputs(one, run_and_collect(data, "", c.args, threads),
                        "pooled, " + std::to_string(threads) + " threads");
  if (c.three) expect_same_outputs(one, run_and_collect(data, "3", c.args, 8), "pools of 3, 8 threads");
  // Every tested variant has its resampling column; some reach stage 2
  // (a p-value of at most 0.1 after 1,000 resamples goes on).
  const std::vector<std::string> lines = split(one.files.at("com.out"), '\n');
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines[0], "SNP_ID\tP-value\tP-value_R\tU\tV\tZ");
  int beyond_stage1 = 0;
  for (size_t l = 1; l + 1 < lines.size(); l++) {
    const std::vector<std::string> f = split(lines[l], '\t');
    ASSERT_EQ(f.size(), 6u) << lines[l];
    if (f[1] == "NA") {
      EXPECT_EQ(f[2], "NA");
      continue;
    }
    const double p = std::atof(f[2].c_str());
    EXPECT_GT(p, 0);
    EXPECT_LE(p, 1);
    if (p <= 0.1) beyond_stage1++;
  }
  EXPECT_GT(beyond_stage1, 0);
  if (std::string(c.args).find("-recessive") != std::string::npos) {
    EXPECT_GT(count_of(one.files.at("stdout"), "Warning: Variance estimate=0"), 0u);
  }
  if (c.associated) {
    const std::string warning =
        "SNP assoc Warning: The resampling p-value <1e-4 after 1 million resamples, so the "
        "p-value may not be accurate.\n";
    EXPECT_EQ(count_of(one.files.at("stdout"), warning), 1u);
    EXPECT_EQ(count_of(one.files.at("m.log"), warning), 1u);
    EXPECT_NE(one.files.at("com.out").find("assoc\t"), std::string::npos);
  }
  remove_dir(data);
}

const PoolCase kPools[] = {
    // Both passes: the common variants' pool, then the genes'.
    {"BinaryBernoulliDrawsBothPasses",
     "-subjects 150 -variants 80 -genes 10 -trait binary -covariates 2 -common 0.4 -causal 2 "
     "-effect 2 -seed 21",
     "-com 0.05 -resample 1", false, false},
    {"BinaryPermuted",
     "-subjects 150 -variants 60 -genes 6 -trait binary -covariates 0 -common 0.6 -seed 22",
     "-noRare -com 0.05 -resample 1", false, true},
    {"QuantitativeResidualsPermutedDominant",
     "-subjects 120 -variants 60 -genes 6 -trait quantitative -covariates 2 -common 0.6 "
     "-seed 23",
     "-noRare -com 0.05 -resample 1 -dominant", false, true},
    // Rows of 0s and 1s become "NA" rows with their variance warning while
    // earlier variants wait.
    {"QuantitativeRecessiveNaRows",
     "-subjects 120 -variants 60 -genes 6 -trait quantitative -covariates 0 -common 0.6 "
     "-seed 24",
     "-noRare -com 0.05 -resample 1 -recessive", false, true},
    // A variant that follows the trait: stage 3 and its warning.
    {"StageThreeWarning",
     "-subjects 100 -variants 30 -genes 3 -trait quantitative -covariates 0 -common 0.6 "
     "-seed 25",
     "-noRare -com 0.05 -resample 1", true, false},
};

INSTANTIATE_TEST_SUITE_P(Data, CommonPoolSizes, ::testing::ValuesIn(kPools),
                         [](const ::testing::TestParamInfo<PoolCase> &info) {
                           return std::string(info.param.name);
                         });

// With "-resample 2000000" the variant that follows the trait gets a
// million more resamples and no warning; its p-value is then
// (hits + 1) / 2000001, below 1e-4.
TEST(CommonStageFour, TwoMillionResamplesWithoutWarning) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 100 -variants 30 -genes 3 -trait quantitative -covariates 0 -common 0.6 "
           "-seed 25");
  add_associated_row(data, "assoc");
  const Outputs one = run_and_collect(data, "", "-noRare -com 0.05 -resample 2000000");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.files.at("stdout").find("resampling p-value <1e-4"), std::string::npos);
  const std::string &com = one.files.at("com.out");
  const size_t at = com.find("assoc\t");
  ASSERT_NE(at, std::string::npos);
  const std::vector<std::string> f = split(com.substr(at, com.find('\n', at) - at), '\t');
  const double p = std::atof(f[2].c_str());
  EXPECT_LT(p, 1e-4);
  const double hits = std::round(p * 2000001 - 1);
  char want[32];
  std::snprintf(want, sizeof want, "%.4E", (hits + 1) / 2000001);
  EXPECT_EQ(f[2], want);
  remove_dir(data);
}

// With both passes the gene pass reads the refits that the common-variant
// pass cached, and its results are those of the gene pass alone: the
// whole gene-level file and score logs, binary (logistic refits) and
// quantitative (least-squares refits).
TEST(CommonThenGenes, GeneResamplingEqualsTheGenePassAlone) {
  const char *const kData[] = {
      "-subjects 150 -variants 80 -genes 10 -trait binary -covariates 2 -common 0.4 -causal 2 "
      "-effect 2 -seed 31",
      "-subjects 150 -variants 80 -genes 10 -trait quantitative -covariates 2 -common 0.4 "
      "-causal 2 -effect 1 -seed 32",
  };
  for (const char *gen : kData) {
    const std::string data = scratch_dir();
    generate(data, gen);
    {
      const Outputs both = run_and_collect(data, "", "-com 0.05 -resample 1");
      const Outputs genes = run_and_collect(data, "", "-resample 1");
      EXPECT_EQ(both.status, 0);
      EXPECT_EQ(genes.status, 0);
      for (const char *name : {"rare.out", "vt.log", "skat.log"})
        EXPECT_EQ(both.files.at(name), genes.files.at(name)) << gen << " " << name;
      EXPECT_NE(both.files.at("com.out"), "<none>");
      EXPECT_NE(both.files.at("rare.out").find("E-0"), std::string::npos);
    }
    remove_dir(data);
  }
}

// A covariate that separates cases from controls: no logistic fit
// converges. The first variant to be resampled makes the refits of stage 1,
// so their 1,000 warnings stand between the earlier "NA" row's variance
// warning and the later one's, in the pooled order as variant by variant;
// the gene pass that follows reads them from the cache and prints none.
TEST(CommonThenGenes, RefitWarningsWhereTheVariantByVariantOrderPrintsThem) {
  const std::string data = scratch_dir();
  const int N = 24;
  std::string pheno, geno, mapping;
  for (int i = 0; i < N; i++) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "s%d\t%d\t%.3f\n", i, i % 2, (i % 2 ? 1.0 : -1.0) + 0.001 * i);
    pheno += buf;
  }
  // Recessive model: v0 and v2 hold only 0s and 1s ("NA" rows); v1 and v3
  // hold 2s and are tested.
  for (int v = 0; v < 4; v++) {
    geno += "v" + std::to_string(v);
    for (int i = 0; i < N; i++) {
      const bool carrier = i % 3 == v % 3 || i % 5 == v;
      geno += carrier ? (v % 2 ? "\t2" : "\t1") : "\t0";
    }
    geno += "\n";
    mapping += "G" + std::to_string(v / 2) + "\tv" + std::to_string(v) + "\n";
  }
  write_file(data, "pheno.txt", pheno);
  write_file(data, "geno.txt", geno);
  write_file(data, "mapping.txt", mapping);
  const std::string args = "-com 0.01 -MAF 0.5 -recessive -resample 1";
  const Outputs one = run_and_collect(data, "1", args, 1);
  EXPECT_EQ(one.status, 0) << one.files.at("stdout");
  expect_same_outputs(one, run_and_collect(data, "", args, 1), "pooled, 1 thread");
  for (int threads : kThreadCounts)
    expect_same_outputs(one, run_and_collect(data, "", args, threads),
                        "pooled, " + std::to_string(threads) + " threads");
  const std::string &out = one.files.at("stdout");
  const std::string warning = "\nLogisticReg Warning:MLE iteration NOT converge!\n";
  // The observed fit and the fitted probabilities: 2; stage 1: 1,000, made
  // once for both passes.
  EXPECT_EQ(count_of(out, warning), 1002u);
  EXPECT_NE(one.files.at("rare.out"), "<none>");
  const std::string na0 = "SNP v0 Warning: Variance estimate=0", na2 = "SNP v2 Warning: Variance estimate=0";
  const size_t start = out.find("START QUORVEX TEST");
  const size_t first = out.find(warning, start), last = out.rfind(warning);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(out.substr(start, first - start).find(na0), std::string::npos);
  EXPECT_EQ(out.substr(start, first - start).find(na2), std::string::npos);
  EXPECT_NE(out.substr(last).find(na2), std::string::npos);
  const std::vector<std::string> com = split(one.files.at("com.out"), '\n');
  ASSERT_EQ(com.size(), 6u);
  EXPECT_EQ(com[1], "v0\tNA\tNA\tNA\tNA\tNA");
  EXPECT_EQ(com[3], "v2\tNA\tNA\tNA\tNA\tNA");
  EXPECT_NE(split(com[2], '\t')[2], "NA");
  remove_dir(data);
}

}  // namespace
