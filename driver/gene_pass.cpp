#include "driver/gene_pass.h"

#include "driver/burden_tests.h"
#include "driver/common_pass.h"
#include "driver/family_tests.h"
#include "driver/gene_resampling.h"
#include "driver/gene_results.h"
#include "driver/gene_setup.h"
#include "driver/resampling_pool.h"
#include "driver/score_logs.h"
#include "numeric/parallel.h"
#include "numeric/run_output.h"
#include "numeric/run_stop.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

// What testing one gene gives: the values of its result row (has_row false
// for a gene without usable variants or that fails its burden step), its
// output while it was tested (its printed text, its warnings on standard
// output and their message-log lines, its score-log blocks, in order, and
// the stop that ended it, if one did) and, with resampling, its pool item
// (its observed statistics and kept rows).
struct GeneResult {
  bool has_row = false;
  GeneRow row;
  OutputRecord output;
  std::unique_ptr<PooledGene> item;
};

// The road of one gene, from its mapping rows (from map_index, advanced past
// them) to its result. Everything the gene writes is recorded in the
// result's output (numeric/run_output.h: run_print, run_defer) and leaves
// only when the pass writes the result or hands it to the pool; a stop in
// the gene ends its road, kept in the output with the text before it.
GeneResult test_gene(const Settings &settings, const LoadedData &data,
                     const NullModel &null_model, const GenotypeIndex &index,
                     WeightIndex &weights, RunArrays &run, long &map_index, GeneUnderTest &gene,
                     FamilyRows &rows, MessageLog &log, const ResampleScheme *scheme) {
  GeneResult r;
  if (scheme != nullptr) r.item.reset(new PooledGene());
  capture_output(r.output, [&] {
    if (select_gene_variants(settings, data, index, run, map_index, gene) == 0) return;
    read_gene_data(settings, data, weights, run, gene);
    if (burden_step(settings, data, run, gene, log)) {
      burden_tests(settings, data, null_model, run, gene, log);
      family_tests(settings, data, null_model, run, gene, rows, log);
      r.has_row = true;
      if (scheme != nullptr)
        prepare_gene_resampling(settings, data, null_model, *scheme, run, gene, rows, *r.item);
      keep_row_values(run, r.row);
      release_family_rows(data, rows);
    }
    release_gene(data, run, gene);
  });
  r.row.k = gene.k;
  r.row.geneID = gene.geneID;
  return r;
}

// A gene of a pass without resampling, in gene order: its output, then its
// row; a stop kept in its output goes on after the text before it.
void write_gene_result(const Settings &settings, RunArrays &run, GeneResult &r) {
  commit_output(r.output);
  if (r.has_row) write_kept_row(settings, run, r.row);
}

// A gene of a pass with resampling, in gene order: its item and output into
// the pool, which writes them when the gene leaves it.
void pool_end_gene(ResamplingPool &pool, GeneResult &&r) {
  if (r.item) {
    r.item->has_row = r.has_row;
    r.item->row = std::move(r.row);
  }
  pool_add(pool, std::move(r.item), r.output);
}

// The first mapping row of each gene: genes are the runs of equal gene
// identifiers of the sorted mapping, as select_gene_variants walks them.
std::vector<long> gene_first_rows(const MappingData &map) {
  std::vector<long> first;
  for (long r = 0; r < map.map_NROW; r++)
    if (r == 0 || strcmp(map.map_geneID[r], map.map_geneID[r - 1]) != 0) first.push_back(r);
  return first;
}

// A thread's own copies of what testing a gene writes: the run's scratch,
// the mapping's threshold flags, the gene and its kept rows.
struct GeneWorker {
  RunArrays run;
  LoadedData data;
  std::vector<int> thresh_index;
  GeneUnderTest gene;
  FamilyRows rows;
};

void start_worker(const Settings &settings, const LoadedData &data, const RunArrays &run,
                  GeneWorker &w) {
  allocate_gene_scratch(settings, data, run, w.run);
  w.data = data;
  if (data.map.EXT_THRESH) {
    w.thresh_index.assign(static_cast<size_t>(data.geno.geno_NROW), 0);
    w.data.map.thresh_index = w.thresh_index.data();
  }
}

// Most genes whose output may wait for an earlier, slower gene (per thread).
const long kGenesAheadPerThread = 1024;

// Most genes tested ahead of the pool per thread with resampling on (their
// items wait outside the pool's memory bound).
const long kPoolGenesAheadPerThread = 4;

