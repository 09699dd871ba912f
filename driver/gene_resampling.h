#ifndef QUORVEX_DRIVER_GENE_RESAMPLING_H
#define QUORVEX_DRIVER_GENE_RESAMPLING_H

// A gene's entry into the resampling: its observed statistics, the tests
// that take part, the rule that leaves a gene unresampled, and the rows its
// resampled statistics are evaluated on (stats/resampled_stats.h) while it
// waits in the pool (resampling_pool.h).

#include "driver/family_tests.h"
#include "driver/gene_setup.h"
#include "driver/input.h"
#include "driver/resampling.h"
#include "driver/resampling_pool.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// Observed statistics of the gene that passed its asymptotic tests, the
// tests that take part and the resampling slots (99 for a test that does
// not take part, also for every test of a gene that is not resampled).
// Fills g's tests and rows when the gene is resampled; returns g.resampled.
bool prepare_gene_resampling(const Settings &settings, const LoadedData &data,
                             const NullModel &null_model, const ResampleScheme &scheme,
                             RunArrays &run, const GeneUnderTest &gene, const FamilyRows &rows,
                             PooledGene &g);

#endif
