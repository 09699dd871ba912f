#include "driver/gene_pass.h"

#include "driver/burden_tests.h"
#include "driver/common_pass.h"
#include "driver/family_tests.h"
#include "driver/gene_resampling.h"
#include "driver/gene_results.h"
#include "driver/gene_setup.h"
#include "driver/score_logs.h"

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
    for (long k = 0; k < data.map.N_GENE; k++) {
      gene.k = k;
      if (select_gene_variants(settings, data, index, run, map_index, gene) == 0) continue;
      read_gene_data(settings, data, weights, run, gene);
      if (!burden_step(settings, data, run, gene, log)) {
        release_gene(data, run, gene);
        continue;
      }
      burden_tests(settings, data, null_model, run, gene, log);
      family_tests(settings, data, null_model, run, gene, rows, log);
      release_gene(data, run, gene);
      release_family_rows(data, rows);
      write_gene_row(settings, run, k, gene.geneID);
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
  for (long k = 0; k < data.map.N_GENE; k++) {
    gene.k = k;
    pool_begin_gene(pool);
    std::unique_ptr<PooledGene> g(new PooledGene());
    if (select_gene_variants(settings, data, index, run, map_index, gene) != 0) {
      read_gene_data(settings, data, weights, run, gene);
      if (burden_step(settings, data, run, gene, log)) {
        burden_tests(settings, data, null_model, run, gene, log);
        family_tests(settings, data, null_model, run, gene, rows, log);
        g->has_row = true;
        prepare_gene_resampling(settings, data, null_model, scheme, run, gene, rows, *g);
        for (int t = 0; t < run.N_FIX; t++) {
          g->mac_fix[t] = run.mac_fix[t];
          g->U[t] = run.pvalue_U[t];
          g->V[t] = run.pvalue_V[t];
        }
        release_family_rows(data, rows);
      }
      release_gene(data, run, gene);
    }
    g->k = k;
    g->geneID = gene.geneID;
    pool_end_gene(pool, std::move(g));
  }
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
