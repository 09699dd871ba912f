#ifndef QUORVEX_DRIVER_GENE_SETUP_H
#define QUORVEX_DRIVER_GENE_SETUP_H

// Gene set-up of the gene pass: delimits the next gene in the sorted mapping,
// chooses its variants and their frequencies, reads their genotypes (seeking
// to the genotype rows' byte offsets recorded at loading) and, with the
// customized test, the gene's weights (from an index of the weight file built
// once per run).

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// The genotype identifiers indexed once: row numbers ordered by identifier
// (strcmp), rows of one identifier in file order.
struct GenotypeIndex {
  std::vector<long> rows;
  char **ids = nullptr;  // the loader's geno_snpID
};

// Where each gene identifier's first run of lines begins in the weight file
// (byte offset and line number, from 1); built by the first gene that reads
// weights.
// Genes tested side by side share it: the first to need it builds it under
// the lock.
struct WeightIndex {
  std::mutex lock;
  std::atomic<bool> built{false};
  std::unordered_map<std::string, long long> first_line;
  std::unordered_map<std::string, long> line_number;
};

// Reading position in a block of genotype rows: [p, end).
struct TokenCursor {
  const char *p = nullptr;
  const char *end = nullptr;
};

// One gene's state, from its set-up to its result row.
struct GeneUnderTest {
  long k = 0;                 // position in the gene loop
  char geneID[1024] = {0};
  long N_SNP = 0;             // used variants
  std::vector<long> used_rows;  // genotype rows of the used variants, file order
  std::vector<long> touched;    // genotype rows whose genek_index was written
  char **gene_snpID = nullptr;  // [N_SNP] zero-filled 256-byte buffers
  double **x = nullptr;         // [N][N_SNP] genotypes, -1 missing
  double **x0 = nullptr;        // [N][N_SNP] copy of x before the burden step
  double *maf = nullptr;        // [N_SNP]
  int *nobs = nullptr;          // [N_SNP]
  double *q = nullptr;          // [N_SNP]
  double *thresh = nullptr;     // [n_thresh] (4-column mapping) or [N_SNP]
  long thresh_len = 0;          // allocated length of thresh
  int n_thresh = 0;
  int n_weight = 0;             // K, 0 without weights
  std::vector<char> block;      // genotype rows read for this gene (kept for reuse)
  std::vector<TokenCursor> cursors;  // one per used row, into block
  double **wt = nullptr;        // [n_weight][N_SNP]
};

void build_genotype_index(const LoadedData &data, GenotypeIndex &index);

// First genotype row of identifier id (file order) for which accept(row) is
// true, or -1.
template <class Accept>
long find_genotype_row(const GenotypeIndex &index, const char *id, Accept accept);

// One pass over the open weight file f (left at its end).
void build_weight_index(FILE *f, WeightIndex &index);

// Walks the mapping rows of the next gene from map_index (advanced past
// them): resets the entries of genek_index (and of the loader's thresh_index)
// that the previous gene wrote, writes those of the used genotype rows and
// sets geneID, used_rows, n_thresh and N_SNP. Returns N_SNP. Before the first
// gene genek_index and (4-column mapping) thresh_index must be all zero.
long select_gene_variants(const Settings &settings, const LoadedData &data,
                          const GenotypeIndex &index, RunArrays &run, long &map_index,
                          GeneUnderTest &gene);

// Allocates the gene's arrays and reads the used rows' genotypes; with the
// customized test on, also the gene's weights.
void read_gene_data(const Settings &settings, const LoadedData &data, WeightIndex &weights,
                    RunArrays &run, GeneUnderTest &gene);

// Reads the genotypes of the used rows into x and its copy x0, and
// gene_snpID, maf, nobs, thresh.
void read_gene_genotypes(const Settings &settings, const LoadedData &data, RunArrays &run,
                         GeneUnderTest &gene);

// Reads the gene's weights into wt and n_weight (opening the weight file,
// which stops the run when it cannot be opened or is not a regular file).
// A used variant's line without weights, or with a weight that is not a
// finite number, stops the run naming the line.
void read_gene_weights(const Settings &settings, WeightIndex &weights, RunArrays &run,
                       GeneUnderTest &gene);

// Releases the gene's arrays (its genek_index entries are reset when the next
// gene is selected).
void release_gene(const LoadedData &data, RunArrays &run, GeneUnderTest &gene);

// Genotype token rule of the gene pass: missing (-1) when the first character
// is 'N' or the second is 'A', else the value as atof reads it. The loading
// keeps only files whose every token is NA... or a whole number in [0, 2],
// on which this rule and the loading's agree.
double genotype_token_value(const char *token);

template <class Accept>
long find_genotype_row(const GenotypeIndex &index, const char *id, Accept accept) {
  // lower bound of id among the identifier-ordered rows
  long lo = 0, hi = (long)index.rows.size();
  while (lo < hi) {
    long mid = lo + (hi - lo) / 2;
    if (strcmp(index.ids[index.rows[mid]], id) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  for (long r = lo; r < (long)index.rows.size(); r++) {
    const long row = index.rows[r];
    if (strcmp(index.ids[row], id) != 0) break;
    if (accept(row)) return row;
  }
  return -1;
}

#endif
