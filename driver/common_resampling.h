#ifndef QUORVEX_DRIVER_COMMON_RESAMPLING_H
#define QUORVEX_DRIVER_COMMON_RESAMPLING_H

// Resampling of the common variants ("-com" with "-resample"), through the
// scheme and the pool of the genes: a tested variant waits in the pool with
// its coded column, each resample is made once for every variant in play,
// and the variants' rows go to the common-variant result file in
// genotype-file order, as if each variant were resampled right after its
// asymptotic test.
//
// The statistic of resample s is |Z| of the variant's column under the
// resample's null model (binary: score_stat with the resample's residuals,
// variances and inverse information; quantitative: score_stat_quanTrait
// with its residuals and residual variance). A variant's column is dense,
// so the resamples of a block are evaluated side by side in vector lanes,
// one lane per resample; every lane adds its terms in the order of the
// subjects, exactly as the one-resample formula does, so each statistic is
// the same double.

#include "driver/common_pass.h"
#include "driver/gene_resampling.h"
#include "driver/resampling.h"

// The pool item of a variant that passed its asymptotic test (resampled:
// its slot pvalue_perm_com[k] in play, observed the statistic its resamples
// are compared with) or not, or whose observed statistic is not finite
// (slot 99, no resampling): identifier, U and V for its row, and the coded
// column.
void prepare_common_resampling(const ResampleScheme &scheme, RunArrays &run,
                               const CommonVariant &variant, bool resampled, double observed,
                               PooledGene &g);

// |Z| of a dense column under the null model of resample r, by the
// one-resample formula (score_stat or score_stat_quanTrait).
double variant_resampled_statistic(const double *column, const ResampleScheme &scheme,
                                   const Resample &r, double *SZ);

// |Z| of each of `count` dense columns under each of the nb resamples of a
// block (nb <= kResampleBlock): T[v * kResampleBlock + b]. The same values,
// bit for bit, as variant_resampled_statistic. vfix[v] is the variance part
// of column v when the scheme's is fixed (score_variance_sparse over all
// subjects), else unused.
void variant_block_statistics(const double *const *columns, const double *vfix, int count,
                              Resample *const *block, int nb, const ResampleScheme &scheme,
                              EvalWork &work, double *T);

// Adds the hits of the variants in play (test[0]) on a block of resamples:
// hits[v] for variants[v].
void variant_block_hits(PooledGene *const *variants, int count, Resample *const *block, int nb,
                        const ResampleScheme &scheme, EvalWork &work, long *hits);

#endif
