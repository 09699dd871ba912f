#include "driver/resampling.h"

#include <cmath>
#include <cstring>

#include "numeric/arrays.h"
#include "numeric/random.h"
#include "numeric/regression.h"
#include "stats/null_model.h"
#include "stats/permute.h"

const char *const kRefitWarning = "\nLogisticReg Warning:MLE iteration NOT converge!\n";

namespace {

bool permutes(const ResampleScheme &scheme) { return !(scheme.binary && scheme.D > 1); }

// Uniforms one resample consumes from its generator.
unsigned long long uniforms_per_resample(const ResampleScheme &scheme) {
  if (permutes(scheme)) return scheme.N > 1 ? (unsigned long long)(scheme.N - 1) : 0;
  return (unsigned long long)scheme.N;
}

// Whether the refit of resample s is read from the cache (true) or must be
// computed; *store says whether a computed refit goes into the cache.
bool cached_refit(const ResampleScheme &scheme, long s, bool *store) {
  *store = false;
  if (s >= N_PERM_STEP3) return false;
  const RunArrays &run = *scheme.run;
  const long flag = s < N_PERM_STEP1   ? run.STEP1_FLAG
                    : s < N_PERM_STEP2 ? run.STEP2_FLAG
                                       : run.STEP3_FLAG;
  if (flag) return true;
  *store = true;
  return false;
}

void mark_stored(ResampleScheme &scheme, long s) {
  RunArrays &run = *scheme.run;
  if (s == N_PERM_STEP1 - 1) run.STEP1_FLAG = 1;
  if (s == N_PERM_STEP2 - 1) run.STEP2_FLAG = 1;
  if (s == N_PERM_STEP3 - 1) run.STEP3_FLAG = 1;
}

}  // namespace

void init_resample_scheme(const Settings &settings, const LoadedData &data,
                          const NullModel &null_model, RunArrays &run, ResampleScheme &scheme,
                          Resample &r) {
  const int N = (int)data.pheno.pheno_NROW, D = (int)data.pheno.pheno_NCOL;
  scheme = ResampleScheme();
  scheme.N = N;
  scheme.D = D;
  scheme.binary = data.pheno.BINARY_Y != 0;
  scheme.y = data.pheno.y;
  scheme.z = data.pheno.z;
  scheme.pY = null_model.pY;
  scheme.RY = null_model.RY;
  scheme.addZ = null_model.addZ;
  scheme.scaleY = null_model.scaleY;
  scheme.Iz = null_model.Iz;
  scheme.mleZ = null_model.mleZ;
  scheme.run = &run;
  scheme.MORE = settings.MORE;
  scheme.mmore = settings.mmore;
  scheme.DELTA = null_model.DELTA;

  set_run_wide_values(scheme);
  alloc_resample(scheme, r);
}

void set_run_wide_values(ResampleScheme &scheme) {
  const int N = scheme.N, D = scheme.D;
  scheme.fixed_variance = !scheme.binary || D == 1;
  if (scheme.binary && D == 1 && scheme.v_fixed == nullptr) {
    // The intercept-only model does not depend on the trait: its variances,
    // inverse information and means are those of every resample. It is
    // evaluated at a zero trait, whose residuals are minus the means.
    scheme.v_fixed = dvector(0, N - 1);
    scheme.mu_fixed = dvector(0, N - 1);
    scheme.Iz_fixed = dmatrix(0, 0, 0, 0);
    double *zero_y = dvector(0, N - 1);
    double *center = dvector(0, N - 1);
    for (int i = 0; i < N; i++) zero_y[i] = 0.0;
    score_yz_gamma(N, 1, zero_y, scheme.z, scheme.mleZ, center, scheme.v_fixed,
                   scheme.Iz_fixed);
    for (int i = 0; i < N; i++) scheme.mu_fixed[i] = 0.0 - center[i];
    free_dvector(center, 0, N - 1);
    free_dvector(zero_y, 0, N - 1);
  }
}

void alloc_resample(const ResampleScheme &scheme, Resample &r) {
  const int N = scheme.N, D = scheme.D;
  r = Resample();
  r.permY = dvector(0, N - 1);
  r.perm = ivector(0, N - 1);
  r.centerY = dvector(0, N - 1);
  r.v_own = dvector(0, N - 1);
  r.v = r.v_own;
  r.Iz_own = dmatrix(0, D - 1, 0, D - 1);
  r.Iz = r.Iz_own;
  r.gamma = dvector(0, D - 1);
  r.YZ = dvector(0, D - 1);
  r.ycenter = dvector(0, N - 1);
  bool intercept = true;
  for (int i = 0; i < N; i++)
    if (scheme.z[i][0] != 1.0) intercept = false;
  if (scheme.binary && intercept) r.packed = dvector(0, (long)N * (D + 1) - 1);
}

void free_resample(const ResampleScheme &scheme, Resample &r) {
  const int N = scheme.N, D = scheme.D;
  if (r.permY != nullptr) {
    free_dvector(r.permY, 0, N - 1);
    free_ivector(r.perm, 0, N - 1);
    free_dvector(r.centerY, 0, N - 1);
    free_dvector(r.v_own, 0, N - 1);
    free_dmatrix(r.Iz_own, 0, D - 1, 0, D - 1);
    free_dvector(r.gamma, 0, D - 1);
    free_dvector(r.YZ, 0, D - 1);
    free_dvector(r.ycenter, 0, N - 1);
    if (r.packed != nullptr) free_dvector(r.packed, 0, (long)N * (D + 1) - 1);
  }
  r = Resample();
}

