#include "driver/gene_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "driver/file_checks.h"
#include "numeric/arrays.h"
#include "numeric/run_stop.h"
#include "numeric/run_output.h"

namespace {

const size_t kIdBytes = 256;     // identifier buffers: at most 255 characters
const size_t kTokenBytes = 1024; // any other token: at most 1023 characters
const int kMaxWeights = 101;

// White space as scanf's "%s" skips it: blank, tab, newline, carriage
// return, vertical tab, form feed.
struct BlankTable {
  bool blank[256] = {};
  BlankTable() {
    for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) blank[c] = true;
  }
};
const BlankTable kBlanks;

inline bool is_blank(int c) { return kBlanks.blank[(unsigned char)c]; }

// Eight bytes from p as a little-endian word: p[0] in the lowest byte.
inline uint64_t load_le64(const char *p) {
  uint64_t w;
  memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// "\t0\t0\t0\t0" as a little-endian word.
const uint64_t kZeroQuad = 0x3009300930093009ull;

// Whether the eight bytes of w (in memory order, read as a little-endian
// word) are tab, digit, tab, digit, tab, digit, tab, digit with every digit 0,
// 1 or 2. Each digit is tested in its own 16-bit lane, where adding 0xD0 sets
// bit 8 exactly when the digit byte is at least '0' and adding 0xCD exactly
// when it is above '2'.
inline bool le_tab_digit_quad(uint64_t w) {
  const uint64_t kLow = 0x00FF00FF00FF00FFull, kBit8 = 0x0100010001000100ull;
  if ((w & kLow) != 0x0009000900090009ull) return false;
  const uint64_t d = (w >> 8) & kLow;
  return ((d + 0x00D000D000D000D0ull) & kBit8) == kBit8 &&
         ((d + 0x00CD00CD00CD00CDull) & kBit8) == 0;
}

// Next token of the cursor into out (at most cap - 1 bytes kept; empty at the
// end of its span).
void cursor_token(TokenCursor &c, char *out, size_t cap) {
  while (c.p < c.end && is_blank((unsigned char)*c.p)) c.p++;
  size_t n = 0;
  while (c.p < c.end && !is_blank((unsigned char)*c.p)) {
    if (n + 1 < cap) out[n++] = *c.p;
    c.p++;
  }
  out[n] = 0;
}

// Next genotype value of the cursor by the token rule of
// genotype_token_value.
double cursor_value(TokenCursor &c) {
  char buf[kTokenBytes];
  cursor_token(c, buf, kTokenBytes);
  return genotype_token_value(buf);
}

// Splits a line into white-space-separated tokens (pointers into line, which
// is modified).
void split_tokens(char *line, std::vector<char *> &tokens) {
  tokens.clear();
  char *s = line;
  while (*s) {
    while (*s && is_blank((unsigned char)*s)) s++;
    if (!*s) break;
    tokens.push_back(s);
    while (*s && !is_blank((unsigned char)*s)) s++;
    if (*s) *s++ = 0;
  }
}

}  // namespace

double genotype_token_value(const char *token) {
  if (token[0] == 'N' || (token[0] != 0 && token[1] == 'A')) return -1.0;
  if (token[1] == 0) {
    if (token[0] == '0') return 0.0;
    if (token[0] == '1') return 1.0;
    if (token[0] == '2') return 2.0;
  }
  return strtod(token, nullptr);
}

void build_genotype_index(const LoadedData &data, GenotypeIndex &index) {
  index.ids = data.geno.geno_snpID;
  index.rows.resize((size_t)data.geno.geno_NROW);
  for (long r = 0; r < data.geno.geno_NROW; r++) index.rows[(size_t)r] = r;
  char **ids = data.geno.geno_snpID;
  std::stable_sort(index.rows.begin(), index.rows.end(),
                   [ids](long a, long b) { return strcmp(ids[a], ids[b]) < 0; });
}

