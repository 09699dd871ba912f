#ifndef QUORVEX_DRIVER_COMMON_PASS_H
#define QUORVEX_DRIVER_COMMON_PASS_H

// The common-variant pass ("-com"): every genotype row whose file frequency
// is above the bound (strict), whose missing rate is within the call-rate
// bound and which is not monomorphic is coded under the genetic model in
// force into one score per subject and tested on its own by the score test
// against the null model; one row per tested variant goes to the
// common-variant result file, in genotype-file order.
//
// The variants are tested side by side on the run's threads, in batches of
// neighbouring tested rows: each thread reads its batch's rows at the byte
// offsets the loader recorded and parses them with the loader's tokenizer,
// into its own column and scratch. What a variant prints, writes to the
// message log or stops on is kept with the variant and replayed on the
// calling thread in genotype-file order (with resampling, the variant then
// enters the pool), so that every output is the one-thread run's, byte for
// byte, a stop part-way included.

#include "driver/common_results.h"
#include "driver/input.h"
#include "driver/run_setup.h"
#include "driver/settings.h"

// Whether genotype row k is tested: frequency > MAF_C (strict), missing rate
// <= NA_UB and not monomorphic. A row without any observed value has
// frequency 0 and is monomorphic by the loader, so it is never tested.
bool common_variant_qualifies(const Settings &settings, const GenotypeSummary &geno, long k);

// Reads the N genotype values of one genotype-file line [b, e) (identifier
// first, not used) into S: a token whose first character is 'N' or whose
// second is 'A' is missing (-1), any other is its decimal value as atof reads
// it. Returns the number of values on the line; only the first N are stored.
long read_common_row(const char *b, const char *e, long N, double *S);

// The coding of one variant's genotypes under the genetic model in force,
// with its file frequency f:
//  dominant:  > 0 -> 1, missing (exactly -1) -> 1 - (1 - f)^2, 0 stays;
//  recessive: > 1 -> 1, exactly 1 -> 0, missing (exactly -1) -> f^2, 0 stays;
//  additive:  negative -> 2 f (the mean genotype), others stay.
struct GenotypeCoding {
  enum Model { kAdditive, kDominant, kRecessive };
  Model model = kAdditive;
  double missing = 0;  // the value of a missing genotype
};

GenotypeCoding common_coding(const Settings &settings, double f);

inline double code_genotype(const GenotypeCoding &c, double x) {
  switch (c.model) {
    case GenotypeCoding::kDominant:
      return x > 0 ? 1.0 : x == -1 ? c.missing : x;
    case GenotypeCoding::kRecessive:
      return x > 1 ? 1.0 : x == 1 ? 0.0 : x == -1 ? c.missing : x;
    default:
      return x < 0 ? c.missing : x;
  }
}

// Codes the N values of S in place (the straightforward order of work).
void code_common_variant(const Settings &settings, double f, long N, double *S);

// read_common_row and code_common_variant in one walk over the line: the
// same values, with every one-character token coded through a table.
long read_coded_common_row(const char *b, const char *e, const GenotypeCoding &coding, long N,
                           double *S);

// Score test of the coded column against the null model of the observed
// trait (U and V of the trait as read; for a quantitative trait both divided
// by the residual variance). Fills variant.U, V and Z; returns Z.
double common_score_test(const LoadedData &data, const NullModel &null_model,
                         CommonVariant &variant);

// The statistic that a variant's resamples are compared with: |Z| of the
// score test for a binary trait, |Z| recomputed on the standardized trait for
// a quantitative one (this value serves only the comparison).
double common_observed_statistic(const LoadedData &data, const NullModel &null_model,
                                 const CommonVariant &variant);

// The asymptotic test of the coded column: Z into pvalue_com_stat[k], the
// p-value (chi-square tail of Z^2, 1 degree of freedom) into pvalue_com[k].
// A Z that is not finite gives the variance warning (warning report) and 99
// in pvalue_com[k] and, with resampling, in pvalue_perm_com[k]; returns
// false then (the variant is not resampled), true otherwise. It writes only
// the entries k of the run arrays: variants are tested side by side.
bool asymptotic_common_test(const Settings &settings, const LoadedData &data,
                            const NullModel &null_model, RunArrays &run, CommonVariant &variant,
                            MessageLog &log);

// The whole pass: result file with its header, then every genotype row in
// file order, on thread_count() threads. Fatal: the result file cannot be
// created or reopened, cannot be written, the genotype file cannot be
// opened, or a tested row no longer holds N values.
void common_pass(const Settings &settings, const LoadedData &data, const NullModel &null_model,
                 RunArrays &run, MessageLog &log);

#endif
