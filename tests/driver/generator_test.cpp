// Tests of the data generator quorvex_gen: same seed gives the same bytes,
// the committed example data are what the recorded command makes, and the
// files have the shape quorvex reads.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files_and_runs.h"
#include "tests/support/scratch_dir.h"

namespace {

using test_support::read_file;

std::vector<std::string> lines_of(const std::string &path) {
  std::vector<std::string> out;
  std::istringstream in(read_file(path));
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::vector<std::string> split(const std::string &s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t k = s.find(sep, start);
    out.push_back(s.substr(start, k == std::string::npos ? std::string::npos : k - start));
    if (k == std::string::npos) return out;
    start = k + 1;
  }
}

std::string fresh_dir(const std::string &tag) { return test_support::make_scratch_dir("gen_" + tag); }

// Runs the generator with the arguments, output to dir; returns the exit status.
int run_gen(const std::string &args, const std::string &dir) {
  return test_support::run_generator(args, dir, ">/dev/null 2>&1");
}

const char *const kFiles[] = {"pheno.txt", "geno.txt", "mapping.txt", "weights.txt"};

TEST(Generator, SameSeedSameBytesOtherSeedOtherData) {
  const std::string args = "-subjects 120 -variants 90 -genes 12 -mapcols 4 -weights 3 -causal 2";
  const std::string a = fresh_dir("a"), b = fresh_dir("b"), c = fresh_dir("c");
  ASSERT_EQ(run_gen(args, a), 0);
  ASSERT_EQ(run_gen(args, b), 0);
  ASSERT_EQ(run_gen(args + " -seed 7", c), 0);
  for (const char *f : kFiles) {
    const std::string fa = read_file(a + "/" + f);
    EXPECT_FALSE(fa.empty()) << f;
    EXPECT_EQ(fa, read_file(b + "/" + f)) << f;
    EXPECT_NE(fa, read_file(c + "/" + f)) << f;
  }
}

TEST(Generator, CommittedExamplesAreRemadeByTheirCommand) {
  const std::string src = QUORVEX_SOURCE_DIR;
  const std::string d = fresh_dir("examples");
  // the script writes next to itself, so run a copy in the scratch folder
  ASSERT_EQ(std::system(("cp '" + src + "/examples/make_examples.sh' '" + d + "/'").c_str()), 0);
  ASSERT_EQ(std::system(("bash '" + d + "/make_examples.sh' '" + QUORVEX_GENERATOR + "' >/dev/null").c_str()), 0);
  for (const char *f : kFiles) EXPECT_EQ(read_file(d + "/" + f), read_file(src + "/examples/" + f)) << f;
}

struct Shape {
  long subjects, variants, genes;
  const char *trait;
  long covariates;
  const char *missing;
  int mapcols;
  long weights;
};

std::ostream &operator<<(std::ostream &os, const Shape &s) {
  return os << s.subjects << "x" << s.variants << " genes " << s.genes << " " << s.trait << " cov " << s.covariates
            << " missing " << s.missing << " mapcols " << s.mapcols << " weights " << s.weights;
}

class GeneratorShape : public ::testing::TestWithParam<Shape> {};

TEST_P(GeneratorShape, FilesHaveTheDeclaredLayout) {
  const Shape s = GetParam();
  const std::string d = fresh_dir("shape");
  std::ostringstream args;
  args << "-subjects " << s.subjects << " -variants " << s.variants << " -genes " << s.genes << " -trait " << s.trait
       << " -covariates " << s.covariates << " -missing " << s.missing << " -mapcols " << s.mapcols << " -weights "
       << s.weights;
  ASSERT_EQ(run_gen(args.str(), d), 0);
  const bool binary = std::string(s.trait) == "binary";

  // phenotype: N rows of identifier, trait, covariates
  const auto pheno = lines_of(d + "/pheno.txt");
  ASSERT_EQ(static_cast<long>(pheno.size()), s.subjects);
  for (const auto &line : pheno) {
    const auto f = split(line, '\t');
    ASSERT_EQ(static_cast<long>(f.size()), 2 + s.covariates) << line;
    if (binary) {
      EXPECT_TRUE(f[1] == "0" || f[1] == "1") << line;
    }
    for (size_t k = 1; k < f.size(); k++) {
      char *end = nullptr;
      std::strtod(f[k].c_str(), &end);
      EXPECT_EQ(*end, '\0') << line;
    }
  }

  // genotype: M rows of identifier and N values 0/1/2/NA
  const auto geno = lines_of(d + "/geno.txt");
  ASSERT_EQ(static_cast<long>(geno.size()), s.variants);
  std::set<std::string> geno_ids;
  long na = 0;
  for (const auto &line : geno) {
    const auto f = split(line, '\t');
    ASSERT_EQ(static_cast<long>(f.size()), 1 + s.subjects);
    EXPECT_TRUE(geno_ids.insert(f[0]).second) << "duplicate " << f[0];
    for (size_t k = 1; k < f.size(); k++) {
      ASSERT_TRUE(f[k] == "0" || f[k] == "1" || f[k] == "2" || f[k] == "NA") << f[k];
      na += f[k] == "NA";
    }
  }
  if (std::string(s.missing) == "0") {
    EXPECT_EQ(na, 0);
  } else {
    EXPECT_GT(na, 0);
  }

  // mapping: mapcols columns, G genes, every genotype variant mapped, a few
  // variants absent from the genotype file, genes not in sorted order
  const auto map = lines_of(d + "/mapping.txt");
  std::vector<std::string> gene_order;
  std::set<std::string> genes, mapped, pairs;
  long absent = 0;
  for (const auto &line : map) {
    const auto f = split(line, '\t');
    ASSERT_EQ(static_cast<int>(f.size()), s.mapcols) << line;
    if (s.mapcols == 4) {
      EXPECT_TRUE(f[3] == "0" || f[3] == "1") << line;
    }
    if (genes.insert(f[0]).second) gene_order.push_back(f[0]);
    EXPECT_TRUE(pairs.insert(f[0] + "\t" + f[1]).second) << "variant mapped twice to one gene: " << line;
    mapped.insert(f[1]);
    absent += geno_ids.count(f[1]) == 0;
  }
  EXPECT_EQ(static_cast<long>(genes.size()), s.genes);
  for (const auto &id : geno_ids) EXPECT_EQ(mapped.count(id), 1u) << id;
  EXPECT_GT(absent, 0);
  EXPECT_GT(static_cast<long>(map.size()), s.variants + absent);  // some variants in two genes
  if (s.genes >= 5) {
    EXPECT_FALSE(std::is_sorted(gene_order.begin(), gene_order.end()));
  }

  // weights: one line per mapping row, K weights each, a gene's lines together
  if (s.weights > 0) {
    const auto wl = lines_of(d + "/weights.txt");
    ASSERT_EQ(wl.size(), map.size());
    std::set<std::string> done, wpairs;
    std::string current;
    for (const auto &line : wl) {
      const auto f = split(line, '\t');
      ASSERT_EQ(static_cast<long>(f.size()), 2 + s.weights) << line;
      if (f[0] != current) {
        EXPECT_TRUE(done.insert(f[0]).second) << "gene " << f[0] << " in two runs";
        current = f[0];
      }
      wpairs.insert(f[0] + "\t" + f[1]);
      for (size_t k = 2; k < f.size(); k++) EXPECT_GT(std::strtod(f[k].c_str(), nullptr), 0.0) << line;
    }
    EXPECT_EQ(wpairs, pairs);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, GeneratorShape,
                         ::testing::Values(Shape{60, 40, 8, "binary", 2, "0.02", 2, 0},
                                           Shape{30, 25, 5, "quantitative", 0, "0", 3, 1},
                                           Shape{80, 50, 20, "binary", 3, "0.05", 4, 4},
                                           Shape{10, 9, 9, "quantitative", 1, "0.1", 2, 2}));

// Frequencies look like exome data: most variants have one or two minor
// alleles, a few are common.
TEST(Generator, FrequencySpectrumIsMostlyVeryRare) {
  const std::string d = fresh_dir("spectrum");
  ASSERT_EQ(run_gen("-subjects 1000 -variants 2000 -genes 100 -missing 0", d), 0);
  long very_rare = 0, common = 0, low = 0;
  const auto geno = lines_of(d + "/geno.txt");
  for (const auto &line : geno) {
    const auto f = split(line, '\t');
    long mac = 0;
    for (size_t k = 1; k < f.size(); k++) mac += std::atol(f[k].c_str());
    const double p = static_cast<double>(mac) / 2000.0;
    if (mac <= 2) very_rare++;
    else if (p > 0.05) common++;
    else if (p >= 0.01) low++;
  }
  EXPECT_GT(very_rare, 1000);  // about 55% expected
  EXPECT_GT(low, 30);  // between 1% and 5%: about 3% expected
  EXPECT_GT(common, 40);  // about 5% expected
  EXPECT_LT(common, 200);
}

struct BadArgs {
  const char *args;
  const char *message;
};

std::ostream &operator<<(std::ostream &os, const BadArgs &b) { return os << b.args; }

class GeneratorBadArguments : public ::testing::TestWithParam<BadArgs> {};

TEST_P(GeneratorBadArguments, StopWithStatusOneAndAnError) {
  const std::string d = fresh_dir("bad");
  const std::string cmd = std::string("'") + QUORVEX_GENERATOR + "' " + GetParam().args + " -out '" + d + "' 2>&1";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << out;
  EXPECT_EQ(out, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GeneratorBadArguments,
    ::testing::Values(BadArgs{"-subjects 0", "Error: Invalid value '0' for option '-subjects'.\n"},
                      BadArgs{"-mapcols 5", "Error: Invalid value '5' for option '-mapcols'.\n"},
                      BadArgs{"-weights 102", "Error: Invalid value '102' for option '-weights'.\n"},
                      BadArgs{"-variants 5 -genes 6", "Error: More genes than variants (-genes 6, -variants 5).\n"},
                      BadArgs{"-trait yes", "Error: Invalid value 'yes' for option '-trait' (binary or quantitative).\n"},
                      BadArgs{"-size 3", "Error: Unknown option '-size' (see -help).\n"}));

}  // namespace
