#include "driver/resampling_pool.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "driver/common_results.h"
#include "numeric/parallel.h"
#include "numeric/run_output.h"
#include "stats/column_lanes.h"

namespace {

template <class T>
size_t vec_bytes(const std::vector<T> &v) {
  return v.capacity() * sizeof(T);
}

size_t pending_bytes(const OutputRecord &r) {
  return r.text.capacity() + r.actions.capacity() * sizeof(OutputRecord::Action);
}

}  // namespace

size_t PooledGene::bytes() const {
  return sizeof(PooledGene) + row.geneID.capacity() + rows.bytes() + pending_bytes(pending);
}

void PooledGene::write_row(const Settings &settings, RunArrays &run) const {
  write_kept_row(settings, run, row);
}

size_t PooledVariant::bytes() const {
  return sizeof(PooledVariant) + snpID.capacity() + vec_bytes(column) + pending_bytes(pending);
}

void PooledVariant::write_row(const Settings &settings, RunArrays &run) const {
  CommonVariant v;
  v.k = k;
  v.snpID = snpID.c_str();
  v.U = U;
  v.V = V;
  append_common_row(settings, run, v);
}

void variant_block_hits(PooledVariant *const *variants, int count,
                        const ResampleNull *const *block, int nb, const ResampleDesign &scheme,
                        EvalWork &work, long *hits) {
  std::vector<const double *> columns((size_t)count);
  std::vector<double> vfix((size_t)count, 0.0), T((size_t)count * kResampleBlock);
  for (int v = 0; v < count; v++) {
    columns[v] = variants[v]->column.data();
    vfix[v] = variants[v]->vfix;
  }
  column_block_statistics(columns.data(), vfix.data(), count, block, nb, scheme, work, T.data());
  for (int v = 0; v < count; v++) {
    const double obs = variants[v]->test[0].obs;
    for (int b = 0; b < nb; b++)
      if (is_hit(T[v * kResampleBlock + b], obs)) hits[v]++;
  }
  work.entries += (long)count * nb * scheme.N;
}

