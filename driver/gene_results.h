#ifndef QUORVEX_DRIVER_GENE_RESULTS_H
#define QUORVEX_DRIVER_GENE_RESULTS_H

// The gene-level result file: its header (shaped by the genetic model, the
// customized test and resampling) and one tab-separated row per tested gene.
// A p-value is printed "%.4E" when it is from 0 to 1, otherwise (a marker of
// a test not computed: 99, -999, 2 or NaN, see printed_p_value) "NA".

#include <string>

#include "driver/gene_setup.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// The header line (with its newline) for the settings in force.
std::string gene_result_header(const Settings &settings);

// The row of gene k (with its newline).
std::string gene_result_row(const Settings &settings, const RunArrays &run, long k,
                            const char *geneID);

// Creates the result file with its header; stops the run when it cannot.
void write_gene_header(const Settings &settings);

// Appends the row of gene k; stops the run when the file cannot be reopened.
void write_gene_row(const Settings &settings, const RunArrays &run, long k, const char *geneID);

// A tested gene's row as it leaves the gene's road: its number and
// identifier and the values of its row that the run arrays hold only until
// the next gene (mac_fix, pvalue_U, pvalue_V of the fixed-threshold tests).
struct GeneRow {
  long k = 0;
  std::string geneID;
  int mac_fix[3] = {0, 0, 0};
  double U[3] = {0, 0, 0}, V[3] = {0, 0, 0};
};

// Keeps the run arrays' row values of the gene just tested.
void keep_row_values(const RunArrays &run, GeneRow &row);

// Writes a kept row: its values put back into the run arrays, then
// write_gene_row.
void write_kept_row(const Settings &settings, RunArrays &run, const GeneRow &row);

#endif
