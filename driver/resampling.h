#ifndef QUORVEX_DRIVER_RESAMPLING_H
#define QUORVEX_DRIVER_RESAMPLING_H

// The adaptive resampling scheme shared by the gene pass and the
// common-variant pass: how resample s (its trait and its null model) is
// made, the run-wide cache of refitted null coefficients, the hit rule and
// the stage bookkeeping of each test.
//
// Resample s is the same data set for every gene and variant of a run: the
// generators are reset before the resampling of each, and every resample
// consumes the same number of uniforms (N - 1 for a permutation of the
// subjects, N for the Bernoulli draws of a binary trait with covariates).
// A caller can therefore make resample s once and evaluate every gene or
// variant in play on it; seek_resample sets the generators to the start of
// any resample s directly.

#include <cmath>

#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"
#include "stats/resampled_stats.h"

const long N_PERM_STEP1 = 1000;     // resamples in all at the end of stage 1
const long N_PERM_STEP2 = 100000;   // ... of stage 2
const long N_PERM_STEP3 = 1000000;  // ... of stage 3

// Run-wide state of the scheme: the design and fixed null model that the
// statistics read (ResampleDesign), and what making a resample needs. The
// arrays it points to belong to the run (LoadedData, NullModel, RunArrays).
struct ResampleScheme : ResampleDesign {
  double *y = nullptr;      // observed trait (binary, permuted without covariates)
  double *pY = nullptr;     // binary with covariates: fitted null probabilities
  double *RY = nullptr, *addZ = nullptr, *scaleY = nullptr;  // quantitative
  double *mleZ = nullptr;   // D = 1: the intercept-only coefficient of every resample
  // Refit cache, D > 1 only: run->gammaPool row s holds the null
  // coefficients of resample s (s < 1,000,000); run->STEP1_FLAG, STEP2_FLAG
  // and STEP3_FLAG say which stages' rows are filled. Kept in the run's
  // arrays, so every pass's scheme shares them.
  RunArrays *run = nullptr;
  long MORE = 0;  // "-resample" value, used when mmore is 1
  int mmore = 0;
};

// One resample: its trait and null model (ResampleNull: for a binary trait
// without covariates v and Iz point to the scheme's fixed ones) and the
// storage and work arrays that make them. Allocated once, refilled per
// resample.
struct Resample : ResampleNull {
  long s = -1;
  int *perm = nullptr;        // [N] permutation (permutation cases)
  double *v_own = nullptr;    // [N] storage for v
  double **Iz_own = nullptr;  // [D][D] storage for Iz
  double *gamma = nullptr;    // [D] work: computed null coefficients
  double *YZ = nullptr;       // [D] work
  bool refit_warned = false;  // a refit of this resample printed its warning
};

// Sets the scheme up for the run (after fit_null_model); Resample storage too.
void init_resample_scheme(const Settings &settings, const LoadedData &data,
                          const NullModel &null_model, RunArrays &run, ResampleScheme &scheme,
                          Resample &r);
void free_resample_scheme(ResampleScheme &scheme, Resample &r);

// Sets the scheme's run-wide values from its data pointers, once, before any
// resample is allocated or any worker thread starts: fixed_variance and, for
// a binary trait without covariates, the fixed null model (v_fixed,
// mu_fixed, Iz_fixed). Every later use only reads them.
void set_run_wide_values(ResampleScheme &scheme);

// Allocates the storage of r for a scheme whose run-wide values are set; it
// reads the scheme only, so threads may call it side by side.
void alloc_resample(const ResampleScheme &scheme, Resample &r);

// Releases the storage of r alone (a further resample of the same scheme).
void free_resample(const ResampleScheme &scheme, Resample &r);

// Resets the generators for the resampling of one gene, one variant or one
// pool of them: the permutation generator always, the Bernoulli generator
// for a binary trait.
void start_resampling(const ResampleScheme &scheme);

// Sets the generators to their state at the start of resample s, as if
// resamples 0..s-1 had been made after start_resampling.
void seek_resample(const ResampleScheme &scheme, long s);

// Makes resample s from the generators' current state (which it advances):
// the trait, the null coefficients (from the cache or refitted, filling the
// cache), the null model and the shared EREC values. A stage's flag is set
// when its last row is stored; with mark false it is left to the caller
// (mark_refits_stored), so that threads filling separate rows of one stage
// never read a row that another has yet to fill.
void make_resample(ResampleScheme &scheme, long s, Resample &r, bool mark = true);

// After every resample of [first, end) was made with mark false: sets the
// flag of the stage whose last row is end - 1, as make_resample would have.
void mark_refits_stored(ResampleScheme &scheme, long first, long end);

// A test of the resampling: its observed statistic, hit count, p-value slot
// and whether it is in play.
struct ResampleTest {
  double obs = 0;
  double n = 0;
  double *slot = nullptr;
  bool in_play = false;
};

// Hit rule: the resampled statistic reaches the observed one, with an
// absolute tolerance of 1e-10; a NaN never hits.
inline bool is_hit(double T_s, double T_obs) {
  return T_s > T_obs || std::fabs(T_s - T_obs) < 1e-10;
}

// Resamples s of stage 1..4 are [stage_first(stage), stage_end(stage)).
long stage_first(int stage);
long stage_end(int stage, const ResampleScheme &scheme);

// End of a stage for a test in play: writes (n + 1) / (resamples so far + 1)
// into its slot and decides whether it goes on (stage 1: p <= 0.1, stage 2:
// p <= 0.001, stage 3: mmore and p <= 0.0001, stage 4: never). Returns true
// when the end-of-stage-3 warning is due (p < 0.0001 without mmore).
bool end_stage(ResampleTest &test, int stage, const ResampleScheme &scheme);

// The warning text of a logistic refit that did not converge.
extern const char *const kRefitWarning;

#endif