void build_weight_index(FILE *f, WeightIndex &index) {
  index.first_line.clear();
  index.line_number.clear();
  char *line = nullptr;
  size_t cap = 0;
  ssize_t got;
  long long offset = 0;
  long number = 0;
  std::string key;
  while ((got = getline(&line, &cap, f)) != -1) {
    number++;
    const char *s = line;
    // A UTF-8 byte-order mark at the start of the file is skipped.
    long long skip = 0;
    if (offset == 0 && got >= 3 && memcmp(s, "\xEF\xBB\xBF", 3) == 0) skip = 3;
    s += skip;
    while (*s && is_blank((unsigned char)*s)) s++;
    if (*s) {
      const char *e = s;
      while (*e && !is_blank((unsigned char)*e)) e++;
      key.assign(s, (size_t)(e - s));
      // keeps the first occurrence
      if (index.first_line.emplace(key, offset + skip).second) index.line_number.emplace(key, number);
    }
    offset += got;
  }
  free(line);
  index.built = true;
}

long select_gene_variants(const Settings &settings, const LoadedData &data,
                          const GenotypeIndex &index, RunArrays &run, long &map_index,
                          GeneUnderTest &gene) {
  double *genek_index = run.genek_index;
  int *thresh_index = data.map.thresh_index;
  const bool ext = data.map.EXT_THRESH != 0;
  // Only the rows the previous gene wrote can be non-zero.
  for (long r : gene.touched) {
    genek_index[r] = 0.0;
    if (ext) thresh_index[r] = 0;
  }
  gene.touched.clear();
  gene.used_rows.clear();
  gene.n_thresh = 0;

  const double MAF_UB = settings.MAF_UB, NA_UB = settings.NA_UB;
  const double *naRate = data.geno.geno_naRate, *gmaf = data.geno.geno_maf;
  const int *singular = data.geno.geno_singular;
  strncpy(gene.geneID, data.map.map_geneID[map_index], sizeof(gene.geneID) - 1);
  gene.geneID[sizeof(gene.geneID) - 1] = 0;

  for (long ii = map_index;; ii++) {
    long row = -1;
    double value = 0;
    // A row without any observed genotype (missing rate 1) is never usable.
    if (ext) {
      const double f = data.map.map_maf[ii];
      if (f >= 1e-10 && f <= MAF_UB) {
        row = find_genotype_row(index, data.map.map_snpID[ii], [&](long jj) {
          return naRate[jj] <= NA_UB && naRate[jj] < 1.0;
        });
        value = f;
      }
    } else if (data.map.maf_flag) {
      row = find_genotype_row(index, data.map.map_snpID[ii], [&](long jj) {
        return naRate[jj] <= NA_UB && naRate[jj] < 1.0 && gmaf[jj] >= 1e-10 &&
               singular[jj] == 0 && gmaf[jj] <= MAF_UB;
      });
      if (row >= 0) value = gmaf[row];
    } else {
      const double f = data.map.map_maf[ii];
      if (f >= 1e-10 && f <= MAF_UB) {
        row = find_genotype_row(index, data.map.map_snpID[ii], [&](long jj) {
          return naRate[jj] <= NA_UB && naRate[jj] < 1.0 && gmaf[jj] >= 1e-10 &&
                 singular[jj] == 0;
        });
        value = f;
      }
    }
    if (row >= 0) {
      if (genek_index[row] == 0.0) gene.touched.push_back(row);
      genek_index[row] = value;
      if (ext) thresh_index[row] = data.map.map_thresh[ii];
    }
    map_index++;
    if (ii == data.map.map_NROW - 1 || strcmp(data.map.map_geneID[ii + 1], data.map.map_geneID[ii]) != 0)
      break;
  }

  std::sort(gene.touched.begin(), gene.touched.end());
  for (long r : gene.touched)
    if (genek_index[r] != 0.0) gene.used_rows.push_back(r);
  // A variant mapped twice to the gene counts once among the thresholds.
  if (ext)
    for (long r : gene.used_rows)
      if (thresh_index[r] == 1) gene.n_thresh++;
  gene.N_SNP = (long)gene.used_rows.size();
  return gene.N_SNP;
}

