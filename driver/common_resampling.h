#ifndef QUORVEX_DRIVER_COMMON_RESAMPLING_H
#define QUORVEX_DRIVER_COMMON_RESAMPLING_H

// Resampling of the common variants ("-com" with "-resample"), through the
// scheme and the pool of the genes: a tested variant waits in the pool
// (resampling_pool.h) with its coded column, each resample is made once for
// every variant in play, and the variants' rows go to the common-variant
// result file in genotype-file order, as if each variant were resampled
// right after its asymptotic test.
//
// The statistic of resample s is |Z| of the variant's column under the
// resample's null model (binary: score_stat with the resample's residuals,
// variances and inverse information; quantitative: score_stat_quanTrait
// with its residuals and residual variance); the columns of the variants
// in play are evaluated side by side (stats/column_lanes.h).

#include "driver/common_results.h"
#include "driver/resampling.h"
#include "driver/resampling_pool.h"

// The pool item of a variant that passed its asymptotic test (resampled:
// its slot pvalue_perm_com[k] in play, observed the statistic its resamples
// are compared with) or not, or whose observed statistic is not finite
// (slot 99, no resampling): identifier, U and V for its row, and the coded
// column.
void prepare_common_resampling(const ResampleScheme &scheme, RunArrays &run,
                               const CommonVariant &variant, bool resampled, double observed,
                               PooledVariant &g);

#endif
