#include "driver/input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "driver/file_checks.h"
#include "driver/text_file.h"
#include "numeric/run_stop.h"
#include "driver_test_support.h"
#include "tests/support/tolerances.h"
#include "support/death_tests.h"

namespace {

using test_support::kStop;
using test_support::whole;
using test_support::write_file;

// ---------------------------------------------------------------- counting

struct CountCase {
  const char *name;
  const char *text;
  long rows, tabs;
};
void PrintTo(const CountCase &c, std::ostream *os) { *os << c.name; }

class CountingPass : public ::testing::TestWithParam<CountCase> {};

TEST_P(CountingPass, CountsRowsAndTabsAsSpecified) {
  const CountCase c = GetParam();
  std::string dir = test_support::temp_dir();
  std::string path = write_file(dir, "f.txt", c.text);
  std::FILE *f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  CountResult r = count_rows_and_tabs(f);
  std::fclose(f);
  EXPECT_EQ(r.rows, c.rows) << "text '" << c.text << "'";
  EXPECT_EQ(r.tabs, c.tabs) << "text '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CountingPass,
    ::testing::Values(CountCase{"Empty", "", 0, 0}, CountCase{"OneCharacter", "a", 1, 0},
                      CountCase{"NewlineOnly", "\n", 0, 0}, CountCase{"OneTab", "a\tb\n", 1, 1},
                      CountCase{"NoFinalNewline", "a\tb", 1, 1},
                      CountCase{"TrailingEmptyLine", "a\tb\nc\td\n\n", 3, 2},
                      CountCase{"LeadingTab", "\tx\n", 1, 0},  // first character not counted
                      CountCase{"TwoTabsInARow", "a\t\t\nb\n", 2, 2}),
    [](const ::testing::TestParamInfo<CountCase> &info) { return std::string(info.param.name); });

// ------------------------------------------------------------- line reader

TEST(LineReader, HandsOutLinesAndOffsetsAcrossSmallBlocks) {
  std::string text = "first line\nx\n\na much longer line than the block\nlast";
  std::string dir = test_support::temp_dir();
  std::string path = write_file(dir, "lines.txt", text);
  std::FILE *f = std::fopen(path.c_str(), "rb");
  LineReader reader(f, 4);  // smaller than most lines: refills and growth
  std::vector<std::string> lines;
  std::vector<long> offsets;
  const char *b, *e;
  long off;
  while (reader.next(&b, &e, &off)) {
    lines.emplace_back(b, e);
    offsets.push_back(off);
  }
  std::fclose(f);
  std::vector<std::string> want = {"first line", "x", "", "a much longer line than the block", "last"};
  ASSERT_EQ(lines, want);
  for (std::size_t i = 0; i < want.size(); i++)
    EXPECT_EQ(text.compare(static_cast<std::size_t>(offsets[i]), want[i].size(), want[i]), 0);
  EXPECT_EQ(reader.line_number(), 5);
}

// Split at every line start into two ranges, a file's lines come out once
// each, with the offsets and newline ends of the whole reading; a
// byte-order mark is skipped by the range that starts the file only.
TEST(LineReader, RangesSplitAtLineStartsHandOutTheWholeFilesLines) {
  struct Line {
    std::string text;
    long offset;
    bool newline;
    bool operator==(const Line &o) const { return text == o.text && offset == o.offset && newline == o.newline; }
  };
  auto read = [](std::FILE *f, std::size_t block, long begin, long end) {
    std::vector<Line> lines;
    std::vector<char> buffer;
    LineReader reader(f, &buffer, block, begin, end);
    const char *b, *e;
    long off;
    while (reader.next(&b, &e, &off)) lines.push_back({std::string(b, e), off, reader.ended_with_newline()});
    return lines;
  };
  const std::string dir = test_support::temp_dir();
  for (const std::string &text : {std::string("first line\nx\n\na much longer line than the block\nlast"),
                                 std::string("\xEF\xBB\xBFv1\t0\nv2\t1\n"), std::string("\n\nab\n")}) {
    SCOPED_TRACE("text '" + text + "'");
    const std::string path = write_file(dir, "lines.txt", text);
    std::FILE *f = std::fopen(path.c_str(), "rb");
    const std::vector<Line> whole_file = read(f, 1 << 16, 0, -1);
    std::vector<long> starts = {0};
    for (std::size_t i = 0; i < text.size(); i++)
      if (text[i] == '\n') starts.push_back(static_cast<long>(i) + 1);
    for (long split : starts)
      for (std::size_t block : {std::size_t(4), std::size_t(1) << 16}) {
        SCOPED_TRACE("split at " + std::to_string(split) + ", block " + std::to_string(block));
        std::vector<Line> lines = read(f, block, 0, split);
        for (const Line &l : read(f, block, split, static_cast<long>(text.size()))) lines.push_back(l);
        EXPECT_EQ(lines, whole_file);
      }
    std::fclose(f);
  }
}

// The tab count eight bytes at a time against a count byte by byte, on
// every length from 0 to 40 and every alignment, with tabs beside the bytes
// that a faulty word test could take for them (0x89, 0x08, 0x0A, 0x19).
TEST(CountTabs, EqualsACountByteByByte) {
  std::mt19937 rng(3);
  const char alphabet[] = {'\t', '\t', 'a', '0', '\n', '\x89', '\x08', '\x0A', '\x19', '\0', '\xFF'};
  for (int trial = 0; trial < 200; trial++) {
    std::string text(48, ' ');
    for (char &c : text) c = alphabet[rng() % sizeof alphabet];
    for (std::size_t from = 0; from < 8; from++)
      for (std::size_t length = 0; from + length <= 40; length++) {
        long want = 0;
        for (std::size_t i = from; i < from + length; i++) want += text[i] == '\t';
        ASSERT_EQ(count_tabs(text.data() + from, text.data() + from + length), want) << trial << " " << from << " " << length;
      }
  }
}

// -------------------------------------------------------------- loaders

std::string capture(const std::function<void()> &f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

TEST(PhenotypeLoader, TwoColumnsWithoutFinalNewline) {
  std::string dir = test_support::temp_dir();
  std::string p = write_file(dir, "pheno.txt", "s1\t0\ns2\t1\ns3\t1.00000000001\ns4\t0");
  PhenotypeData ph;
  std::string out = capture([&] { load_phenotype(p.c_str(), &ph); });
  EXPECT_EQ(out, "\nPHENOTYPE..........successful\nIs the phenotype binary? YES\n");
  ASSERT_EQ(ph.pheno_NROW, 4);
  EXPECT_EQ(ph.pheno_NCOL, 1);
  EXPECT_EQ(ph.BINARY_Y, 1);
  const double want[] = {0.0, 1.0, 1.0, 0.0};  // stored exactly
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(ph.y[i], want[i]);
    EXPECT_EQ(ph.z[i][0], 1.0);
  }
  free_phenotype(&ph);
}

TEST(PhenotypeLoader, QuantitativeTraitStopsTheScanAtTheFirstOtherValue) {
  std::string dir = test_support::temp_dir();
  std::string p = write_file(dir, "pheno.txt",
                             "a\t1e-11\t3\t-1.5\nb\t0.5\t4\t2e3\nc\t1.00000000001\t5\t0.25\n");
  PhenotypeData ph;
  std::string out = capture([&] { load_phenotype(p.c_str(), &ph); });
  EXPECT_EQ(out, "\nPHENOTYPE..........successful\nIs the phenotype binary? NO\n");
  ASSERT_EQ(ph.pheno_NROW, 3);
  ASSERT_EQ(ph.pheno_NCOL, 3);
  EXPECT_EQ(ph.BINARY_Y, 0);
  EXPECT_EQ(ph.y[0], 0.0);             // set to exactly 0 before the scan stopped
  EXPECT_EQ(ph.y[1], 0.5);
  EXPECT_EQ(ph.y[2], 1.00000000001);   // after the stop: left as read
  const double cov[3][2] = {{3, -1.5}, {4, 2000}, {5, 0.25}};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(ph.z[i][0], 1.0);
    EXPECT_EQ(ph.z[i][1], cov[i][0]);
    EXPECT_EQ(ph.z[i][2], cov[i][1]);
  }
  free_phenotype(&ph);
}