void free_resample_scheme(ResampleScheme &scheme, Resample &r) {
  const int N = scheme.N;
  free_resample(scheme, r);
  if (scheme.v_fixed != nullptr) {
    free_dvector(scheme.v_fixed, 0, N - 1);
    free_dvector(scheme.mu_fixed, 0, N - 1);
    free_dmatrix(scheme.Iz_fixed, 0, 0, 0, 0);
  }
  scheme = ResampleScheme();
}

void start_resampling(const ResampleScheme &scheme) {
  if (scheme.binary) reset_runifC3();
  reset_runifC3P();
}

void seek_resample(const ResampleScheme &scheme, long s) {
  start_resampling(scheme);
  const unsigned long long steps = (unsigned long long)s * uniforms_per_resample(scheme);
  if (permutes(scheme))
    wichmann_hill_skip(&bix, &biy, &biz, steps);
  else
    wichmann_hill_skip(&gix, &giy, &giz, steps);
}

void make_resample(ResampleScheme &scheme, long s, Resample &r, bool mark) {
  const int N = scheme.N, D = scheme.D;
  double **z = scheme.z;
  r.s = s;
  r.refit_warned = false;

  // The trait.
  if (scheme.binary && D > 1) {
    for (int i = 0; i < N; i++) r.permY[i] = rbinomC(scheme.pY[i], 1);
  } else {
    getPermute(r.perm, N);
    if (scheme.binary)
      for (int i = 0; i < N; i++) r.permY[i] = scheme.y[r.perm[i]];
    else if (D > 1)
      for (int i = 0; i < N; i++) r.permY[i] = scheme.RY[r.perm[i]] + scheme.addZ[i];
    else
      for (int i = 0; i < N; i++) r.permY[i] = scheme.scaleY[r.perm[i]];
  }

  // The null coefficients: fixed without covariates, else cached or refitted.
  double *gamma = scheme.mleZ;
  if (D > 1) {
    bool store = false;
    if (cached_refit(scheme, s, &store)) {
      gamma = scheme.run->gammaPool[s];
    } else {
      if (scheme.binary) {
        r.refit_warned = !logisticReg_fit(N, D, r.permY, z, r.gamma);
      } else {
        for (int d = 0; d < D; d++) {
          double sum = 0.0;
          for (int i = 0; i < N; i++) sum += z[i][d] * r.permY[i];
          r.YZ[d] = sum;
        }
        for (int a = 0; a < D; a++) {
          double sum = 0.0;
          for (int d = 0; d < D; d++) sum += scheme.Iz[a][d] * r.YZ[d];
          r.gamma[a] = sum;
        }
      }
      gamma = r.gamma;
      if (store) {
        memcpy(scheme.run->gammaPool[s], r.gamma, sizeof(double) * (size_t)D);
        gamma = scheme.run->gammaPool[s];
        if (mark) mark_stored(scheme, s);
      }
    }
  }

  // The null model of the resample.
  bool finite = true;
  if (scheme.binary) {
    if (D == 1) {
      r.v = scheme.v_fixed;
      r.Iz = scheme.Iz_fixed;
      for (int i = 0; i < N; i++) r.centerY[i] = r.permY[i] - scheme.mu_fixed[i];
    } else {
      score_yz_gamma(N, D, r.permY, z, gamma, r.centerY, r.v, r.Iz);
    }
    double sum = 0.0;
    for (int i = 0; i < N; i++) {
      sum += r.permY[i];
      if (!std::isfinite(r.centerY[i]) || !std::isfinite(r.v[i])) finite = false;
    }
    r.sum_y = sum;
    if (r.packed != nullptr)
      for (int i = 0; i < N; i++) {
        double *rec = r.packed + (size_t)i * (size_t)(D + 1);
        rec[0] = r.centerY[i];
        rec[1] = r.v[i];
        for (int d = 1; d < D; d++) rec[d + 1] = z[i][d];
      }
  } else {
    score_yz_quanTrait_gamma(N, D, r.permY, z, gamma, r.centerY, &r.SigmaSQ);
    r.Iz = scheme.Iz;
    double sum = 0.0;
    for (int i = 0; i < N; i++) {
      sum += r.permY[i];
      if (!std::isfinite(r.centerY[i])) finite = false;
    }
    const double avg_y = sum / N;
    for (int i = 0; i < N; i++) r.ycenter[i] = r.permY[i] - avg_y;
    r.sum_y = sum;
  }
  r.finite = finite;
}

void mark_refits_stored(ResampleScheme &scheme, long first, long end) {
  if (scheme.D > 1 && first < end) mark_stored(scheme, end - 1);
}

long stage_first(int stage) {
  switch (stage) {
    case 1: return 0;
    case 2: return N_PERM_STEP1;
    case 3: return N_PERM_STEP2;
    default: return N_PERM_STEP3;
  }
}

long stage_end(int stage, const ResampleScheme &scheme) {
  switch (stage) {
    case 1: return N_PERM_STEP1;
    case 2: return N_PERM_STEP2;
    case 3: return N_PERM_STEP3;
    default: return scheme.MORE;
  }
}

bool end_stage(ResampleTest &test, int stage, const ResampleScheme &scheme) {
  double p;
  bool warn = false;
  switch (stage) {
    case 1:
      p = (test.n + 1) / 1001;
      test.in_play = p <= 0.1;
      break;
    case 2:
      p = (test.n + 1) / 100001;
      test.in_play = p <= 0.001;
      break;
    case 3:
      p = (test.n + 1) / 1000001;
      warn = p < 0.0001 && scheme.mmore == 0;
      test.in_play = scheme.mmore == 1 && p <= 0.0001;
      break;
    default:
      p = (test.n + 1) / ((double)scheme.MORE + 1.0);
      test.in_play = false;
      break;
  }
  *test.slot = p;
  return warn;
}
