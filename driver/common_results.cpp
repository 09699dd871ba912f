#include "driver/common_results.h"

#include <cstdio>

#include "driver/file_checks.h"
#include "numeric/run_output.h"
#include "numeric/run_stop.h"

namespace {

const std::size_t kRowBytes = 1024;  // a result row: identifier (<= 255) and five numbers

// "\t%.4E" for a p-value, else "\tNA" (a marker of a value not computed).
int print_p(char *out, std::size_t cap, double p) {
  return printed_p_value(p) ? std::snprintf(out, cap, "\t%.4E", p) : std::snprintf(out, cap, "\tNA");
}

}  // namespace

void write_common_text(const char *name, bool append, const char *text, std::size_t length) {
  if (!write_output_file(name, append, text, length)) {
    run_print("Error: Cannot create output file '%s'.\n", name);
    kill_QUORVEX();
  }
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
  if (printed_p_value(p)) {
    n = std::snprintf(out, cap, "%s\t%.4E", snpID, p);
    if (settings.PERM_FLAG) n += print_p(out + n, cap - (std::size_t)n, run.pvalue_perm_com[k]);
    n += std::snprintf(out + n, cap - (std::size_t)n, "\t%.9E\t%.9E\t%.4E\n", U, V,
                       run.pvalue_com_stat[k]);
  } else {
    n = std::snprintf(out, cap, "%s\tNA%s\tNA\tNA\tNA\n", snpID, settings.PERM_FLAG ? "\tNA" : "");
  }
  return (std::size_t)n < cap ? (std::size_t)n : cap - 1;  // identifiers hold at most 255 bytes
}

void append_common_row(const Settings &settings, const RunArrays &run, const CommonVariant &variant) {
  char row[kRowBytes];
  const std::size_t n =
      format_common_row(settings, run, variant.k, variant.snpID, variant.U, variant.V, row, sizeof row);
  const char *name = settings.output_com;
  std::string text(row, n);
  run_defer([name, text] { write_common_text(name, true, text.data(), text.size()); });
}

