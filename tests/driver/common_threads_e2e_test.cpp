// The common-variant pass on several threads: whole runs with one thread
// and with 2, 3 and 8 (QUORVEX_THREADS) give the same exit status, standard
// output (clock lines masked), result files and message log, byte for byte:
// binary and quantitative traits, covariates, the pass alone and followed by
// the gene pass, variance warnings among the rows, resampling (an unlimited
// pool and a pool of three), and a run that a full message log stops
// part-way. Then the genotype file rewritten between the loading and the
// pass, a tested row shortened (the first, one in the middle, the last):
// every thread count stops on the same variant with the same output, the
// rows before it on disk.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "driver/common_pass.h"
#include "tests/driver/gene_pass_support.h"
#include "tests/support/death_tests.h"

using namespace gene_pass_test;

namespace {

const int kManyThreads[] = {2, 3, 8};

// Runs the program on the data set in data with the thread count, the
// environment (may be empty) and the message log named log, in a scratch
// folder; collects the exit status, standard output without its clock lines
// and every result file and log ("<none>" when the run wrote none).
Outputs run_threads(const std::string &data, int threads, const std::string &env,
                    const std::string &log, const std::string &args) {
  static const char *const kFiles[] = {"com.out", "rare.out", "m.log"};
  const std::string dir = scratch_dir();
  const std::string env_all = "QUORVEX_THREADS=" + std::to_string(threads) + " " + env + " ";
  Outputs o;
  o.status = test_support::run_program(dir, env_all,
                                       "-pfile '" + data + "/pheno.txt' -gfile '" + data +
                                           "/geno.txt' -mfile '" + data + "/mapping.txt' -msglog " +
                                           log + " " + args);
  o.files["stdout"] = without_times(read_file(dir + "/stdout.txt"));
  for (const char *name : kFiles)
    o.files[name] = file_exists(dir + "/" + name) ? read_file(dir + "/" + name) : "<none>";
  remove_dir(dir);
  return o;
}

struct ThreadCase {
  const char *name;
  const char *data;  // generator options
  const char *args;  // program options
  const char *env;   // further environment of the runs
  const char *log;   // the message log's name
  int status;        // the runs' exit status
  bool warnings;     // the pass prints variance warnings
};
void PrintTo(const ThreadCase &c, std::ostream *os) { *os << c.name; }

class CommonPassThreads : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(CommonPassThreads, WholeOutputsEqualTheOneThreadRun) {
  const ThreadCase &c = GetParam();
  const std::string data = scratch_dir();
  generate(data, c.data);
  const Outputs one = run_threads(data, 1, c.env, c.log, c.args);
  ASSERT_EQ(one.status, c.status) << one.files.at("stdout");
  for (int threads : kManyThreads) {
    const Outputs many = run_threads(data, threads, c.env, c.log, c.args);
    EXPECT_EQ(many.status, one.status) << threads << " threads";
    for (const auto &f : one.files)
      EXPECT_EQ(many.files.at(f.first), f.second) << f.first << ", " << threads << " threads";
  }
  // The runs cover what the case is for.
  const std::string &out = one.files.at("stdout");
  const size_t rows = count_of(one.files.at("com.out"), "\n");
  // A run stopped by its message log's first write has the rows and the
  // one warning before it.
  EXPECT_GT(rows, c.status == 0 ? 20u : 0u);
  if (c.warnings) {
    EXPECT_GE(count_of(out, "Warning: Variance estimate=0"), c.status == 0 ? 2u : 1u);
  }
  if (c.status != 0) {
    // Stopped part-way: the message of the log's failed write after some
    // of the pass's warnings, and not every row on disk.
    // (without_times ends every line with a newline, the last included)
    const std::string stop = "Error: Cannot write output file '/dev/full'.\n\nQUORVEX was stopped "
                             "due to error(s) listed above.\n\n\n";
    ASSERT_GE(out.size(), stop.size());
    EXPECT_EQ(out.substr(out.size() - stop.size()), stop);
    const Outputs whole = run_threads(data, 1, c.env, "m.log", c.args);
    EXPECT_EQ(whole.status, 0);
    EXPECT_LT(rows, count_of(whole.files.at("com.out"), "\n"));
    EXPECT_LT(count_of(out, "Warning: Variance estimate=0"),
              count_of(whole.files.at("stdout"), "Warning: Variance estimate=0"));
  }
  if (std::string(c.args).find("-noRare") == std::string::npos) {
    EXPECT_NE(one.files.at("rare.out"), "<none>");
  }
  remove_dir(data);
}

const ThreadCase kCases[] = {
    {"BinaryTwoCovariates",
     "-subjects 300 -variants 400 -genes 20 -trait binary -covariates 2 -common 0.5 -seed 41",
     "-noRare -com 0.05", "", "m.log", 0, false},
    // The exome mix: most rows below the bound are read and not tested;
    // the gene pass follows.
    {"QuantitativeThenGenes",
     "-subjects 150 -variants 200 -genes 10 -trait quantitative -covariates 1 -seed 42",
     "-com 0.01", "", "m.log", 0, false},
    // Rare rows above a low bound have no homozygote: under the recessive
    // model their column is constant, an "NA" row with its warning.
    {"RecessiveWarnings",
     "-subjects 200 -variants 1500 -genes 40 -trait quantitative -covariates 1 -common 0.2 "
     "-seed 31",
     "-noRare -com 0.005 -recessive", "", "m.log", 0, true},
    // The same warnings into a message log on a full device: the log is
    // written line by line, so the write of the first warning fails, and
    // the run stops there.
    {"FullLogStopsPartWay",
     "-subjects 200 -variants 1500 -genes 40 -trait quantitative -covariates 1 -common 0.2 "
     "-seed 31",
     "-noRare -com 0.005 -recessive", "", "/dev/full", 1, true},
    {"ResampledBinary",
     "-subjects 100 -variants 60 -genes 6 -trait binary -covariates 2 -common 0.5 -seed 46",
     "-noRare -com 0.05 -resample 1", "", "m.log", 0, false},
    // "NA" rows while variants wait in the pool, then the genes' pool.
    {"ResampledRecessiveThenGenes",
     "-subjects 120 -variants 80 -genes 8 -trait quantitative -covariates 0 -common 0.6 "
     "-seed 24",
     "-com 0.05 -resample 1 -recessive", "", "m.log", 0, true},
    // A pool of three: the pool runs between the variants of a batch.
    {"ResampledPoolOfThree",
     "-subjects 120 -variants 60 -genes 6 -trait quantitative -covariates 2 -common 0.5 "
     "-seed 44",
     "-noRare -com 0.05 -resample 1 -dominant", "QUORVEX_RESAMPLE_POOL=3", "m.log", 0, false},
};

INSTANTIATE_TEST_SUITE_P(Data, CommonPassThreads, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ThreadCase> &info) {
                           return std::string(info.param.name);
                         });