void read_gene_genotypes(const Settings &settings, const LoadedData &data, RunArrays &run,
                         GeneUnderTest &gene) {
  const long N = data.pheno.pheno_NROW, M = gene.N_SNP;
  FILE *f = fopen(settings.genotype, "r");
  if (f == nullptr) {
    run_print("GENE %s Error: Cannot open genotype file '%s'.\n", gene.geneID, settings.genotype);
    kill_QUORVEX();
  }
  setvbuf(f, nullptr, _IONBF, 0);  // rows are read straight into the block
  struct stat st;
  const long long file_size = fstat(fileno(f), &st) == 0 ? (long long)st.st_size : 0;
  const long *offset = data.geno.geno_offset;
  const long rows = data.geno.geno_NROW;
  auto row_start = [&](long j) { return (long long)offset[gene.used_rows[(size_t)j]]; };
  auto row_end = [&](long j) {
    const long r = gene.used_rows[(size_t)j];
    return r + 1 < rows ? (long long)offset[r + 1] : file_size;
  };

  // The used rows' bytes, one read per run of neighbouring rows.
  size_t total = 0;
  for (long j = 0; j < M; j++)
    if (row_end(j) > row_start(j)) total += (size_t)(row_end(j) - row_start(j));
  std::vector<char> &block = gene.block;
  if (block.size() < total) block.resize(total);
  std::vector<TokenCursor> &cursor = gene.cursors;
  cursor.resize((size_t)M);
  size_t at = 0;
  for (long j = 0; j < M;) {
    long last = j;
    while (last + 1 < M && gene.used_rows[(size_t)last + 1] == gene.used_rows[(size_t)last] + 1)
      last++;
    const long long from = row_start(j);
    const size_t want = row_end(last) > from ? (size_t)(row_end(last) - from) : 0;
    fseeko(f, (off_t)from, SEEK_SET);
    const size_t got = want ? fread(block.data() + at, 1, want, f) : 0;
    for (; j <= last; j++) {
      // Each row ends where the next recorded row begins.
      const size_t b = at + (size_t)(row_start(j) - from);
      size_t e = at + (row_end(j) > from ? (size_t)(row_end(j) - from) : 0);
      if (e > at + got) e = at + got;
      cursor[(size_t)j] = TokenCursor{block.data() + std::min(b, e), block.data() + e};
    }
    at += want;
  }
  fclose(f);

  char token[kIdBytes];
  const bool ext = data.map.EXT_THRESH != 0;
  long n_found = 0;
  for (long j = 0; j < M; j++) {
    const long row = gene.used_rows[(size_t)j];
    cursor_token(cursor[(size_t)j], token, kIdBytes);  // identifiers hold at most 255 bytes
    memcpy(gene.gene_snpID[j], token, strlen(token) + 1);
    gene.maf[j] = run.genek_index[row];
    gene.nobs[j] = (int)(N - N * data.geno.geno_naRate[row]);
    if (ext && data.map.thresh_index[row] == 1) gene.thresh[n_found++] = gene.maf[j];
  }
  // In tiles of kTile subjects: each row's values of the tile go straight
  // into column j of x (x comes from dmatrix, whose rows follow one another
  // in one block, so the tile's part of x is kTile * M consecutive doubles
  // that stay in the cache while the rows are parsed); x0 is copied from x at
  // the end.
  const long kTile = 64;
  for (long i0 = 0; i0 < N; i0 += kTile) {
    const long n = std::min(kTile, N - i0);
    for (long j = 0; j < M; j++) {
      TokenCursor c = cursor[(size_t)j];
      double *col = gene.x[i0] + j;
      auto t_at = [col, M](long i) -> double & { return col[i * M]; };
      for (long i = 0; i < n;) {
        const char *q = c.p;
        // Fastest path: four tokens of one character 0, 1 or 2, each after
        // one tab, and a blank after the fourth: the same values as four
        // turns of the next path.
        if (i + 4 <= n && q + 8 < c.end) {
          const uint64_t w = load_le64(q);
          if (w == kZeroQuad && is_blank(q[8])) {  // the most common case
            t_at(i) = t_at(i + 1) = t_at(i + 2) = t_at(i + 3) = 0.0;
            c.p = q + 8;
            i += 4;
            continue;
          }
          if (le_tab_digit_quad(w) && is_blank(q[8])) {
            const uint64_t d = ((w >> 8) & 0x00FF00FF00FF00FFull) - 0x0030003000300030ull;
            t_at(i) = (double)(d & 0xFF);
            t_at(i + 1) = (double)((d >> 16) & 0xFF);
            t_at(i + 2) = (double)((d >> 32) & 0xFF);
            t_at(i + 3) = (double)((d >> 48) & 0xFF);
            c.p = q + 8;
            i += 4;
            continue;
          }
        }
        // Fast path: one blank, then 0, 1 or 2, then a blank.
        if (q + 2 < c.end && is_blank(q[0]) && (unsigned char)(q[1] - '0') <= 2 &&
            is_blank(q[2])) {
          t_at(i) = (double)(q[1] - '0');
          c.p = q + 2;
        } else {
          t_at(i) = cursor_value(c);
        }
        i++;
      }
      cursor[(size_t)j] = c;
    }
  }
  if (N > 0 && M > 0) memcpy(gene.x0[0], gene.x[0], sizeof(double) * (size_t)N * (size_t)M);
}

