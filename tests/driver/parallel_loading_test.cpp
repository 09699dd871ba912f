// The genotype loading in line-aligned byte ranges on several threads
// against the one-thread loading: the same summary, identifiers, row offsets
// and standard output for valid files, and the same message for faulty ones,
// with faults placed on every kind of line (first, last, at and next to the
// ranges' starts) and ranges from one byte (a range boundary after every
// line) to larger than the file.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver/file_checks.h"
#include "driver/input.h"
#include "numeric/run_stop.h"
#include "driver_test_support.h"
#include "gene_pass_support.h"

namespace {

using test_support::write_file;

// What a loading gave: its standard output, its message (empty when it
// succeeded) and its summary.
struct Loaded {
  std::string out, error;
  GenotypeSummary g;
};

Loaded load(const std::string &path, long N, int threads, long range_bytes) {
  Loaded l;
  testing::internal::CaptureStdout();
  try {
    load_genotype_on(path.c_str(), N, &l.g, threads, range_bytes);
  } catch (const RunStop &stop) {
    if (!stop.texts.empty()) l.error = stop.texts[0].bytes;
  }
  l.out = testing::internal::GetCapturedStdout();
  return l;
}

// Every array of the two summaries, bit for bit.
void expect_same_summary(const GenotypeSummary &a, const GenotypeSummary &b) {
  ASSERT_EQ(b.geno_NROW, a.geno_NROW);
  ASSERT_EQ(b.geno_NCOL, a.geno_NCOL);
  const std::size_t n = static_cast<std::size_t>(a.geno_NROW);
  EXPECT_EQ(std::memcmp(b.geno_naRate, a.geno_naRate, n * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(b.geno_maf, a.geno_maf, n * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(b.geno_singular, a.geno_singular, n * sizeof(int)), 0);
  EXPECT_EQ(std::memcmp(b.geno_offset, a.geno_offset, n * sizeof(long)), 0);
  for (std::size_t r = 0; r < n; r++) {
    EXPECT_STREQ(b.geno_snpID[r], a.geno_snpID[r]) << "row " << r;
    EXPECT_EQ(b.geno_snpID[r] - b.geno_snpID_storage, a.geno_snpID[r] - a.geno_snpID_storage) << "row " << r;
  }
}

// Loads path on one thread and on several with ranges of several sizes and
// expects the same outcome every time. Returns the one-thread message.
std::string expect_same_loading(const std::string &path, long N) {
  Loaded one = load(path, N, 1, 0);
  for (int threads : {2, 3, 8})
    for (long range_bytes : {1L, 13L, 200L, 5000L, 1L << 30}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, ranges of " + std::to_string(range_bytes) + " bytes");
      Loaded many = load(path, N, threads, range_bytes);
      EXPECT_EQ(many.out, one.out);
      EXPECT_EQ(many.error, one.error);
      if (one.error.empty() && many.error.empty()) expect_same_summary(one.g, many.g);
      free_genotype(&many.g);
    }
  free_genotype(&one.g);
  return one.error;
}

// A valid genotype file of `rows` rows and N values each, in every spelling
// the loading keeps: tabs and blanks, dosages, missing values, a carriage
// return before some newlines, identifiers of several lengths.
std::vector<std::string> valid_lines(std::mt19937 &rng, long rows, long N) {
  const char *values[] = {"0", "0", "0", "0", "1", "1", "2", "NA", "0.25", "1.0", "NAN", "2e0", "+1", "0.0"};
  std::vector<std::string> lines;
  for (long r = 0; r < rows; r++) {
    std::string line = "rs" + std::to_string(r) + std::string(rng() % 4, 'x');
    for (long i = 0; i < N; i++) {
      line += rng() % 9 == 0 ? " \t" : "\t";
      line += values[rng() % (sizeof values / sizeof *values)];
    }
    if (rng() % 5 == 0) line += "\r";
    lines.push_back(line);
  }
  return lines;
}

std::string joined(const std::vector<std::string> &lines, bool final_newline) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); i++) text += lines[i] + (i + 1 < lines.size() || final_newline ? "\n" : "");
  return text;
}

