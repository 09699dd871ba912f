#ifndef QUORVEX_DRIVER_GENE_RESAMPLING_H
#define QUORVEX_DRIVER_GENE_RESAMPLING_H

// Resampling of the genes: each gene's observed statistics, the rule that
// leaves a gene unresampled, and the pool in which genes wait after their
// asymptotic tests so that every resample is made once and evaluated on
// every gene still in play.
//
// Each stage's resamples are split into contiguous ranges, one per thread
// (thread_count()); a thread sets its generators to its first resample
// (seek_resample) and evaluates every gene in play on its range, and the
// hit counts, whole numbers, are added after the stage. The text a range
// prints (refit warnings, a fatal stop) is replayed in range order, so the
// output is that of one thread making the resamples in order.
//
// The pool keeps the output of the run exactly as if each gene were
// resampled right after its asymptotic tests: a gene that enters the pool
// while earlier genes wait has its output captured in its OutputRecord
// (standard output, and the deferred writes: message-log lines, score-log
// blocks), and everything is written in gene order as the genes finish.
// The first gene in play at a stage's start is "live": its pending output is
// written first, so the warnings of the refits that the stage computes, and
// a fatal stop while making a resample, fall where the gene-by-gene order
// puts them (and the later genes' score logs are not written). A fatal stop
// in a later gene (captured) reaches the pass, which finishes and writes
// every waiting gene, then the stopped gene's output, and lets the stop go
// on (feed_gene_pool).
//
// The pass feeds the pool on its own thread, in gene order, inside
// feed_gene_pool: pool_begin_gene, then the gene's work or the replay of its
// record (commit_output), then pool_end_gene.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/family_tests.h"
#include "driver/gene_setup.h"
#include "driver/input.h"
#include "driver/resampling.h"
#include "driver/run_setup.h"
#include "driver/settings.h"
#include "numeric/run_output.h"
#include "stats/erec.h"

// Score rows stored by their non-zero entries: row q has the entries
// [start[q], start[q + 1]) of idx (subjects, ascending) and val.
struct SparseRows {
  std::vector<int> start{0};
  std::vector<int> idx;
  std::vector<double> val;
  std::vector<double> vfix;  // variance part of each row when the scheme's is fixed
  int rows() const { return (int)start.size() - 1; }
  // Appends the row[0..N-1]; dense keeps every entry (a non-finite design).
  void add(const double *row, int N, bool dense);
  size_t bytes() const;
};

// What the EREC scores of a gene need, by variant j and by subject.
struct ErecRows {
  int M = 0;
  std::vector<char> active;           // [M] maf <= MAF_UB
  std::vector<int> subj, sstart;      // subjects with a non-zero x, their entries
  std::vector<int> svar;              // entries: variant
  std::vector<double> sx;             //          value of x
  // Binary trait (from x0): per active variant its carriers and its
  // subjects that are neither carriers nor exactly 0 (missing).
  std::vector<int> cstart, cidx, ostart, oidx;
  std::vector<double> n_car, n_zero;
  // Quantitative trait: per variant mean of x, sum of squared deviations,
  // 0 - mean; position among the active variants.
  std::vector<double> avg_x, V, neg_avg;
  std::vector<int> act;  // active variants in order
  std::vector<int> pos;  // [M] position among the active variants, -1 when inactive
  std::vector<double> nd;  // 0 - mean x of the active variants, in their order
  ErecSlopeTiles tiles;    // quantitative: the slopes' tiles for resamples side by side
  size_t bytes() const;
};

enum { kTestT1 = 0, kTestVT = 3, kTestSKAT = 4, kTestEREC = 5, kTests = 6 };

// One gene from its asymptotic tests to its result row.
struct PooledGene {
  long k = 0;
  std::string geneID;
  bool has_row = false;    // tested: writes a result row
  bool resampled = false;  // takes part in the resampling
  bool live = false;       // its pending text is written; later text goes out directly
  bool finished = false;
  ResampleTest test[kTests];
  bool part[kTests] = {false, false, false, false, false, false};
  int n_fix = 0;
  SparseRows burden, vt, skat;
  std::vector<double> weight_skat;
  bool erec_on = false;
  ErecRows erec;
  int mac_fix[3] = {0, 0, 0};
  double U[3] = {0, 0, 0}, V[3] = {0, 0, 0};
  // Its output while it waited: text and deferred writes (message-log
  // lines, score-log blocks), replayed when it is written or made live.
  OutputRecord pending;
  size_t counted = 0;    // bytes counted against the pool's bound
  // The common-variant pass pools its variants the same way: a variant has
  // one test (test[0], |Z| of its coded column, every subject's value in
  // burden.val), its end-of-stage-3 warning names the variant ("SNP %s ..."), and its
  // row (geneID holds the identifier, k the genotype row, com_U and com_V
  // the asymptotic U and V) goes to the common-variant result file.
  bool variant = false;
  double com_U = 0, com_V = 0;
  size_t bytes() const;
};

// Observed statistics of the gene that passed its asymptotic tests, the
// tests that take part and the resampling slots (99 for a test that does
// not take part, also for every test of a gene that is not resampled).
// Fills g's tests and rows when the gene is resampled; returns g.resampled.
bool prepare_gene_resampling(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const ResampleScheme &scheme,
                             RunArrays &run, const GeneUnderTest &gene, const FamilyRows &rows,
                             PooledGene &g);

