#include "driver/score_logs.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "driver/file_checks.h"
#include "numeric/run_output.h"
#include "numeric/run_stop.h"

namespace {

void cannot_create(const char *name) {
  run_print("Error: Cannot create '%s'.\n", name);
  kill_QUORVEX();
}

void cannot_create_multi(const char *name) {
  run_print("Error: Cannot create multivariate test log '%s'.\n", name);
  kill_QUORVEX();
}

// Creates (truncates) one log and writes its header.
bool create_log(const char *name, bool quantitative, double SigmaSQ) {
  char header[512] = "";  // room for the widest %.9f of a double
  if (quantitative) snprintf(header, sizeof header, "#ResidualVariance = %.9f\n", SigmaSQ);
  return write_output_file(name, false, header, strlen(header));
}

bool append_log(const char *name, const std::string &block) {
  return write_output_file(name, true, block);
}

void add(std::string &line, const char *format, double value) {
  char buf[64];
  snprintf(buf, sizeof buf, format, value);
  line += buf;
}

// Room for a block of K lines of the given total header length: each line
// ends with at most K entries of "\t%.9E" (at most 18 characters: sign,
// ten digits, point, exponent of up to three digits) or "\t0" and a
// newline. Reserved once, so that the block is never moved while it grows;
// pages past the written end are never touched.
size_t block_room(size_t headers, int K) {
  const size_t k = K > 0 ? static_cast<size_t>(K) : 0;
  return headers + k * (k + 1) / 2 * 18 + k * (k - (k > 0 ? 1 : 0)) / 2 * 2 + k;
}

}  // namespace

void create_score_logs(const Settings &settings, const LoadedData &data,
                       const NullModel &null_model) {
  const bool quantitative = !data.pheno.BINARY_Y;
  if (!create_log(settings.vtlog, quantitative, null_model.SigmaSQ)) cannot_create(settings.vtlog);
  if (!create_log(settings.skatlog, quantitative, null_model.SigmaSQ))
    cannot_create(settings.skatlog);
  if (settings.mwf && !create_log(settings.multilog, quantitative, null_model.SigmaSQ))
    cannot_create_multi(settings.multilog);
}

void append_lower_triangle(std::string &line, int K, int j, double **cov) {
  for (int c = 0; c < K && c <= j; c++) add(line, "\t%.9E", cov[j][c]);
  for (int c = j + 1; c < K; c++) line.append("\t0", 2);
}

std::string variant_log_block(const char *geneID, int N_SNP, char **snpID, const double *maf,
                              const int *mac, const int *nobs, const double *U, double **cov) {
  std::string block;
  size_t headers = 0;
  for (int j = 0; j < N_SNP; j++) headers += strlen(geneID) + strlen(snpID[j]) + 64;
  block.reserve(block_room(headers, N_SNP));
  char buf[2048];
  for (int j = 0; j < N_SNP; j++) {
    snprintf(buf, sizeof buf, "%s\t%s\t%E\t%d\t%d\t%.9E", geneID, snpID[j], maf[j], mac[j],
             nobs[j], U[j]);
    block += buf;
    append_lower_triangle(block, N_SNP, j, cov);
    block += '\n';
  }
  return block;
}

std::string vt_log_block(const char *geneID, int n_thresh, const double *thresh, const int *mac,
                         const double *U, double **cov) {
  std::string block;
  block.reserve(block_room(static_cast<size_t>(n_thresh > 0 ? n_thresh : 0) * (strlen(geneID) + 64),
                           n_thresh));
  char buf[1200];
  for (int j = 0; j < n_thresh; j++) {
    snprintf(buf, sizeof buf, "%s\t%E\t%d\t%.9E", geneID, thresh[j], mac[j], U[j]);
    block += buf;
    append_lower_triangle(block, n_thresh, j, cov);
    block += '\n';
  }
  return block;
}

std::string multi_log_block(const char *geneID, int n_weight, const int *mac, const double *U,
                            double **cov) {
  std::string block;
  block.reserve(block_room(static_cast<size_t>(n_weight > 0 ? n_weight : 0) * (strlen(geneID) + 64),
                           n_weight));
  char buf[1200];
  for (int j = 0; j < n_weight; j++) {
    snprintf(buf, sizeof buf, "%s\t%d\t%d\t%.9E", geneID, j + 1, mac[j], U[j]);
    block += buf;
    append_lower_triangle(block, n_weight, j, cov);
    block += '\n';
  }
  return block;
}

// A gene's block is appended when the gene's output is written out (at once
// on one thread, in gene order when genes run side by side).
void append_vt_log(const Settings &settings, std::string block) {
  const char *name = settings.vtlog;
  run_defer([name, block = std::move(block)] {
    if (!append_log(name, block)) cannot_create(name);
  });
}

void append_variant_log(const Settings &settings, std::string block) {
  const char *name = settings.skatlog;
  run_defer([name, block = std::move(block)] {
    if (!append_log(name, block)) cannot_create(name);
  });
}

void append_multi_log(const Settings &settings, std::string block) {
  const char *name = settings.multilog;
  run_defer([name, block = std::move(block)] {
    if (!append_log(name, block)) cannot_create_multi(name);
  });
}
