#ifndef QUORVEX_STATS_BURDEN_H
#define QUORVEX_STATS_BURDEN_H

// Burden scores of one gene under the three genetic models, and the
// minor-allele count of a burden.
//
// x[0..N-1][0..N_SNP-1] holds the gene's genotypes (minor-allele counts, -1
// when missing); maf[j] is the caller's frequency of variant j, which sets the
// rare-variant bound (maf <= MAF_UB) and the fixed thresholds (T1: maf < 0.01,
// T5: maf < 0.05). Each scorer writes q[j] = 1 - (observed allele sum) /
// (2 x observed count), the major-allele frequency, makes x complete or
// recodes it to the model's indicator, and writes the burden rows of
// S[0..][0..N-1] (row 0 T1, row 1 T5, row 2 MB) unless the gene has no
// usable burden, in which case *flag is set to 1 and S is left as it was.
// *flag is never cleared here. A variant without any observed genotype is
// treated as unusable: q = 1, its missing values become 0, and it enters no
// score.

// Additive model: missing genotypes are replaced by the variant's mean
// observed genotype; rows T1, T5 and MB (weights 1/sqrt(p(1-p)), p the
// smoothed observed frequency when maf_flag is 1, maf[j] when it is 0).
void getS(int N, int N_SNP, double **x, double **S, double MAF_UB, int MAC_LB, double *maf,
          int *flag, int maf_flag, double *q);

// Dominant model: carrier indicators; a subject without an observed carrier
// genotype gets the Hardy-Weinberg probability that one of its missing
// genotypes carries. x is recoded to carrier indicators (missing: 1 - q^2).
void getS_CMC(int N, int N_SNP, double **x, double **S, double MAF_UB, int MAC_LB, double *maf,
              int *flag, double *q);

// Recessive model: indicators of at least two minor alleles over the set;
// with missing genotypes, the probability that they complete the count. x is
// recoded to indicators of two minor alleles (missing: (1 - q)^2).
void getS_REC(int N, int N_SNP, double **x, double **S, double MAF_UB, int MAC_LB, double *maf,
              int *flag, double *q);

// Hardy-Weinberg probability, for independent variants with major-allele
// frequencies q[0..n_miss-1], that the missing genotypes bring a subject who
// already has `type` (0 or 1) observed minor alleles to at least two. Any
// other type stops the run (status 1) with the line "Only type=0 or 1 is acceptable".
double getS_REC_impute(double type, int n_miss, double *q);

// Minor-allele count of the burden over the variants with maf[j] <= thresh,
// from the untouched genotypes x0[0..n-1][0..N_SNP-1]: MODEL 1 or 2, the
// number of carriers (x0 >= 1 somewhere); MODEL 3, the number of subjects
// whose values > 0.1 add up to at least 2; any other code, the total of the
// values > 0.1.
double burdenMAC(int MODEL, int n, int N_SNP, double **x0, double *maf, double thresh);

// burdenMAC for each of thresh[0..K-1] into count[0..K-1], from one pass
// over the genotypes (the same sums in the same order, so the same values).
void burdenMAC_many(int MODEL, int n, int N_SNP, double **x0, const double *maf, int K,
                    const double *thresh, double *count);

// The same from the genotypes of each subject listed in variant order
// (subject i: variants col[e], values val[e] for start[i] <= e < start[i+1]),
// at least every genotype > 0.1 among them.
void burdenMAC_entries(int MODEL, int n, const int *start, const int *col, const double *val,
                       const double *maf, int K, const double *thresh, double *count);

#endif
