#ifndef QUORVEX_NUMERIC_RANDOM_H
#define QUORVEX_NUMERIC_RANDOM_H

// Wichmann-Hill uniform generator (AS 183) on the run's global seeds, and
// the binomial deviate routine of Numerical Recipes on top of it. These are
// the Bernoulli draws of the parametric bootstrap.

extern thread_local long gix, giy, giz;  // initial values 4567, 6789, 8901

// Sets gix, giy, giz back to 4567, 6789, 8901.
void reset_runifC3();

// One step of Wichmann and Hill (1982), AS 183, on the three seeds given:
// advances them and returns a uniform double in [0, 1). Shared by this
// generator and the permutation generator, which keeps its own seeds.
double wichmann_hill_next(long *ix, long *iy, long *iz);

// Advances the three seeds by k steps at once, as k calls of
// wichmann_hill_next would: each component is multiplied by its multiplier
// raised to the power k modulo its modulus (square-and-multiply).
void wichmann_hill_skip(long *ix, long *iy, long *iz, unsigned long long k);

// A uniform double in [0, 1); advances gix, giy, giz.
double runifC3();

// A binomial(n, pp) deviate as a double.
double rbinomC(double pp, int n);

#endif
