#include "driver/run_setup.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>
#include <cstdarg>
#include <ctime>

#include "driver/file_checks.h"
#include "numeric/arrays.h"
#include "numeric/linalg.h"
#include "numeric/regression.h"
#include "numeric/run_output.h"
#include "stats/null_model.h"
#include "numeric/run_stop.h"

namespace {

const long kGammaPoolRows = 1000000;  // one row per resample index below 1,000,000

// Rank check of the design before the fit: with every column (intercept
// included, not centred, since the fit works on these columns) scaled to
// unit length, a column closer than 1e-8 to the span of the others makes
// the information matrix Z'Z numerically singular (condition of order 1e16,
// the limit of double precision).
const double kRankTolerance = 1e-8;
// Covariate magnitudes whose squares stay far from overflow and underflow.
const double kLargestCovariate = 1e150;

double *filled_dvector(long n, double value) {
  double *a = dvector(0, n - 1);
  for (long i = 0; i < n; i++) a[i] = value;
  return a;
}

double **filled_dmatrix(long rows, long cols, double value) {
  double **a = dmatrix(0, rows - 1, 0, cols - 1);
  for (long r = 0; r < rows; r++)
    for (long c = 0; c < cols; c++) a[r][c] = value;
  return a;
}

}  // namespace

void check_null_model_data(const LoadedData &data) {
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  if (data.pheno.BINARY_Y) {
    long ones = 0;
    for (long i = 0; i < N; i++)
      if (data.pheno.y[i] == 1.0) ones++;
    if (ones == 0 || ones == N) {
      printf("\nError: All subjects have the same value of the binary trait, so the null model "
             "cannot be fitted.\n");
      kill_QUORVEX();
    }
  }
  if (N <= p) {
    printf("\nError: The number of subjects (%ld) is not greater than the number of design "
           "columns (%ld: the intercept and %ld covariates), so the null model cannot be "
           "fitted.\n",
           N, p, p - 1);
    kill_QUORVEX();
  }
}

void check_design(const Settings &settings, const LoadedData &data) {
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  double **z = data.pheno.z;
  const char *file = settings.phenotype;
  // Design column j (j >= 1) is column j + 2 of the phenotype file.
  for (long j = 1; j < p; j++) {
    double big = 0;
    for (long i = 0; i < N; i++) big = std::max(big, std::fabs(z[i][j]));
    if (big > kLargestCovariate || (big > 0 && big < 1.0 / kLargestCovariate)) {
      printf("\nError: Covariate column %ld of phenotype file '%s' holds values too %s for the null "
             "model fit (absolute values must lie between 1e-150 and 1e150); rescale it.\n",
             j + 2, file, big > kLargestCovariate ? "large" : "small");
      kill_QUORVEX();
    }
  }
  std::vector<int> involved((size_t)p);
  const int d = dependent_column(z, N, (int)p, kRankTolerance, involved.data());
  if (d < 0) return;
  std::vector<long> columns;
  for (long j = 1; j < p; j++)
    if (involved[(size_t)j] && j != d) columns.push_back(j + 2);
  if (columns.empty()) {
    printf("\nError: Covariate column %d of phenotype file '%s' is constant (it varies by less than "
           "a relative 1e-8 of its values), so the null model cannot be fitted.\n",
           d + 2, file);
    kill_QUORVEX();
  }
  std::string list;
  for (size_t k = 0; k < columns.size(); k++)
    list += (k == 0 ? "" : k + 1 == columns.size() ? " and " : ", ") + std::to_string(columns[k]);
  printf("\nError: Covariate column %d of phenotype file '%s' is a linear combination of column%s %s "
         "%s(to a relative tolerance of 1e-8), so the null model cannot be fitted.\n",
         d + 2, file, columns.size() > 1 ? "s" : "", list.c_str(),
         involved[0] ? "and the intercept " : "");
  kill_QUORVEX();
}