TEST(GenotypeLoadingInRanges, ValidFilesGiveTheOneThreadSummary) {
  std::mt19937 rng(7);
  const std::string dir = test_support::temp_dir();
  struct Layout {
    const char *name;
    std::string prefix;
    bool final_newline;
  } layouts[] = {
      {"plain", "", true},
      {"no final newline", "", false},
      {"byte-order mark", "\xEF\xBB\xBF", true},
  };
  for (const Layout &layout : layouts)
    for (long rows : {1L, 2L, 5L, 40L}) {
      SCOPED_TRACE(std::string(layout.name) + ", " + std::to_string(rows) + " rows");
      const long N = 3 + static_cast<long>(rng() % 6);
      const std::string path = write_file(dir, "geno.txt", layout.prefix + joined(valid_lines(rng, rows, N), layout.final_newline));
      EXPECT_EQ(expect_same_loading(path, N), "");
    }
}

// Texts the counting pass reads in its own way: a first byte that is a tab
// or a newline (uncounted), a trailing empty line, a file without tabs, a
// byte-order mark alone, every row with one value too few.
TEST(GenotypeLoadingInRanges, EdgesOfTheCountingPassGiveTheOneThreadOutcome) {
  const std::string dir = test_support::temp_dir();
  struct Case {
    const char *text;
    long N;
  } cases[] = {
      {"\tv1\t0\t1\nv2\t1\t1\t0\n", 2}, {"\nv1\t0\t1\nv2\t1\t1\n", 2},  {"v1\t0\t1\nv2\t1\t1\n\n", 2},
      {"v1 0 1\nv2 1 1\n", 2},          {"\xEF\xBB\xBF", 1},            {"\xEF\xBB\xBF\n", 1},
      {"v1\t0\nv2\t1\nv3\t2\n", 2},     {"v1\t0\t1\n", 2},              {"\n", 1},
      {"v1\t0\t1\t\nv2\t1\t1\t\n", 2},  {"\tv1\t0\t1\nv2\t1 1\n", 2},  {"v1\t0\t1\r\nv2\t1\t1", 2},   {"\n\n\n\t\t\t\t\t\t", 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string("text '") + c.text + "'");
    const std::string path = write_file(dir, "geno.txt", c.text);
    expect_same_loading(path, c.N);
  }
}

// A fault written onto line `line` (0-based) of a valid file.
struct Fault {
  const char *name;
  void (*apply)(std::vector<std::string> &lines, std::size_t line);
};

void replace_value(std::vector<std::string> &lines, std::size_t line, const std::string &value) {
  std::string &l = lines[line];
  const std::size_t tab = l.find('\t', l.find('\t') + 1);  // before the second value
  std::size_t end = l.find_first_of(" \t\r", tab + 1);
  if (end == std::string::npos) end = l.size();
  l.replace(tab + 1, end - tab - 1, value);
}

const Fault kFaults[] = {
    {"text", [](std::vector<std::string> &l, std::size_t i) { replace_value(l, i, "x"); }},
    {"call", [](std::vector<std::string> &l, std::size_t i) { replace_value(l, i, "0/1"); }},
    {"above two", [](std::vector<std::string> &l, std::size_t i) { replace_value(l, i, "3"); }},
    {"trailing text", [](std::vector<std::string> &l, std::size_t i) { replace_value(l, i, "0.5x"); }},
    {"token too long", [](std::vector<std::string> &l, std::size_t i) { replace_value(l, i, std::string(1024, '1')); }},
    {"identifier too long", [](std::vector<std::string> &l, std::size_t i) { l[i] = std::string(256, 'i') + l[i]; }},
    {"identifier with NUL", [](std::vector<std::string> &l, std::size_t i) { l[i].insert(1, 1, '\0'); }},
    {"extra value", [](std::vector<std::string> &l, std::size_t i) { l[i] += "\t1"; }},
    {"value missing", [](std::vector<std::string> &l, std::size_t i) { l[i] = l[i].substr(0, l[i].rfind('\t')); }},
    {"blank line", [](std::vector<std::string> &l, std::size_t i) { l[i] = "  "; }},
};

