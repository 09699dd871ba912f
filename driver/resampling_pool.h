#ifndef QUORVEX_DRIVER_RESAMPLING_POOL_H
#define QUORVEX_DRIVER_RESAMPLING_POOL_H

// The pool in which the tested items of a pass (genes, or common variants)
// wait after their asymptotic tests, so that every resample is made once
// and evaluated on every item still in play.
//
// Each stage's resamples are split into contiguous ranges, one per thread
// (thread_count()); a thread sets its generators to its first resample
// (seek_resample) and evaluates every item in play on its range, and the
// hit counts, whole numbers, are added after the stage. The text a range
// prints (refit warnings, a fatal stop) is replayed in range order, so the
// output is that of one thread making the resamples in order.
//
// The pool keeps the output of the run exactly as if each item were
// resampled right after its asymptotic tests. An item comes with the output
// of its tests (its OutputRecord: text, message-log lines, score-log
// blocks, and the stop that ended it, if one did). When nothing waits it is
// written at once; else it is kept with the item, and everything is written
// in item order as the items finish. The first item in play at a stage's
// start is "live": its pending output is written first, so the warnings of
// the refits that the stage computes, and a fatal stop while making a
// resample, fall where the item-by-item order puts them (and the later
// items' score logs are not written). An item whose tests stopped the run
// has every waiting item finished and written first, then its output, and
// the stop goes on.

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "driver/gene_results.h"
#include "driver/resampling.h"
#include "driver/run_setup.h"
#include "driver/settings.h"
#include "numeric/run_output.h"
#include "stats/resampled_stats.h"

// What the pool keeps of an item of either kind: whether it writes a result
// row and takes part in the resampling, its tests (a variant has test[0]
// only) and its output while it waited. Its row goes to its pass's result
// file when it leaves the pool.
struct PoolItem {
  enum Kind { kGene, kVariant };
  explicit PoolItem(Kind k) : kind(k) {}
  virtual ~PoolItem() = default;
  const Kind kind;
  bool has_row = false;    // tested: writes a result row
  bool resampled = false;  // takes part in the resampling
  bool live = false;       // its pending text is written; later text goes out directly
  bool finished = false;
  ResampleTest test[kTests];
  // Its output while it waited: text and deferred writes (message-log
  // lines, score-log blocks), replayed when it is written or made live.
  OutputRecord pending;
  size_t counted = 0;  // bytes counted against the pool's bound
  // Bytes it holds, counted against the pool's bound.
  virtual size_t bytes() const = 0;
  // Writes its result row.
  virtual void write_row(const Settings &settings, RunArrays &run) const = 0;
};

// A gene: its kept row values and, when resampled, the tests that take part
// and the rows its statistics are evaluated on.
struct PooledGene : PoolItem {
  PooledGene() : PoolItem(kGene) {}
  GeneRow row;
  bool part[kTests] = {false, false, false, false, false, false};
  ResampledRows rows;
  size_t bytes() const override;
  void write_row(const Settings &settings, RunArrays &run) const override;
};

// A common variant ("-com" with "-resample"): one test (test[0], |Z| of its
// coded column), the values of its row in the common-variant result file
// (identifier, genotype row k, asymptotic U and V) and the column, dense,
// with its variance part when the scheme's is fixed; its end-of-stage-3
// warning names the variant ("SNP %s ...").
struct PooledVariant : PoolItem {
  PooledVariant() : PoolItem(kVariant) {}
  long k = 0;
  std::string snpID;
  double U = 0, V = 0;
  std::vector<double> column;
  double vfix = 0;
  size_t bytes() const override;
  void write_row(const Settings &settings, RunArrays &run) const override;
};

// Adds the hits of the variants in play (test[0]) on the nb resamples of a
// block: hits[v] for variants[v], their columns evaluated side by side
// (column_block_statistics).
void variant_block_hits(PooledVariant *const *variants, int count,
                        const ResampleNull *const *block, int nb, const ResampleDesign &design,
                        EvalWork &work, long *hits);

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

// The pool of a pass.
struct ResamplingPool {
  const Settings *settings = nullptr;
  RunArrays *run = nullptr;
  MessageLog *log = nullptr;
  ResampleScheme *scheme = nullptr;
  Resample *r = nullptr;
  // Resamples made as one block and evaluated item by item, so that each
  // item's rows are read once per block: block[0] is *r, the others are
  // the pool's own.
  std::vector<Resample> extra;
  EvalWork work;  // sized for every gene added; each range's scratch copies it
  // A stage's resamples are split into contiguous ranges, one per thread.
  int threads = 1;
  std::vector<StageRange> ranges;
  std::deque<std::unique_ptr<PoolItem>> queue;
  long max_genes = 0;      // resampled items per pool; 0: bounded by bytes only
  size_t max_bytes = 0;
  size_t bytes = 0, peak_bytes = 0;
  long waiting = 0;        // resampled items in the queue
  bool report = false;     // stage report on standard error
  int pool_number = 0;
  bool running = false;    // a pool's stages are running
};

// Pool limits from the environment: QUORVEX_RESAMPLE_POOL (resampled items
// per pool, 1 = item by item; default no limit) and
// QUORVEX_RESAMPLE_POOL_BYTES (default 1 GiB); QUORVEX_RESAMPLE_REPORT=1
// prints each stage's figures on standard error.
void init_resampling_pool(const Settings &settings, RunArrays &run, MessageLog &log,
                          ResampleScheme &scheme, Resample &r, ResamplingPool &pool);

// An item after its asymptotic tests, in item order, with their output
// (has_row/resampled set; item may be null only when output stopped):
// written out at once when nothing waits and it is not resampled, else
// queued; the pool runs when a limit is reached. When output holds a stop,
// the waiting items are resampled and written first, then output, and the
// stop goes on (a stop while resampling them replaces it: the stopped item
// then never started).
void pool_add(ResamplingPool &pool, std::unique_ptr<PoolItem> item, OutputRecord &output);

// Runs the stages over the waiting items and writes every queued item.
void run_pool(ResamplingPool &pool);

// End of the pass: runs what waits; prints the peak figures when
// reporting.
void finish_resampling_pool(ResamplingPool &pool);

#endif
