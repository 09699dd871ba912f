// Cost of making resamples alone: the trait, the null refit and the null
// model of resamples s = 0 .. n-1 of a run's phenotype file, without any
// gene. A first pass fills the refit cache (for a binary trait with
// covariates: a logistic fit per resample); a second pass makes the same
// resamples again reading the cache, so the difference of the two passes is
// the time of the refits alone.
//
//   bench_resample_bench PHENOTYPE_FILE N_RESAMPLES
//
// N_RESAMPLES should end a stage (1000, 100000 or 1000000): the cache rows of
// a stage count as filled only once its last row is stored, so a second
// pass over part of a stage refits again. Prints one line per pass on
// standard error with seconds and microseconds per resample.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/input.h"
#include "driver/resampling.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s PHENOTYPE_FILE N_RESAMPLES\n", argv[0]);
    return 2;
  }
  const long n = atol(argv[2]);
  std::vector<std::string> args = {"quorvex", "-pfile", argv[1], "-noRare", "-resample", "1"};
  std::vector<char *> av;
  for (std::string &a : args) av.push_back(&a[0]);
  Settings settings;
  load_options((int)av.size(), av.data(), &settings);
  LoadedData data;
  load_phenotype(settings.phenotype, &data.pheno);
  data.geno.geno_NROW = 1;
  NullModel null_model;
  RunArrays run;
  allocate_run(settings, data, null_model, run);
  fit_null_model(settings, data, null_model, run);
  ResampleScheme scheme;
  Resample r;
  init_resample_scheme(settings, data, null_model, run, scheme, r);
  double seconds[2];
  for (int pass = 0; pass < 2; pass++) {
    start_resampling(scheme);
    auto t0 = std::chrono::steady_clock::now();
    for (long s = 0; s < n; s++) make_resample(scheme, s, r);
    seconds[pass] = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  fprintf(stderr,
          "resamples %ld, subjects %d, design columns %d, %s trait\n"
          "making resamples (refits computed): %.3f s, %.2f us each\n"
          "making resamples (refits cached):   %.3f s, %.2f us each\n"
          "refits alone (difference):          %.3f s, %.2f us each\n",
          n, scheme.N, scheme.D, scheme.binary ? "binary" : "quantitative", seconds[0],
          seconds[0] / n * 1e6, seconds[1], seconds[1] / n * 1e6, seconds[0] - seconds[1],
          (seconds[0] - seconds[1]) / n * 1e6);
  free_resample_scheme(scheme, r);
  return 0;
}
