#include "driver/gene_results.h"

#include <cstdio>

#include "driver/file_checks.h"
#include "numeric/run_output.h"
#include "numeric/run_stop.h"

namespace {

void append(std::string &out, const char *format, double value) {
  char buf[64];
  snprintf(buf, sizeof buf, format, value);
  out += buf;
}

// "\t%.4E" for a p-value, else "\tNA" (a marker of a value not computed).
void append_p(std::string &out, double value) {
  if (printed_p_value(value))
    append(out, "\t%.4E", value);
  else
    out += "\tNA";
}

bool additive(const Settings &settings) { return !settings.DOCMC && !settings.DOREC; }

}  // namespace

std::string gene_result_header(const Settings &settings) {
  std::string h;
  if (additive(settings)) {
    h = "GENE_ID\tT1_P\tT5_P\tMB_P\tVT_P\tSKAT_P";
    if (settings.mwf) h += "\tMAX_P";
    if (settings.PERM_FLAG) h += "\tT1_R\tT5_R\tMB_R\tVT_R\tSKAT_R\tEREC_R";
    h += "\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V\tT5_Z\tMB_MAC\tMB_U\tMB_V\tMB_Z";
  } else {
    h = "GENE_ID\tT1_P\tT5_P\tVT_P\tSKAT_P";
    if (settings.PERM_FLAG) h += "\tT1_R\tT5_R\tVT_R\tSKAT_R";
    h += "\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V\tT5_Z";
  }
  h += "\n";
  return h;
}

std::string gene_result_row(const Settings &settings, const RunArrays &run, long k,
                            const char *geneID) {
  const int N_FIX = run.N_FIX;
  std::string r = geneID;
  for (int t = 0; t < N_FIX; t++) append_p(r, run.pvalue[t][k]);
  append_p(r, run.pvalue_vt[k]);
  append_p(r, run.pvalue_skat[k]);
  if (settings.mwf) append_p(r, run.pvalue_multi[k]);
  if (settings.PERM_FLAG) {
    // A resampling column is printed only beside a printed asymptotic one.
    for (int t = 0; t < N_FIX; t++) {
      if (printed_p_value(run.pvalue[t][k]))
        append_p(r, run.pvalue_perm[t][k]);
      else
        r += "\tNA";
    }
    if (printed_p_value(run.pvalue_vt[k]))
      append_p(r, run.pvalue_perm_vt[k]);
    else
      r += "\tNA";
    if (printed_p_value(run.pvalue_skat[k]))
      append_p(r, run.pvalue_perm_skat[k]);
    else
      r += "\tNA";
    if (additive(settings)) append_p(r, run.pvalue_opp[k]);
  }
  for (int t = 0; t < N_FIX; t++) {
    if (printed_p_value(run.pvalue[t][k])) {
      char buf[128];
      snprintf(buf, sizeof buf, "\t%d\t%.9E\t%.9E\t%.4E", run.mac_fix[t], run.pvalue_U[t],
               run.pvalue_V[t], run.pvalue_stat[t][k]);
      r += buf;
    } else {
      r += "\tNA\tNA\tNA\tNA";
    }
  }
  r += "\n";
  return r;
}

void write_gene_header(const Settings &settings) {
  if (!write_output_file(settings.output, false, gene_result_header(settings))) {
    printf("Error: Cannot create output file '%s'.\n", settings.output);
    kill_QUORVEX();
  }
}

void write_gene_row(const Settings &settings, const RunArrays &run, long k, const char *geneID) {
  const char *name = settings.output;
  run_defer([name, row = gene_result_row(settings, run, k, geneID)] {
    if (!write_output_file(name, true, row)) {
      run_print("Error: Cannot create output file '%s'.\n", name);
      kill_QUORVEX();
    }
  });
}

void keep_row_values(const RunArrays &run, GeneRow &row) {
  for (int t = 0; t < run.N_FIX; t++) {
    row.mac_fix[t] = run.mac_fix[t];
    row.U[t] = run.pvalue_U[t];
    row.V[t] = run.pvalue_V[t];
  }
}

void write_kept_row(const Settings &settings, RunArrays &run, const GeneRow &row) {
  for (int t = 0; t < run.N_FIX; t++) {
    run.mac_fix[t] = row.mac_fix[t];
    run.pvalue_U[t] = row.U[t];
    run.pvalue_V[t] = row.V[t];
  }
  write_gene_row(settings, run, row.k, row.geneID.c_str());
}