namespace {

const char *const kTestName[kTests] = {"T1", "T5", "MB", "VT", "SKAT", "EREC"};

// Writes what an item's record holds (its text, message-log lines and other
// deferred writes, in order) and empties it.
void write_pending(PoolItem &g) {
  g.pending.stop.reset();
  commit_output(g.pending);
  g.pending.clear();
}

void write_row(ResamplingPool &p, const PoolItem &g) { g.write_row(*p.settings, *p.run); }

// Writes and drops the queued items before stop (all finished), then makes
// stop live (its pending text written).
void flush_until(ResamplingPool &p, PoolItem *stop) {
  while (!p.queue.empty() && p.queue.front().get() != stop) {
    std::unique_ptr<PoolItem> g = std::move(p.queue.front());
    p.queue.pop_front();
    if (!g->live) write_pending(*g);
    if (g->has_row) write_row(p, *g);
    p.bytes -= g->counted;
    if (g->resampled) p.waiting--;
  }
  if (stop != nullptr && !stop->live) {
    write_pending(*stop);
    stop->live = true;
  }
}

// The end-of-stage-3 warning of an item's test.
void item_warning(ResamplingPool &p, PoolItem &g, const char *test_name) {
  char buf[1400];
  if (g.kind == PoolItem::kVariant)
    snprintf(buf, sizeof buf,
             "SNP %s Warning: The resampling p-value <1e-4 after 1 million resamples, so the "
             "p-value may not be accurate.\n",
             static_cast<const PooledVariant &>(g).snpID.c_str());
  else
    snprintf(buf, sizeof buf,
             "GENE %s Warning: The resampling p-value of %s test<1e-4 after 1 million "
             "resamples, so the p-value may not be accurate.\n",
             static_cast<const PooledGene &>(g).row.geneID.c_str(), test_name);
  if (g.live)
    report_warning(*p.log, "%s", buf);
  else
    capture_output(g.pending, [&] { report_warning(*p.log, "%s", buf); });
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long env_long(const char *name, long fallback) {
  const char *v = getenv(name);
  if (v == nullptr || *v == 0) return fallback;
  return atol(v);
}

// Ranges of a stage of `count` resamples: one per thread, at most one per
// block of resamples; the ranges' blocks are allocated on first use.
int stage_ranges(ResamplingPool &p, long count) {
  long nr = std::min<long>(p.threads, (count + kResampleBlock - 1) / kResampleBlock);
  if (nr < 1) nr = 1;
  if (p.ranges.size() < (size_t)nr) p.ranges.resize((size_t)nr);
  for (long t = 1; t < nr; t++) {
    std::vector<Resample> &block = p.ranges[(size_t)t].block;
    if (!block.empty()) continue;
    block.resize(kResampleBlock);
    for (Resample &x : block) alloc_resample(*p.scheme, x);
  }
  return (int)nr;
}

// Makes the resamples of a range from its first on, block by block, and
// counts the hits of every test in play on them. Runs on the range's
// thread: the generators (thread-local) start at range.from; the genes in
// play, the scheme and the cache rows of other ranges are only read.
// A range after one that stopped the run (first_stop) quits: its output is
// never written.
void run_range(ResamplingPool &p, const std::vector<PoolItem *> &play,
               const std::vector<PooledVariant *> &variants, StageRange &range, int index,
               const std::atomic<int> &first_stop) {
  ResampleScheme &scheme = *p.scheme;
  Resample *block[kResampleBlock];
  const ResampleNull *nulls[kResampleBlock];  // the same resamples, as the statistics read them
  const bool own = &range != &p.ranges[0];
  for (int b = 0; b < kResampleBlock; b++) {
    block[b] = own ? &range.block[(size_t)b] : b == 0 ? p.r : &p.extra[(size_t)b - 1];
    nulls[b] = block[b];
  }
  seek_resample(scheme, range.from);
  EvalWork &work = range.work;
  for (long s0 = range.from; s0 < range.to; s0 += kResampleBlock) {
    if (first_stop.load(std::memory_order_relaxed) < index) return;
    const int nb = (int)std::min<long>(kResampleBlock, range.to - s0);
    auto t0 = std::chrono::steady_clock::now();
    // Made in the order of s (a refit's warning or a fatal stop falls where
    // it would); the evaluations print nothing.
    for (int b = 0; b < nb; b++) {
      make_resample(scheme, s0 + b, *block[b], false);
      if (block[b]->refit_warned) range.refit_warnings++;
    }
    erec_block_lanes(scheme, nulls, nb, work);
    auto t1 = std::chrono::steady_clock::now();
    if (!variants.empty())
      variant_block_hits(variants.data(), (int)variants.size(), nulls, nb, scheme, work,
                         range.vhits.data());
    for (size_t i = 0; i < play.size(); i++) {
      if (play[i]->kind != PoolItem::kGene) continue;
      const PooledGene &g = static_cast<const PooledGene &>(*play[i]);
      for (int t = 0; t < kTests; t++) {
        const ResampleTest &test = g.test[t];
        if (!test.in_play) continue;
        long &hits = range.hits[i * kTests + t];
        if (t == kTestEREC) {
          double T[kResampleBlock];
          erec_block_statistics(g.rows.erec, scheme, nulls, nb, work, T);
          for (int b = 0; b < nb; b++)
            if (is_hit(T[b], test.obs)) hits++;
          continue;
        }
        for (int b = 0; b < nb; b++)
          if (is_hit(resampled_statistic(g.rows, t, scheme, *block[b], work), test.obs)) hits++;
      }
    }
    if (p.report) {
      range.make_s += std::chrono::duration<double>(t1 - t0).count();
      range.eval_s += seconds_since(t1);
    }
  }
}

}  // namespace

void init_resampling_pool(const Settings &settings, RunArrays &run, MessageLog &log,
                          ResampleScheme &scheme, Resample &r, ResamplingPool &pool) {
  pool.settings = &settings;
  pool.run = &run;
  pool.log = &log;
  pool.scheme = &scheme;
  pool.r = &r;
  pool.max_genes = env_long("QUORVEX_RESAMPLE_POOL", 0);
  const long max_bytes = env_long("QUORVEX_RESAMPLE_POOL_BYTES", 1L << 30);
  pool.max_bytes = max_bytes > 0 ? (size_t)max_bytes : (size_t)1 << 30;
  pool.report = env_long("QUORVEX_RESAMPLE_REPORT", 0) != 0;
  pool.work.SZ.assign((size_t)scheme.D, 0.0);
  pool.extra.resize(kResampleBlock - 1);
  for (Resample &x : pool.extra) alloc_resample(scheme, x);
  pool.threads = thread_count();
  pool.ranges.resize(1);
}

void pool_add(ResamplingPool &pool, std::unique_ptr<PoolItem> item, OutputRecord &output) {
  if (output.stopped()) {
    // The waiting items are resampled and written first, as the item-by-item
    // order has them, then the stopped item's output, which raises its stop.
    run_pool(pool);
    commit_output(output);
  }
  PoolItem &g = *item;
  if (pool.queue.empty()) {
    commit_output(output);  // nothing waits: its text goes out directly
    if (!g.resampled) {
      if (g.has_row) write_row(pool, g);
      return;
    }
    g.live = true;
  } else {
    g.pending = std::move(output);
  }
  if (g.resampled) {
    if (g.kind == PoolItem::kGene) {
      const ErecRows &e = static_cast<const PooledGene &>(g).rows.erec;
      pool.work.fit((size_t)e.M, e.subj.size());
    }
    pool.waiting++;
  }
  g.counted = g.bytes();
  pool.bytes += g.counted;
  pool.peak_bytes = std::max(pool.peak_bytes, pool.bytes);
  pool.queue.push_back(std::move(item));
  if ((pool.max_genes > 0 && pool.waiting >= pool.max_genes) || pool.bytes >= pool.max_bytes)
    run_pool(pool);
}

void run_pool(ResamplingPool &p) {
  if (p.waiting == 0) {
    flush_until(p, nullptr);
    return;
  }
  p.running = true;
  p.pool_number++;
  ResampleScheme &scheme = *p.scheme;
  std::vector<PoolItem *> play;
  for (int stage = 1; stage <= 4; stage++) {
    if (stage == 4 && scheme.mmore != 1) break;
    play.clear();
    for (auto &g : p.queue) {
      if (!g->resampled || g->finished) continue;
      bool in = stage == 1;
      for (int t = 0; t < kTests; t++) in = in || g->test[t].in_play;
      if (in)
        play.push_back(g.get());
      else
        g->finished = true;
    }
    if (play.empty()) break;
    // Variants (one dense column each) are evaluated together in lanes.
    std::vector<PooledVariant *> variants;
    for (PoolItem *g : play)
      if (g->kind == PoolItem::kVariant && g->test[0].in_play)
        variants.push_back(static_cast<PooledVariant *>(g));
    flush_until(p, play[0]);
    const long first = stage_first(stage), end = stage_end(stage, scheme);
    const auto wall0 = std::chrono::steady_clock::now();
    const int nr = stage_ranges(p, end - first);
    for (int t = 0; t < nr; t++) {
      StageRange &range = p.ranges[t];
      range.from = first + (end - first) * t / nr;
      range.to = first + (end - first) * (t + 1) / nr;
      range.work = p.work;
      range.work.entries = 0;
      range.hits.assign(play.size() * kTests, 0);
      range.vhits.assign(variants.size(), 0);
      range.refit_warnings = 0;
      range.make_s = range.eval_s = 0;
    }
    // Each range in a capture on its thread, replayed in range order: the
    // refit warnings in the order of s, and a fatal stop in range r after
    // the text of ranges 0..r-1 (the later ranges' text is dropped). A
    // single range is captured too, so that a stop unwinds its work (and
    // frees its storage) before the run ends.
    std::atomic<int> first_stop(nr);
    if (nr == 1) {
      OutputRecord record;
      capture_output(record, [&] { run_range(p, play, variants, p.ranges[0], 0, first_stop); });
      commit_output(record);
    } else {
      run_in_order(nr, nr, nr, [&](long t, int) {
        try {
          run_range(p, play, variants, p.ranges[(size_t)t], (int)t, first_stop);
        } catch (const RunStop &) {
          int seen = first_stop.load();
          while ((int)t < seen && !first_stop.compare_exchange_weak(seen, (int)t)) {
          }
          throw;
        }
      });
    }
    mark_refits_stored(scheme, first, end);
    long refit_warnings = 0, entries = 0;
    double make_s = 0, eval_s = 0;
    for (int t = 0; t < nr; t++) {
      const StageRange &range = p.ranges[t];
      for (size_t i = 0; i < play.size(); i++)
        for (int k = 0; k < kTests; k++) play[i]->test[k].n += (double)range.hits[i * kTests + k];
      for (size_t v = 0; v < variants.size(); v++)
        variants[v]->test[0].n += (double)range.vhits[v];
      refit_warnings += range.refit_warnings;
      entries += range.work.entries;
      make_s += range.make_s;
      eval_s += range.eval_s;
    }
    for (PoolItem *g : play) {
      // Refits beyond the cache are made again by every gene in play: each
      // prints their warnings (the live gene's went out as they happened).
      if (!g->live)
        for (long c = 0; c < (stage == 4 ? refit_warnings : 0); c++)
          g->pending.text += kRefitWarning;
      for (int t = 0; t < kTests; t++)
        if (g->test[t].in_play && end_stage(g->test[t], stage, scheme))
          item_warning(p, *g, kTestName[t]);
    }
    if (p.report)
      fprintf(stderr,
              "resampling pool %d stage %d: %ld resamples, %zu genes in play, %d threads, "
              "%.3f s, making %.3f s, evaluating %.3f s (thread sums), %ld entries, %.2f ns per "
              "entry\n",
              p.pool_number, stage, end - first, play.size(), nr, seconds_since(wall0), make_s,
              eval_s, entries, entries > 0 ? eval_s * 1e9 / (double)entries : 0.0);
  }
  for (auto &g : p.queue) g->finished = true;
  p.running = false;
  flush_until(p, nullptr);
}

void finish_resampling_pool(ResamplingPool &pool) {
  run_pool(pool);
  for (Resample &x : pool.extra) free_resample(*pool.scheme, x);
  pool.extra.clear();
  for (StageRange &range : pool.ranges)
    for (Resample &x : range.block) free_resample(*pool.scheme, x);
  pool.ranges.clear();
  if (pool.report) {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    fprintf(stderr, "resampling pool peak %.1f MB, run peak resident %.1f MB\n",
            (double)pool.peak_bytes / 1e6, (double)usage.ru_maxrss / 1e3);
  }
}
