#ifndef QUORVEX_DRIVER_COMMON_RESULTS_H
#define QUORVEX_DRIVER_COMMON_RESULTS_H

// The common-variant result file: the variant under test with the values of
// its row, the header, and one row per tested variant, appended in
// genotype-file order. A p-value is printed "%.4E" when it is from 0 to 1;
// a row whose asymptotic p-value is not (a marker of a test not computed,
// see printed_p_value) has "NA" in every column.

#include <cstddef>
#include <string>

#include "driver/run_setup.h"
#include "driver/settings.h"

// The variant under test. Its coded column is dense (every subject has a
// value), so a resampling evaluation needs only the column and the null
// model of the resample: |Z| of the column under that null model.
struct CommonVariant {
  long k = 0;                   // genotype row
  const char *snpID = nullptr;  // its identifier
  double f = 0;                 // its file frequency (the counted allele's, not folded)
  double *S = nullptr;          // [N] coded genotypes
  double *SZ = nullptr;         // [p] scratch of the score statistic
  double U = 0, V = 0, Z = 0;   // score, its null variance, Z = U / sqrt(V)
};

// Header line of the result file: "SNP_ID\tP-value", "\tP-value_R" with
// resampling, "\tU\tV\tZ", newline.
std::string common_result_header(const Settings &settings);

// Result row of genotype row k from the run arrays (pvalue_com, its
// resampling slot, pvalue_com_stat) and the variant's U and V: "%s\t%.4E",
// ["\t%.4E"], "\t%.9E\t%.9E\t%.4E\n"; every column after the identifier "NA"
// when the asymptotic p-value was not computed. Written into out (cap bytes,
// identifiers hold at most 255); returns the length.
std::size_t format_common_row(const Settings &settings, const RunArrays &run, long k,
                              const char *snpID, double U, double V, char *out, std::size_t cap);

// Appends the variant's row to the result file (reopened in append mode and
// closed, so a stopped run keeps every finished row); inside an output
// capture the write is deferred to the record's replay.
void append_common_row(const Settings &settings, const RunArrays &run, const CommonVariant &variant);

// Writes text to the result file `name` (created, or appended to) and
// closes it; stops the run when the file cannot be opened ("Error: Cannot
// create output file '%s'."), written or closed.
void write_common_text(const char *name, bool append, const char *text, std::size_t length);

#endif
