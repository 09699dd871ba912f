#include "driver/common_pass.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "driver/common_resampling.h"
#include "driver/file_checks.h"
#include "driver/gene_resampling.h"
#include "driver/gene_setup.h"
#include "driver/genotype_tokens.h"
#include "driver/text_file.h"
#include "numeric/gamma.h"
#include "stats/score.h"
#include "stats/sorts.h"
#include "numeric/run_output.h"

namespace {

const std::size_t kTokenBytes = 1024;  // any genotype value: at most 1023 characters
const std::size_t kRowBytes = 1024;    // a result row: identifier (<= 255) and five numbers

// Writes text to the result file (created, or appended to) and closes it;
// stops the run when the file cannot be opened ("Error: Cannot create
// output file '%s'.") or, in write_output_file, when the write or the close
// fails.
void write_result_text(const char *name, bool append, const char *text, std::size_t length) {
  if (!write_output_file(name, append, text, length)) {
    run_print("Error: Cannot create output file '%s'.\n", name);
    kill_QUORVEX();
  }
}

// The value of a one-character genotype token by the token rule of the
// passes: 'N' is missing (-1), a digit is its own value, anything else has
// no numeric prefix (0).
inline double one_char_value(char c) {
  return c == 'N' ? -1.0 : (c >= '0' && c <= '9') ? static_cast<double>(c - '0') : 0.0;
}

// "\t%.4E" for a p-value of at most 1, else "\tNA".
int print_p(char *out, std::size_t cap, double p) {
  return p <= 1 ? std::snprintf(out, cap, "\t%.4E", p) : std::snprintf(out, cap, "\tNA");
}

}  // namespace

bool common_variant_qualifies(const Settings &settings, const GenotypeSummary &geno, long k) {
  return geno.geno_maf[k] > settings.MAF_C && geno.geno_naRate[k] <= settings.NA_UB &&
         geno.geno_singular[k] == 0;
}

long read_common_row(const char *b, const char *e, long N, double *S) {
  const char *q = b;
  while (q < e && is_blank(*q)) q++;  // the identifier: skipped, the summary has it
  while (q < e && !is_blank(*q)) q++;
  long i = 0;
  char text[kTokenBytes];
  return for_each_row_token(
      q, e,
      [&](char c) {
        if (i < N) S[i] = one_char_value(c);
        i++;
      },
      [&](const char *tb, const char *te) {
        std::size_t len = static_cast<std::size_t>(te - tb);
        if (len > kTokenBytes - 1) len = kTokenBytes - 1;  // the loader refused longer ones
        std::memcpy(text, tb, len);
        text[len] = '\0';
        if (i < N) S[i] = genotype_token_value(text);
        i++;
      });
}

GenotypeCoding common_coding(const Settings &settings, double f) {
  GenotypeCoding c;
  if (settings.DOCMC) {
    c.model = GenotypeCoding::kDominant;
    c.missing = 1 - (1 - f) * (1 - f);
  } else if (settings.DOREC) {
    c.model = GenotypeCoding::kRecessive;
    c.missing = f * f;
  } else {
    c.model = GenotypeCoding::kAdditive;
    c.missing = 2 * f;
  }
  return c;
}

void code_common_variant(const Settings &settings, double f, long N, double *S) {
  const GenotypeCoding c = common_coding(settings, f);
  for (long i = 0; i < N; i++) S[i] = code_genotype(c, S[i]);
}

long read_coded_common_row(const char *b, const char *e, const GenotypeCoding &coding, long N,
                           double *S) {
  // The coded value of every one-character token, from the same rule as
  // read_common_row followed by code_genotype.
  double coded[256];
  for (int c = 0; c < 256; c++) {
    coded[c] = code_genotype(coding, one_char_value(static_cast<char>(c)));
  }
  const char *q = b;
  while (q < e && is_blank(*q)) q++;
  while (q < e && !is_blank(*q)) q++;
  long i = 0;
  char text[kTokenBytes];
  return for_each_row_token(
      q, e,
      [&](char c) {
        if (i < N) S[i] = coded[static_cast<unsigned char>(c)];
        i++;
      },
      [&](const char *tb, const char *te) {
        std::size_t len = static_cast<std::size_t>(te - tb);
        if (len > kTokenBytes - 1) len = kTokenBytes - 1;
        std::memcpy(text, tb, len);
        text[len] = '\0';
        if (i < N) S[i] = code_genotype(coding, genotype_token_value(text));
        i++;
      });
}

double common_score_test(const LoadedData &data, const NullModel &null_model, RunArrays &run,
                         CommonVariant &variant) {
  const int N = (int)data.pheno.pheno_NROW, p = (int)data.pheno.pheno_NCOL;
  if (data.pheno.BINARY_Y)
    variant.Z = score_stat(N, p, data.pheno.y, variant.S, data.pheno.z, null_model.centerY,
                           null_model.v, null_model.Iz, run.SZ[0], &variant.U, &variant.V);
  else
    variant.Z = score_stat_quanTrait(N, p, data.pheno.y, variant.S, data.pheno.z, null_model.centerY,
                                     null_model.SigmaSQ, null_model.Iz, run.SZ[0], &variant.U,
                                     &variant.V);
  return variant.Z;
}

