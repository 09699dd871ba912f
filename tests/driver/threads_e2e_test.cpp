// Whole runs of the gene pass with one thread and with several: standard
// output, the message log, rare.out and the score logs must be the same
// bytes, also when the run stops part-way through the genes.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/driver/gene_pass_support.h"

namespace {

using namespace gene_pass_test;

struct ThreadCase {
  const char *name;
  const char *data;  // generator options
  const char *args;  // DATA stands for the data folder
};
void PrintTo(const ThreadCase &c, std::ostream *os) { *os << c.name; }

void expect_same_outputs(const Outputs &one, const Outputs &many, int threads) {
  EXPECT_EQ(many.status, one.status) << threads << " threads";
  for (const auto &f : one.files)
    EXPECT_EQ(many.files.at(f.first), f.second) << f.first << ", " << threads << " threads";
}

std::string with_data(std::string args, const std::string &data) {
  for (size_t at; (at = args.find("DATA")) != std::string::npos;) args.replace(at, 4, data);
  return args;
}

class GenesSideBySide : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(GenesSideBySide, WholeOutputsEqualTheOneThreadRun) {
  const ThreadCase &c = GetParam();
  const std::string data = scratch_dir();
  generate(data, c.data);
  const std::string args = with_data(c.args, data);
  const Outputs one = run_and_collect_env(data, "QUORVEX_THREADS=1 ", args);
  ASSERT_EQ(one.status, 0) << one.files.at("stdout");
  // Every gene with usable variants has its row, and some were tested.
  EXPECT_GT(count_of(one.files.at("rare.out"), "\n"), 5u);
  for (int threads : {2, 3, 8})
    expect_same_outputs(one, run_and_collect_env(data, "QUORVEX_THREADS=" +
                                                           std::to_string(threads) + " ",
                                                 args),
                        threads);
  remove_dir(data);
}

const ThreadCase kThreadCases[] = {
    {"BinaryCovariatesThresholdsWeights",
     "-subjects 300 -variants 400 -genes 40 -trait binary -covariates 2 -mapcols 4 -weights 3 "
     "-missing 0.02 -causal 20 -effect 1.5 -seed 21",
     "-wfile DATA/weights.txt"},
    {"QuantitativeNoCovariates",
     "-subjects 250 -variants 120 -genes 30 -trait quantitative -covariates 0 -mapcols 3 "
     "-causal 15 -effect 1 -seed 31",
     ""},
    {"BinaryDominantTwoColumns",
     "-subjects 200 -variants 250 -genes 25 -trait binary -covariates 1 -mapcols 2 -missing 0.05 "
     "-seed 23",
     "-dominant -CR 0.9 -MAC 2"},
    {"BinaryResampledPooled",
     "-subjects 150 -variants 120 -genes 16 -trait binary -covariates 1 -mapcols 3 -causal 0 "
     "-seed 26",
     "-resample 1"},
    {"QuantitativeResampledWeights",
     "-subjects 150 -variants 120 -genes 16 -trait quantitative -covariates 2 -mapcols 4 "
     "-weights 2 -causal 0 -seed 27",
     "-resample 1 -wfile DATA/weights.txt"},
    {"QuantitativeCommonAndRare",
     "-subjects 200 -variants 300 -genes 20 -trait quantitative -covariates 2 -common 0.2 "
     "-weights 2 -seed 24",
     "-com 0.05 -wfile DATA/weights.txt"},
};

INSTANTIATE_TEST_SUITE_P(Threads, GenesSideBySide, ::testing::ValuesIn(kThreadCases),
                         [](const ::testing::TestParamInfo<ThreadCase> &i) {
                           return std::string(i.param.name);
                         });

// A weight that is not a number in a gene in the middle of the mapping stops
// the run there: the genes before it are written, none after, for any number
// of threads (later genes may already have been tested by other threads).
TEST(GenesSideBySideStop, StopPartWayLeavesTheOneThreadOutput) {
  const std::string data = scratch_dir();
  generate(data,
           "-subjects 200 -variants 300 -genes 30 -trait binary -covariates 1 -mapcols 3 "
           "-weights 2 -seed 25");
  // Spoil the weights of the mapping's 12th gene (its first line).
  std::vector<std::string> genes;
  for (const std::string &line : split(read_file(data + "/mapping.txt"), '\n')) {
    if (line.empty()) continue;
    const std::string g = split(line, '\t')[0];
    if (genes.empty() || genes.back() != g) genes.push_back(g);
  }
  std::vector<std::string> sorted = genes;
  std::sort(sorted.begin(), sorted.end());
  const std::string victim = sorted[11];
  std::string weights;
  bool spoiled = false;
  for (const std::string &line : split(read_file(data + "/weights.txt"), '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> f = split(line, '\t');
    if (!spoiled && f[0] == victim) {
      f[2] = "nan";
      spoiled = true;
    }
    std::string joined;
    for (size_t i = 0; i < f.size(); i++) joined += (i ? "\t" : "") + f[i];
    weights += joined + "\n";
  }
  ASSERT_TRUE(spoiled);
  write_file(data, "weights.txt", weights);
  // Without resampling, and with it (genes then wait in the pool, and the
  // waiting genes are finished and written before the stop's message).
  for (const std::string extra : {"", " -resample 1"}) {
    const std::string args = "-wfile '" + data + "/weights.txt'" + extra;
    const Outputs one = run_and_collect_env(data, "QUORVEX_THREADS=1 ", args);
    ASSERT_EQ(one.status, 1);
    EXPECT_NE(one.files.at("stdout").find("is not a finite number"), std::string::npos);
    EXPECT_NE(one.files.at("stdout").find("QUORVEX was stopped"), std::string::npos);
    EXPECT_NE(one.files.at("rare.out").find(sorted[10]), std::string::npos);
    EXPECT_EQ(one.files.at("rare.out").find(sorted.back()), std::string::npos);
    for (int threads : {2, 4, 8})
      expect_same_outputs(one, run_and_collect_env(data, "QUORVEX_THREADS=" +
                                                             std::to_string(threads) + " ",
                                                   args),
                          threads);
  }
  remove_dir(data);
}

}  // namespace
