// End-to-end runs with "-resample": the pooled order (every resample made
// once for all waiting genes) against the gene-by-gene order (pool size 1)
// and pools of three genes, and the stages' resamples split between 2, 3
// and 8 threads against one thread, whole outputs compared byte for byte on
// several data sets, also when the run stops on a fatal error in a later
// gene or while making a resample part-way through a stage; the
// end-of-stage-3 warnings and "-resample 2000000"; a gene's resampling
// p-values alone and after other genes; a quantitative trait's resampling
// p-values under a change of unit and a shift; and SKAT_R of a gene that is
// not resampled.

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

struct PoolCase {
  const char *name;
  const char *data;  // generator options
  const char *args;  // program options
  bool three;        // also a pool of three genes
};
void PrintTo(const PoolCase &c, std::ostream *os) { *os << c.name; }

class PoolSizes : public ::testing::TestWithParam<PoolCase> {};

TEST_P(PoolSizes, WholeOutputsEqualTheGeneByGeneOrder) {
  const PoolCase &c = GetParam();
  const std::string data = scratch_dir();
  generate(data, c.data);
  std::string args = c.args;
  const size_t at = args.find("DATA");
  if (at != std::string::npos) args.replace(at, 4, data);
  // The straightforward order: gene by gene on one thread.
  const Outputs one = run_and_collect(data, "1", args, 1);
  expect_same_outputs(one, run_and_collect(data, "", args, 1), "pooled, 1 thread");
  for (int threads : kThreadCounts)
    expect_same_outputs(one, run_and_collect(data, "", args, threads),
                        "pooled, " + std::to_string(threads) + " threads");
  if (c.three) expect_same_outputs(one, run_and_collect(data, "3", args, 8), "pools of 3, 8 threads");
  // The resampling columns were computed (not all "NA").
  EXPECT_NE(one.files.at("rare.out").find("E-0"), std::string::npos);
  remove_dir(data);
}

const PoolCase kPools[] = {
    {"BinaryPermutedFourColumns",
     "-subjects 120 -variants 60 -genes 12 -trait binary -covariates 0 -mapcols 4 -causal 2 "
     "-effect 2 -seed 11",
     "-resample 1", true},
    {"QuantitativeCovariatesThreeColumns",
     "-subjects 100 -variants 60 -genes 12 -trait quantitative -covariates 2 -mapcols 3 -causal 2 "
     "-effect 1.5 -seed 12",
     "-resample 1", true},
    {"BinaryBernoulliDrawsWithWeights",
     "-subjects 80 -variants 40 -genes 8 -trait binary -covariates 2 -mapcols 2 -weights 2 "
     "-seed 13",
     "-resample 1 -wfile DATA/weights.txt", true},
    {"QuantitativeDominant",
     "-subjects 100 -variants 50 -genes 10 -trait quantitative -covariates 0 -mapcols 2 -causal 2 "
     "-effect 1 -seed 14",
     "-resample 1 -dominant", true},
    // Stages 3 and 4 with the end-of-stage-3 warnings of the gene-by-gene
    // order, and beyond a million resamples.
    {"StageThreeWarnings",
     "-subjects 100 -variants 30 -genes 6 -trait quantitative -covariates 0 -mapcols 2 "
     "-causal 1 -effect 10 -seed 15",
     "-resample 1", false},
    {"StageFour",
     "-subjects 100 -variants 30 -genes 6 -trait quantitative -covariates 0 -mapcols 2 "
     "-causal 1 -effect 10 -seed 15",
     "-resample 1100000", false},
};

INSTANTIATE_TEST_SUITE_P(Data, PoolSizes, ::testing::ValuesIn(kPools),
                         [](const ::testing::TestParamInfo<PoolCase> &info) {
                           return std::string(info.param.name);
                         });

