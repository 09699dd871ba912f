#include "numeric/gamma.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "numeric/run_stop.h"

namespace {

constexpr int ITMAX = 100;                 // most series terms / fraction iterations
constexpr double EPS = 2.2204460492503e-16;  // relative tolerance (double epsilon)
constexpr double FPMIN = 1.00208e-292;     // floor for the Lentz quantities c and d

// The stop of a routine given arguments outside its domain: the text as a
// line on standard output, status 1.
[[noreturn]] void gamma_error(const char *text) {
  RunStop stop;
  stop.texts.push_back({RunStop::kStandardOutput, std::string(text) + "\n"});
  raise_stop(std::move(stop));
}

}  // namespace

// Q(a, x) = 1 - P(a, x): the series below x = a + 1, the continued fraction
// from there on (Numerical Recipes gammq). A NaN x gives NaN and x = +inf
// gives 0, without a message.
double gammq(double a, double x) {
  if (x < 0.0 || a <= 0.0) gamma_error("Invalid arguments in routine gammp");
  if (std::isnan(x)) return x;
  if (std::isinf(x)) return 0.0;
  double gln;
  if (x < a + 1.0) {
    double gamser;
    gser(&gamser, a, x, &gln);
    return 1.0 - gamser;
  }
  double gammcf;
  gcf(&gammcf, a, x, &gln);
  return gammcf;
}

// P(a, x) by its series sum_n x^n / (a (a+1) ... (a+n)) times
// exp(-x) x^a / Gamma(a); converges quickly for x < a + 1.
void gser(double *gamser, double a, double x, double *gln) {
  *gln = gammln(a);
  if (x <= 0.0) {
    *gamser = 0.0;
    return;
  }
  double ap = a;
  double del = 1.0 / a;
  double sum = del;
  for (int n = 1; n <= ITMAX; n++) {
    ap += 1.0;
    del *= x / ap;
    sum += del;
    if (std::fabs(del) < std::fabs(sum) * EPS) {
      *gamser = sum * std::exp(-x + a * std::log(x) - *gln);
      return;
    }
  }
  gamma_error("a too large, ITMAX too small in routine gser");
}

// Q(a, x) by its continued fraction, evaluated by the modified Lentz method;
// converges quickly for x >= a + 1.
void gcf(double *gammcf, double a, double x, double *gln) {
  *gln = gammln(a);
  double b = x + 1.0 - a;
  double c = 1.0 / FPMIN;
  double d = 1.0 / b;
  double h = d;
  int i;
  for (i = 1; i <= ITMAX; i++) {
    double an = -i * (i - a);
    b += 2.0;
    d = an * d + b;
    if (std::fabs(d) < FPMIN) d = FPMIN;
    c = b + an / c;
    if (std::fabs(c) < FPMIN) c = FPMIN;
    d = 1.0 / d;
    double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < EPS) break;
  }
  if (i > ITMAX) gamma_error("A too large, ITMAX too small");
  *gammcf = std::exp(-x + a * std::log(x) - *gln) * h;
}

// ln Gamma(xx) for xx > 0 by the six-term Lanczos series of Numerical
// Recipes (gamma = 5, relative error below 2e-10).
double gammln(double xx) {
  static const double cof[6] = {76.18009172947146,     -86.50532032941678,
                                24.01409824083091,     -1.231739572450155,
                                0.001208650973866179,  -5.395239384953e-6};
  double x = xx, y = xx;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  for (int j = 0; j < 6; j++) ser += cof[j] / ++y;
  return -tmp + std::log(2.5066282746310005 * ser / x);
}