namespace {

// The scratch arrays of one gene or variant under test (see
// allocate_gene_scratch), all of them or those the settings call for.
void allocate_scratch(const Settings &settings, const LoadedData &data, RunArrays &run) {
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  const int N_FIX = settings.N_FIX;
  run.S = dmatrix(0, N_FIX - 1, 0, N - 1);
  run.genek_index = filled_dvector(data.geno.geno_NROW, 0.0);
  run.wstat = dvector(0, N_FIX - 1);
  run.YZ = dvector(0, p - 1);
  run.SZ = dmatrix(0, N_FIX - 1, 0, p - 1);
  if (settings.DORARE) {
    run.pvalue_U = dvector(0, N_FIX - 1);
    run.pvalue_V = dvector(0, N_FIX - 1);
    run.mac_fix = ivector(0, N_FIX - 1);
    if (settings.mwf) run.buffer_weight = dvector(0, 100);
  }
  if (settings.PERM_FLAG) run.S_opp = dmatrix(0, 1, 0, N - 1);
}

void free_scratch(const Settings &settings, const LoadedData &data, RunArrays &run) {
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  const int N_FIX = settings.N_FIX;
  if (settings.PERM_FLAG) free_dmatrix(run.S_opp, 0, 1, 0, N - 1);
  if (settings.DORARE) {
    if (settings.mwf) free_dvector(run.buffer_weight, 0, 100);
    free_ivector(run.mac_fix, 0, N_FIX - 1);
    free_dvector(run.pvalue_V, 0, N_FIX - 1);
    free_dvector(run.pvalue_U, 0, N_FIX - 1);
  }
  free_dmatrix(run.SZ, 0, N_FIX - 1, 0, p - 1);
  free_dvector(run.YZ, 0, p - 1);
  free_dvector(run.wstat, 0, N_FIX - 1);
  free_dvector(run.genek_index, 0, data.geno.geno_NROW - 1);
  free_dmatrix(run.S, 0, N_FIX - 1, 0, N - 1);
}

}  // namespace

void allocate_run(const Settings &settings, const LoadedData &data, NullModel &null_model,
                  RunArrays &run) {
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  const int N_FIX = settings.N_FIX;
  null_model.N = N;
  null_model.p = p;
  null_model.SigmaSQ = 0;
  null_model.SigmaSQ_scale = 0;
  run.N_FIX = N_FIX;
  run.geno_NROW = data.geno.geno_NROW;
  run.N_GENE = settings.DORARE ? data.map.N_GENE : 0;
  run.inform = 0;
  run.N_VT = run.N_SKAT = run.N_MULTI = 0;
  run.SigmaSQ_perm = 0;

  null_model.pY = dvector(0, N - 1);
  run.permY_index = ivector(0, (int)N - 1);
  null_model.Iz = dmatrix(0, p - 1, 0, p - 1);
  null_model.centerY = dvector(0, N - 1);
  null_model.v = dvector(0, N - 1);
  allocate_scratch(settings, data, run);

  if (settings.DOCOM) {
    run.pvalue_com = filled_dvector(data.geno.geno_NROW, 99);
    run.pvalue_com_stat = dvector(0, data.geno.geno_NROW - 1);
  }
  if (settings.DORARE) {
    const long G = run.N_GENE;
    run.pvalue = filled_dmatrix(N_FIX, G, 99);
    run.pvalue_stat = filled_dmatrix(N_FIX, G, 0);
    run.pvalue_vt = filled_dvector(G, 99);
    run.pvalue_skat = filled_dvector(G, 99);
    if (settings.mwf) run.pvalue_multi = filled_dvector(G, 99);
  }
  null_model.mleZ = filled_dvector(p, 0.0);

  if (settings.PERM_FLAG) {
    if (p > 1) run.gammaPool = dmatrix(0, kGammaPoolRows - 1, 0, p - 1);
    null_model.addZ = dvector(0, N - 1);
    run.permY = dvector(0, N - 1);
    null_model.scaleY = dvector(0, N - 1);
    null_model.centerY_scale = dvector(0, N - 1);
    run.centerY_perm = dvector(0, N - 1);
    run.v_perm = dvector(0, N - 1);
    run.Iz_perm = dmatrix(0, p - 1, 0, p - 1);
    null_model.RY = dvector(0, N - 1);
    run.perm_wstat = dvector(0, N_FIX - 1);
    run.n_perm = dvector(0, N_FIX - 1);
    if (settings.DOCOM) run.pvalue_perm_com = filled_dvector(data.geno.geno_NROW, 99);
    if (settings.DORARE) {
      const long G = run.N_GENE;
      run.pvalue_perm = filled_dmatrix(N_FIX, G, 99);
      run.pvalue_perm_vt = filled_dvector(G, 99);
      run.pvalue_perm_skat = filled_dvector(G, 99);
      run.pvalue_opp = filled_dvector(G, 99);
    }
  }
}