// A weight file whose line count changes within a later gene stops the run
// there: every earlier gene is resampled and written first, as in the
// gene-by-gene order.
TEST(PoolSizes, FatalStopInALaterGeneAfterTheEarlierGenesAreWritten) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 120 -variants 60 -genes 12 -trait binary -covariates 0 -mapcols 2 "
           "-weights 2 -causal 2 -effect 2 -seed 11");
  // The seventh gene in identifier order gets a third weight on its second
  // line.
  std::vector<std::string> lines = split(read_file(data + "/weights.txt"), '\n');
  std::vector<std::string> genes;
  for (const std::string &l : lines) {
    std::string g = l.substr(0, l.find_first_of(" \t"));
    if (!l.empty() && std::find(genes.begin(), genes.end(), g) == genes.end()) genes.push_back(g);
  }
  std::sort(genes.begin(), genes.end());
  ASSERT_GE(genes.size(), 8u);
  int seen = 0;
  for (std::string &l : lines)
    if (l.rfind(genes[6] + "\t", 0) == 0 || l.rfind(genes[6] + " ", 0) == 0)
      if (++seen == 2) l += " 0.5";
  ASSERT_EQ(seen >= 2, true);
  std::string text;
  for (size_t i = 0; i < lines.size(); i++) text += lines[i] + (i + 1 < lines.size() ? "\n" : "");
  write_file(data, "weights.txt", text);
  const std::string args = "-resample 1 -wfile '" + data + "/weights.txt'";
  const Outputs one = run_and_collect(data, "1", args, 1);
  EXPECT_EQ(one.status, 1);
  expect_same_outputs(one, run_and_collect(data, "", args, 1), "pooled, 1 thread");
  // The waiting genes are resampled on every thread before the stop ends the run.
  for (int threads : kThreadCounts)
    expect_same_outputs(one, run_and_collect(data, "", args, threads),
                        "pooled, " + std::to_string(threads) + " threads");
  EXPECT_NE(one.files.at("stdout").find("QUORVEX was stopped"), std::string::npos);
  // Six genes before the stop have their rows.
  EXPECT_EQ(split(one.files.at("rare.out"), '\n').size(), 1u + 6u + 1u);
  remove_dir(data);
}

// Resampling columns of a result file: gene -> the fields after the
// asymptotic ones.
std::map<std::string, std::vector<std::string>> resampling_columns(const std::string &rare,
                                                                   size_t first, size_t count) {
  std::map<std::string, std::vector<std::string>> m;
  std::vector<std::string> lines = split(rare, '\n');
  for (size_t l = 1; l < lines.size(); l++) {
    std::vector<std::string> f = split(lines[l], '\t');
    if (f.size() < first + count) continue;
    m[f[0]] = std::vector<std::string>(f.begin() + first, f.begin() + first + count);
  }
  return m;
}

const char *const kTestNames[6] = {"T1", "T5", "MB", "VT", "SKAT", "EREC"};

// Without more than a million resamples, a p-value below 1e-4 after stage 3
// comes with its warning on standard output and in the message log; with
// "-resample 2000000" the same tests get a million more resamples and no
// warning.
TEST(StageThree, WarningsAndTwoMillionResamples) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 100 -variants 30 -genes 6 -trait quantitative -covariates 0 -mapcols 2 "
           "-causal 1 -effect 10 -seed 15");
  const Outputs million = run_and_collect(data, "", "-resample 1");
  const Outputs two = run_and_collect(data, "", "-resample 2000000");
  auto r1 = resampling_columns(million.files.at("rare.out"), 6, 6);
  auto r2 = resampling_columns(two.files.at("rare.out"), 6, 6);
  int warned = 0;
  for (const auto &g : r1)
    for (int t = 0; t < 6; t++) {
      const std::string warning = "GENE " + g.first + " Warning: The resampling p-value of " +
                                  kTestNames[t] +
                                  " test<1e-4 after 1 million resamples, so the p-value may not "
                                  "be accurate.\n";
      const double p1 = std::atof(g.second[t].c_str()), p2 = std::atof(r2[g.first][t].c_str());
      const bool small = g.second[t] != "NA" && p1 < 1e-4;
      EXPECT_EQ(million.files.at("stdout").find(warning) != std::string::npos, small) << warning;
      EXPECT_EQ(million.files.at("m.log").find(warning) != std::string::npos, small) << warning;
      EXPECT_EQ(two.files.at("stdout").find(warning), std::string::npos);
      if (!small) {
        EXPECT_EQ(r2[g.first][t], g.second[t]);
        continue;
      }
      warned++;
      // (n + 1) / 1000001 then (n' + 1) / 2000001 with n' >= n hits.
      const double n1 = std::round(p1 * 1000001) - 1, n2 = std::round(p2 * 2000001) - 1;
      EXPECT_GE(n2, n1);
      EXPECT_LT(std::fabs(p1 - (n1 + 1) / 1000001), 1e-9);
      EXPECT_LT(std::fabs(p2 - (n2 + 1) / 2000001), 1e-9);
    }
  EXPECT_GT(warned, 0);
  remove_dir(data);
}