TEST(PhenotypeLoader, WithinTenToTheMinusTenIsStrict) {
  std::string dir = test_support::temp_dir();
  // 1 + 1e-10 is not within 1e-10 of 1 (strict comparison): quantitative.
  std::string p = write_file(dir, "pheno.txt", "a\t0\nb\t1.0000000002\n");
  PhenotypeData ph;
  capture([&] { load_phenotype(p.c_str(), &ph); });
  EXPECT_EQ(ph.BINARY_Y, 0);
  free_phenotype(&ph);
}

TEST(GenotypeLoader, SummariesOffsetsAndMissingTokens) {
  const std::string text =
      "v1\t0\tNA\t2\t1\n"        // missing rate 0.25, frequency 3/6
      "v2\t1\tNA\t1\t1\n"        // monomorphic
      "v3\tNAN\t0e0\t0.7\t2\n"   // NAN missing, 0e0 reads 0
      "v4\tNA\tNA\tNA\tNA\n"     // nothing observed
      "rs5\t1e-1\t2.\t+1\t0x1\n"  // slow path: as atof reads them
      "v6\t0\t0\t0\t2";          // no final newline
  std::string dir = test_support::temp_dir();
  std::string g = write_file(dir, "geno.txt", text);
  GenotypeSummary gs;
  std::string out = capture([&] { load_genotype(g.c_str(), 4, &gs); });
  EXPECT_EQ(out, "\nGENOTYPE..........successful\n");
  ASSERT_EQ(gs.geno_NROW, 6);
  EXPECT_EQ(gs.geno_NCOL, 4);
  struct Want {
    const char *id;
    double naRate, maf;
    int singular;
  } want[] = {
      {"v1", 0.25, 3.0 / 6.0, 0},
      {"v2", 0.25, 3.0 / 6.0, 1},
      {"v3", 0.25, (0.0 + 0.7 + 2.0) / 6.0, 0},
      {"v4", 1.0, 0.0, 1},
      {"rs5", 0.0, (0.1 + 2.0 + 1.0 + 1.0) / 8.0, 0},
      {"v6", 0.0, 2.0 / 8.0, 0},
  };
  std::size_t line_start = 0;
  for (int r = 0; r < 6; r++) {
    SCOPED_TRACE(want[r].id);
    EXPECT_STREQ(gs.geno_snpID[r], want[r].id);
    EXPECT_EQ(gs.geno_naRate[r], want[r].naRate);
    EXPECT_NEAR(gs.geno_maf[r], want[r].maf, tol::kRounding);
    EXPECT_EQ(gs.geno_singular[r], want[r].singular);
    EXPECT_EQ(gs.geno_offset[r], static_cast<long>(line_start));
    line_start = text.find('\n', line_start) + 1;
  }
  free_genotype(&gs);
}

