#ifndef QUORVEX_STATS_PERMUTE_H
#define QUORVEX_STATS_PERMUTE_H

// Random permutations of the subjects for the permutation resampling, on a
// second Wichmann-Hill generator (AS 183) with seeds of its own, independent
// of the Bernoulli generator's gix, giy, giz.

extern thread_local long bix, biy, biz;  // initial values 7335, 4623, 8097

// Sets bix, biy, biz back to 7335, 4623, 8097; called before the resampling
// of every variant and every gene.
void reset_runifC3P();

// A uniform double in [0, 1); advances bix, biy, biz.
double runifC3P();

// Index of the unit interval holding ran >= 0 when the closed intervals
// [0, 1], [1, 2], ... are searched from the bottom: max(ceil(ran), 1) - 1.
// Differs from floor(ran) exactly when ran is a whole number of at least 1.
int permuteIndex(double ran);

// Fills per[0..n-1] with a random permutation of 0..n-1 by a shuffle from
// the last position down, consuming n - 1 uniforms (none for n <= 1);
// n <= 0 writes nothing.
void getPermute(int *per, int n);

#endif
