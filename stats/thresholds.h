#ifndef QUORVEX_STATS_THRESHOLDS_H
#define QUORVEX_STATS_THRESHOLDS_H

// Frequency thresholds of the variable-threshold (VT) test. The candidate
// thresholds of a gene are the distinct variant frequencies at which the
// burden reaches the minor-allele-count bound; more than 20 candidates are
// thinned to at most 20 by grouping their values rounded to 3, 2 and then
// 1 significant digits and keeping the largest member of each group.

// Threshold set of one gene. x0[0..n-1][0..N_SNP-1] holds the untouched
// genotypes (missing -1), maf[0..N_SNP-1] the variant frequencies; the
// minor-allele count of a threshold follows burdenMAC under MODEL (1
// additive, 2 dominant, 3 recessive). Writes *n_thresh (0 when the whole
// gene is below MAC_LB) and thresh[0..*n_thresh-1] (room for N_SNP values):
// unrounded variant frequencies in the order in which they first occur.
void getThresh(int MODEL, int n, int N_SNP, double **x0, double *maf, int MAC_LB, int *n_thresh,
               double *thresh);

// Thinning of N_UNIQ > 20 candidates thresh[0..N_UNIQ-1] with 0-based
// ascending ranks rank[0..N_UNIQ-1]: index_vt[i] = 1 keeps candidate i;
// *N_UNIQ2 receives the number kept (at most 20).
void shrinkVT(int N_UNIQ, double *thresh, int *rank, int *N_UNIQ2, int *index_vt);

// Rounds v[0..M-1] (values in [0, 1)) in place to DIG significant digits
// through their "%.10f" text: the text is cut after DIG + 1 significant
// digits and the last kept digit rounded half up from the cut text.
void sigDigit(int M, double *v, int DIG);

// rank[k] = 1 + position of Array[k] in the stable ascending order of
// Array[0..arrayLen-1] (a bubble sort of pointers; ties keep their order).
void bubbleRank_noTie(int arrayLen, double *Array, double *rank);

// Number of distinct values of the sorted array v[0..M-1] (1 when M < 2).
int uniqueNum(int M, double *v);

#endif