// Every one-character token and a set of longer ones, each alone in a row
// beside a 2: kept exactly when the whole token is a number from 0 to 2 (its
// value that of strtod) or begins with NA (missing); every other token is
// refused naming its line and column, a call ('/' or '|') as a call.
TEST(GenotypeLoader, KeepsWholeNumbersFromZeroToTwoAndMissingValuesOnly) {
  std::vector<std::string> tokens;
  for (int c = 33; c < 127; c++) tokens.push_back(std::string(1, static_cast<char>(c)));
  for (const char *t : {"00", "01", "1.0", "2.000", "-0", "1e0", ".5", "1.99999", "+1", "0x1", "2e-0", "NA", "NAN",
                        "NA/NA", "0/1", "1/1", "1|1", "0|0", "./.", ".|.", "1/", "|1", "0.5x", "1x", "x1", "nA", "na",
                        "Na", "N/", "1A", "nan", "inf", "-1", "2.0000001", "1e308", "1,5", "0..1", "1e", "--1"})
    tokens.push_back(t);
  std::string dir = test_support::temp_dir();
  for (const std::string &t : tokens) {
    SCOPED_TRACE("token '" + t + "'");
    const bool missing = t.size() >= 2 && t[0] == 'N' && t[1] == 'A';
    char *stop = nullptr;
    const double x = std::strtod(t.c_str(), &stop);
    const bool number = stop == t.c_str() + t.size() && x >= 0.0 && x <= 2.0;
    const std::string g = write_file(dir, "geno.txt", "v1\t2\t" + t + "\n");
    GenotypeSummary gs;
    std::string what;
    capture([&] {
      try {
        load_genotype(g.c_str(), 2, &gs);
      } catch (const RunStop &stop) {
        ASSERT_FALSE(stop.texts.empty());
        what = stop.texts[0].bytes;
      }
    });
    if (missing || number) {
      EXPECT_EQ(what, "");
      ASSERT_EQ(gs.geno_NROW, 1);
      EXPECT_EQ(gs.geno_naRate[0], missing ? 0.5 : 0.0);
      EXPECT_EQ(gs.geno_maf[0], missing ? 1.0 : (2.0 + x) / 4.0);
      EXPECT_EQ(gs.geno_singular[0], missing || x == 2.0 ? 1 : 0);
    } else {
      const bool call = t.find_first_of("/|") != std::string::npos;
      EXPECT_EQ(what, "fail\nError: Line 1 of genotype file '" + g + "': value '" + t + "' in column 3 is not a genotype" +
                          (call ? ": genotypes are allele counts (0, 1, 2 or NA), not calls.\n"
                                : " (a number from 0 to 2; missing values are written NA).\n"));
    }
    free_genotype(&gs);
  }
}

