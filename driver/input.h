#ifndef QUORVEX_DRIVER_INPUT_H
#define QUORVEX_DRIVER_INPUT_H

// Loading of the phenotype, genotype and gene-to-variant mapping files and
// the data summary. Every array comes from numeric/arrays.h, 0-based.

#include "driver/settings.h"

// Trait and design matrix, one row per subject (phenotype file row order).
struct PhenotypeData {
  long pheno_NROW = 0;   // N, subjects
  long pheno_NCOL = 0;   // p, design columns: intercept plus covariates
  double *y = nullptr;   // y[0..N-1], the trait (exactly 0/1 when binary)
  double **z = nullptr;  // z[0..N-1][0..p-1], z[i][0] = 1.0, then the covariates
  int BINARY_Y = 0;      // 1 when every trait value is within 1e-10 of 0 or 1
};

// Per-variant summary of the genotype file; the genotypes themselves are not
// kept, and a pass reads a variant's row again by seeking to geno_offset.
struct GenotypeSummary {
  long geno_NROW = 0;               // variants: rows of the genotype file
  long geno_NCOL = 0;               // values per row (equals N)
  char **geno_snpID = nullptr;      // identifiers, at most 255 bytes, zero-terminated
  double *geno_naRate = nullptr;    // missing values / N
  double *geno_maf = nullptr;       // mean observed value / 2 (not folded); 0 when none observed
  int *geno_singular = nullptr;     // 1 when every observed value is equal (or none is observed)
  long *geno_offset = nullptr;      // byte offset of the row's first character in the file
  char *geno_snpID_storage = nullptr;  // the block that holds the identifier texts
};

// Rows of the mapping file, sorted stably by gene identifier.
struct MappingData {
  long map_NROW = 0;
  char **map_geneID = nullptr;     // gene identifiers, at most 255 bytes each
  char **map_snpID = nullptr;      // variant identifiers, at most 255 bytes each
  double *map_maf = nullptr;       // frequency column (maf_flag = 0 only)
  int *map_thresh = nullptr;       // threshold flags 0/1 (EXT_THRESH = 1 only)
  int *thresh_index = nullptr;     // [0..geno_NROW-1], EXT_THRESH only; filled by the gene pass
  int maf_flag = 1;                // 1: frequencies from the genotype file
  int EXT_THRESH = 0;              // 1: four-column file, the flags mark the VT thresholds
  long N_GENE = 0;                 // runs of equal gene identifiers
  char *map_geneID_storage = nullptr;
  char *map_snpID_storage = nullptr;
};

// Everything the later steps of a run read from the input files.
struct LoadedData {
  PhenotypeData pheno;
  GenotypeSummary geno;
  MappingData map;
  int mapping_read = 0;  // 1 when the mapping file was loaded (gene pass on)
};

// Each loader prints its progress label, completes it with "successful" or
// with a message beginning "fail\nError:" followed by the program stop.
void load_phenotype(const char *phenotype, PhenotypeData *ph);
void load_genotype(const char *genotype, long N, GenotypeSummary *g);
// load_genotype on the run's threads (thread_count()): a file of several
// ranges of at least 4 MB, about four per thread, is read as below.
//
// load_genotype_on reads the genotype file on `threads` threads in
// line-aligned byte ranges of about range_bytes each, merged in file order:
// the same summary, the same row offsets and the same message for the first
// faulty line as the one-thread loading, which threads <= 1 gives (the
// counting pass, then the rows one after another).
void load_genotype_on(const char *genotype, long N, GenotypeSummary *g, int threads, long range_bytes);
void load_mapping(const char *mapfile, long geno_NROW, MappingData *m);

// The "Loading data" step: heading, the three files (the mapping only with
// the gene pass on) and the data summary.
void load_data(const Settings &s, LoadedData *d);
void print_data_summary(const LoadedData &d);

void free_phenotype(PhenotypeData *ph);
void free_genotype(GenotypeSummary *g);
void free_mapping(MappingData *m, long geno_NROW);
void free_loaded_data(LoadedData *d);

#endif
