// Gene set-up: the frequency modes of the variant selection, the genotype
// token rule, reading genotype rows at their byte offsets, and the weight
// file.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "driver/gene_setup.h"
#include "driver/run_setup.h"
#include "numeric/arrays.h"
#include "tests/driver/gene_pass_support.h"
#include "tests/support/tolerances.h"
#include "support/death_tests.h"

using namespace gene_pass_test;

namespace {

// A genotype summary row as the loader leaves it.
struct GenoRow {
  const char *id;
  double naRate, maf;
  int singular;
};

struct MapEntry {
  const char *gene, *snp;
  double maf;
  int flag;
};

// Owns the arrays of a hand-made LoadedData.
struct HandData {
  LoadedData data;
  std::vector<std::string> geno_ids, map_genes, map_snps;
  std::vector<char *> geno_ptr, gene_ptr, snp_ptr;
  std::vector<double> naRate, gmaf, map_maf;
  std::vector<int> singular, map_thresh, thresh_index;
  std::vector<long> offsets;

  HandData(long N, const std::vector<GenoRow> &geno, const std::vector<MapEntry> &map,
           int columns) {
    for (const GenoRow &g : geno) {
      geno_ids.push_back(g.id);
      naRate.push_back(g.naRate);
      gmaf.push_back(g.maf);
      singular.push_back(g.singular);
    }
    for (const MapEntry &m : map) {  // given in sorted gene order
      map_genes.push_back(m.gene);
      map_snps.push_back(m.snp);
      map_maf.push_back(m.maf);
      map_thresh.push_back(m.flag);
    }
    for (auto &s : geno_ids) geno_ptr.push_back(&s[0]);
    for (auto &s : map_genes) gene_ptr.push_back(&s[0]);
    for (auto &s : map_snps) snp_ptr.push_back(&s[0]);
    thresh_index.assign(geno.size(), 0);
    offsets.assign(geno.size(), 0);
    data.pheno.pheno_NROW = N;
    data.pheno.pheno_NCOL = 1;
    data.geno.geno_NROW = (long)geno.size();
    data.geno.geno_NCOL = N;
    data.geno.geno_snpID = geno_ptr.data();
    data.geno.geno_naRate = naRate.data();
    data.geno.geno_maf = gmaf.data();
    data.geno.geno_singular = singular.data();
    data.geno.geno_offset = offsets.data();
    data.map.map_NROW = (long)map.size();
    data.map.map_geneID = gene_ptr.data();
    data.map.map_snpID = snp_ptr.data();
    data.map.maf_flag = columns <= 2;
    data.map.EXT_THRESH = columns == 4;
    data.map.map_maf = columns >= 3 ? map_maf.data() : nullptr;
    data.map.map_thresh = columns == 4 ? map_thresh.data() : nullptr;
    data.map.thresh_index = columns == 4 ? thresh_index.data() : nullptr;
    long genes = map.empty() ? 0 : 1;
    for (size_t i = 1; i < map.size(); i++)
      if (map_genes[i] != map_genes[i - 1]) genes++;
    data.map.N_GENE = genes;
    data.mapping_read = 1;
  }
};

Settings default_settings() {
  Settings s;
  set_defaults(&s);
  return s;
}

// Expected outcome of one gene: used genotype rows (file order) with their
// frequencies, and the threshold count.
struct GeneExpect {
  const char *gene;
  std::vector<long> rows;
  std::vector<double> freq;
  int n_thresh;
};

struct SelectionCase {
  const char *name;
  int columns;
  double MAF_UB, NA_UB;
  std::vector<GenoRow> geno;
  std::vector<MapEntry> map;
  std::vector<GeneExpect> genes;
};

void PrintTo(const SelectionCase &c, std::ostream *os) { *os << c.name; }

class GeneSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(GeneSelection, UsesTheFirstQualifyingRowInFileOrder) {
  const SelectionCase &c = GetParam();
  HandData hand(10, c.geno, c.map, c.columns);
  Settings s = default_settings();
  s.MAF_UB = c.MAF_UB;
  s.NA_UB = c.NA_UB;
  GenotypeIndex index;
  build_genotype_index(hand.data, index);
  std::vector<double> genek(c.geno.size(), 0.0);
  RunArrays run;
  run.genek_index = genek.data();
  GeneUnderTest gene;
  long map_index = 0;
  ASSERT_EQ(hand.data.map.N_GENE, (long)c.genes.size());
  for (const GeneExpect &e : c.genes) {
    long n = select_gene_variants(s, hand.data, index, run, map_index, gene);
    EXPECT_STREQ(gene.geneID, e.gene);
    ASSERT_EQ(n, (long)e.rows.size()) << e.gene;
    EXPECT_EQ(gene.used_rows, e.rows) << e.gene;
    long nonzero = 0;
    for (double g : genek) nonzero += g != 0.0;
    EXPECT_EQ(nonzero, n) << e.gene << ": genek_index holds exactly the used rows";
    for (size_t j = 0; j < e.rows.size(); j++) EXPECT_EQ(genek[e.rows[j]], e.freq[j]) << e.gene;
    EXPECT_EQ(gene.n_thresh, e.n_thresh) << e.gene;
  }
  EXPECT_EQ(map_index, hand.data.map.map_NROW);
}

const std::vector<GenoRow> kGeno = {
    {"a", 0.0, 0.02, 0},   // 0
    {"b", 0.0, 0.30, 0},   // 1: above the rare bound
    {"c", 0.0, 0.00, 1},   // 2: monomorphic
    {"d", 0.2, 0.04, 0},   // 3: 20% missing
    {"e", 0.0, 0.90, 0},   // 4: the coded allele is the common one
    {"f", 1.0, 0.00, 1},   // 5: no observed genotype
    {"g", 0.0, 0.05, 0},   // 6: exactly at the bound
};

const SelectionCase kSelection[] = {
    {"TwoColumns", 2, 0.05, 1.0, kGeno,
     {{"G1", "g", 0, 0}, {"G1", "b", 0, 0}, {"G1", "a", 0, 0}, {"G1", "c", 0, 0},
      {"G1", "e", 0, 0}, {"G1", "zz", 0, 0}, {"G1", "f", 0, 0}, {"G2", "c", 0, 0},
      {"G3", "d", 0, 0}},
     {{"G1", {0, 6}, {0.02, 0.05}, 0}, {"G2", {}, {}, 0}, {"G3", {3}, {0.04}, 0}}},
    {"TwoColumnsCallRateBound", 2, 0.05, 0.1, kGeno,
     {{"G1", "d", 0, 0}, {"G1", "a", 0, 0}},
     {{"G1", {0}, {0.02}, 0}}},
    {"TwoColumnsCallRateBoundInclusive", 2, 0.05, 0.2, kGeno,
     {{"G1", "d", 0, 0}},
     {{"G1", {3}, {0.04}, 0}}},
    {"ThreeColumns", 3, 0.05, 1.0, kGeno,
     // b: its genotype frequency is not compared with the bound in this mode;
     // c: monomorphic; a: its mapping frequency is above the bound.
     {{"G1", "b", 0.01, 0}, {"G1", "c", 0.01, 0}, {"G1", "a", 0.06, 0}, {"G1", "g", 0.05, 0},
      {"G1", "f", 0.01, 0}, {"G2", "a", 0.0, 0}, {"G2", "d", 1e-10, 0}},
     {{"G1", {1, 6}, {0.01, 0.05}, 0}, {"G2", {3}, {1e-10}, 0}}},
    {"FourColumns", 4, 0.05, 1.0, kGeno,
     // c: monomorphic but used; f: never observed, not used; a twice: once.
     {{"G1", "c", 0.01, 1}, {"G1", "a", 0.02, 1}, {"G1", "f", 0.01, 1}, {"G1", "a", 0.02, 1},
      {"G1", "e", 0.03, 0}, {"G1", "b", 0.07, 1}},
     {{"G1", {0, 2, 4}, {0.02, 0.01, 0.03}, 2}}},
    {"VariantInTwoGenes", 2, 0.05, 1.0, kGeno,
     {{"G1", "a", 0, 0}, {"G2", "a", 0, 0}, {"G2", "g", 0, 0}},
     {{"G1", {0}, {0.02}, 0}, {"G2", {0, 6}, {0.02, 0.05}, 0}}},
    {"DuplicateIdentifierFailingFirstCopy", 2, 0.05, 1.0,
     {{"x", 0.0, 0.00, 1}, {"y", 0.0, 0.01, 0}, {"x", 0.0, 0.03, 0}, {"x", 0.0, 0.04, 0}},
     {{"G1", "x", 0, 0}},
     {{"G1", {2}, {0.03}, 0}}},
    {"DuplicateIdentifierFirstCopyPasses", 3, 0.05, 1.0,
     {{"x", 0.0, 0.02, 0}, {"x", 0.0, 0.03, 0}},
     {{"G1", "x", 0.01, 0}},
     {{"G1", {0}, {0.01}, 0}}},
    {"DuplicateIdentifierFourColumns", 4, 0.05, 0.5,
     {{"x", 0.9, 0.02, 0}, {"x", 0.1, 0.00, 1}},
     {{"G1", "x", 0.01, 1}},
     {{"G1", {1}, {0.01}, 1}}},
};

INSTANTIATE_TEST_SUITE_P(Modes, GeneSelection, ::testing::ValuesIn(kSelection),
                         [](const ::testing::TestParamInfo<SelectionCase> &info) {
                           return std::string(info.param.name);
                         });

// ------------------------------------------------------------ token rule

struct TokenCase {
  const char *token;
  double value;
};

TEST(GenotypeToken, MissingWhenFirstIsNOrSecondIsA) {
  const TokenCase cases[] = {
      {"NA", -1}, {"NAN", -1}, {"N/", -1}, {"N", -1}, {"0A", -1}, {"1A2", -1},
      {"0", 0},   {"1", 1},    {"2", 2},   {"0.7", 0.7}, {"1.5e0", 1.5}, {"x", 0},
      {"12", 12}, {"-1", -1},
  };
  for (const TokenCase &c : cases) EXPECT_EQ(genotype_token_value(c.token), c.value) << c.token;
}

// ------------------------------------------------- genotypes at offsets

// Writes a genotype file and records the offset of every row.
std::string write_genotypes(const std::string &dir, const std::vector<std::string> &lines,
                            std::vector<long> &offsets) {
  std::string text;
  offsets.clear();
  for (const std::string &l : lines) {
    offsets.push_back((long)text.size());
    text += l;
  }
  return write_file(dir, "geno.txt", text);
}

TEST(GeneGenotypes, ReadsOnlyTheUsedRowsAtTheirOffsets) {
  const std::string dir = scratch_dir();
  std::vector<long> offsets;
  const std::string path =
      write_genotypes(dir,
                      {"r0\t0\t1\t2\n", "r1\tNA\t0.7\t1\n", "r2\t2\t2\t2\n",
                       "r3\tN/\t0A\t0\r\n", "r4\t1\t0\t0"},
                      offsets);
  HandData hand(3, {{"r0", 0, 0.5, 0}, {"r1", 1.0 / 3, 0.3, 0}, {"r2", 0, 1, 1},
                    {"r3", 0, 0, 1}, {"r4", 0, 1.0 / 6, 0}},
                {{"G", "r4", 0, 0}}, 4);
  hand.offsets = offsets;
  hand.data.geno.geno_offset = hand.offsets.data();
  hand.thresh_index = {0, 1, 0, 0, 1};
  Settings s = default_settings();
  s.genotype = path.c_str();
  std::vector<double> genek = {0, 0.04, 0, 0.01, 0.02};
  RunArrays run;
  run.genek_index = genek.data();
  GeneUnderTest gene;
  strcpy(gene.geneID, "G");
  gene.used_rows = {1, 3, 4};
  gene.N_SNP = 3;
  gene.n_thresh = 2;
  WeightIndex weights;
  read_gene_data(s, hand.data, weights, run, gene);
  const double expect[3][3] = {{-1, 0.7, 1}, {-1, -1, 0}, {1, 0, 0}};
  for (int j = 0; j < 3; j++)
    for (int i = 0; i < 3; i++) EXPECT_EQ(gene.x[i][j], expect[j][i]) << i << "," << j;
  EXPECT_STREQ(gene.gene_snpID[0], "r1");
  EXPECT_STREQ(gene.gene_snpID[1], "r3");
  EXPECT_STREQ(gene.gene_snpID[2], "r4");
  EXPECT_EQ(gene.maf[0], 0.04);
  EXPECT_EQ(gene.maf[2], 0.02);
  EXPECT_EQ(gene.nobs[0], 2);  // 3 - 3 * (1/3), truncated
  EXPECT_EQ(gene.nobs[1], 3);
  ASSERT_EQ(gene.thresh_len, 2);
  EXPECT_EQ(gene.thresh[0], 0.04);
  EXPECT_EQ(gene.thresh[1], 0.02);
  EXPECT_EQ(gene.n_weight, 0);
  release_gene(hand.data, run, gene);
  remove_dir(dir);
}

// Rows of 70 subjects (more than one tile of 64, not a multiple of four)
// whose tokens mix runs of one-character genotypes with tokens that break a
// run of four at every position: each value must be the token rule's value
// of that token, in x and in its copy x0.
struct TokenRowCase {
  const char *name;
  std::vector<std::string> pattern;  // tokens, repeated to 70 subjects
  const char *end;                   // line end
};

TEST(GeneGenotypes, EveryTokenByTheTokenRuleAcrossRunsOfFour) {
  const long N = 70;
  const std::vector<TokenRowCase> cases = {
      {"zeros", {"0"}, "\n"},
      {"digits", {"0", "1", "2", "0", "0", "2", "1"}, "\n"},
      {"missing inside a run", {"0", "0", "NA", "0", "1", "0", "0", "0", "0"}, "\n"},
      {"other values", {"0", "3", "0", "0.5", "0", "0", "N", "2", "1e0", "0", "0", "0"}, "\r\n"},
      {"blank before a token", {"0", " 1", "0", "0", "0", "0", "\v2", "0"}, "\n"},
      {"last row without a line end", {"1", "0", "0", "0", "0", "0", "0", "NA"}, ""},
  };
  const std::string dir = scratch_dir();
  std::vector<std::string> lines;
  std::vector<std::vector<double>> expect;
  for (size_t r = 0; r < cases.size(); r++) {
    std::string line = "v" + std::to_string(r);
    std::vector<double> values;
    for (long i = 0; i < N; i++) {
      const std::string &tok = cases[r].pattern[(size_t)i % cases[r].pattern.size()];
      line += "\t" + tok;
      size_t b = tok.find_first_not_of(" \v");
      values.push_back(genotype_token_value(tok.c_str() + b));
    }
    lines.push_back(line + cases[r].end);
    expect.push_back(values);
  }
  std::vector<long> offsets;
  const std::string path = write_genotypes(dir, lines, offsets);
  std::vector<GenoRow> geno;
  for (size_t r = 0; r < cases.size(); r++) geno.push_back({"v", 0, 0.01, 0});
  HandData hand(N, geno, {{"G", "v", 0, 0}}, 2);
  hand.offsets = offsets;
  hand.data.geno.geno_offset = hand.offsets.data();
  Settings s = default_settings();
  s.genotype = path.c_str();
  std::vector<double> genek(cases.size(), 0.01);
  RunArrays run;
  run.genek_index = genek.data();
  GeneUnderTest gene;
  strcpy(gene.geneID, "G");
  // Every row, and then every second row (runs of rows that are not
  // neighbours in the file).
  for (int step : {1, 2}) {
    gene.used_rows.clear();
    for (size_t r = 0; r < cases.size(); r += (size_t)step) gene.used_rows.push_back((long)r);
    gene.N_SNP = (long)gene.used_rows.size();
    WeightIndex weights;
    read_gene_data(s, hand.data, weights, run, gene);
    for (long j = 0; j < gene.N_SNP; j++) {
      const size_t r = (size_t)gene.used_rows[(size_t)j];
      for (long i = 0; i < N; i++) {
        EXPECT_EQ(gene.x[i][j], expect[r][(size_t)i]) << cases[r].name << ", subject " << i;
        EXPECT_EQ(gene.x0[i][j], expect[r][(size_t)i]) << cases[r].name << ", subject " << i;
      }
    }
    release_gene(hand.data, run, gene);
  }
  remove_dir(dir);
}

TEST(GeneGenotypesDeathTest, UnreadableGenotypeFileStops) {
  HandData hand(2, {{"r0", 0, 0.25, 0}}, {{"G", "r0", 0, 0}}, 2);
  Settings s = default_settings();
  s.genotype = "/nonexistent/geno.txt";
  std::vector<double> genek = {0.25};
  RunArrays run;
  run.genek_index = genek.data();
  GeneUnderTest gene;
  strcpy(gene.geneID, "GENE7");
  gene.used_rows = {0};
  gene.N_SNP = 1;
  WeightIndex weights;
  EXPECT_EXIT(
      run_to_exit([&] {
        fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        read_gene_data(s, hand.data, weights, run, gene);
      }),
      ::testing::ExitedWithCode(1),
      "GENE GENE7 Error: Cannot open genotype file '/nonexistent/geno.txt'.\n\n"
      "QUORVEX was stopped due to error\\(s\\) listed above.");
}

// ------------------------------------------------------------ weights

struct WeightFixture {
  std::string dir, path;
  Settings s;
  WeightIndex index;
  std::vector<double> buffer = std::vector<double>(101);
  RunArrays run;
  GeneUnderTest gene;