TEST(MappingLoader, SortsStablyAndCountsGenes) {
  std::string dir = test_support::temp_dir();
  std::string m = write_file(dir, "mapping.txt", "G2\ts1\nG1\ts2\nG2\ts3\n");
  MappingData md;
  std::string out = capture([&] { load_mapping(m.c_str(), 3, &md); });
  EXPECT_EQ(out, "\nGENE-SNP MAPFILE..........successful\n");
  ASSERT_EQ(md.map_NROW, 3);
  EXPECT_EQ(md.N_GENE, 2);
  EXPECT_EQ(md.maf_flag, 1);
  EXPECT_EQ(md.EXT_THRESH, 0);
  EXPECT_EQ(md.map_maf, nullptr);
  const char *gene[] = {"G1", "G2", "G2"}, *snp[] = {"s2", "s1", "s3"};
  for (int i = 0; i < 3; i++) {
    EXPECT_STREQ(md.map_geneID[i], gene[i]);
    EXPECT_STREQ(md.map_snpID[i], snp[i]);
  }
  free_mapping(&md, 3);
}

struct MappingCase {
  const char *name;
  const char *text;
  int maf_flag, ext;
  long genes;
  std::vector<std::string> gene, snp;
  std::vector<double> maf;
  std::vector<int> thresh;
};
void PrintTo(const MappingCase &c, std::ostream *os) { *os << c.name; }

class MappingColumns : public ::testing::TestWithParam<MappingCase> {};

