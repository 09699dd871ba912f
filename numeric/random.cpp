#include "numeric/random.h"

#include <cmath>

#include "numeric/gamma.h"

// Seeds of the Bernoulli generator, one set per thread, reset before
// the resampling of every variant and gene of a binary trait.
thread_local long gix = 4567, giy = 6789, giz = 8901;

void reset_runifC3() {
  gix = 4567;
  giy = 6789;
  giz = 8901;
}

// Wichmann and Hill (1982), AS 183: three multiplicative congruential
// generators (171 mod 30269, 172 mod 30307, 170 mod 30323) in Schrage form,
// so no product exceeds the range of the seeds; the result is the fractional
// part of the sum of the three scaled seeds, in [0, 1).
double wichmann_hill_next(long *ix, long *iy, long *iz) {
  *ix = 171 * (*ix % 177) - 2 * (*ix / 177);
  *iy = 172 * (*iy % 176) - 35 * (*iy / 176);
  *iz = 170 * (*iz % 178) - 63 * (*iz / 178);
  if (*ix < 0) *ix += 30269;
  if (*iy < 0) *iy += 30307;
  if (*iz < 0) *iz += 30323;
  double r = *ix / 30269.0 + *iy / 30307.0 + *iz / 30323.0;
  // Fractional part of r in [0, 3): r - floor(r) is exact here (Sterbenz)
  // and equals fmod(r, 1.0), at a fraction of its cost.
  return r - std::floor(r);
}

namespace {

long power_times(long a, unsigned long long k, long m, long x) {
  long long result = 1 % m, base = a % m;
  while (k > 0) {
    if (k & 1) result = result * base % m;
    base = base * base % m;
    k >>= 1;
  }
  return (long)(result * x % m);
}

}  // namespace

void wichmann_hill_skip(long *ix, long *iy, long *iz, unsigned long long k) {
  *ix = power_times(171, k, 30269, *ix);
  *iy = power_times(172, k, 30307, *iy);
  *iz = power_times(170, k, 30323, *iz);
}

double runifC3() { return wichmann_hill_next(&gix, &giy, &giz); }

namespace {

// Ten-digit value of pi used by the rejection regime's Lorentzian angle.
constexpr double PI = 3.141592654;

// Values kept between calls of rbinomC; read only by the rejection regime.
thread_local int nold = -1;
thread_local double pold = -1.0;
thread_local double pc = 0.0, plog = 0.0, pclog = 0.0, en = 0.0, oldg = 0.0;

}  // namespace

// Binomial deviate (Numerical Recipes bnldev) on runifC3: direct counting of
// n Bernoulli trials for n < 25, Poisson waiting times when n p < 1, and
// otherwise rejection from a Lorentzian comparison function. p is folded to
// at most 0.5 and the count reflected back at the end.
double rbinomC(double pp, int n) {
  double p = (pp <= 0.5 ? pp : 1.0 - pp);
  double am = n * p;
  double bnl;
  if (n < 25) {
    bnl = 0.0;
    for (int j = 1; j <= n; j++)
      if (runifC3() < p) bnl += 1.0;
  } else if (am < 1.0) {
    double g = std::exp(-am);
    double t = 1.0;
    int j;
    for (j = 0; j <= n; j++) {
      t *= runifC3();
      if (t < g) break;
    }
    bnl = (j <= n ? j : n);
  } else {
    if (n != nold) {
      en = n;
      oldg = gammln(en + 1.0);
      nold = n;
    }
    if (p != pold) {
      pc = 1.0 - p;
      plog = std::log(p);
      pclog = std::log(pc);
      pold = p;
    }
    double sq = std::sqrt(2.0 * am * pc);
    double em, t, y;
    do {
      do {
        double angle = PI * runifC3();
        y = std::tan(angle);
        em = sq * y + am;
      } while (em < 0.0 || em >= (en + 1.0));
      em = std::floor(em);
      t = 1.2 * sq * (1.0 + y * y) *
          std::exp(oldg - gammln(em + 1.0) - gammln(en - em + 1.0) + em * plog + (en - em) * pclog);
    } while (runifC3() > t);
    bnl = em;
  }
  if (p != pp) bnl = n - bnl;
  return bnl;
}