// Keeps the values of the gene's result row that the run arrays hold only
// until the next gene (mac_fix, pvalue_U, pvalue_V of the fixed-threshold
// tests).
void keep_row_values(const RunArrays &run, PooledGene &g);

// Writes the item's result row: a gene's row to the gene-level result file
// (its kept values put back into the run arrays first), a variant's to the
// common-variant result file.
void write_result_row(const Settings &settings, RunArrays &run, const PooledGene &g);

// Scratch of the evaluation, sized once per gene added.
struct EvalWork {
  std::vector<double> SZ, row0, row1, w0, w1, Uacc, dtmp;
  long entries = 0;  // non-zero entries visited (report)
  // The resamples of a block side by side, subject by subject (variants'
  // dense columns evaluated in vector lanes, one lane per resample).
  std::vector<double> lanes;
  // Quantitative EREC: the block's centred traits side by side
  // (yc_lanes[i * kErecLanes + b]) and the slopes' numerators of a gene.
  std::vector<double> yc_lanes, U_lanes;
};

// Statistic of test `test` of gene g on resample r (|Z|, VT maximum, SKAT
// sum or EREC maximum); NaN when the resample's null model is not finite.
double resampled_statistic(const PooledGene &g, int test, const ResampleScheme &scheme,
                           const Resample &r, EvalWork &w);

// EREC statistics of gene g on the nb resamples of a block (T[b] as
// resampled_statistic gives them, bit for bit): a quantitative trait's
// slopes summed for the block side by side, from yc_lanes as
// erec_block_lanes fills it for the block.
void erec_block_statistics(const PooledGene &g, const ResampleScheme &scheme,
                           Resample *const *block, int nb, EvalWork &w, double *T);
void erec_block_lanes(const ResampleScheme &scheme, Resample *const *block, int nb, EvalWork &w);

// One thread's share of a stage: a contiguous range of its resamples, made
// in its own block of Resamples with its own scratch, and the hits it found.
struct StageRange {
  long from = 0, to = 0;
  std::vector<Resample> block;  // kResampleBlock resamples (range 0 uses the pool's)
  EvalWork work;
  std::vector<long> hits;   // [play item * kTests + test]
  std::vector<long> vhits;  // [variant in play]
  long refit_warnings = 0;
  double make_s = 0, eval_s = 0;
};

// The pool of the gene pass.
struct GenePool {
  const Settings *settings = nullptr;
  RunArrays *run = nullptr;
  MessageLog *log = nullptr;
  ResampleScheme *scheme = nullptr;
  Resample *r = nullptr;
  // Resamples made as one block and evaluated gene by gene, so that each
  // gene's rows are read once per block: block[0] is *r, the others are
  // the pool's own.
  std::vector<Resample> extra;
  EvalWork work;  // sized for every gene added; each range's scratch copies it
  // A stage's resamples are split into contiguous ranges, one per thread.
  int threads = 1;
  std::vector<StageRange> ranges;
  std::deque<std::unique_ptr<PooledGene>> queue;
  long max_genes = 0;      // resampled genes per pool; 0: bounded by bytes only
  size_t max_bytes = 0;
  size_t bytes = 0, peak_bytes = 0;
  long waiting = 0;        // resampled genes in the queue
  bool report = false;     // stage report on standard error
  int pool_number = 0;
  bool running = false;    // a pool's stages are running
  // Capture of the gene being set up while others wait (a fatal stop in
  // it reaches feed_gene_pool, which writes the waiting genes first).
  bool capturing = false;
  OutputRecord capture;
  OutputRecord *saved_capture = nullptr;
};

// Pool limits from the environment: QUORVEX_RESAMPLE_POOL (resampled genes
// per pool, 1 = gene by gene; default no limit) and
// QUORVEX_RESAMPLE_POOL_BYTES (default 1 GiB); QUORVEX_RESAMPLE_REPORT=1
// prints each stage's figures on standard error.
void init_gene_pool(const Settings &settings, RunArrays &run, MessageLog &log,
                    ResampleScheme &scheme, Resample &r, GenePool &pool);

// Before a gene's set-up: captures its output when genes wait.
void pool_begin_gene(GenePool &pool);

// After the gene's asymptotic tests (g filled, has_row/resampled set):
// writes it out at once when nothing waits and it is not resampled, else
// queues it; runs the pool when a limit is reached.
void pool_end_gene(GenePool &pool, std::unique_ptr<PooledGene> g);

// Runs feed, the pass's feeding of the pool. A stop raised in a gene set up
// while earlier genes wait finishes and writes those genes, then the
// stopped gene's text, and goes on; any other stop goes on at once.
void feed_gene_pool(GenePool &pool, const std::function<void()> &feed);

// Resamples made before the waiting genes are evaluated on them.
const int kResampleBlock = 8;

// Runs the stages over the waiting genes and writes every queued gene.
void run_pool(GenePool &pool);

// End of the gene pass: runs what waits; prints the peak figures when
// reporting.
void finish_gene_pool(GenePool &pool);

#endif
