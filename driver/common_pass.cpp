#include "driver/common_pass.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/common_resampling.h"
#include "driver/common_results.h"
#include "driver/file_checks.h"
#include "driver/gene_setup.h"
#include "driver/genotype_tokens.h"
#include "driver/resampling_pool.h"
#include "driver/text_file.h"
#include "numeric/gamma.h"
#include "stats/score.h"
#include "numeric/parallel.h"
#include "numeric/run_output.h"
#include "numeric/run_stop.h"

namespace {

const std::size_t kTokenBytes = 1024;  // any genotype value: at most 1023 characters
const std::size_t kRowBytes = 1024;    // a result row: identifier (<= 255) and five numbers

// The value of a one-character genotype token by the token rule of the
// passes: 'N' is missing (-1), a digit is its own value, anything else has
// no numeric prefix (0).
inline double one_char_value(char c) {
  return c == 'N' ? -1.0 : (c >= '0' && c <= '9') ? static_cast<double>(c - '0') : 0.0;
}

}  // namespace

bool common_variant_qualifies(const Settings &settings, const GenotypeSummary &geno, long k) {
  return geno.geno_maf[k] > settings.MAF_C && geno.geno_naRate[k] <= settings.NA_UB &&
         geno.geno_singular[k] == 0;
}

long read_common_row(const char *b, const char *e, long N, double *S) {
  const char *q = b;
  while (q < e && is_blank(*q)) q++;  // the identifier: skipped, the summary has it
  while (q < e && !is_blank(*q)) q++;
  long i = 0;
  char text[kTokenBytes];
  return for_each_row_token(
      q, e,
      [&](char c) {
        if (i < N) S[i] = one_char_value(c);
        i++;
      },
      [&](const char *tb, const char *te) {
        std::size_t len = static_cast<std::size_t>(te - tb);
        if (len > kTokenBytes - 1) len = kTokenBytes - 1;  // the loader refused longer ones
        std::memcpy(text, tb, len);
        text[len] = '\0';
        if (i < N) S[i] = genotype_token_value(text);
        i++;
      });
}

GenotypeCoding common_coding(const Settings &settings, double f) {
  GenotypeCoding c;
  if (settings.DOCMC) {
    c.model = GenotypeCoding::kDominant;
    c.missing = 1 - (1 - f) * (1 - f);
  } else if (settings.DOREC) {
    c.model = GenotypeCoding::kRecessive;
    c.missing = f * f;
  } else {
    c.model = GenotypeCoding::kAdditive;
    c.missing = 2 * f;
  }
  return c;
}

void code_common_variant(const Settings &settings, double f, long N, double *S) {
  const GenotypeCoding c = common_coding(settings, f);
  for (long i = 0; i < N; i++) S[i] = code_genotype(c, S[i]);
}

long read_coded_common_row(const char *b, const char *e, const GenotypeCoding &coding, long N,
                           double *S) {
  // The coded value of every one-character token, from the same rule as
  // read_common_row followed by code_genotype.
  double coded[256];
  for (int c = 0; c < 256; c++) {
    coded[c] = code_genotype(coding, one_char_value(static_cast<char>(c)));
  }
  const char *q = b;
  while (q < e && is_blank(*q)) q++;
  while (q < e && !is_blank(*q)) q++;
  long i = 0;
  char text[kTokenBytes];
  return for_each_row_token(
      q, e,
      [&](char c) {
        if (i < N) S[i] = coded[static_cast<unsigned char>(c)];
        i++;
      },
      [&](const char *tb, const char *te) {
        std::size_t len = static_cast<std::size_t>(te - tb);
        if (len > kTokenBytes - 1) len = kTokenBytes - 1;
        std::memcpy(text, tb, len);
        text[len] = '\0';
        if (i < N) S[i] = code_genotype(coding, genotype_token_value(text));
        i++;
      });
}