double common_observed_statistic(const LoadedData &data, const NullModel &null_model,
                                 RunArrays &run, const CommonVariant &variant) {
  if (data.pheno.BINARY_Y) return std::fabs(variant.Z);
  const int N = (int)data.pheno.pheno_NROW, p = (int)data.pheno.pheno_NCOL;
  double U, V;
  return std::fabs(score_stat_quanTrait(N, p, null_model.scaleY, variant.S, data.pheno.z,
                                        null_model.centerY_scale, null_model.SigmaSQ_scale,
                                        null_model.Iz, run.SZ[0], &U, &V));
}

std::string common_result_header(const Settings &settings) {
  std::string h = "SNP_ID\tP-value";
  if (settings.PERM_FLAG) h += "\tP-value_R";
  h += "\tU\tV\tZ\n";
  return h;
}

std::size_t format_common_row(const Settings &settings, const RunArrays &run, long k,
                              const char *snpID, double U, double V, char *out, std::size_t cap) {
  const double p = run.pvalue_com[k];
  int n;
  if (p <= 1) {
    n = std::snprintf(out, cap, "%s\t%.4E", snpID, p);
    if (settings.PERM_FLAG) n += print_p(out + n, cap - (std::size_t)n, run.pvalue_perm_com[k]);
    n += std::snprintf(out + n, cap - (std::size_t)n, "\t%.9E\t%.9E\t%.4E\n", U, V,
                       run.pvalue_com_stat[k]);
  } else {
    n = std::snprintf(out, cap, "%s\tNA%s\tNA\tNA\tNA\n", snpID, settings.PERM_FLAG ? "\tNA" : "");
  }
  return (std::size_t)n < cap ? (std::size_t)n : cap - 1;  // identifiers hold at most 255 bytes
}

bool asymptotic_common_test(const Settings &settings, const LoadedData &data,
                            const NullModel &null_model, RunArrays &run, CommonVariant &variant,
                            MessageLog &log) {
  const long k = variant.k;
  const double Z = common_score_test(data, null_model, run, variant);
  run.pvalue_com_stat[k] = Z;
  if (!std::isfinite(std::fabs(Z))) {
    report_warning(log,
                   "SNP %s Warning: Variance estimate=0 for observed test statistic, so the "
                   "p-value cannot be calculated.\n",
                   variant.snpID);
    run.pvalue_com[k] = 99;
    if (settings.PERM_FLAG) run.pvalue_perm_com[k] = 99;
    return false;
  }
  run.pvalue_com[k] = gammq(0.5, Z * Z * 0.5);  // chi-square tail, 1 degree of freedom
  return true;
}

void append_common_row(const Settings &settings, const RunArrays &run, const CommonVariant &variant) {
  char row[kRowBytes];
  const std::size_t n =
      format_common_row(settings, run, variant.k, variant.snpID, variant.U, variant.V, row, sizeof row);
  write_result_text(settings.output_com, true, row, n);
}

void common_pass(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                 RunArrays &run, MessageLog &log) {
  const GenotypeSummary &geno = data.geno;
  const long N = data.pheno.pheno_NROW;
  const std::string header = common_result_header(settings);
  write_result_text(settings.output_com, false, header.data(), header.size());

  std::FILE *f = std::fopen(settings.genotype, "rb");
  if (f == nullptr) {
    // No row has been read yet: the message names the file's first variant.
    run_print("SNP %s Error: Cannot open genotype file '%s'.\n", geno.geno_snpID[0],
                settings.genotype);
    kill_QUORVEX();
  }
  LineReader reader(f);
  CommonVariant variant;
  variant.S = run.S[0];
  // With resampling a tested variant waits in the pool of the scheme shared
  // with the gene pass (its refit cache filled here serves the genes); the
  // pool writes the rows in genotype-file order.
  const bool resampling = settings.PERM_FLAG != 0;
  ResampleScheme scheme;
  Resample resample;
  GenePool pool;
  if (resampling) {
    init_resample_scheme(settings, data, null_model, run, scheme, resample);
    init_gene_pool(settings, run, log, scheme, resample, pool);
  }
  for (long k = 0; k < geno.geno_NROW; k++) {
    const char *b = nullptr, *e = nullptr;
    long offset = 0;
    const bool got = reader.next(&b, &e, &offset);
    // Every row is read; only a qualifying one is parsed and tested.
    if (!common_variant_qualifies(settings, geno, k)) continue;
    if (resampling) pool_begin_gene(pool);
    const GenotypeCoding coding = common_coding(settings, geno.geno_maf[k]);
    const long values = got ? read_coded_common_row(b, e, coding, N, variant.S) : 0;
    if (values != N) {
      run_print("SNP %s Error: Genotype file '%s' changed during the run: line %ld no longer "
                  "holds %ld values.\n",
                  geno.geno_snpID[k], settings.genotype, k + 1, N);
      kill_QUORVEX();
    }
    variant.k = k;
    variant.snpID = geno.geno_snpID[k];
    variant.f = geno.geno_maf[k];
    const bool tested = asymptotic_common_test(settings, data, null_model, run, variant, log);
    if (!resampling) {
      append_common_row(settings, run, variant);
      continue;
    }
    std::unique_ptr<PooledGene> g(new PooledGene());
    prepare_common_resampling(scheme, run, variant, tested,
                              tested ? common_observed_statistic(data, null_model, run, variant) : 0,
                              *g);
    pool_end_gene(pool, std::move(g));
  }
  if (resampling) {
    finish_gene_pool(pool);
    free_resample_scheme(scheme, resample);
  }
  std::fclose(f);
}