TEST(GenotypeLoadingInRanges, FirstFaultyLineInFileOrderGivesTheOneThreadMessage) {
  std::mt19937 rng(11);
  const std::string dir = test_support::temp_dir();
  const long rows = 30, N = 6;
  const std::vector<std::string> clean = valid_lines(rng, rows, N);
  for (const Fault &fault : kFaults)
    for (std::size_t line : {std::size_t(0), std::size_t(1), std::size_t(14), std::size_t(28), std::size_t(29)}) {
      SCOPED_TRACE(std::string(fault.name) + " on line " + std::to_string(line + 1));
      std::vector<std::string> lines = clean;
      fault.apply(lines, line);
      const std::string path = write_file(dir, "geno.txt", joined(lines, true));
      const std::string first = expect_same_loading(path, N);
      EXPECT_NE(first, "");
      // With a second fault of another kind later in the file, the first one
      // is still the one named.
      if (line + 3 < lines.size()) {
        const Fault &later = kFaults[(&fault - kFaults + 1) % (sizeof kFaults / sizeof *kFaults)];
        std::vector<std::string> both = lines;
        later.apply(both, line + 3);
        const std::string path2 = write_file(dir, "geno2.txt", joined(both, true));
        const std::string two = expect_same_loading(path2, N);
        if (first.find("subject number") == std::string::npos && two.find("subject number") == std::string::npos) {
          EXPECT_EQ(two, std::string(first).replace(first.find(path), path.size(), path2));
        }
      }
    }
}

// The whole program on a genotype file of several 4 MB ranges: the same
// standard output, message log and result files on one thread and on
// several, and the same stop for a fault on the file's last line.
TEST(GenotypeLoadingInRanges, WholeRunsOnAFileOfSeveralRangesEqualTheOneThreadRun) {
  using namespace gene_pass_test;
  const std::string data = scratch_dir();
  generate(data, "-subjects 1200 -variants 4500 -genes 30 -trait binary -covariates 1 -missing 0.01 -seed 5");
  ASSERT_GT(read_file(data + "/geno.txt").size(), std::size_t(10) << 20) << "the file must span several ranges";
  // Genes of four variants each from the last rows of the mapping, so that
  // the rows are read again at offsets recorded by a late range.
  const std::vector<std::string> map_rows = split(read_file(data + "/mapping.txt"), '\n');
  std::string tail;
  for (std::size_t i = map_rows.size() > 121 ? map_rows.size() - 121 : 0, k = 0; i < map_rows.size(); i++) {
    const std::vector<std::string> f = split(map_rows[i], '\t');
    if (f.size() == 2) tail += "T" + std::to_string(k++ / 4) + "\t" + f[1] + "\n";
  }
  write_file(data, "mapping.txt", tail);
  const std::string args = "-com 0.05";
  const Outputs one = run_and_collect_env(data, "QUORVEX_THREADS=1 ", args);
  ASSERT_EQ(one.status, 0) << one.files.at("stdout");
  ASSERT_NE(one.files.at("rare.out"), "<none>");
  for (int threads : {2, 8})
    expect_same_outputs(one, run_and_collect_env(data, "QUORVEX_THREADS=" + std::to_string(threads) + " ", args),
                        std::to_string(threads) + " threads");

  std::string geno = read_file(data + "/geno.txt");
  const std::size_t last = geno.rfind('\n', geno.size() - 2) + 1;
  const std::size_t value = geno.find('\t', last) + 1;
  geno.replace(value, geno.find('\t', value) - value, "1|0");
  write_file(data, "geno.txt", geno);
  const Outputs bad = run_and_collect_env(data, "QUORVEX_THREADS=1 ", args);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.files.at("stdout").find("Error: Line 4500 of genotype file '" + data +
                                        "/geno.txt': value '1|0' in column 2 is not a genotype: genotypes are allele "
                                        "counts (0, 1, 2 or NA), not calls.\n"),
            std::string::npos)
      << bad.files.at("stdout");
  expect_same_outputs(bad, run_and_collect_env(data, "QUORVEX_THREADS=8 ", args), "8 threads, faulty file");
  remove_dir(data);
}

}  // namespace
