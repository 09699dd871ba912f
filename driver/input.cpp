#include "driver/input.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/file_checks.h"
#include "driver/genotype_tokens.h"
#include "driver/text_file.h"
#include "numeric/arrays.h"
#include "numeric/parallel.h"
#include "stats/sorts.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxIdentifier = 255;  // bytes of an identifier
constexpr std::size_t kMaxToken = 1023;      // bytes of any other token

// Closes a file when the loader leaves, also through a stop that throws.
struct FileCloser {
  std::FILE *f;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
};

CountResult count_file(const char *name, const char *kind) {
  std::FILE *f = open_input_file(name, kind);
  FileCloser closer{f};
  return count_rows_and_tabs(f);
}

// The next blank-separated token of [*p, end) as [*tb, *te); false when the
// line holds no further token.
bool next_token(const char **p, const char *end, const char **tb, const char **te) {
  const char *q = *p;
  while (q < end && is_blank(*q)) q++;
  if (q == end) {
    *p = q;
    return false;
  }
  *tb = q;
  while (q < end && !is_blank(*q)) q++;
  *te = q;
  *p = q;
  return true;
}

long count_tokens(const char *b, const char *e) {
  long n = 0;
  const char *tb = b, *te = b;
  while (next_token(&b, e, &tb, &te)) n++;
  return n;
}

// Copies a token of at most kMaxToken bytes into a zero-terminated buffer.
void token_text(const char *tb, const char *te, char (&text)[kMaxToken + 1]) {
  std::size_t len = static_cast<std::size_t>(te - tb);
  std::memcpy(text, tb, len);
  text[len] = '\0';
}

// A whole token read as a real number in the syntax of scanf "%lg" (a NUL
// byte inside the token leaves it unread, so the token is refused).
bool parse_real(const char *text, std::size_t length, double *value) {
  char *stop = nullptr;
  *value = std::strtod(text, &stop);
  return stop != text && stop == text + length;
}

// Identifier texts of one list: kept in one block, each zero-terminated,
// addressed by an array of pointers that the sorts may reorder.
class IdentifierStore {
 public:
  void add(const char *b, const char *e) {
    starts_.push_back(bytes_.size());
    bytes_.insert(bytes_.end(), b, e);
    bytes_.push_back('\0');
  }
  // Appends the texts of other after those held here, in its order.
  void append(const IdentifierStore &other) {
    const std::size_t base = bytes_.size();
    bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
    for (std::size_t at : other.starts_) starts_.push_back(base + at);
  }
  void finish(long n, char ***ids, char **storage) {
    *storage = static_cast<char *>(std::malloc(bytes_.empty() ? 1 : bytes_.size()));
    if (!*storage) nrerror("allocation failure of identifier storage");
    if (!bytes_.empty()) std::memcpy(*storage, bytes_.data(), bytes_.size());
    *ids = static_cast<char **>(std::malloc(sizeof(char *) * static_cast<std::size_t>(n > 0 ? n : 1)));
    if (!*ids) nrerror("allocation failure of identifier storage");
    for (long i = 0; i < n; i++) (*ids)[i] = *storage + starts_[static_cast<std::size_t>(i)];
  }

 private:
  std::vector<char> bytes_;
  std::vector<std::size_t> starts_;
};

void check_identifier(const char *tb, const char *te, long line, const char *kind, const char *name) {
  if (static_cast<std::size_t>(te - tb) > kMaxIdentifier)
    stop_run("fail\nError: Line %ld of %s '%s' holds an identifier longer than 255 bytes.\n", line, kind, name);
  // Identifiers are kept as C strings: a NUL byte would cut one short.
  if (std::memchr(tb, '\0', static_cast<std::size_t>(te - tb)) != nullptr)
    stop_run("fail\nError: Line %ld of %s '%s' holds an identifier with a NUL byte.\n", line, kind, name);
}

void check_token(const char *tb, const char *te, long line, const char *kind, const char *name) {
  if (static_cast<std::size_t>(te - tb) > kMaxToken)
    stop_run("fail\nError: Line %ld of %s '%s' holds a token longer than 1023 bytes.\n", line, kind, name);
}

