#ifndef QUORVEX_STATS_EREC_H
#define QUORVEX_STATS_EREC_H

#include <cstddef>
#include <vector>

// EREC scores: two weighted burden scores per gene whose variant weights are
// the variants' estimated effects on the trait, shifted up and down by a
// fixed delta. Row 0 of S_opp takes the weights b[j] + delta, row 1 the
// weights b[j] - delta, S_opp[r][i] = sum over j (ascending, from 0.0) of
// x[i][j] w_r[j]. The effect b[j] is clamped to [-3, 3]; a variant with
// maf[j] > MAF_UB has weight 0 in both rows. Arrays are 0-based; S_opp is
// 2 x N and caller-allocated.

// Binary trait (y 0/1): b[j] = log of the odds ratio of the 2 x 2 table of
// case status against carrier status, counted from the untouched genotypes
// x0 over the subjects observed at the variant (x0 >= 0; carrier x0 > 0,
// non-carrier x0 exactly 0), with 1 added to each cell (Haldane-Anscombe).
// The scores are built from the working genotypes x.
void getS_opp(int N, int N_SNP, double *y, double **x0, double **x, double **S_opp, double *maf,
              double MAF_UB, double delta);

// Quantitative trait: b[j] = least-squares slope of y on column j of x,
// sum (y - mean y)(x - mean x) / sum (x - mean x)^2 over all N subjects; a
// constant column gives 0/0, a NaN slope that the clamping keeps, so every
// value of both rows is NaN.
void getS_opp_quan(int N, int N_SNP, double *y, double **x, double **S_opp, double *maf,
                   double MAF_UB, double delta);

// Clamps an effect estimate to [-3, 3] (NaN stays NaN).
inline double erec_clamp(double b) {
  if (b > 3) return 3;
  if (b < -3) return -3;
  return b;
}

// Log odds ratio of a 2 x 2 table with 1 added to each cell, clamped:
// log((n11 + 1)(n00 + 1) / ((n01 + 1)(n10 + 1))).
double erec_log_odds(double n11, double n10, double n01, double n00);

// Quantitative trait under resampling: the numerators of a gene's slopes,
// U[a] = sum over i = 0..N-1 (ascending, from 0.0) of yc[i] * d[i][a], where
// yc is the resampled trait less its mean and d[i][a] = x[i][j] - mean x_j
// for the a-th active variant j (maf <= MAF_UB), as getS_opp_quan sums them.
// The genotypes come by subject: the subjects subj[0..n_subj) (ascending)
// with entries [sstart[u], sstart[u + 1]) of svar (variant) and sx (value);
// every other subject has x = 0 at every variant, so d = nd[a] = 0 - mean.
// pos[j] is variant j's place among the active variants (-1: inactive).
struct ErecSubjectRows {
  int N = 0, A = 0, n_subj = 0;
  const int *subj = nullptr, *sstart = nullptr, *svar = nullptr, *pos = nullptr;
  const double *sx = nullptr, *avg_x = nullptr, *nd = nullptr;
};

// One resample at a time, subject after subject, the active variants' sums
// side by side. d is scratch of A values.
void erec_quan_numerators(const ErecSubjectRows &g, const double *yc, double *U, double *d);

// The same sums for kErecLanes resamples side by side, each lane adding its
// own terms in the order above, so that every lane's U is bit for bit the
// one-at-a-time value. The active variants go in tiles of kErecLanes; in a
// tile, the subjects without a non-zero entry of the tile's variants add
// yc * nd (the deviations held in registers), and the others take their
// deviations from a row stored per tile.
const int kErecLanes = 8;

struct ErecSlopeTiles {
  int N = 0, A = 0;
  std::vector<double> nd;      // [A] 0 - mean x of the active variants
  std::vector<int> tstart;     // [tiles + 1] each tile's range of esubj
  std::vector<int> esubj;      // its subjects with entries, ascending
  std::vector<double> dev;     // [kErecLanes] per esubj: the tile's deviations
  size_t bytes() const;
};

void erec_slope_tiles(const ErecSubjectRows &g, ErecSlopeTiles &t);

// Machine code of the lane sums: two doubles a register (the baseline
// target), four (AVX2) or eight (AVX-512F), chosen at run time. Each is the
// same IEEE multiplications and additions in the same order (no fused
// multiply-add), so every code gives the same bits.
enum class ErecLaneCode { kBaseline, kAvx2, kAvx512 };
bool erec_lane_code_available(ErecLaneCode code);
ErecLaneCode erec_best_lane_code();

// C[i * kErecLanes + l] = yc of lane l at subject i (an unused lane may
// hold anything; its sums are not meant to be read); out:
// U[a * kErecLanes + l].
void erec_quan_numerators_lanes(const ErecSlopeTiles &t, const double *C, double *U,
                                ErecLaneCode code);
inline void erec_quan_numerators_lanes(const ErecSlopeTiles &t, const double *C, double *U) {
  erec_quan_numerators_lanes(t, C, U, erec_best_lane_code());
}

#endif