// ------------------------------------------- genotype file changed --

// The outputs of a pass that stops: standard output (the loading's too),
// the result file and the message log.
struct StoppedPass {
  std::string out, com, log;
};

// Loads the data set in dir, shortens genotype row `row` by its last value,
// and runs the common-variant pass (recessive model, bound 0.005, message
// log, resampling when asked) on `threads` threads; expects the stop.
StoppedPass stopped_pass(const std::string &dir, long row, int threads, bool resample) {
  const std::string pheno = dir + "/pheno.txt", geno = dir + "/geno.txt";
  const std::string result = dir + "/com.out", log_name = dir + "/m.log";
  const std::string stdout_name = dir + "/stdout.txt";
  const std::string original = read_file(geno);
  EXPECT_EXIT(
      run_to_exit([&] {
        std::fflush(stdout);
        if (std::freopen(stdout_name.c_str(), "w", stdout) == nullptr) std::exit(2);
        ignore_leaks_from_here();
        setenv("QUORVEX_THREADS", std::to_string(threads).c_str(), 1);
        unsetenv("QUORVEX_RESAMPLE_POOL");
        Settings s;
        set_defaults(&s);
        s.phenotype = pheno.c_str();
        s.genotype = geno.c_str();
        s.output_com = result.c_str();
        s.DORARE = 0;
        s.DOCOM = 1;
        s.DOREC = 1;
        s.MAF_C = 0.005;
        s.PERM_FLAG = resample ? 1 : 0;
        LoadedData data;
        load_data(s, &data);
        NullModel nm;
        RunArrays run;
        allocate_run(s, data, nm, run);
        fit_null_model(s, data, nm, run);
        MessageLog log;
        log.file = std::fopen(log_name.c_str(), "w");
        log.name = log_name.c_str();
        if (log.file == nullptr) std::exit(2);
        std::vector<std::string> lines = split(original, '\n');
        lines[(size_t)row].erase(lines[(size_t)row].rfind('\t'));
        std::string shorter;
        for (size_t l = 0; l + 1 < lines.size(); l++) shorter += lines[l] + "\n";
        write_file(dir, "geno.txt", shorter);
        common_pass(s, data, nm, run, log);
        std::exit(0);
      }),
      ::testing::ExitedWithCode(1), "");
  write_file(dir, "geno.txt", original);
  StoppedPass p;
  p.out = read_file(stdout_name);
  p.com = read_file(result);
  p.log = read_file(log_name);
  return p;
}