[[noreturn]] void fail_fields(long line, const char *kind, const char *name, long fields, long expected) {
  stop_run("fail\nError: Line %ld of %s '%s' has %ld fields; every row must have %ld.\n", line, kind, name,
           fields, expected);
}

const char kPhenotypeKind[] = "phenotype file";
const char kGenotypeKind[] = "genotype file";
const char kMappingKind[] = "gene-SNP mapfile";

// Trait binary test: values within 1e-10 of 0 or 1 are set to exactly 0 or
// 1; the first other value makes the trait quantitative and ends the scan.
int classify_trait(long N, double *y) {
  for (long i = 0; i < N; i++) {
    if (std::fabs(y[i]) < 1e-10)
      y[i] = 0.0;
    else if (std::fabs(y[i] - 1.0) < 1e-10)
      y[i] = 1.0;
    else
      return 0;
  }
  return 1;
}

// The number of fields most rows have (the earliest such count on a tie).
long usual_count(const std::vector<long> &fields, long otherwise) {
  std::vector<std::pair<long, long>> tally;  // (fields, rows), in order of first sight
  for (long n : fields) {
    std::size_t t = 0;
    while (t < tally.size() && tally[t].first != n) t++;
    if (t == tally.size()) tally.emplace_back(n, 0);
    tally[t].second++;
  }
  long best = 0, usual = otherwise;
  for (const auto &t : tally)
    if (t.second > best) best = t.second, usual = t.first;
  return usual;
}

}  // namespace

void load_phenotype(const char *phenotype, PhenotypeData *ph) {
  std::printf("\nPHENOTYPE..........");
  CountResult c = count_file(phenotype, kPhenotypeKind);
  if (c.rows == 0) stop_run("fail\nError: Phenotype file '%s' is empty.\n", phenotype);
  const long N = c.rows, p = c.tabs / c.rows;
  const char *no_tab = "fail\nError: Phenotype file '%s' has no tab-separated columns.\n";
  if (c.tabs == 0) stop_run(no_tab, phenotype);

  // The file is small: its lines are checked as a whole first, so that an
  // empty line is named before the rows whose count of fields it upset.
  std::vector<std::string> lines;
  {
    std::FILE *f = open_input_file(phenotype, kPhenotypeKind);
    FileCloser closer{f};
    LineReader reader(f, std::size_t(1) << 16);
    const char *b, *e;
    long offset;
    while (static_cast<long>(lines.size()) < N && reader.next(&b, &e, &offset)) lines.emplace_back(b, e);
  }
  const long expected = p + 1;
  std::vector<long> fields(lines.size());
  for (std::size_t i = 0; i < lines.size(); i++) {
    fields[i] = count_tokens(lines[i].data(), lines[i].data() + lines[i].size());
    if (fields[i] == 0) fail_fields(static_cast<long>(i) + 1, kPhenotypeKind, phenotype, 0, expected);
  }
  // Tabs on fewer rows than the file has (a two-column file ending in an
  // empty line is named above) leave no column for the trait.
  if (p == 0) stop_run(no_tab, phenotype);
  // The column count comes from the tabs per row on average, which a ragged
  // row shifts: the row named is the first that differs from the count most
  // rows have (the earliest such count on a tie), so that the offending row
  // is named rather than the first one.
  const long usual = usual_count(fields, expected);
  for (std::size_t i = 0; i < lines.size(); i++)
    if (fields[i] != usual) fail_fields(static_cast<long>(i) + 1, kPhenotypeKind, phenotype, fields[i], usual);
  if (usual != expected) fail_fields(1, kPhenotypeKind, phenotype, usual, expected);

  ph->pheno_NROW = N;
  ph->pheno_NCOL = p;
  ph->y = dvector(0, N - 1);
  ph->z = dmatrix(0, N - 1, 0, p - 1);
  for (long i = 0; i < N; i++) {
    ph->z[i][0] = 1.0;
    const std::string &line = lines[static_cast<std::size_t>(i)];
    const char *q = line.data(), *end = line.data() + line.size(), *tb = q, *te = q;
    char text[kMaxToken + 1];
    for (long col = 0; next_token(&q, end, &tb, &te); col++) {
      check_token(tb, te, i + 1, kPhenotypeKind, phenotype);
      if (col == 0) continue;  // the subject identifier is not used
      token_text(tb, te, text);
      double value;
      if (!parse_real(text, static_cast<std::size_t>(te - tb), &value) || !std::isfinite(value))
        stop_run("fail\nError: Line %ld of phenotype file '%s': value '%s' in column %ld is not a number"
                 " (phenotypes have no missing-value code).\n",
                 i + 1, phenotype, text, col + 1);
      if (col == 1)
        ph->y[i] = value;
      else
        ph->z[i][col - 1] = value;
    }
  }
  ph->BINARY_Y = classify_trait(N, ph->y);
  std::puts("successful");
  std::printf("Is the phenotype binary? %s\n", ph->BINARY_Y ? "YES" : "NO");
}

