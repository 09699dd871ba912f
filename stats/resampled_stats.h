#ifndef QUORVEX_STATS_RESAMPLED_STATS_H
#define QUORVEX_STATS_RESAMPLED_STATS_H

// The statistics of a gene under its observed null model and under the null
// model of a resampled trait: |Z| of score rows (score_stat,
// score_stat_quanTrait, or their sparse forms over the rows' non-zero
// entries, the same doubles), the VT maximum, the SKAT sum and the EREC
// maximum, from the rows a gene keeps after its asymptotic tests. Rows are
// 0-based over the N subjects.

#include <cstddef>
#include <vector>

#include "stats/erec.h"

// What every statistic of a run's resamples reads of the run: the design
// (intercept in column 0), the null inverse ((Z'Z)^-1 for a quantitative
// trait), the EREC delta and, for a binary trait without covariates, the
// intercept-only null model that every resample shares (v_fixed, its
// fitted means mu_fixed and Iz_fixed).
struct ResampleDesign {
  int N = 0, D = 0;
  bool binary = false;
  double **z = nullptr;
  double **Iz = nullptr;
  double DELTA = 1.0;
  double *v_fixed = nullptr, *mu_fixed = nullptr;
  double **Iz_fixed = nullptr;
  // True when the variance part of every score is the same for every
  // resample: a quantitative trait, or a binary trait without covariates.
  bool fixed_variance = false;
};

// A null model of the trait, observed or resampled: the trait, its residuals
// and (binary) variances, inverse information or (quantitative) residual
// variance, and the values the EREC scores share.
struct ResampleNull {
  double *permY = nullptr;    // [N] trait
  double *centerY = nullptr;  // [N] null residuals
  double *v = nullptr;        // [N] binary: null variances
  double **Iz = nullptr;      // binary: inverse information; quantitative: (Z'Z)^-1
  double SigmaSQ = 0;         // quantitative: residual variance
  double sum_y = 0;           // sum of permY (binary EREC tables)
  double *ycenter = nullptr;  // [N] quantitative: permY - mean(permY) (EREC slopes)
  // Binary trait: per subject centerY, v and the design columns 1..D-1
  // together (score_stat_packed), when column 0 is exactly 1.0.
  double *packed = nullptr;
  bool finite = true;         // every residual (and variance) is finite
};

// Resamples evaluated together as one block.
const int kResampleBlock = 8;
static_assert(kResampleBlock <= kErecLanes, "a block of resamples fits the EREC lanes");

// The tests of a gene's resampling, in their order.
enum { kTestT1 = 0, kTestVT = 3, kTestSKAT = 4, kTestEREC = 5, kTests = 6 };

// Score rows stored by their non-zero entries: row q has the entries
// [start[q], start[q + 1]) of idx (subjects, ascending) and val.
struct SparseRows {
  std::vector<int> start{0};
  std::vector<int> idx;
  std::vector<double> val;
  std::vector<double> vfix;  // variance part of each row when the design's is fixed
  int rows() const { return (int)start.size() - 1; }
  // Appends the row[0..N-1]; dense keeps every entry (a non-finite design).
  void add(const double *row, int N, bool dense);
  size_t bytes() const;
};

// Fills rows.vfix (score_variance_sparse under the fixed null model) when
// the design's variance part is fixed; SZ is scratch of D values.
void fill_fixed_variances(SparseRows &rows, const ResampleDesign &d, double *SZ);

// What the EREC scores of a gene need, by variant j and by subject.
struct ErecRows {
  int M = 0;
  std::vector<char> active;           // [M] maf <= MAF_UB
  std::vector<int> subj, sstart;      // subjects with a non-zero x, their entries
  std::vector<int> svar;              // entries: variant
  std::vector<double> sx;             //          value of x
  // Binary trait (from x0): per active variant its carriers and its
  // subjects that are neither carriers nor exactly 0 (missing).
  std::vector<int> cstart, cidx, ostart, oidx;
  std::vector<double> n_car, n_zero;
  // Quantitative trait: per variant mean of x, sum of squared deviations,
  // 0 - mean; position among the active variants.
  std::vector<double> avg_x, V, neg_avg;
  std::vector<int> act;  // active variants in order
  std::vector<int> pos;  // [M] position among the active variants, -1 when inactive
  std::vector<double> nd;  // 0 - mean x of the active variants, in their order
  ErecSlopeTiles tiles;    // quantitative: the slopes' tiles for resamples side by side
  size_t bytes() const;
};