// The tested rows of a data set: those the recessive run wrote.
std::vector<std::string> tested_ids(const std::string &dir) {
  EXPECT_EQ(run_quorvex(dir, "-pfile pheno.txt -gfile geno.txt -noRare -com 0.005 -recessive"), 0);
  std::vector<std::string> ids;
  const std::vector<std::string> lines = split(read_file(dir + "/com.out"), '\n');
  for (size_t l = 1; l + 1 < lines.size(); l++) ids.push_back(split(lines[l], '\t')[0]);
  return ids;
}

TEST(CommonPassThreadsDeathTest, ChangedGenotypeFileStopsOnTheSameVariant) {
  const std::string dir = scratch_dir();
  generate(dir,
           "-subjects 150 -variants 300 -genes 10 -trait quantitative -covariates 1 -common 0.3 "
           "-seed 45");
  const std::vector<std::string> ids = tested_ids(dir);
  ASSERT_GT(ids.size(), 40u);
  const std::vector<std::string> geno_lines = split(read_file(dir + "/geno.txt"), '\n');
  auto row_of = [&](const std::string &id) {
    for (size_t r = 0; r < geno_lines.size(); r++)
      if (geno_lines[r].compare(0, id.size() + 1, id + "\t") == 0) return (long)r;
    ADD_FAILURE() << id;
    return 0L;
  };
  const size_t positions[] = {0, ids.size() / 2, ids.size() - 1};
  for (size_t at : positions) {
    const long row = row_of(ids[at]);
    for (int resample = 0; resample < 2; resample++) {
      const StoppedPass one = stopped_pass(dir, row, 1, resample != 0);
      const std::string stop = "SNP " + ids[at] + " Error: Genotype file '" + dir +
                               "/geno.txt' changed during the run: line " +
                               std::to_string(row + 1) +
                               " no longer holds 150 values.\n\nQUORVEX was stopped due to "
                               "error(s) listed above.\n\n";
      ASSERT_GE(one.out.size(), stop.size());
      EXPECT_EQ(one.out.substr(one.out.size() - stop.size()), stop) << ids[at];
      // The header and the rows of the variants before it.
      EXPECT_EQ(count_of(one.com, "\n"), at + 1) << ids[at] << ", resampling " << resample;
      for (int threads : kManyThreads) {
        const StoppedPass many = stopped_pass(dir, row, threads, resample != 0);
        const std::string what = ids[at] + ", resampling " + std::to_string(resample) + ", " +
                                 std::to_string(threads) + " threads";
        EXPECT_EQ(many.out, one.out) << what;
        EXPECT_EQ(many.com, one.com) << what;
        EXPECT_EQ(many.log, one.log) << what;
      }
    }
  }
  remove_dir(dir);
}

}  // namespace