namespace {

// Number of values (fields after the identifier) of a genotype line.
long genotype_values(const char *b, const char *e) {
  long n = count_tokens(b, e);
  return n > 0 ? n - 1 : 0;
}

// The tab count does not match N subjects per row. When the rows do not all
// hold the same number of values, the first row without N values is named;
// otherwise (every row has the same wrong count) the subject numbers differ.
[[noreturn]] void fail_genotype_shape(const char *genotype, long N) {
  std::FILE *f = open_input_file(genotype, kGenotypeKind);
  FileCloser closer{f};
  LineReader reader(f);
  const char *b, *e;
  long offset, first_count = -1, first_wrong = 0, wrong_count = 0;
  bool uniform = true;
  while (reader.next(&b, &e, &offset)) {
    long n = genotype_values(b, e);
    if (first_count < 0) first_count = n;
    if (n != first_count) uniform = false;
    if (n != N && first_wrong == 0) {
      first_wrong = reader.line_number();
      wrong_count = count_tokens(b, e);
    }
  }
  if (!uniform && first_wrong > 0) fail_fields(first_wrong, kGenotypeKind, genotype, wrong_count, N + 1);
  stop_run("fail\nError: subject number not match in genofile and phenofile.\n");
}

// A genotype is the count of the coded allele: a number in [0, 2] written as
// a whole token, or missing. A token with '/' or '|' is a call of a variant
// file written where its allele count belongs.
[[noreturn]] void fail_genotype_value(const char *genotype, long line, long column, const char *text) {
  if (std::strpbrk(text, "/|") != nullptr)
    stop_run("fail\nError: Line %ld of genotype file '%s': value '%s' in column %ld is not a genotype:"
             " genotypes are allele counts (0, 1, 2 or NA), not calls.\n",
             line, genotype, text, column);
  stop_run("fail\nError: Line %ld of genotype file '%s': value '%s' in column %ld is not a genotype"
           " (a number from 0 to 2; missing values are written NA).\n",
           line, genotype, text, column);
}

// Summary of one genotype row.
struct RowSummary {
  double naRate, maf;
  int singular;
};

// A fault of a row met while checking without reporting (summarize_row with
// report off): the parallel loading notes the row and reads it again later
// with report on, in file order, to stop with its message.
struct RowFault {};

// Reads genotype line [b, e), line number `line` of a file of N subjects per
// row, into *out and its identifier into ids. The first fault, in the order
// of the line's tokens, stops the run with its message when report is on,
// else throws RowFault.
void summarize_row(const char *genotype, long N, long line, const char *b, const char *e, bool report,
                   IdentifierStore &ids, RowSummary *out) {
  const long expected = N + 1;
  auto fault = [report] {
    if (!report) throw RowFault{};
  };
  const char *q = b, *tb = b, *te = b;
  if (!next_token(&q, e, &tb, &te)) fault(), fail_fields(line, kGenotypeKind, genotype, 0, expected);
  if (static_cast<std::size_t>(te - tb) > kMaxIdentifier ||
      std::memchr(tb, '\0', static_cast<std::size_t>(te - tb)) != nullptr)
    fault(), check_identifier(tb, te, line, kGenotypeKind, genotype);
  ids.add(tb, te);

  long missing = 0;
  double sum = 0.0, lo = 0.0, hi = 0.0;
  bool observed = false;
  auto observe = [&](double x) {
    sum += x;
    if (!observed) {
      lo = hi = x;
      observed = true;
    } else {
      if (x < lo) lo = x;
      if (x > hi) hi = x;
    }
  };
  char text[kMaxToken + 1];
  long column = 1;  // the file column of the current token (the identifier is column 1)
  const long values = for_each_row_token(
      q, e,
      // One-character token: the usual 0, 1 or 2 is its own value; any
      // other character is no genotype ("N" alone included: it is no
      // missing value, which is written NA).
      [&](char c) {
        column++;
        if (c < '0' || c > '2') {
          fault();
          const char one[2] = {c, '\0'};
          fail_genotype_value(genotype, line, column, one);
        }
        observe(static_cast<double>(c - '0'));
      },
      [&](const char *vb, const char *ve) {
        column++;
        if (static_cast<std::size_t>(ve - vb) > kMaxToken) fault(), check_token(vb, ve, line, kGenotypeKind, genotype);
        if (vb[0] == 'N' && vb[1] == 'A') {
          missing++;
          return;
        }
        token_text(vb, ve, text);
        // A number as a whole, in the syntax of scanf "%lg"; not a number,
        // infinite, negative (a "-1" missing code) or above 2 is refused.
        // Every token kept reads as the same value and the same missing
        // state in the passes' reading (genotype_token_value).
        double x;
        if (!parse_real(text, static_cast<std::size_t>(ve - vb), &x) || !(x >= 0.0 && x <= 2.0))
          fault(), fail_genotype_value(genotype, line, column, text);
        observe(x);
      });
  if (values != N) fault(), fail_fields(line, kGenotypeKind, genotype, values + 1, expected);
  if (observed) {
    out->singular = lo == hi ? 1 : 0;
    out->maf = sum / (2.0 * static_cast<double>(N - missing));
  } else {
    // No observed value: frequency 0 and monomorphic, so no pass uses it.
    out->singular = 1;
    out->maf = 0.0;
  }
  out->naRate = static_cast<double>(missing) / static_cast<double>(N);
}

void allocate_summary(long rows, long ncol, GenotypeSummary *g) {
  g->geno_NROW = rows;
  g->geno_NCOL = ncol;
  g->geno_naRate = dvector(0, rows - 1);
  g->geno_maf = dvector(0, rows - 1);
  g->geno_singular = ivector(0, static_cast<int>(rows - 1));
  g->geno_offset = static_cast<long *>(std::malloc(sizeof(long) * static_cast<std::size_t>(rows)));
  if (!g->geno_offset) nrerror("allocation failure of genotype row offsets");
}

void keep_row(const RowSummary &row, long offset, long r, GenotypeSummary *g) {
  g->geno_offset[r] = offset;
  g->geno_naRate[r] = row.naRate;
  g->geno_maf[r] = row.maf;
  g->geno_singular[r] = row.singular;
}

// The genotype loading after its label, in the straightforward order of
// work: the counting pass over the whole file, the check of the number of
// values per row, then the rows one after another.
void load_genotype_rows(const char *genotype, long N, GenotypeSummary *g) {
  CountResult c = count_file(genotype, kGenotypeKind);
  if (c.rows == 0) stop_run("fail\nError: Genotype file '%s' is empty.\n", genotype);
  const long rows = c.rows, ncol = c.tabs / c.rows;
  if (ncol != N) fail_genotype_shape(genotype, N);
  allocate_summary(rows, ncol, g);

  std::FILE *f = open_input_file(genotype, kGenotypeKind);
  FileCloser closer{f};
  LineReader reader(f);
  IdentifierStore ids;
  for (long r = 0; r < rows; r++) {
    const char *b = nullptr, *e = nullptr;
    long offset = 0;
    if (!reader.next(&b, &e, &offset)) fail_fields(r + 1, kGenotypeKind, genotype, 0, N + 1);
    RowSummary row;
    summarize_row(genotype, N, reader.line_number(), b, e, true, ids, &row);
    keep_row(row, offset, r, g);
  }
  ids.finish(rows, &g->geno_snpID, &g->geno_snpID_storage);
}

// What one byte range of the genotype file gives: the counts of the
// counting pass over its bytes, and the summaries of its lines up to the
// first faulty one.
struct RangeResult {
  long lines = 0;     // lines of the range
  long newlines = 0;  // newline characters
  long tabs = 0;      // tab characters
  std::vector<long> offsets;
  std::vector<RowSummary> rows;  // the lines before the first faulty one
  IdentifierStore ids;
  long fault = -1;  // index in the range of the first faulty line (-1: none)
  long fault_offset = 0;
  bool unread = false;  // the file could not be opened
};

void load_range(const char *genotype, long N, long begin, long end, RangeResult *r) {
  std::FILE *f = std::fopen(genotype, "rb");
  if (!f) {
    r->unread = true;
    return;
  }
  FileCloser closer{f};
  thread_local std::vector<char> buffer;
  LineReader reader(f, &buffer, std::size_t(1) << 22, begin, end);
  const char *b = nullptr, *e = nullptr;
  long offset = 0;
  while (reader.next(&b, &e, &offset)) {
    r->tabs += count_tabs(b, e);
    r->newlines += reader.ended_with_newline() ? 1 : 0;
    if (r->fault < 0) {
      try {
        RowSummary row;
        summarize_row(genotype, N, 0, b, e, false, r->ids, &row);
        r->rows.push_back(row);
        r->offsets.push_back(offset);
      } catch (const RowFault &) {
        r->fault = r->lines;
        r->fault_offset = offset;
      }
    }
    r->lines++;
  }
}

// The byte at offset of the open file f (-1 when it cannot be read).
int byte_at(std::FILE *f, long offset) {
  unsigned char c;
  return pread(fileno(f), &c, 1, static_cast<off_t>(offset)) == 1 ? c : -1;
}

// Starts of ranges of about equal size, each at the start of a line: the
// first line start at or after each k * size / ranges.
std::vector<long> range_starts(std::FILE *f, long size, long ranges) {
  std::vector<long> starts(1, 0);
  std::vector<char> chunk(std::size_t(1) << 16);
  for (long k = 1; k < ranges; k++) {
    long at = static_cast<long>(static_cast<double>(size) * static_cast<double>(k) / static_cast<double>(ranges)) - 1;
    if (at < starts.back()) at = starts.back();
    long start = size;
    while (at < size) {
      const ssize_t n = pread(fileno(f), chunk.data(), chunk.size(), static_cast<off_t>(at));
      if (n <= 0) break;
      const void *nl = std::memchr(chunk.data(), '\n', static_cast<std::size_t>(n));
      if (nl) {
        start = at + static_cast<long>(static_cast<const char *>(nl) - chunk.data()) + 1;
        break;
      }
      at += n;
    }
    if (start > starts.back() && start < size) starts.push_back(start);
  }
  return starts;
}

// The same loading on `threads` threads over line-aligned byte ranges: each
// range is counted and summarized in one walk, and the ranges are merged in
// file order. The counts give the counting pass's rows and tabs (its first
// byte uncounted), so the shape check comes first as on one thread; then the
// first faulty line in file order is read again and stops the run with its
// message. Returns false (nothing done) when a range could not be read; the
// caller then loads on one thread.
bool load_genotype_in_ranges(const char *genotype, long N, GenotypeSummary *g, int threads, long range_bytes) {
  std::FILE *f = open_input_file(genotype, kGenotypeKind);
  FileCloser closer{f};
  struct stat st;
  if (fstat(fileno(f), &st) != 0) return false;
  const long size = static_cast<long>(st.st_size);
  if (size == 0) stop_run("fail\nError: Genotype file '%s' is empty.\n", genotype);
  const int first = byte_at(f, 0), last = byte_at(f, size - 1);
  if (first < 0 || last < 0) return false;
  const long wanted = range_bytes > 0 ? (size + range_bytes - 1) / range_bytes : 1;
  const std::vector<long> starts = range_starts(f, size, wanted);
  const long n = static_cast<long>(starts.size());
  std::vector<RangeResult> results(static_cast<std::size_t>(n));
  run_in_order(n, threads, n, [&](long k, int) {
    const long end = k + 1 < n ? starts[static_cast<std::size_t>(k + 1)] : size;
    load_range(genotype, N, starts[static_cast<std::size_t>(k)], end, &results[static_cast<std::size_t>(k)]);
  });
  long newlines = 0, tabs = 0, lines = 0;
  for (const RangeResult &r : results) {
    if (r.unread) return false;
    newlines += r.newlines;
    tabs += r.tabs;
  }
  // The counting pass leaves the file's first byte uncounted and adds a row
  // for a last line without a newline.
  if (first == '\n') newlines--;
  if (first == '\t') tabs--;
  const long rows = newlines + (last != '\n' ? 1 : 0);
  if (rows == 0) stop_run("fail\nError: Genotype file '%s' is empty.\n", genotype);
  const long ncol = tabs / rows;
  if (ncol != N) fail_genotype_shape(genotype, N);

  // Only the first `rows` lines are rows, as on one thread (a file has more
  // lines than rows only when its first byte is a newline, and then line 1
  // is faulty).
  for (const RangeResult &r : results) {
    if (r.fault >= 0 && lines + r.fault < rows) {
      std::FILE *again = open_input_file(genotype, kGenotypeKind);
      FileCloser closer_again{again};
      LineReader reader(again, std::size_t(1) << 22, r.fault_offset, size);
      const char *b = nullptr, *e = nullptr;
      long offset = 0;
      if (reader.next(&b, &e, &offset)) {
        IdentifierStore ids;
        RowSummary row;
        summarize_row(genotype, N, lines + r.fault + 1, b, e, true, ids, &row);
      }
      return false;  // the file changed under the loading: read it again on one thread
    }
    lines += r.lines;
  }
  if (lines < rows) fail_fields(lines + 1, kGenotypeKind, genotype, 0, N + 1);

  allocate_summary(rows, ncol, g);
  IdentifierStore ids;
  long row = 0;
  for (RangeResult &r : results) {
    for (std::size_t i = 0; i < r.rows.size() && row < rows; i++, row++) keep_row(r.rows[i], r.offsets[i], row, g);
    ids.append(r.ids);
    r = RangeResult();
  }
  ids.finish(rows, &g->geno_snpID, &g->geno_snpID_storage);
  return true;
}

// Ranges of the parallel loading: at least this many bytes each, and about
// four per thread so that a thread slowed by the machine's other work holds
// up little.
constexpr long kMinRangeBytes = long(1) << 22;
constexpr long kRangesPerThread = 4;

}  // namespace