// The EREC rows of a gene of M variants: working genotypes x and untouched
// x0 ([N][M], missing -1), frequencies maf; dense (a non-finite design)
// keeps every subject's every entry.
void build_erec_rows(const ResampleDesign &d, int M, double **x, double **x0, const double *maf,
                     double MAF_UB, bool dense, ErecRows &e);

ErecSubjectRows erec_subject_rows(const ErecRows &e, int N);

// The rows a gene keeps for its resampling: its burden scores (one row per
// fixed-threshold test), VT's threshold scores, SKAT's scores with their
// weights and, when EREC takes part, its EREC rows.
struct ResampledRows {
  SparseRows burden, vt, skat;
  std::vector<double> weight_skat;
  bool erec_on = false;
  ErecRows erec;
  size_t bytes() const;
};

// Scratch of the evaluation, sized once per gene added.
struct EvalWork {
  std::vector<double> SZ, row0, row1, w0, w1, Uacc, dtmp;
  long entries = 0;  // non-zero entries visited (report)
  // The resamples of a block side by side, subject by subject (variants'
  // dense columns evaluated in vector lanes, one lane per resample).
  std::vector<double> lanes;
  // Quantitative EREC: the block's centred traits side by side
  // (yc_lanes[i * kErecLanes + b]) and the slopes' numerators of a gene.
  std::vector<double> yc_lanes, U_lanes;
  // Grows the scratch to hold a gene of M variants and n_subj subjects with
  // EREC entries.
  void fit(size_t M, size_t n_subj);
};

// |Z| of a dense score row under a null model: score_stat (binary) or
// score_stat_quanTrait (quantitative). SZ is scratch of D values.
double dense_abs_z(const ResampleDesign &d, const ResampleNull &r, double *row, double *SZ);

// Score U of a dense row under a quantitative trait's null model.
double dense_quan_U(const ResampleDesign &d, const ResampleNull &r, double *row, double *SZ);

// Largest dense |Z| of rows[0..n-1]: the first, replaced by each later one
// that is greater (a NaN first value stays).
double largest_abs_z(const ResampleDesign &d, const ResampleNull &r, double **rows, int n,
                     double *SZ);

// |Z| of a sparse row (n entries) whose variance part is not stored.
double sparse_abs_z(int n, const int *idx, const double *val, const ResampleDesign &d,
                    const ResampleNull &r, double *SZ);

// |Z| of row q of stored rows (its stored variance part when fixed).
double row_abs_z(const SparseRows &rows, int q, const ResampleDesign &d, const ResampleNull &r,
                 EvalWork &w);

// EREC maximum under null model r. A quantitative trait's slope numerators
// come from U_lanes (lane `lane` of a block's side-by-side sums) when given,
// else they are summed here one resample at a time.
double erec_statistic(const ErecRows &e, const ResampleDesign &d, const ResampleNull &r,
                      EvalWork &w, double delta, const double *U_lanes = nullptr, int lane = 0);

// Statistic of test `test` of a gene's rows under resample r (|Z|, VT
// maximum, SKAT sum or EREC maximum); NaN when r's null model is not finite.
double resampled_statistic(const ResampledRows &g, int test, const ResampleDesign &d,
                           const ResampleNull &r, EvalWork &w);

// EREC statistics of a gene's rows on the nb resamples of a block (T[b] as
// resampled_statistic gives them, bit for bit): a quantitative trait's
// slopes summed for the block side by side, from yc_lanes as
// erec_block_lanes fills it for the block.
void erec_block_statistics(const ErecRows &e, const ResampleDesign &d,
                           const ResampleNull *const *block, int nb, EvalWork &w, double *T);
void erec_block_lanes(const ResampleDesign &d, const ResampleNull *const *block, int nb,
                      EvalWork &w);

#endif
