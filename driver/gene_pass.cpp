#include "driver/gene_pass.h"

#include "driver/burden_tests.h"
#include "driver/common_pass.h"
#include "driver/family_tests.h"
#include "driver/gene_resampling.h"
#include "driver/gene_results.h"
#include "driver/gene_setup.h"
#include "driver/score_logs.h"
#include "numeric/parallel.h"

#include <cstring>
#include <memory>
#include <vector>

namespace {

// The road of one gene, from its mapping rows (from map_index, advanced past
// them) to its result: the values of its result row (none for a gene
// without usable variants or that fails its burden step) and, with
// resampling (scheme given), the observed statistics and kept rows of its
// pool item. What the gene prints, its warnings (report_warning: standard
// output and the message log) and its score-log blocks are written as its
// tests run: straight out on the pass's own thread, or, on a worker of a
// side-by-side pass, into the item's output record, which the pass replays
// in gene order (numeric/run_output.h). Its row is written by the pass:
// the plain passes write it at once, the pooled pass when the gene leaves
// the pool.
std::unique_ptr<PooledGene> test_gene(const Settings &settings, const LoadedData &data,
                                      const NullModel &null_model, const GenotypeIndex &index,
                                      WeightIndex &weights, RunArrays &run, long &map_index,
                                      GeneUnderTest &gene, FamilyRows &rows, MessageLog &log,
                                      const ResampleScheme *scheme) {
  std::unique_ptr<PooledGene> g(new PooledGene());
  if (select_gene_variants(settings, data, index, run, map_index, gene) != 0) {
    read_gene_data(settings, data, weights, run, gene);
    if (burden_step(settings, data, run, gene, log)) {
      burden_tests(settings, data, null_model, run, gene, log);
      family_tests(settings, data, null_model, run, gene, rows, log);
      g->has_row = true;
      if (scheme != nullptr)
        prepare_gene_resampling(settings, data, null_model, *scheme, run, gene, rows, *g);
      keep_row_values(run, *g);
      release_family_rows(data, rows);
    }
    release_gene(data, run, gene);
  }
  g->k = gene.k;
  g->geneID = gene.geneID;
  return g;
}

// A gene of a pass without resampling: tested, and its row written.
void test_and_write_gene(const Settings &settings, const LoadedData &data,
                         const NullModel &null_model, const GenotypeIndex &index,
                         WeightIndex &weights, RunArrays &run, long &map_index,
                         GeneUnderTest &gene, FamilyRows &rows, MessageLog &log) {
  const std::unique_ptr<PooledGene> g =
      test_gene(settings, data, null_model, index, weights, run, map_index, gene, rows, log,
                nullptr);
  if (g->has_row) write_result_row(settings, run, *g);
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

// Genes side by side: each thread tests whole genes with its own scratch;
// the genes' text and file writes reach standard output, the message log and
// the files in gene order, exactly as on one thread.
void test_genes_side_by_side(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const GenotypeIndex &index,
                             WeightIndex &weights, RunArrays &run, MessageLog &log, int threads,
                             const std::vector<long> &first_rows) {
  std::vector<GeneWorker> workers(static_cast<size_t>(threads));
  for (GeneWorker &w : workers) start_worker(settings, data, run, w);
  run_in_order(
      data.map.N_GENE, threads, kGenesAheadPerThread * threads, [&](long k, int t) {
        GeneWorker &w = workers[static_cast<size_t>(t)];
        long map_index = first_rows[static_cast<size_t>(k)];
        w.gene.k = k;
        test_and_write_gene(settings, w.data, null_model, index, weights, w.run, map_index,
                            w.gene, w.rows, log);
      });
  for (GeneWorker &w : workers) free_gene_scratch(settings, data, w.run);
}

// Most genes tested ahead of the pool per thread with resampling on (their
// items wait outside the pool's memory bound).
const long kPoolGenesAheadPerThread = 4;

// The asymptotic tests side by side with resampling on: the threads make the
// genes' pool items; the calling thread hands them to the pool in gene order,
// each gene's text replayed between pool_begin_gene and pool_end_gene as if
// the gene had been tested there.
void pool_genes_side_by_side(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const GenotypeIndex &index,
                             WeightIndex &weights, RunArrays &run, MessageLog &log, int threads,
                             const std::vector<long> &first_rows, const ResampleScheme &scheme,
                             GenePool &pool) {
  std::vector<GeneWorker> workers(static_cast<size_t>(threads));
  for (GeneWorker &w : workers) start_worker(settings, data, run, w);
  const long window = kPoolGenesAheadPerThread * threads;
  std::vector<std::unique_ptr<PooledGene>> items(static_cast<size_t>(window));
  run_in_order(
      data.map.N_GENE, threads, window,
      [&](long k, int t) {
        GeneWorker &w = workers[static_cast<size_t>(t)];
        long map_index = first_rows[static_cast<size_t>(k)];
        w.gene.k = k;
        items[static_cast<size_t>(k % window)] =
            test_gene(settings, w.data, null_model, index, weights, w.run, map_index, w.gene,
                      w.rows, log, &scheme);
      },
      [&](long k) { pool_end_gene(pool, std::move(items[static_cast<size_t>(k % window)])); },
      [&](long) { pool_begin_gene(pool); });
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
  if (!settings.PERM_FLAG) {
    const int threads = thread_count();
    const std::vector<long> first_rows = gene_first_rows(data.map);
    if (threads > 1 && data.map.N_GENE >= 1 && (long)first_rows.size() == data.map.N_GENE) {
      test_genes_side_by_side(settings, data, null_model, index, weights, run, log, threads,
                              first_rows);
      return;
    }
    for (long k = 0; k < data.map.N_GENE; k++) {
      gene.k = k;
      test_and_write_gene(settings, data, null_model, index, weights, run, map_index, gene, rows,
                          log);
    }
    return;
  }

  // With resampling, a tested gene waits in the pool after its asymptotic
  // tests; the pool's stages resample every waiting gene at once.
  ResampleScheme scheme;
  Resample resample;
  init_resample_scheme(settings, data, null_model, run, scheme, resample);
  GenePool pool;
  init_gene_pool(settings, run, log, scheme, resample, pool);
  const int threads = thread_count();
  const std::vector<long> first_rows = gene_first_rows(data.map);
  feed_gene_pool(pool, [&] {
    if (threads > 1 && data.map.N_GENE >= 1 && (long)first_rows.size() == data.map.N_GENE) {
      pool_genes_side_by_side(settings, data, null_model, index, weights, run, log, threads,
                              first_rows, scheme, pool);
    } else {
      for (long k = 0; k < data.map.N_GENE; k++) {
        gene.k = k;
        pool_begin_gene(pool);
        pool_end_gene(pool, test_gene(settings, data, null_model, index, weights, run,
                                      map_index, gene, rows, log, &scheme));
      }
    }
  });
  finish_gene_pool(pool);
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