void load_genotype_on(const char *genotype, long N, GenotypeSummary *g, int threads, long range_bytes) {
  std::printf("\nGENOTYPE..........");
  if (threads <= 1 || !load_genotype_in_ranges(genotype, N, g, threads, range_bytes)) {
    free_genotype(g);
    load_genotype_rows(genotype, N, g);
  }
  std::puts("successful");
}

void load_genotype(const char *genotype, long N, GenotypeSummary *g) {
  int threads = thread_count();
  long range_bytes = 0;
  if (threads > 1) {
    struct stat st;
    const long size = stat(genotype, &st) == 0 ? static_cast<long>(st.st_size) : 0;
    range_bytes = size / (threads * kRangesPerThread);
    if (range_bytes < kMinRangeBytes) range_bytes = kMinRangeBytes;
    if (size <= range_bytes) threads = 1;  // a file of one range is loaded on one thread
  }
  load_genotype_on(genotype, N, g, threads, range_bytes);
}

namespace {

// A mapping row with the wrong number of fields. The column count comes from
// the tabs per row on average, which a ragged row shifts: when most rows
// hold 2, 3 or 4 fields and that is not the count in force, the first row
// that differs from most rows is named.
[[noreturn]] void fail_mapping_fields(const char *mapfile, long line, long fields, long used) {
  std::vector<long> counts;
  {
    std::FILE *f = open_input_file(mapfile, kMappingKind);
    FileCloser closer{f};
    LineReader reader(f, std::size_t(1) << 20);
    const char *b, *e;
    long offset;
    while (reader.next(&b, &e, &offset)) counts.push_back(count_tokens(b, e));
  }
  const long usual = usual_count(counts, used);
  if (usual != used && usual >= 2 && usual <= 4)
    for (std::size_t i = 0; i < counts.size(); i++)
      if (counts[i] != usual) fail_fields(static_cast<long>(i) + 1, kMappingKind, mapfile, counts[i], usual);
  fail_fields(line, kMappingKind, mapfile, fields, used);
}

}  // namespace

