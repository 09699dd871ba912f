#ifndef QUORVEX_DRIVER_GENE_PASS_H
#define QUORVEX_DRIVER_GENE_PASS_H

// The testing phase of a run, after the data summary: run set-up and null
// model, the "START" heading, the gene pass (genes in ascending order of
// identifier, one result row per tested gene) and the end of run.

#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// Tests every gene of the sorted mapping and writes the gene-level result
// file (header first). Each gene goes one road, from its mapping rows to
// its result (its row's values, its output, with resampling its pool item);
// the result is written, or handed to the resampling pool, in gene order.
void gene_pass(const Settings &settings, const LoadedData &data, const NullModel &null_model,
               RunArrays &run, MessageLog &log);

// Everything after the data summary; returns the exit status 0 (a fatal
// condition raises the run's stop, run_stop.h, which reaches main).
int run_testing(const Settings &settings, const LoadedData &data);

#endif
