// End-to-end runs of a study split by gene: the mapping file is cut into
// three pieces of whole genes with the shell commands the README gives, each
// piece runs as a separate job, and the pieces' outputs joined with the
// README's commands equal the whole run's byte for byte: rare.out, the score
// logs and the message log; with "-com", com.out of a separate "-noRare" job
// equals the whole run's. With and without "-resample".

#include <gtest/gtest.h>

#include <string>

#include "tests/driver/gene_pass_support.h"

using namespace gene_pass_test;

namespace {

// The README's split: the distinct genes in the program's order (byte
// order), cut into three contiguous ranges, and one mapping file per range
// holding every row of its genes in file order.
const char kSplit[] =
    "set -e\n"
    "awk '{ print $1 }' mapping.txt | LC_ALL=C sort -u > genes.txt\n"
    "split -n l/3 -d genes.txt genes.part.\n"
    "for p in genes.part.*; do\n"
    "  awk 'NR == FNR { g[$1]; next } $1 in g' \"$p\" mapping.txt "
    "> \"mapping.${p#genes.part.}.txt\"\n"
    "done\n";

// The README's joining of the pieces' outputs (run.00, run.01, ...): one
// header line of rare.out, the score logs' header line (a quantitative
// trait's residual variance, the same in every piece) once, the message logs
// as they are.
const char kJoin[] =
    "set -e\n"
    "awk 'NR == 1 || FNR > 1' run.*/rare.out > rare.out\n"
    "for log in vt.log skat.log multi.log; do\n"
    "  [ -e run.00/$log ] || continue\n"
    "  awk 'NR == FNR || !/^#ResidualVariance/' run.*/$log > $log\n"
    "done\n"
    "cat run.*/msg.log > msg.log\n";

struct SplitCase {
  const char *name;
  const char *data;  // generator options
  const char *args;  // program options; DATA stands for the data folder
  bool com;          // the common-variant pass, in a job of its own
};
void PrintTo(const SplitCase &c, std::ostream *os) { *os << c.name; }

class SplitByGene : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitByGene, JoinedPiecesEqualTheWholeRun) {
  const SplitCase &c = GetParam();
  const std::string top = scratch_dir();
  generate(top, c.data);
  std::string args = c.args;
  for (size_t at; (at = args.find("DATA")) != std::string::npos;) args.replace(at, 4, top);
  const std::string inputs = "-pfile '" + top + "/pheno.txt' -gfile '" + top + "/geno.txt' ";

  // The whole run.
  const std::string whole = top + "/whole";
  ASSERT_EQ(std::system(("mkdir '" + whole + "'").c_str()), 0);
  ASSERT_EQ(run_quorvex(whole, inputs + "-mfile '" + top + "/mapping.txt' -msglog msg.log " +
                                   args + (c.com ? " -com 0.05" : "")),
            0)
      << read_file(whole + "/stdout.txt");

  // Three pieces of whole genes, each run in a folder of its own.
  ASSERT_EQ(shell(top, kSplit), 0) << read_file(top + "/script.out");
  const char *const pieces[] = {"00", "01", "02"};
  for (const char *p : pieces) {
    const std::string mapping = top + "/mapping." + p + ".txt";
    ASSERT_TRUE(file_exists(mapping)) << mapping;
    ASSERT_NE(read_file(mapping), "") << mapping;
    const std::string dir = top + "/run." + p;
    ASSERT_EQ(std::system(("mkdir '" + dir + "'").c_str()), 0);
    ASSERT_EQ(run_quorvex(dir, inputs + "-mfile '" + mapping + "' -msglog msg.log " + args), 0)
        << read_file(dir + "/stdout.txt");
  }
  EXPECT_FALSE(file_exists(top + "/mapping.03.txt"));
  // Every mapping row is in exactly one piece.
  EXPECT_EQ(read_file(top + "/mapping.00.txt").size() + read_file(top + "/mapping.01.txt").size() +
                read_file(top + "/mapping.02.txt").size(),
            read_file(top + "/mapping.txt").size());

  // The common-variant pass in a job without the gene pass.
  std::string msg_before;
  if (c.com) {
    const std::string dir = top + "/com";
    ASSERT_EQ(std::system(("mkdir '" + dir + "'").c_str()), 0);
    ASSERT_EQ(run_quorvex(dir, inputs + "-noRare -com 0.05 -msglog msg.log " + args), 0)
        << read_file(dir + "/stdout.txt");
    EXPECT_EQ(read_file(dir + "/com.out"), read_file(whole + "/com.out"));
    EXPECT_FALSE(file_exists(dir + "/rare.out"));
    msg_before = read_file(dir + "/msg.log");
  }

  ASSERT_EQ(shell(top, kJoin), 0) << read_file(top + "/script.out");
  const std::string rare = read_file(whole + "/rare.out");
  EXPECT_EQ(read_file(top + "/rare.out"), rare);
  EXPECT_EQ(msg_before + read_file(top + "/msg.log"), read_file(whole + "/msg.log"));
  for (const char *log : {"vt.log", "skat.log", "multi.log"}) {
    ASSERT_EQ(file_exists(top + "/" + log), file_exists(whole + "/" + log)) << log;
    if (file_exists(whole + "/" + log)) {
      EXPECT_EQ(read_file(top + "/" + log), read_file(whole + "/" + log)) << log;
    }
  }

  // Every piece tested genes, so the check is not void.
  for (const char *p : pieces)
    EXPECT_GT(split(read_file(top + "/run." + p + "/rare.out"), '\n').size(), 2u) << p;
  remove_dir(top);
}

const SplitCase kSplits[] = {
    {"QuantitativeWeightsAndCommonPass",
     "-subjects 100 -variants 60 -genes 12 -trait quantitative -covariates 2 -mapcols 3 -causal 2 "
     "-effect 1.5 -weights 2 -seed 12",
     "-wfile DATA/weights.txt", true},
    {"BinaryFourColumnsDominant",
     "-subjects 120 -variants 60 -genes 12 -trait binary -covariates 1 -mapcols 4 -causal 2 "
     "-effect 2 -seed 21",
     "-dominant", false},
    // Resampling: the binary trait's refits (bootstrap draws) and the
    // permuted quantitative residuals restart at resample 1 in every job.
    {"BinaryResamplingCovariates",
     "-subjects 80 -variants 45 -genes 9 -trait binary -covariates 1 -mapcols 2 -causal 2 "
     "-effect 2 -seed 11",
     "-resample 1", true},
    {"QuantitativeResamplingWeights",
     "-subjects 100 -variants 60 -genes 12 -trait quantitative -covariates 0 -mapcols 3 "
     "-causal 2 -effect 1.5 -weights 2 -seed 13",
     "-resample 1 -wfile DATA/weights.txt", false},
};

INSTANTIATE_TEST_SUITE_P(Data, SplitByGene, ::testing::ValuesIn(kSplits),
                         [](const ::testing::TestParamInfo<SplitCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