void load_mapping(const char *mapfile, long geno_NROW, MappingData *m) {
  std::printf("\nGENE-SNP MAPFILE..........");
  CountResult c = count_file(mapfile, kMappingKind);
  if (c.rows == 0) stop_run("fail\nError: Gene-SNP mapfile '%s' is empty.\n", mapfile);
  const long rows = c.rows, cols = c.tabs / c.rows + 1;
  if (cols < 2)
    stop_run("fail\nError: Need at least two columns in mapping file: first column for geneID, second column for SNPID.\n");

  m->map_NROW = rows;
  m->maf_flag = cols <= 2 ? 1 : 0;
  m->EXT_THRESH = cols == 4 ? 1 : 0;
  if (m->EXT_THRESH) m->thresh_index = ivector(0, static_cast<int>(geno_NROW - 1));
  if (!m->maf_flag) m->map_maf = dvector(0, rows - 1);
  if (m->EXT_THRESH) m->map_thresh = ivector(0, static_cast<int>(rows - 1));

  // Columns read per row: 2, 3 or 4; a file of five or more columns is read
  // as a three-column file, the rest of each line ignored.
  const long used = cols >= 5 ? 3 : cols;
  std::FILE *f = open_input_file(mapfile, kMappingKind);
  FileCloser closer{f};
  LineReader reader(f, std::size_t(1) << 20);
  IdentifierStore genes, snps;
  char text[kMaxToken + 1];
  for (long r = 0; r < rows; r++) {
    const char *b = nullptr, *e = nullptr;
    long offset = 0;
    bool got = reader.next(&b, &e, &offset);
    const long line = got ? reader.line_number() : r + 1;
    const long fields = got ? count_tokens(b, e) : 0;
    if (cols >= 5 ? fields < used : fields != used) {
      if (cols < 5) fail_mapping_fields(mapfile, line, fields, used);
      if (cols >= 5)
        stop_run("fail\nError: Line %ld of gene-SNP mapfile '%s' has %ld fields; every row must have at least 3.\n",
                 line, mapfile, fields);
      fail_fields(line, kMappingKind, mapfile, fields, used);
    }
    const char *q = b, *tb = b, *te = b;
    for (long col = 0; col < used; col++) {
      next_token(&q, e, &tb, &te);
      check_token(tb, te, line, kMappingKind, mapfile);
      if (col < 2) {
        check_identifier(tb, te, line, kMappingKind, mapfile);
        (col == 0 ? genes : snps).add(tb, te);
        continue;
      }
      token_text(tb, te, text);
      if (col == 2) {
        if (!parse_real(text, static_cast<std::size_t>(te - tb), &m->map_maf[r]))
          stop_run("fail\nError: Line %ld of gene-SNP mapfile '%s': frequency '%s' is not a number.\n", line,
                   mapfile, text);
        if (!(m->map_maf[r] >= 0.0 && m->map_maf[r] <= 1.0))
          stop_run("fail\nError: Line %ld of gene-SNP mapfile '%s': frequency '%s' is not between 0 and 1.\n",
                   line, mapfile, text);
      } else if (std::strcmp(text, "0") == 0 || std::strcmp(text, "1") == 0) {
        m->map_thresh[r] = text[0] - '0';
      } else {
        stop_run("fail\nError: Line %ld of gene-SNP mapfile '%s': threshold flag '%s' is neither 0 nor 1.\n", line,
                 mapfile, text);
      }
    }
  }
  genes.finish(rows, &m->map_geneID, &m->map_geneID_storage);
  snps.finish(rows, &m->map_snpID, &m->map_snpID_storage);

  const int n = static_cast<int>(rows);
  if (cols == 2)
    StringSort_map(n, m->map_geneID, m->map_snpID);
  else if (cols == 4)
    StringSort_map3(n, m->map_geneID, m->map_snpID, m->map_maf, m->map_thresh);
  else
    StringSort_map2(n, m->map_geneID, m->map_snpID, m->map_maf);
  m->N_GENE = 1;
  for (long i = 0; i + 1 < rows; i++)
    if (std::strcmp(m->map_geneID[i], m->map_geneID[i + 1]) != 0) m->N_GENE++;
  std::puts("successful");
}

