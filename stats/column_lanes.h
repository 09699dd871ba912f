#ifndef QUORVEX_STATS_COLUMN_LANES_H
#define QUORVEX_STATS_COLUMN_LANES_H

// |Z| of dense score columns (every subject has a value: a common variant's
// coded genotypes) under the null models of a block of resamples. The
// resamples of a block are evaluated side by side in vector lanes, one lane
// per resample; every lane adds its terms in the order of the subjects,
// exactly as the one-resample formula (dense_abs_z: score_stat or
// score_stat_quanTrait) does, so each statistic is the same double.

#include "stats/resampled_stats.h"

// |Z| of each of `count` dense columns under each of the nb resamples of a
// block (nb <= kResampleBlock): T[v * kResampleBlock + b]. The same values,
// bit for bit, as dense_abs_z. vfix[v] is the variance part of column v
// when the design's is fixed (score_variance_sparse over all subjects),
// else unused.
void column_block_statistics(const double *const *columns, const double *vfix, int count,
                             const ResampleNull *const *block, int nb,
                             const ResampleDesign &design, EvalWork &work, double *T);

#endif