  WeightFixture(const std::string &text, const char *geneID,
                const std::vector<const char *> &snps) {
    dir = scratch_dir();
    path = write_file(dir, "weights.txt", text);
    s = default_settings();
    s.wfile = path.c_str();
    s.mwf = 1;
    run.buffer_weight = buffer.data();
    strcpy(gene.geneID, geneID);
    gene.N_SNP = (long)snps.size();
    gene.gene_snpID = new char *[snps.size()];
    for (size_t j = 0; j < snps.size(); j++) {
      gene.gene_snpID[j] = static_cast<char *>(calloc(256, 1));
      strcpy(gene.gene_snpID[j], snps[j]);
    }
  }
  ~WeightFixture() {
    for (long j = 0; j < gene.N_SNP; j++) free(gene.gene_snpID[j]);
    delete[] gene.gene_snpID;
    if (gene.wt != nullptr) free_dmatrix(gene.wt, 0, gene.n_weight - 1, 0, gene.N_SNP - 1);
    remove_dir(dir);
  }
};

struct WeightCase {
  const char *name;
  const char *text;
  const char *gene;
  std::vector<const char *> snps;
  int K;
  std::vector<std::vector<double>> wt;  // [K][N_SNP]
};

void PrintTo(const WeightCase &c, std::ostream *os) { *os << c.name; }

class GeneWeights : public ::testing::TestWithParam<WeightCase> {};

TEST_P(GeneWeights, ReadsTheFirstRunOfTheGenesLines) {
  const WeightCase &c = GetParam();
  WeightFixture f(c.text, c.gene, c.snps);
  read_gene_weights(f.s, f.index, f.run, f.gene);
  ASSERT_EQ(f.gene.n_weight, c.K);
  for (int w = 0; w < c.K; w++)
    for (size_t j = 0; j < c.snps.size(); j++)
      EXPECT_EQ(f.gene.wt[w][j], c.wt[w][j]) << "weight " << w << " variant " << j;
}

const WeightCase kWeights[] = {
    {"GeneWithoutLines", "G1 s1 1 2\nG2 s2 3\n", "G9", {"s1"}, 0, {}},
    {"Basic", "G1\ts1\t0.5\t2\nG1\ts2\t1.5\t3\n", "G1", {"s1", "s2"}, 2,
     {{0.5, 1.5}, {2, 3}}},
    {"UsedVariantWithoutLineGetsZero", "G1 s2 4 5 6\n", "G1", {"s1", "s2", "s3"}, 3,
     {{0, 4, 0}, {0, 5, 0}, {0, 6, 0}}},
    {"UnusedLinesSkippedWithoutChecks", "G1 sx 1\nG1 s1 7 8\nG1 sy 1 2 3 4\nG1 s2 9 10",
     "G1", {"s1", "s2"}, 2, {{7, 9}, {8, 10}}},
    {"TrailingBlanksAndCarriageReturns", "G1 s1 1 2 \r\nG1 s2 3\t4\t\r\n", "G1", {"s1", "s2"},
     2, {{1, 3}, {2, 4}}},
    {"OnlyTheFirstRunIsRead", "G1 s1 1\nG2 s1 5\nG1 s2 2\n", "G1", {"s1", "s2"}, 1, {{1, 0}}},
    {"LaterGeneWithOtherK", "G1 s1 1\nG2 s1 5 6\nG2 s2 7 8\n", "G2", {"s1", "s2"}, 2,
     {{5, 7}, {6, 8}}},
    {"BlankLinesInsideTheRun", "G0 a 1\n\nG1 s1 1\n   \nG1 s2 2\n", "G1", {"s1", "s2"}, 1,
     {{1, 2}}},
    {"NoFinalNewline", "G1 s1 3 4", "G1", {"s1"}, 2, {{3}, {4}}},
};

INSTANTIATE_TEST_SUITE_P(Files, GeneWeights, ::testing::ValuesIn(kWeights),
                         [](const ::testing::TestParamInfo<WeightCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(GeneWeights, OneIndexServesEveryGene) {
  WeightFixture f("G2 s1 5 6\nG1 s1 1\nG1 s2 2\nG2 s2 7 8\n", "G1", {"s1", "s2"});
  read_gene_weights(f.s, f.index, f.run, f.gene);
  EXPECT_TRUE(f.index.built);
  ASSERT_EQ(f.gene.n_weight, 1);
  EXPECT_EQ(f.gene.wt[0][0], 1);
  EXPECT_EQ(f.gene.wt[0][1], 2);
  free_dmatrix(f.gene.wt, 0, 0, 0, 1);
  f.gene.wt = nullptr;
  strcpy(f.gene.geneID, "G2");
  read_gene_weights(f.s, f.index, f.run, f.gene);  // first run of G2 only: s1
  ASSERT_EQ(f.gene.n_weight, 2);
  EXPECT_EQ(f.gene.wt[0][0], 5);
  EXPECT_EQ(f.gene.wt[1][0], 6);
  EXPECT_EQ(f.gene.wt[0][1], 0);
  EXPECT_EQ(f.gene.wt[1][1], 0);
}

TEST(GeneWeights, HundredAndOneWeightsAccepted) {
  std::string line = "G1 s1";
  for (int w = 0; w < 101; w++) line += " " + std::to_string(w);
  WeightFixture f(line + "\n", "G1", {"s1"});
  read_gene_weights(f.s, f.index, f.run, f.gene);
  ASSERT_EQ(f.gene.n_weight, 101);
  EXPECT_EQ(f.gene.wt[100][0], 100);
}

struct WeightDeathCase {
  const char *name;
  std::string text;
  const char *message;
};

void PrintTo(const WeightDeathCase &c, std::ostream *os) { *os << c.name; }

class GeneWeightsDeathTest : public ::testing::TestWithParam<WeightDeathCase> {};

std::string many_weights(int n) {
  std::string line = "G1 s1";
  for (int w = 0; w < n; w++) line += " 1";
  return line + "\n";
}

TEST_P(GeneWeightsDeathTest, Stops) {
  const WeightDeathCase &c = GetParam();
  WeightFixture f(c.text, "G1", {"s1", "s2"});
  EXPECT_EXIT(
      run_to_exit([&] {
        fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        read_gene_weights(f.s, f.index, f.run, f.gene);
      }),
      ::testing::ExitedWithCode(1), c.message);
}

const WeightDeathCase kWeightDeaths[] = {
    {"MoreWeightsThanFirstLine", "G1 s1 1 2\nG1 s2 1 2 3\n",
     "^fail\nError: The number of weights can not be different between SNPs within one "
     "gene.\n\nQUORVEX was stopped"},
    {"FewerWeightsThanFirstLine", "G1 s1 1 2\nG1 s2 1\n",
     "^fail\nError: The number of weights can not be different between SNPs within one "
     "gene.\n\nQUORVEX was stopped"},
    {"FirstWeightedLineWithoutWeights", "G1 s1\nG1 s2 1\n",
     "^fail\nError: Gene 'G1', SNP 's1': no weights on line 1 of the weight file '.*/weights.txt'.\n"
     "\nQUORVEX was stopped due to error\\(s\\) listed above.\n\n$"},
    {"WeightWrittenAsText", "G1 s1 1 abc\n",
     "^fail\nError: Line 1 of weight file '.*/weights.txt': weight 'abc' in column 4 \\(gene 'G1', SNP 's1'\\) "
     "is not a finite number.\n\nQUORVEX was stopped"},
    {"WeightWithTrailingText", "G1 s1 1\nG1 s2 2.5e-1kg\n",
     "^fail\nError: Line 2 of weight file '.*/weights.txt': weight '2.5e-1kg' in column 3 \\(gene 'G1', SNP 's2'\\) "
     "is not a finite number.\n\nQUORVEX was stopped"},
    {"WeightNotANumber", "G1 s2 nan\n",
     "^fail\nError: Line 1 of weight file '.*/weights.txt': weight 'nan' in column 3 \\(gene 'G1', SNP 's2'\\) "
     "is not a finite number.\n\nQUORVEX was stopped"},
    {"MoreThan101Weights", many_weights(102),
     "^fail\nError: Gene 'G1', SNP 's1': more than 101 weights on one line of the weight "
     "file.\n"},
};

INSTANTIATE_TEST_SUITE_P(Files, GeneWeightsDeathTest, ::testing::ValuesIn(kWeightDeaths),
                         [](const ::testing::TestParamInfo<WeightDeathCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(GeneWeightsDeathTest, UnopenableWeightFileStops) {
  EXPECT_EXIT(
      run_to_exit([&] {
        fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        Settings s;
        set_defaults(&s);
        s.wfile = "/nonexistent/w.txt";
        s.mwf = 1;
        WeightIndex index;
        RunArrays run;
        GeneUnderTest gene;
        read_gene_weights(s, index, run, gene);
      }),
      ::testing::ExitedWithCode(1),
      "^fail\nError: Cannot open weight file '/nonexistent/w.txt'.\n\nQUORVEX was stopped");
}

}  // namespace