// Genes side by side: each thread tests whole genes with its own scratch
// into their results; the calling thread takes each result in gene order
// (into the pool with resampling, else written), so that standard output,
// the message log and the files get exactly the bytes of one thread. A gene
// whose result holds a stop stops its worker too: the ordered pass then
// starts no further gene, and the stop goes on when that gene's turn comes.
// A single gene is tested on the calling thread, the others serving as
// spare threads of its integrations.
void test_genes_side_by_side(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const GenotypeIndex &index,
                             WeightIndex &weights, RunArrays &run, MessageLog &log, int threads,
                             const std::vector<long> &first_rows, const ResampleScheme *scheme,
                             ResamplingPool *pool) {
  std::vector<GeneWorker> workers(static_cast<size_t>(threads));
  for (GeneWorker &w : workers) start_worker(settings, data, run, w);
  const long per_thread = pool != nullptr ? kPoolGenesAheadPerThread : kGenesAheadPerThread;
  const long window = per_thread * threads;
  std::vector<GeneResult> results(static_cast<size_t>(window));
  // As run_in_order decides: several genes run on workers, a single one on
  // the calling thread (before, work, after, without a capture).
  const bool on_workers = data.map.N_GENE > 1;
  auto test = [&](long k, int t) {
    GeneWorker &w = workers[static_cast<size_t>(t)];
    long map_index = first_rows[static_cast<size_t>(k)];
    w.gene.k = k;
    GeneResult &r = results[static_cast<size_t>(k % window)];
    r = test_gene(settings, w.data, null_model, index, weights, w.run, map_index, w.gene, w.rows,
                  log, scheme);
    if (on_workers && r.output.stopped()) raise_stop(*r.output.stop);
  };
  // On the calling thread, in gene order: on workers just before the gene's
  // own (empty, or stopped) record is replayed, else right after its test.
  auto take = [&](long k) {
    GeneResult &r = results[static_cast<size_t>(k % window)];
    if (pool != nullptr)
      pool_end_gene(*pool, std::move(r));
    else
      write_gene_result(settings, run, r);
    r = GeneResult();
  };
  if (on_workers)
    run_in_order(data.map.N_GENE, threads, window, test, nullptr, take);
  else
    run_in_order(data.map.N_GENE, threads, window, test, take);
  for (GeneWorker &w : workers) free_gene_scratch(settings, data, w.run);
}

}  // namespace

void gene_pass(const Settings &settings, const LoadedData &data, const NullModel &null_model,
               RunArrays &run, MessageLog &log) {
  create_score_logs(settings, data, null_model);
  write_gene_header(settings);

  GenotypeIndex index;
  build_genotype_index(data, index);
  WeightIndex weights;  // built by the first gene that reads weights
  if (data.map.EXT_THRESH)
    for (long r = 0; r < data.geno.geno_NROW; r++) data.map.thresh_index[r] = 0;

  GeneUnderTest gene;
  FamilyRows rows;
  long map_index = 0;
  const int threads = thread_count();
  const std::vector<long> first_rows = gene_first_rows(data.map);
  const bool side_by_side =
      threads > 1 && data.map.N_GENE >= 1 && (long)first_rows.size() == data.map.N_GENE;
  if (!settings.PERM_FLAG) {
    if (side_by_side) {
      test_genes_side_by_side(settings, data, null_model, index, weights, run, log, threads,
                              first_rows, nullptr, nullptr);
      return;
    }
    for (long k = 0; k < data.map.N_GENE; k++) {
      gene.k = k;
      GeneResult r = test_gene(settings, data, null_model, index, weights, run, map_index, gene,
                               rows, log, nullptr);
      write_gene_result(settings, run, r);
    }
    return;
  }

  // With resampling, a tested gene waits in the pool after its asymptotic
  // tests; the pool's stages resample every waiting gene at once.
  ResampleScheme scheme;
  Resample resample;
  init_resample_scheme(settings, data, null_model, run, scheme, resample);
  ResamplingPool pool;
  init_resampling_pool(settings, run, log, scheme, resample, pool);
  if (side_by_side) {
    test_genes_side_by_side(settings, data, null_model, index, weights, run, log, threads,
                            first_rows, &scheme, &pool);
  } else {
    for (long k = 0; k < data.map.N_GENE; k++) {
      gene.k = k;
      GeneResult r = test_gene(settings, data, null_model, index, weights, run, map_index, gene,
                               rows, log, &scheme);
      pool_end_gene(pool, std::move(r));
    }
  }
  finish_resampling_pool(pool);
  free_resample_scheme(scheme, resample);
}

int run_testing(const Settings &settings, const LoadedData &data) {
  check_null_model_data(data);
  check_design(settings, data);
  NullModel null_model;
  RunArrays run;
  allocate_run(settings, data, null_model, run);
  fit_null_model(settings, data, null_model, run);
  MessageLog log;
  start_testing(settings, log);
  if (settings.DOCOM) common_pass(settings, data, null_model, run, log);
  if (settings.DORARE) gene_pass(settings, data, null_model, run, log);
  end_testing(log);
  free_run(settings, data, null_model, run);
  return 0;
}