void read_gene_weights(const Settings &settings, WeightIndex &weights, RunArrays &run,
                       GeneUnderTest &gene) {
  gene.n_weight = 0;
  FILE *f = open_input_file(settings.wfile, "weight file");
  char *line = nullptr;
  // The file and the line buffer are released also when a stop throws.
  struct Release {
    FILE *f;
    char **line;
    ~Release() {
      free(*line);
      fclose(f);
    }
  } release{f, &line};
  if (!weights.built.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> hold(weights.lock);
    if (!weights.built.load(std::memory_order_relaxed)) {
      build_weight_index(f, weights);  // sets built last
    }
  }
  auto it = weights.first_line.find(gene.geneID);
  if (it == weights.first_line.end()) return;
  fseeko(f, (off_t)it->second, SEEK_SET);
  long number = weights.line_number.at(gene.geneID) - 1;
  size_t cap = 0;
  std::vector<char *> tokens;
  int K = 0;
  // A weight is a finite number written as a whole token (scanf "%lg"
  // syntax): text, or one that is not finite (nan, inf, overflow), would
  // make every score of the gene meaningless.
  auto weight = [&](int index, const std::vector<char *> &line_tokens) {
    const char *text = line_tokens[(size_t)index];
    char *stop = nullptr;
    const double w = strtod(text, &stop);
    if (stop == text || *stop != '\0' || !std::isfinite(w))
      stop_run("fail\nError: Line %ld of weight file '%s': weight '%s' in column %d (gene '%s', SNP '%s') is "
               "not a finite number.\n",
               number, settings.wfile, text, index + 1, gene.geneID, line_tokens[1]);
    return w;
  };
  ssize_t got;
  while ((got = getline(&line, &cap, f)) != -1) {
    number++;
    // The line is split as a C string: a NUL byte would hide the rest of it.
    if (memchr(line, '\0', (size_t)got) != nullptr)
      stop_run("fail\nError: Line %ld of weight file '%s' holds a NUL byte.\n", number, settings.wfile);
    split_tokens(line, tokens);
    if (tokens.empty()) continue;
    if (strcmp(tokens[0], gene.geneID) != 0) break;  // the gene's first run of lines ends
    if (tokens.size() < 2) continue;
    long j = -1;
    for (long s = 0; s < gene.N_SNP; s++)
      if (strcmp(gene.gene_snpID[s], tokens[1]) == 0) {
        j = s;
        break;
      }
    if (j < 0) continue;
    const int count = (int)tokens.size() - 2;
    if (K == 0) {
      if (count == 0)
        stop_run("fail\nError: Gene '%s', SNP '%s': no weights on line %ld of the weight file '%s'.\n",
                 gene.geneID, tokens[1], number, settings.wfile);
      if (count > kMaxWeights)
        stop_run("fail\nError: Gene '%s', SNP '%s': more than %d weights on one line of the "
                 "weight file.\n",
                 gene.geneID, tokens[1], kMaxWeights);
      for (int w = 0; w < count; w++) run.buffer_weight[w] = weight(2 + w, tokens);
      K = count;
      gene.wt = dmatrix(0, K - 1, 0, gene.N_SNP - 1);
      gene.n_weight = K;
      // A used variant without a weight line has weight 0 in every vector.
      for (int w = 0; w < K; w++)
        for (long s = 0; s < gene.N_SNP; s++) gene.wt[w][s] = 0.0;
      for (int w = 0; w < K; w++) gene.wt[w][j] = run.buffer_weight[w];
    } else {
      if (count != K)
        stop_run("fail\nError: The number of weights can not be different between SNPs within one "
                 "gene.\n");
      for (int w = 0; w < K; w++) gene.wt[w][j] = weight(2 + w, tokens);
    }
  }
  gene.n_weight = K;
}