void fit_null_model(const Settings &settings, const LoadedData &data, NullModel &null_model,
                    RunArrays &run) {
  (void)run;
  const int N = (int)data.pheno.pheno_NROW, p = (int)data.pheno.pheno_NCOL;
  double *y = data.pheno.y;
  double **z = data.pheno.z;
  null_model.DELTA = settings.DELTA;
  if (data.pheno.BINARY_Y) {
    logisticReg_v0(N, p, y, z, null_model.mleZ);
    score_yz_gamma(N, p, y, z, null_model.mleZ, null_model.centerY, null_model.v, null_model.Iz);
    if (p == 1) {
      double sum = 0;
      for (int i = 0; i < N; i++) sum += y[i];
      const double ybar = sum / N;
      null_model.mleZ[0] = log(ybar / (1 - ybar));
    } else {
      p_null(N, p, y, z, null_model.pY);
    }
    return;
  }

  if (!settings.mopp) null_model.DELTA = 2.0;
  score_yz_quanTrait(N, p, y, z, null_model.centerY, &null_model.SigmaSQ, null_model.Iz);
  // Zero up to rounding: a residual standard deviation below 1e-10 of the
  // trait's root mean square (an exact linear fit leaves rounding residue).
  double mean_square = 0;
  for (int i = 0; i < N; i++) mean_square += y[i] * y[i];
  mean_square /= N;
  if (!(null_model.SigmaSQ > 1e-20 * mean_square)) {
    printf("\nError: The quantitative trait has residual variance 0 under the null model (it is "
           "a linear function of the covariates), so no test statistic can be computed.\n");
    kill_QUORVEX();
  }
  if (settings.PERM_FLAG) {
    const double y_mean = mean(y, 0, N - 1);
    const double y_sd = sd(y, 0, N - 1, y_mean);
    for (int i = 0; i < N; i++) null_model.scaleY[i] = (y[i] - y_mean) / y_sd;
    score_yz_quanTrait(N, p, null_model.scaleY, z, null_model.centerY_scale,
                       &null_model.SigmaSQ_scale, null_model.Iz);
    linearResidual(N, p, null_model.scaleY, z, null_model.RY);
    for (int i = 0; i < N; i++)
      null_model.addZ[i] = null_model.scaleY[i] - null_model.centerY_scale[i];
    if (p == 1) {
      double sum = 0;
      for (int i = 0; i < N; i++) sum += null_model.scaleY[i];
      null_model.mleZ[0] = sum / N;
    }
  }
}

void start_testing(const Settings &settings, MessageLog &log) {
  time_t now = time(nullptr);
  puts("\n*---------------- START QUORVEX TEST ----------------*");
  printf("              %s\n", asctime(localtime(&now)));
  if (settings.mmsgl) {
    log.file = open_output(settings.msglog, "w");
    log.name = settings.msglog;
    if (log.file == nullptr) {
      printf("Error: Cannot create warning message log '%s'.\n", settings.msglog);
      kill_QUORVEX();
    }
    // Each warning (one line) reaches the file at once, as on standard output.
    setvbuf(log.file, nullptr, _IOLBF, BUFSIZ);
  }
}