// A gene's resampling p-values do not depend on the genes before it, and a
// quantitative trait's do not change with the unit or origin of the trait.
TEST(ResamplingPValues, GeneAloneOrAfterOthersAndUnitOfTheTrait) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 100 -variants 60 -genes 12 -trait quantitative -covariates 2 -mapcols 3 "
           "-causal 2 -effect 1.5 -seed 12");
  const Outputs full = run_and_collect(data, "", "-resample 1");
  auto all = resampling_columns(full.files.at("rare.out"), 6, 6);
  ASSERT_GE(all.size(), 8u);
  // The last gene alone.
  const std::string last = all.rbegin()->first;
  std::string mapping;
  for (const std::string &l : split(read_file(data + "/mapping.txt"), '\n'))
    if (l.rfind(last + "\t", 0) == 0) mapping += l + "\n";
  const std::string alone_dir = scratch_dir();
  write_file(alone_dir, "mapping.txt", mapping);
  ASSERT_EQ(run_pooled(alone_dir, "",
                       "-pfile '" + data + "/pheno.txt' -gfile '" + data +
                           "/geno.txt' -resample 1"),
            0);
  auto alone = resampling_columns(read_file(alone_dir + "/rare.out"), 6, 6);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(alone[last], all[last]);
  remove_dir(alone_dir);

  // The trait times 2.5 plus 100.
  std::string pheno;
  for (const std::string &l : split(read_file(data + "/pheno.txt"), '\n')) {
    if (l.empty()) continue;
    std::vector<std::string> f = split(l, '\t');
    char buf[64];
    snprintf(buf, sizeof buf, "%.17g", 2.5 * std::atof(f[1].c_str()) + 100);
    f[1] = buf;
    for (size_t i = 0; i < f.size(); i++) pheno += (i ? "\t" : "") + f[i];
    pheno += "\n";
  }
  const std::string scaled_dir = scratch_dir();
  write_file(scaled_dir, "pheno.txt", pheno);
  ASSERT_EQ(run_pooled(scaled_dir, "",
                       "-gfile '" + data + "/geno.txt' -mfile '" + data +
                           "/mapping.txt' -resample 1"),
            0);
  auto scaled = resampling_columns(read_file(scaled_dir + "/rare.out"), 6, 6);
  EXPECT_EQ(scaled, all);
  remove_dir(scaled_dir);
  remove_dir(data);
}

// A covariate that separates cases from controls: the logistic fits never
// converge, and every refit of stage 1 prints its warning. The first gene
// to be resampled makes the refits, so the 1,000 warnings stand between its
// asymptotic output and the next gene's, in the pooled order as in the
// gene-by-gene order.
TEST(PoolSizes, RefitWarningsWhereTheGeneByGeneOrderPrintsThem) {
  const std::string data = scratch_dir();
  const int N = 24;
  std::string pheno, geno, mapping;
  for (int i = 0; i < N; i++) {
    char buf[64];
    snprintf(buf, sizeof buf, "s%d\t%d\t%.3f\n", i, i % 2, (i % 2 ? 1.0 : -1.0) + 0.001 * i);
    pheno += buf;
  }
  for (int v = 0; v < 6; v++) {
    geno += "v" + std::to_string(v);
    for (int i = 0; i < N; i++)
      geno += (i == (v * 7) % N || i == (v * 7 + 5) % N) ? "\t1" : "\t0";
    geno += "\n";
    mapping += "G" + std::to_string(v / 2) + "\tv" + std::to_string(v) + "\n";
  }
  write_file(data, "pheno.txt", pheno);
  write_file(data, "geno.txt", geno);
  write_file(data, "mapping.txt", mapping);
  const Outputs one = run_and_collect(data, "1", "-resample 1", 1);
  EXPECT_EQ(one.status, 0);
  expect_same_outputs(one, run_and_collect(data, "", "-resample 1", 1), "pooled, 1 thread");
  for (int threads : kThreadCounts)
    expect_same_outputs(one, run_and_collect(data, "", "-resample 1", threads),
                        "pooled, " + std::to_string(threads) + " threads");
  const std::string &out = one.files.at("stdout");
  const std::string warning = "\nLogisticReg Warning:MLE iteration NOT converge!\n";
  size_t count = 0;
  for (size_t at = out.find(warning); at != std::string::npos; at = out.find(warning, at + 1))
    count++;
  // The observed fit and the fitted probabilities: 2; stage 1: 1,000.
  EXPECT_EQ(count, 1002u);
  // Testing phase: the first gene's warning and SKAT line, the refits'
  // warnings, then the two other genes' lines.
  const size_t start = out.find("START QUORVEX TEST");
  const size_t first = out.find(warning, start);
  const size_t last = out.rfind(warning);
  ASSERT_NE(first, std::string::npos);
  const std::string before = out.substr(start, first - start), after = out.substr(last);
  EXPECT_NE(before.find("GENE G0 Warning"), std::string::npos);
  EXPECT_EQ(before.find("GENE G1"), std::string::npos);
  EXPECT_NE(after.find("GENE G1 Warning"), std::string::npos);
  EXPECT_NE(after.find("GENE G2 Warning"), std::string::npos);
  remove_dir(data);
}