double common_score_test(const LoadedData &data, const NullModel &null_model,
                         CommonVariant &variant) {
  const int N = (int)data.pheno.pheno_NROW, p = (int)data.pheno.pheno_NCOL;
  if (data.pheno.BINARY_Y)
    variant.Z = score_stat(N, p, data.pheno.y, variant.S, data.pheno.z, null_model.centerY,
                           null_model.v, null_model.Iz, variant.SZ, &variant.U, &variant.V);
  else
    variant.Z = score_stat_quanTrait(N, p, data.pheno.y, variant.S, data.pheno.z, null_model.centerY,
                                     null_model.SigmaSQ, null_model.Iz, variant.SZ, &variant.U,
                                     &variant.V);
  return variant.Z;
}

double common_observed_statistic(const LoadedData &data, const NullModel &null_model,
                                 const CommonVariant &variant) {
  if (data.pheno.BINARY_Y) return std::fabs(variant.Z);
  const int N = (int)data.pheno.pheno_NROW, p = (int)data.pheno.pheno_NCOL;
  double U, V;
  return std::fabs(score_stat_quanTrait(N, p, null_model.scaleY, variant.S, data.pheno.z,
                                        null_model.centerY_scale, null_model.SigmaSQ_scale,
                                        null_model.Iz, variant.SZ, &U, &V));
}

bool asymptotic_common_test(const Settings &settings, const LoadedData &data,
                            const NullModel &null_model, RunArrays &run, CommonVariant &variant,
                            MessageLog &log) {
  const long k = variant.k;
  const double Z = common_score_test(data, null_model, variant);
  run.pvalue_com_stat[k] = Z;
  if (!std::isfinite(std::fabs(Z))) {
    report_warning(log,
                   "SNP %s Warning: Variance estimate=0 for observed test statistic, so the "
                   "p-value cannot be calculated.\n",
                   variant.snpID);
    run.pvalue_com[k] = 99;
    if (settings.PERM_FLAG) run.pvalue_perm_com[k] = 99;
    return false;
  }
  run.pvalue_com[k] = gammq(0.5, Z * Z * 0.5);  // chi-square tail, 1 degree of freedom
  return true;
}