void report_warning(MessageLog &log, const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  va_end(args);
  text.resize(text.size() - 1);
  run_write(text);
  if (log.file != nullptr) {
    MessageLog *to = &log;
    run_defer([to, text] {
      if (to->file != nullptr && fwrite(text.data(), 1, text.size(), to->file) != text.size())
        fail_output(to->name);
    });
  }
}

void end_testing(MessageLog &log) {
  if (log.file != nullptr) {
    FILE *f = log.file;
    log.file = nullptr;
    close_output(f, log.name);
  }
  time_t now = time(nullptr);
  puts("\n*----------------- END QUORVEX TEST -----------------*");
  printf("              %s", asctime(localtime(&now)));
}

void allocate_gene_scratch(const Settings &settings, const LoadedData &data,
                           const RunArrays &shared, RunArrays &worker) {
  worker = shared;
  allocate_scratch(settings, data, worker);
}

void free_gene_scratch(const Settings &settings, const LoadedData &data, RunArrays &worker) {
  free_scratch(settings, data, worker);
}

void free_run(const Settings &settings, const LoadedData &data, NullModel &null_model,
              RunArrays &run) {
  const long N = data.pheno.pheno_NROW, p = data.pheno.pheno_NCOL;
  const int N_FIX = run.N_FIX;
  const long G = run.N_GENE;
  if (settings.PERM_FLAG) {
    if (settings.DORARE) {
      free_dmatrix(run.pvalue_perm, 0, N_FIX - 1, 0, G - 1);
      free_dvector(run.pvalue_perm_vt, 0, G - 1);
      free_dvector(run.pvalue_perm_skat, 0, G - 1);
      free_dvector(run.pvalue_opp, 0, G - 1);
    }
    if (settings.DOCOM) free_dvector(run.pvalue_perm_com, 0, data.geno.geno_NROW - 1);
    free_dvector(run.n_perm, 0, N_FIX - 1);
    free_dvector(run.perm_wstat, 0, N_FIX - 1);
    free_dvector(null_model.RY, 0, N - 1);
    free_dmatrix(run.Iz_perm, 0, p - 1, 0, p - 1);
    free_dvector(run.v_perm, 0, N - 1);
    free_dvector(run.centerY_perm, 0, N - 1);
    free_dvector(null_model.centerY_scale, 0, N - 1);
    free_dvector(null_model.scaleY, 0, N - 1);
    free_dvector(run.permY, 0, N - 1);
    free_dvector(null_model.addZ, 0, N - 1);
    if (p > 1) free_dmatrix(run.gammaPool, 0, kGammaPoolRows - 1, 0, p - 1);
  }
  free_dvector(null_model.mleZ, 0, p - 1);
  if (settings.DORARE) {
    if (settings.mwf) free_dvector(run.pvalue_multi, 0, G - 1);
    free_dvector(run.pvalue_skat, 0, G - 1);
    free_dvector(run.pvalue_vt, 0, G - 1);
    free_dmatrix(run.pvalue_stat, 0, N_FIX - 1, 0, G - 1);
    free_dmatrix(run.pvalue, 0, N_FIX - 1, 0, G - 1);
  }
  if (settings.DOCOM) {
    free_dvector(run.pvalue_com_stat, 0, data.geno.geno_NROW - 1);
    free_dvector(run.pvalue_com, 0, data.geno.geno_NROW - 1);
  }
  free_scratch(settings, data, run);
  free_dvector(null_model.v, 0, N - 1);
  free_dvector(null_model.centerY, 0, N - 1);
  free_dmatrix(null_model.Iz, 0, p - 1, 0, p - 1);
  free_ivector(run.permY_index, 0, (int)N - 1);
  free_dvector(null_model.pY, 0, N - 1);
  null_model = NullModel();
  run = RunArrays();
}
