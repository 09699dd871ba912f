#ifndef QUORVEX_NUMERIC_GAMMA_H
#define QUORVEX_NUMERIC_GAMMA_H

// Upper regularised incomplete gamma function Q(a, x) (Numerical Recipes
// series and Lentz continued fraction, in double precision). The driver's
// gammq(0.5, Z*Z*0.5) is the two-sided normal p-value of Z.
double gammq(double a, double x);

// Regularised lower function P(a, x) by its series; *gln = ln Gamma(a).
void gser(double *gamser, double a, double x, double *gln);

// Q(a, x) by its continued fraction; *gln = ln Gamma(a).
void gcf(double *gammcf, double a, double x, double *gln);

// ln Gamma(xx) for xx > 0, six-coefficient Lanczos series.
double gammln(double xx);

#endif