void print_data_summary(const LoadedData &d) {
  std::puts("\nDATA SUMMARY:");
  if (d.mapping_read) std::printf("#GENE = %ld\n", d.map.N_GENE);
  std::printf("#SNP_ALL = %ld\n", d.geno.geno_NROW);
  std::printf("#SUBJECTS = %ld\n", d.pheno.pheno_NROW);
  std::printf("#COVARIATES = %ld\n", d.pheno.pheno_NCOL - 1);
}

void load_data(const Settings &s, LoadedData *d) {
  std::puts("\n*----------------- Loading data...-----------------*");
  load_phenotype(s.phenotype, &d->pheno);
  load_genotype(s.genotype, d->pheno.pheno_NROW, &d->geno);
  if (s.DORARE) {
    load_mapping(s.mapfile, d->geno.geno_NROW, &d->map);
    d->mapping_read = 1;
  } else {
    d->map.maf_flag = 1;
    d->map.EXT_THRESH = 0;
  }
  print_data_summary(*d);
}

void free_phenotype(PhenotypeData *ph) {
  if (ph->y) free_dvector(ph->y, 0, ph->pheno_NROW - 1);
  if (ph->z) free_dmatrix(ph->z, 0, ph->pheno_NROW - 1, 0, ph->pheno_NCOL - 1);
  *ph = PhenotypeData();
}

