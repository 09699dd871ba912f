#ifndef QUORVEX_DRIVER_BURDEN_TESTS_H
#define QUORVEX_DRIVER_BURDEN_TESTS_H

// Burden step and the fixed-threshold burden tests (T1, T5 and, under the
// additive model, MB) of the gene under test: one-degree-of-freedom score
// tests with chi-square p-values.

#include "driver/gene_setup.h"
#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// Genetic model code of the statistics: 1 additive, 2 dominant, 3 recessive.
int genetic_model(const Settings &settings);

// With x0 holding the copy of x made at reading, builds the burden scores into run.S (recoding x) and the
// burden minor-allele counts into run.mac_fix. Returns false, after the
// warning report, when the gene cannot be tested.
bool burden_step(const Settings &settings, const LoadedData &data, RunArrays &run,
                 GeneUnderTest &gene, MessageLog &log);

// Score statistic of every burden row: pvalue_stat, wstat, pvalue_U/V and the
// p-value (99 with a warning when the variance estimate is 0).
void burden_tests(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                  RunArrays &run, GeneUnderTest &gene, MessageLog &log);

#endif
