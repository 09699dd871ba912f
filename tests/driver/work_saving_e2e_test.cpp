// The whole gene pass with the multivariate normal work savings (records of
// the earlier stages and attempts, shared conditioning steps) against the
// straightforward integration: every output file and the standard output
// the same bytes, on generated data whose causal genes take the maximum
// statistics through all three accuracy stages.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "driver/gene_pass.h"
#include "driver/input.h"
#include "driver/settings.h"
#include "kernels/sadmvn.h"
#include "tests/driver/gene_pass_support.h"

namespace {

// Runs banner, options, loading and testing in this process inside dir, the
// standard output into dir/stdout.txt, as the program's main does.
void run_in_process(const std::string &dir, const std::vector<std::string> &args) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  std::fflush(stdout);
  const int saved = dup(fileno(stdout));
  ASSERT_NE(std::freopen("stdout.txt", "w", stdout), nullptr);
  std::vector<std::string> words = {"quorvex"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  print_banner();
  Settings settings;
  load_options(static_cast<int>(words.size()), argv.data(), &settings);
  LoadedData data;
  load_data(settings, &data);
  run_testing(settings, data);
  free_loaded_data(&data);
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  ASSERT_EQ(chdir(cwd), 0);
}

std::string without_clock(const std::string &text) {
  static const std::regex clock("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
  return std::regex_replace(text, clock, "<time>");
}

TEST(WorkSavingEndToEnd, SameOutputBytesAsTheStraightforwardIntegration) {
  const std::string data = gene_pass_test::scratch_dir();
  ASSERT_EQ(test_support::run_generator("-subjects 300 -variants 60 -genes 10 -trait binary "
                                        "-weights 3 -causal 3 -effect 1.5 -seed 11",
                                        data, ">/dev/null 2>&1"),
            0);
  const std::vector<std::string> args = {"-pfile", data + "/pheno.txt", "-gfile",
                                         data + "/geno.txt", "-mfile", data + "/mapping.txt",
                                         "-wfile", data + "/weights.txt"};
  const std::string straight = gene_pass_test::scratch_dir();
  const std::string saving = gene_pass_test::scratch_dir();
  sadmvn_options(false, false);
  run_in_process(straight, args);
  sadmvn_options(true, true);
  run_in_process(saving, args);
  for (const char *name : {"rare.out", "vt.log", "skat.log", "multi.log"}) {
    const std::string a = gene_pass_test::read_file(straight + "/" + name);
    EXPECT_FALSE(a.empty()) << name;
    EXPECT_TRUE(a == gene_pass_test::read_file(saving + "/" + name)) << name << " differs";
  }
  EXPECT_EQ(without_clock(gene_pass_test::read_file(straight + "/stdout.txt")),
            without_clock(gene_pass_test::read_file(saving + "/stdout.txt")));
  // The data take a maximum statistic into the third stage (p < 1e-4).
  bool third_stage = false;
  const auto rows = gene_pass_test::split(gene_pass_test::read_file(saving + "/rare.out"), '\n');
  for (size_t r = 1; r < rows.size(); r++) {
    const auto f = gene_pass_test::split(rows[r], '\t');
    for (size_t c : {4u, 6u})
      if (c < f.size() && f[c] != "NA" && std::atof(f[c].c_str()) < 1e-4) third_stage = true;
  }
  EXPECT_TRUE(third_stage);
}

}  // namespace