namespace {

// Genotype values per batch of variants: about a millisecond of parsing and
// testing on one thread, against microseconds for handing a batch over.
const long kBatchValues = 1L << 18;
const long kMaxBatch = 256;
// Result rows wait for one write until they reach this size (or until a
// variant has text to print, or the pass ends).
const std::size_t kPendingBytes = std::size_t(1) << 16;

// A tested row's line: [begin, end) of the thread's read bytes.
struct RowText {
  std::size_t begin = 0, end = 0;
};

// One thread's scratch: the coded column, the score statistic's scratch and
// the bytes of its batch's rows.
struct VariantScratch {
  std::vector<double> S, SZ;
  std::vector<char> bytes;
  std::vector<RowText> lines;
};

// What testing a variant left for the calling thread: its text, message-log
// writes and stop, kept in the order they happened, and its pool item with
// resampling.
struct TestedVariant {
  OutputRecord record;
  std::unique_ptr<PooledVariant> pooled;
};

// A batch of neighbouring tested rows, positions [first, end) of the list of
// tested rows, from its test on a worker to its replay.
struct Batch {
  long first = 0, end = 0;
  std::vector<TestedVariant> variants;  // [end - first]
  std::string rows;                     // the variants' result rows, one after another
  std::vector<std::size_t> row_end;     // end of each variant's row in rows
};

// Variants per batch: about kBatchValues genotype values, and with several
// threads at most a quarter of a thread's share, so that every thread gets
// several batches.
long batch_size(long N, long tested, int threads) {
  long per = kBatchValues / (N > 0 ? N : 1);
  if (per > kMaxBatch) per = kMaxBatch;
  if (threads > 1 && per > tested / (4L * threads)) per = tested / (4L * threads);
  return per > 0 ? per : 1;
}

// Reads [from, from + length) of the file into out; returns the bytes read
// (fewer at the file's end or on a read error).
std::size_t read_at(int fd, long from, std::size_t length, char *out) {
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n = pread(fd, out + got, length - got, (off_t)from + (off_t)got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

// The lines of genotype rows rows[0 .. n-1] (ascending), one read per run of
// neighbouring rows. Row r's text runs from its recorded offset to where
// row r + 1 begins (the last row: to the file's size at the pass's start)
// and its line ends at the first newline in it. A file shortened since the
// loading gives shorter lines or none.
void read_rows(int fd, long file_size, const GenotypeSummary &geno, const long *rows, long n,
               VariantScratch &w) {
  const long *offset = geno.geno_offset;
  auto row_end = [&](long r) { return r + 1 < geno.geno_NROW ? offset[r + 1] : file_size; };
  auto span = [&](long r) {
    const long e = row_end(r);
    return e > offset[r] ? static_cast<std::size_t>(e - offset[r]) : std::size_t(0);
  };
  std::size_t total = 0;
  for (long j = 0; j < n; j++) total += span(rows[j]);
  if (w.bytes.size() < total) w.bytes.resize(total);
  w.lines.resize(static_cast<std::size_t>(n));
  std::size_t at = 0;
  for (long j = 0; j < n;) {
    long last = j;
    while (last + 1 < n && rows[last + 1] == rows[last] + 1) last++;
    const long from = offset[rows[j]];
    std::size_t want = 0;
    for (long i = j; i <= last; i++) want += span(rows[i]);
    const std::size_t got = want > 0 ? read_at(fd, from, want, w.bytes.data() + at) : 0;
    for (; j <= last; j++) {
      const long r = rows[j];
      std::size_t b = at + static_cast<std::size_t>(offset[r] - from), e = b + span(r);
      if (e > at + got) e = at + got;
      if (b > e) b = e;
      const void *nl = std::memchr(w.bytes.data() + b, '\n', e - b);
      if (nl != nullptr) e = static_cast<std::size_t>(static_cast<const char *>(nl) - w.bytes.data());
      w.lines[static_cast<std::size_t>(j)] = RowText{b, e};
    }
    at += want;
  }
}

// Result rows waiting to be appended to the result file in one write. They
// go out before the text of any later variant and at the end of the pass,
// so the file, standard output and the message log meet in the order of
// writing each row as its variant is tested, a stop included (a failed write
// stops the run where the first of its rows would have).
struct PendingRows {
  const char *name;
  std::string text;
  void flush() {
    if (text.empty()) return;
    write_common_text(name, true, text.data(), text.size());
    text.clear();
  }
  void add(const char *row, std::size_t n) {
    text.append(row, n);
    if (text.size() >= kPendingBytes) flush();
  }
};

}  // namespace

void common_pass(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                 RunArrays &run, MessageLog &log) {
  const GenotypeSummary &geno = data.geno;
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  const std::string header = common_result_header(settings);
  write_common_text(settings.output_com, false, header.data(), header.size());

  // One descriptor for every thread: each reads with pread at its own
  // offsets, so no file position is shared.
  const int fd = open(settings.genotype, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // No row has been read yet: the message names the file's first variant.
    run_print("SNP %s Error: Cannot open genotype file '%s'.\n", geno.geno_snpID[0],
              settings.genotype);
    kill_QUORVEX();
  }
  struct stat st;
  const long file_size = fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : 0;

  std::vector<long> rows;  // the tested rows, in file order
  for (long k = 0; k < geno.geno_NROW; k++)
    if (common_variant_qualifies(settings, geno, k)) rows.push_back(k);
  const long tested = static_cast<long>(rows.size());

  // With resampling a tested variant waits in the pool of the scheme shared
  // with the gene pass (its refit cache filled here serves the genes); the
  // pool writes the rows in genotype-file order.
  const bool resampling = settings.PERM_FLAG != 0;
  ResampleScheme scheme;
  Resample resample;
  ResamplingPool pool;
  if (resampling) {
    init_resample_scheme(settings, data, null_model, run, scheme, resample);
    init_resampling_pool(settings, run, log, scheme, resample, pool);
  }

  const int threads = thread_count();
  const long per = batch_size(N, tested, threads);
  const long batches = (tested + per - 1) / per;
  // Batches tested ahead of the replay: enough that the workers go on while
  // the calling thread is descheduled for a while; with resampling fewer, as
  // each batch then holds its variants' columns.
  const long window = (resampling ? 4L : 16L) * threads;
  std::vector<Batch> slots(static_cast<std::size_t>(window));  // batch i in slot i % window
  std::vector<VariantScratch> scratch(static_cast<std::size_t>(threads));
  for (VariantScratch &w : scratch) {
    w.S.assign(static_cast<std::size_t>(N), 0.0);
    w.SZ.assign(static_cast<std::size_t>(p), 0.0);
  }
  PendingRows pending{settings.output_com, std::string()};
  const bool side_by_side = threads > 1 && batches > 1;  // as run_in_order decides

  // On a worker: reads and tests the batch's variants, each inside its own
  // capture; a stop ends the batch at its variant.
  auto test_batch = [&](long item, int worker) {
    Batch &b = slots[static_cast<std::size_t>(item % window)];
    VariantScratch &w = scratch[static_cast<std::size_t>(worker)];
    b.first = item * per;
    b.end = std::min(tested, b.first + per);
    b.variants.resize(static_cast<std::size_t>(b.end - b.first));
    b.rows.clear();
    b.row_end.clear();
    read_rows(fd, file_size, geno, rows.data() + b.first, b.end - b.first, w);
    for (long j = b.first; j < b.end; j++) {
      TestedVariant &t = b.variants[static_cast<std::size_t>(j - b.first)];
      const RowText line = w.lines[static_cast<std::size_t>(j - b.first)];
      const long k = rows[static_cast<std::size_t>(j)];
      capture_output(t.record, [&] {
        const GenotypeCoding coding = common_coding(settings, geno.geno_maf[k]);
        const long values = read_coded_common_row(w.bytes.data() + line.begin,
                                                  w.bytes.data() + line.end, coding, N, w.S.data());
        if (values != N) {
          run_print("SNP %s Error: Genotype file '%s' changed during the run: line %ld no longer "
                    "holds %ld values.\n",
                    geno.geno_snpID[k], settings.genotype, k + 1, N);
          kill_QUORVEX();
        }
        CommonVariant variant;
        variant.k = k;
        variant.snpID = geno.geno_snpID[k];
        variant.f = geno.geno_maf[k];
        variant.S = w.S.data();
        variant.SZ = w.SZ.data();
        const bool ok = asymptotic_common_test(settings, data, null_model, run, variant, log);
        if (!resampling) {
          char row[kRowBytes];
          b.rows.append(row, format_common_row(settings, run, k, variant.snpID, variant.U,
                                               variant.V, row, sizeof row));
          b.row_end.push_back(b.rows.size());
          return;
        }
        t.pooled.reset(new PooledVariant());
        prepare_common_resampling(
            scheme, run, variant, ok,
            ok ? common_observed_statistic(data, null_model, variant) : 0, *t.pooled);
      });
      if (t.record.stopped()) {
        b.end = j + 1;
        // Side by side, the batch's own record stops too: the ordered pass
        // then starts no further batch and lets the running ones finish
        // before this one is replayed (its replay ends the run).
        if (side_by_side) raise_stop(*t.record.stop);
        break;
      }
    }
  };

  // On the calling thread, in file order: each variant's text, log lines
  // and stop, then its row (or, with resampling, both handed to the pool).
  auto replay_batch = [&](long item) {
    Batch &b = slots[static_cast<std::size_t>(item % window)];
    for (long j = b.first; j < b.end; j++) {
      const std::size_t v = static_cast<std::size_t>(j - b.first);
      TestedVariant &t = b.variants[v];
      const bool quiet = t.record.text.empty() && t.record.actions.empty() && !t.record.stopped();
      if (resampling) {
        pool_add(pool, std::move(t.pooled), t.record);
      } else {
        if (!quiet) {
          pending.flush();
          commit_output(t.record);
        }
        const std::size_t from = v == 0 ? 0 : b.row_end[v - 1];
        pending.add(b.rows.data() + from, b.row_end[v] - from);
      }
      t.record.clear();
    }
  };

  // On one thread each batch is replayed right after its test; side by side
  // just before its (empty, or stopped) record is, once it is tested.
  if (side_by_side)
    run_in_order(batches, threads, window, test_batch, nullptr, replay_batch);
  else
    run_in_order(batches, threads, window, test_batch, replay_batch);
  pending.flush();
  if (resampling) {
    finish_resampling_pool(pool);
    free_resample_scheme(scheme, resample);
  }
  close(fd);
}