void read_gene_data(const Settings &settings, const LoadedData &data, WeightIndex &weights,
                    RunArrays &run, GeneUnderTest &gene) {
  const long N = data.pheno.pheno_NROW, M = gene.N_SNP;
  gene.gene_snpID = new char *[(size_t)M];
  for (long j = 0; j < M; j++) gene.gene_snpID[j] = static_cast<char *>(calloc(kIdBytes, 1));
  gene.x0 = dmatrix(0, N - 1, 0, M - 1);
  gene.x = dmatrix(0, N - 1, 0, M - 1);
  gene.maf = dvector(0, M - 1);
  gene.nobs = ivector(0, (int)M - 1);
  gene.q = dvector(0, M - 1);
  if (data.map.EXT_THRESH) {
    gene.thresh_len = gene.n_thresh;
  } else {
    gene.thresh_len = M;
    gene.n_thresh = 0;
  }
  gene.thresh = dvector(0, gene.thresh_len - 1);
  gene.n_weight = 0;
  gene.wt = nullptr;
  read_gene_genotypes(settings, data, run, gene);
  if (settings.mwf) read_gene_weights(settings, weights, run, gene);
}

void release_gene(const LoadedData &data, RunArrays &run, GeneUnderTest &gene) {
  (void)run;
  const long N = data.pheno.pheno_NROW, M = gene.N_SNP;
  if (gene.gene_snpID != nullptr) {
    for (long j = 0; j < M; j++) free(gene.gene_snpID[j]);
    delete[] gene.gene_snpID;
    gene.gene_snpID = nullptr;
  }
  if (gene.maf != nullptr) free_dvector(gene.maf, 0, M - 1);
  if (gene.nobs != nullptr) free_ivector(gene.nobs, 0, (int)M - 1);
  if (gene.q != nullptr) free_dvector(gene.q, 0, M - 1);
  if (gene.x != nullptr) free_dmatrix(gene.x, 0, N - 1, 0, M - 1);
  if (gene.x0 != nullptr) free_dmatrix(gene.x0, 0, N - 1, 0, M - 1);
  if (gene.thresh != nullptr) free_dvector(gene.thresh, 0, gene.thresh_len - 1);
  if (gene.wt != nullptr) free_dmatrix(gene.wt, 0, gene.n_weight - 1, 0, M - 1);
  gene.maf = gene.q = gene.thresh = nullptr;
  gene.nobs = nullptr;
  gene.x = gene.x0 = gene.wt = nullptr;
  gene.n_weight = 0;
}
