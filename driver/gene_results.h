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

#endif