TEST_P(MappingColumns, ReadsEachLayout) {
  const MappingCase c = GetParam();
  SCOPED_TRACE(c.name);
  std::string dir = test_support::temp_dir();
  std::string m = write_file(dir, "mapping.txt", c.text);
  MappingData md;
  capture([&] { load_mapping(m.c_str(), 5, &md); });
  EXPECT_EQ(md.maf_flag, c.maf_flag);
  EXPECT_EQ(md.EXT_THRESH, c.ext);
  EXPECT_EQ(md.N_GENE, c.genes);
  ASSERT_EQ(md.map_NROW, static_cast<long>(c.gene.size()));
  EXPECT_EQ(md.thresh_index != nullptr, c.ext == 1);
  for (std::size_t i = 0; i < c.gene.size(); i++) {
    EXPECT_STREQ(md.map_geneID[i], c.gene[i].c_str());
    EXPECT_STREQ(md.map_snpID[i], c.snp[i].c_str());
    if (!c.maf.empty()) {
      EXPECT_EQ(md.map_maf[i], c.maf[i]);
    }
    if (!c.thresh.empty()) {
      EXPECT_EQ(md.map_thresh[i], c.thresh[i]);
    }
  }
  free_mapping(&md, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, MappingColumns,
    ::testing::Values(
        MappingCase{"three columns", "B\tb1\t0.01\nA\ta1\t0.02\nB\tb2\t3e-3", 0, 0, 2,
                    {"A", "B", "B"}, {"a1", "b1", "b2"}, {0.02, 0.01, 0.003}, {}},
        MappingCase{"four columns", "B\tb1\t0.01\t1\nA\ta1\t0.02\t0\nB\tb2\t0.03\t0\n", 0, 1, 2,
                    {"A", "B", "B"}, {"a1", "b1", "b2"}, {0.02, 0.01, 0.03}, {0, 1, 0}},
        MappingCase{"five columns read as three", "B\tb1\t0.01\t1\tx\nA\ta1\t0.02\t0\ty\tz\n", 0, 0, 2,
                    {"A", "B"}, {"a1", "b1"}, {0.02, 0.01}, {}},
        MappingCase{"byte order of genes", "a\t1\nB\t2\nA10\t3\nA9\t4\nA10\t5\n", 1, 0, 4,
                    {"A10", "A10", "A9", "B", "a"}, {"3", "5", "4", "2", "1"}, {}, {}},
        MappingCase{"one row", "G\ts\n", 1, 0, 1, {"G"}, {"s"}, {}, {}}));

TEST(LoadData, NoRareSkipsTheMappingFileAndTheGeneLine) {
  std::string dir = test_support::temp_dir();
  Settings s;
  set_defaults(&s);
  std::string p = write_file(dir, "p.txt", "a\t1\t2\nb\t0\t3\n");
  std::string g = write_file(dir, "g.txt", "v\t0\t1\n");
  std::string missing = dir + "/no-such-mapping.txt";
  s.phenotype = p.c_str();
  s.genotype = g.c_str();
  s.mapfile = missing.c_str();
  s.DORARE = 0;
  LoadedData d;
  std::string out = capture([&] { load_data(s, &d); });
  EXPECT_EQ(out,
            "\n*----------------- Loading data...-----------------*\n"
            "\nPHENOTYPE..........successful\nIs the phenotype binary? YES\n"
            "\nGENOTYPE..........successful\n"
            "\nDATA SUMMARY:\n#SNP_ALL = 1\n#SUBJECTS = 2\n#COVARIATES = 1\n");
  EXPECT_EQ(d.mapping_read, 0);
  EXPECT_EQ(d.map.maf_flag, 1);
  EXPECT_EQ(d.map.EXT_THRESH, 0);
  free_loaded_data(&d);
}

// ----------------------------------------------------------- fatal input

struct FatalInput {
  const char *name;
  std::string pheno, geno, map;  // file texts; "-" means no such file
  std::string output;            // standard output from the "Loading data" heading on
};

const std::string kData = "\n*----------------- Loading data...-----------------*\n";
const std::string kPhenoOk = "\nPHENOTYPE..........successful\nIs the phenotype binary? YES\n";
const std::string kGenoOk = "\nGENOTYPE..........successful\n";
const std::string kPhenoLabel = "\nPHENOTYPE..........";
const std::string kGenoLabel = "\nGENOTYPE..........";
const std::string kMapLabel = "\nGENE-SNP MAPFILE..........";
const std::string kP3 = "a\t1\nb\t0\nc\t1\n";
const std::string kG3 = "v1\t0\t1\t2\nv2\t1\t1\t0\n";
const std::string kM = "G\tv1\n";

std::vector<FatalInput> fatal_inputs() {
  const std::string long_id(256, 'x'), ok_id(255, 'x'), long_token(1024, '1');
  return {
      {"phenotype cannot be opened", "-", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Cannot open phenotype file '@P'.\n"},
      {"genotype cannot be opened", kP3, "-", kM,
       kData + kPhenoOk + kGenoLabel + "fail\nError: Cannot open genotype file '@G'.\n"},
      {"mapping cannot be opened", kP3, kG3, "-",
       kData + kPhenoOk + kGenoOk + kMapLabel + "fail\nError: Cannot open gene-SNP mapfile '@M'.\n"},
      {"empty phenotype", "", kG3, kM, kData + kPhenoLabel + "fail\nError: Phenotype file '@P' is empty.\n"},
      {"phenotype of one newline", "\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Phenotype file '@P' is empty.\n"},
      {"phenotype without a tab", "a 1\nb 0\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Phenotype file '@P' has no tab-separated columns.\n"},
      {"phenotype NA", "a\t1\t2\nb\tNA\t3\nc\t0\t1\n", kG3, kM,
       kData + kPhenoLabel +
           "fail\nError: Line 2 of phenotype file '@P': value 'NA' in column 2 is not a number"
           " (phenotypes have no missing-value code).\n"},
      {"phenotype covariate with trailing text", "a\t1\t2\nb\t0\t3\nc\t0\t1kg\n", kG3, kM,
       kData + kPhenoLabel +
           "fail\nError: Line 3 of phenotype file '@P': value '1kg' in column 3 is not a number"
           " (phenotypes have no missing-value code).\n"},
      {"ragged phenotype row", "a\t1\t2\nb\t0\nc\t0\t1\t5\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Line 2 of phenotype file '@P' has 2 fields; every row must have 3.\n"},
      {"phenotype with trailing empty line", "a\t1\t5\nb\t0\t6\nc\t1\t7\n\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Line 4 of phenotype file '@P' has 0 fields; every row must have 2.\n"},
      {"two-column phenotype with trailing empty line", kP3 + "\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Line 4 of phenotype file '@P' has 0 fields; every row must have 1.\n"},
      {"phenotype with tabs on too few rows", "a\t\nb\nc\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Phenotype file '@P' has no tab-separated columns.\n"},
      {"phenotype with an empty line inside", "a\t1\t5\n\nb\t0\t6\nc\t1\t7\nd\t1\t7\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Line 2 of phenotype file '@P' has 0 fields; every row must have 2.\n"},
      {"phenotype token too long", "a\t1\n" + long_token + "\t0\nc\t1\n", kG3, kM,
       kData + kPhenoLabel + "fail\nError: Line 2 of phenotype file '@P' holds a token longer than 1023 bytes.\n"},
      {"empty genotype", kP3, "", kM, kData + kPhenoOk + kGenoLabel + "fail\nError: Genotype file '@G' is empty.\n"},
      {"subject number", kP3, "v1\t0\t1\n", kM,
       kData + kPhenoOk + kGenoLabel + "fail\nError: subject number not match in genofile and phenofile.\n"},
      {"genotype with trailing empty line", kP3, kG3 + "\n", kM,
       kData + kPhenoOk + kGenoLabel + "fail\nError: Line 3 of genotype file '@G' has 0 fields; every row must have 4.\n"},
      {"ragged genotype row", kP3, "v1\t0\t1\t2\t1\nv2\t1\t1\nv3\t0\t0\t0\n", kM,
       kData + kPhenoOk + kGenoLabel + "fail\nError: Line 1 of genotype file '@G' has 5 fields; every row must have 4.\n"},
      {"genotype identifier too long", kP3, "v1\t0\t1\t2\n" + long_id + "\t1\t1\t0\n", kM,
       kData + kPhenoOk + kGenoLabel +
           "fail\nError: Line 2 of genotype file '@G' holds an identifier longer than 255 bytes.\n"},
      {"genotype token too long", kP3, "v1\t0\t" + long_token + "\t2\n", kM,
       kData + kPhenoOk + kGenoLabel + "fail\nError: Line 1 of genotype file '@G' holds a token longer than 1023 bytes.\n"},
      {"long missing token", kP3, "v1\t0\tNA" + long_token + "\t2\n", kM,
       kData + kPhenoOk + kGenoLabel + "fail\nError: Line 1 of genotype file '@G' holds a token longer than 1023 bytes.\n"},
      {"empty mapping", kP3, kG3, "",
       kData + kPhenoOk + kGenoOk + kMapLabel + "fail\nError: Gene-SNP mapfile '@M' is empty.\n"},
      {"one-column mapping", kP3, kG3, "G\nH\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Need at least two columns in mapping file: first column for geneID, second column for "
           "SNPID.\n"},
      {"two-column mapping with trailing empty line", kP3, kG3, "G\tv1\nG\tv2\n\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Need at least two columns in mapping file: first column for geneID, second column for "
           "SNPID.\n"},
      {"mapping flag other than 0 or 1", kP3, kG3, "G\tv1\t0.01\t1\nG\tv2\t0.02\t2\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Line 2 of gene-SNP mapfile '@M': threshold flag '2' is neither 0 nor 1.\n"},
      {"mapping frequency not a number", kP3, kG3, "G\tv1\tNA\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Line 1 of gene-SNP mapfile '@M': frequency 'NA' is not a number.\n"},
      {"ragged mapping row", kP3, kG3, "G\tv1\t0.01\nG\tv2\t0.01\t9\nH\tv3\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Line 2 of gene-SNP mapfile '@M' has 4 fields; every row must have 3.\n"},
      {"mapping identifier too long", kP3, kG3, "G\t" + long_id + "\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Line 1 of gene-SNP mapfile '@M' holds an identifier longer than 255 bytes.\n"},
      {"mapping gene identifier too long", kP3, kG3, "G\tv1\n" + long_id + "x\tv2\n",
       kData + kPhenoOk + kGenoOk + kMapLabel +
           "fail\nError: Line 2 of gene-SNP mapfile '@M' holds an identifier longer than 255 bytes.\n"},
  };
}

std::string replace_all(std::string s, const std::string &from, const std::string &to) {
  for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
    s.replace(pos, from.size(), to);
  return s;
}

class InputDeathTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(InputDeathTest, StopsWithItsMessageAndStatusOne) {
  const FatalInput c = fatal_inputs()[GetParam()];
  SCOPED_TRACE(c.name);
  std::string dir = test_support::temp_dir();
  std::string p = dir + "/pheno.txt", g = dir + "/geno.txt", m = dir + "/mapping.txt";
  if (c.pheno != "-") write_file(dir, "pheno.txt", c.pheno);
  if (c.geno != "-") write_file(dir, "geno.txt", c.geno);
  if (c.map != "-") write_file(dir, "mapping.txt", c.map);
  std::string expected = c.output;
  expected = replace_all(expected, "@P", p);
  expected = replace_all(expected, "@G", g);
  expected = replace_all(expected, "@M", m);
  Settings s;
  set_defaults(&s);
  s.phenotype = p.c_str();
  s.genotype = g.c_str();
  s.mapfile = m.c_str();
  EXPECT_EXIT(
      run_to_exit([&] {
        test_support::stdout_to_stderr();
        LoadedData d;
        load_data(s, &d);
      }),
      ::testing::ExitedWithCode(1), whole(expected + kStop));
}

INSTANTIATE_TEST_SUITE_P(FatalInputs, InputDeathTest, ::testing::Range(std::size_t(0), fatal_inputs().size()));

TEST(GenotypeLoader, IdentifierOf255BytesIsAccepted) {
  std::string dir = test_support::temp_dir();
  std::string id(255, 'q');
  std::string g = write_file(dir, "geno.txt", id + "\t0\t1\n");
  GenotypeSummary gs;
  capture([&] { load_genotype(g.c_str(), 2, &gs); });
  EXPECT_EQ(std::string(gs.geno_snpID[0]), id);
  free_genotype(&gs);
}

TEST(GenotypeLoader, CarriageReturnsAndBlanksSeparateTokens) {
  std::string dir = test_support::temp_dir();
  std::string g = write_file(dir, "geno.txt", "v1\t0\t2\r\nv2\t1 \t1\r\n");
  GenotypeSummary gs;
  capture([&] { load_genotype(g.c_str(), 2, &gs); });
  EXPECT_EQ(gs.geno_maf[0], 0.5);
  EXPECT_EQ(gs.geno_singular[1], 1);
  EXPECT_EQ(gs.geno_offset[1], 8);
  free_genotype(&gs);
}

}  // namespace

namespace {

// A loader's stop carries its message and the closing line: nothing of
// them is printed when it is raised (the fuzz targets catch it buffer after
// buffer), and the partly filled data can be freed.
TEST(LoadersReturningErrors, ThrowTheMessageInsteadOfStopping) {
  std::string dir = test_support::temp_dir();
  std::string p = write_file(dir, "p.txt", "a\t1\t2\nb\t0\nc\t1\t3\n");
  std::string g = write_file(dir, "g.txt", "v1\t0\t1\nv2\t-1\t0\n");
  std::string m = write_file(dir, "m.txt", "G\tv1\t0.5\nG\tv2\tnan\n");
  struct Case {
    std::function<void()> load;
    std::string label, message;
  };
  PhenotypeData ph;
  GenotypeSummary gs;
  MappingData md;
  const Case cases[] = {
      {[&] { load_phenotype(p.c_str(), &ph); }, "\nPHENOTYPE..........",
       "fail\nError: Line 2 of phenotype file '" + p + "' has 2 fields; every row must have 3.\n"},
      {[&] { load_genotype(g.c_str(), 2, &gs); }, "\nGENOTYPE..........",
       "fail\nError: Line 2 of genotype file '" + g +
           "': value '-1' in column 2 is not a genotype (a number from 0 to 2; missing values are written NA).\n"},
      {[&] { load_mapping(m.c_str(), 2, &md); }, "\nGENE-SNP MAPFILE..........",
       "fail\nError: Line 2 of gene-SNP mapfile '" + m + "': frequency 'nan' is not between 0 and 1.\n"},
      {[&] { load_phenotype(dir.c_str(), &ph); }, "\nPHENOTYPE..........",
       "fail\nError: Phenotype file '" + dir + "' is a directory.\n"},
  };
  for (const Case &c : cases) {
    std::string what;
    std::string out = capture([&] {
      try {
        c.load();
      } catch (const RunStop &stop) {
        EXPECT_EQ(stop.status, 1);
        ASSERT_EQ(stop.texts.size(), 2u);
        EXPECT_EQ(stop.texts[0].stream, RunStop::kStandardOutput);
        what = stop.texts[0].bytes;
        EXPECT_EQ(stop.texts[1].stream, RunStop::kStandardOutput);
        EXPECT_EQ(stop.texts[1].bytes, test_support::kStop);
      }
    });
    EXPECT_EQ(out, c.label);
    EXPECT_EQ(what, c.message);
  }
  free_phenotype(&ph);
  free_genotype(&gs);
  free_mapping(&md, 2);
}

}  // namespace