void free_genotype(GenotypeSummary *g) {
  if (g->geno_naRate) free_dvector(g->geno_naRate, 0, g->geno_NROW - 1);
  if (g->geno_maf) free_dvector(g->geno_maf, 0, g->geno_NROW - 1);
  if (g->geno_singular) free_ivector(g->geno_singular, 0, static_cast<int>(g->geno_NROW - 1));
  std::free(g->geno_offset);
  std::free(g->geno_snpID);
  std::free(g->geno_snpID_storage);
  *g = GenotypeSummary();
}

void free_mapping(MappingData *m, long geno_NROW) {
  if (m->map_maf) free_dvector(m->map_maf, 0, m->map_NROW - 1);
  if (m->map_thresh) free_ivector(m->map_thresh, 0, static_cast<int>(m->map_NROW - 1));
  if (m->thresh_index) free_ivector(m->thresh_index, 0, static_cast<int>(geno_NROW - 1));
  std::free(m->map_geneID);
  std::free(m->map_snpID);
  std::free(m->map_geneID_storage);
  std::free(m->map_snpID_storage);
  *m = MappingData();
}

void free_loaded_data(LoadedData *d) {
  free_mapping(&d->map, d->geno.geno_NROW);
  free_genotype(&d->geno);
  free_phenotype(&d->pheno);
  d->mapping_read = 0;
}