// Binary trait with a covariate and 5 cases among 126 subjects: the
// Bernoulli draws of some resamples hold no case, their logistic refit
// stops the run ("Sigmatrix in ludcmp"), the first at resample 458 of stage
// 1 and more later in the stage (519, 691, 884). Split between threads, the
// stop falls in range 0 of 2, range 1 of 3 and range 3 of 8, with later
// ranges stopping too: the output is that of one thread, the stop's message
// on standard error once.
TEST(PoolSizes, FatalStopWhileMakingAResamplePartWayThroughAStage) {
  const std::string data = scratch_dir();
  const int N = 126;
  std::string pheno, geno, mapping;
  for (int i = 0; i < N; i++) {
    char buf[64];
    snprintf(buf, sizeof buf, "s%d\t%d\t%.3f\n", i, i % 28 == 5 ? 1 : 0, std::sin(1.7 * i));
    pheno += buf;
  }
  for (int v = 0; v < 6; v++) {
    geno += "v" + std::to_string(v);
    for (int i = 0; i < N; i++) geno += (i * (v + 3)) % 23 == v || i == 5 ? "\t1" : "\t0";
    geno += "\n";
    mapping += "G" + std::to_string(v / 2) + "\tv" + std::to_string(v) + "\n";
  }
  write_file(data, "pheno.txt", pheno);
  write_file(data, "geno.txt", geno);
  write_file(data, "mapping.txt", mapping);
  const Outputs one = run_and_collect(data, "1", "-resample 1", 1);
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(one.files.at("stderr"),
            "Numerical Recipes run-time error...\nSigmatrix in ludcmp\n...now exiting to "
            "system...\n");
  EXPECT_NE(one.files.at("stdout").find("GENE G0 Warning"), std::string::npos);
  expect_same_outputs(one, run_and_collect(data, "", "-resample 1", 1), "pooled, 1 thread");
  for (int threads : kThreadCounts)
    expect_same_outputs(one, run_and_collect(data, "", "-resample 1", threads),
                        "pooled, " + std::to_string(threads) + " threads");
  remove_dir(data);
}

// A gene whose T1, T5 and VT are unavailable (dominant model, its only
// variant above 0.05 and not a VT threshold) is not resampled: its SKAT_R is
// "NA" beside a printed SKAT_P. The other gene is resampled.
TEST(ResamplingPValues, GeneNotResampledHasNoSkatResamplingValue) {
  const std::string dir = scratch_dir();
  std::string pheno, geno0 = "c1", geno1 = "r1";
  for (int i = 0; i < 30; i++) {
    pheno += "s" + std::to_string(i) + "\t" + std::to_string(i % 2) + "\n";
    geno0 += std::string("\t") + (i % 5 == 0 ? "1" : "0");
    geno1 += std::string("\t") + (i == 3 || i == 8 ? "1" : "0");
  }
  write_file(dir, "pheno.txt", pheno);
  write_file(dir, "geno.txt", geno0 + "\n" + geno1 + "\n");
  write_file(dir, "mapping.txt", "GA\tc1\t0.1\t0\nGB\tr1\t0.03\t1\n");
  ASSERT_EQ(run_pooled(dir, "", "-resample 1 -dominant -MAF 0.5"), 0)
      << read_file(dir + "/stdout.txt");
  std::vector<std::string> lines = split(read_file(dir + "/rare.out"), '\n');
  ASSERT_GE(lines.size(), 3u);
  std::vector<std::string> ga = split(lines[1], '\t'), gb = split(lines[2], '\t');
  ASSERT_EQ(ga[0], "GA");
  // GENE_ID T1_P T5_P VT_P SKAT_P T1_R T5_R VT_R SKAT_R ...
  EXPECT_EQ(ga[1], "NA");
  EXPECT_EQ(ga[3], "NA");
  EXPECT_NE(ga[4], "NA");
  EXPECT_EQ(ga[8], "NA");
  EXPECT_NE(gb[6], "NA");
  EXPECT_NE(gb[8], "NA");
  remove_dir(dir);
}

}  // namespace
