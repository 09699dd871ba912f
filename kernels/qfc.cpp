// Distribution of a linear combination of independent non-central chi-square
// variables plus a normal term, by Davies (1980), algorithm AS 155: numerical
// inversion of the characteristic function by the trapezoidal rule, with
// bounds on the truncation and integration errors and an optional
// convergence factor. Domain: integer degrees of freedom n_j >= 0,
// non-centralities >= 0, any real weights and evaluation point.
//
// The working state is module-level (one set per process, reset by every
// call of qfc), so the unit is not re-entrant. It allocates only the index
// array th, once per call.
#include "kernels/qfc.h"

#include <cmath>
#include <cstdlib>

namespace {

typedef int BOOL;
constexpr BOOL kTrue = 1;
constexpr BOOL kFalse = 0;

// The published literal values of pi and 2 pi, not full double precision.
constexpr double pi = 3.14159265358979;
constexpr double pi2 = 6.28318530717958;
constexpr double log28 = 0.0866;  // ln(2) / 8 to three figures

// Working state of one call, one copy per thread.
thread_local int r;              // number of chi-square terms
thread_local int lim;            // limit on the number of bound evaluations
thread_local double c;           // point at which the distribution is evaluated
thread_local double *lb;         // weights (the caller's array)
thread_local double *nc;         // non-centralities (the caller's array)
thread_local int *n;             // degrees of freedom (the caller's array)
thread_local int *th;            // term indices by descending |weight|, sorted on first need
thread_local BOOL ndtsrt;        // th not yet sorted
thread_local BOOL fail;          // convergence factor unusable (set by cfe)
thread_local double sigsq;       // sigma^2 plus every adopted convergence factor
thread_local double lmax, lmin;  // largest positive and smallest negative weight
thread_local double mean;        // mean of Q
thread_local double intl, ersm;  // running integral and its absolute error sum
thread_local int count;          // bound evaluations so far
// Set once count exceeds lim: every private routine then returns at once and
// qfc finishes with fault 4. This replaces a non-local jump, which would skip
// C++ frames.
thread_local BOOL spent;

// Counts one bound evaluation; true when the budget is exhausted.
inline BOOL counter() {
  if (spent) return kTrue;
  count = count + 1;
  if (count > lim) spent = kTrue;
  return spent;
}

inline double square(double x) { return x * x; }

inline double cube(double x) { return x * x * x; }

// exp(x), 0 below -50 to avoid underflow.
inline double exp1(double x) { return x < -50.0 ? 0.0 : std::exp(x); }

// ln(1 + x) when first, else ln(1 + x) - x; for |x| <= 0.1 by the series in
// y = x / (2 + x), ln(1 + x) = 2 (y + y^3/3 + y^5/5 + ...). An x that is not
// a number takes the direct branch: in the series s would never stop changing.
double log1(double x, BOOL first) {
  if (!(std::fabs(x) <= 0.1)) return first ? std::log(1.0 + x) : (std::log(1.0 + x) - x);
  double y = x / (2.0 + x);
  double term = 2.0 * cube(y);
  double k = 3.0;
  double s = (first ? 2.0 : -x) * y;
  y = square(y);
  for (double s1 = s + term / k; s1 != s; s1 = s + term / k) {
    k = k + 2.0;
    term = term * y;
    s = s1;
  }
  return s;
}

// Insertion sort of the indices 0..r-1 into th by descending |lb|; equal
// magnitudes keep ascending index order.
void order() {
  for (int j = 0; j < r; j++) {
    double lj = std::fabs(lb[j]);
    int k;
    for (k = j - 1; k >= 0; k--) {
      if (lj > std::fabs(lb[th[k]]))
        th[k + 1] = th[k];
      else
        break;
    }
    th[k + 1] = j;
  }
  ndtsrt = kFalse;
}

// Chernoff bound exp(-sum1/2) on a tail probability from the moment
// generating function at u; the matching cut-off point through cx.
double errbd(double u, double *cx) {
  if (counter()) {
    *cx = 0.0;
    return 0.0;
  }
  double xconst = u * sigsq;
  double sum1 = u * xconst;
  u = 2.0 * u;
  for (int j = r - 1; j >= 0; j--) {
    double nj = n[j], lj = lb[j], ncj = nc[j];
    double x = u * lj;
    double y = 1.0 - x;
    xconst = xconst + lj * (ncj / y + nj) / y;
    sum1 = sum1 + ncj * square(x / y) + nj * (square(x) / y + log1(-x, kFalse));
  }
  *cx = xconst;
  return exp1(-0.5 * sum1);
}

// A point c2 with P(Q > c2) < accx when *upn > 0, P(Q < c2) < accx
// otherwise; the final u is written back to *upn.
double ctff(double accx, double *upn) {
  double u2 = *upn, u1 = 0.0, c1 = mean, c2 = mean, xconst;
  double rb = 2.0 * ((u2 > 0.0) ? lmax : lmin);
  for (;;) {
    double bound = errbd(u2 / (1.0 + u2 * rb), &c2);
    if (spent) return 0.0;
    if (!(bound > accx)) break;
    u1 = u2;
    c1 = c2;
    u2 = 2.0 * u2;
  }
  for (double u = (c1 - mean) / (c2 - mean); u < 0.9; u = (c1 - mean) / (c2 - mean)) {
    u = (u1 + u2) / 2.0;
    double bound = errbd(u / (1.0 + u * rb), &xconst);
    if (spent) return 0.0;
    if (bound > accx) {
      u1 = u;
      c1 = xconst;
    } else {
      u2 = u;
      c2 = xconst;
    }
  }
  *upn = u2;
  return c2;
}

// Bound on the integration error from truncating the integral at u, with
// convergence factor tausq.
double truncation(double u, double tausq) {
  if (counter()) return 0.0;
  double sum1 = 0.0, prod2 = 0.0, prod3 = 0.0, s = 0.0;
  double sum2 = (sigsq + tausq) * square(u);
  double prod1 = 2.0 * sum2;
  u = 2.0 * u;
  for (int j = 0; j < r; j++) {
    double lj = lb[j], ncj = nc[j], nj = n[j];
    double x = square(u * lj);
    sum1 = sum1 + ncj * x / (1.0 + x);
    if (x > 1.0) {
      prod2 = prod2 + nj * std::log(x);
      prod3 = prod3 + nj * log1(x, kTrue);
      s = s + nj;
    } else {
      prod1 = prod1 + nj * log1(x, kTrue);
    }
  }
  sum1 = 0.5 * sum1;
  prod2 = prod1 + prod2;
  prod3 = prod1 + prod3;
  double x = exp1(-sum1 - 0.25 * prod2) / pi;
  double y = exp1(-sum1 - 0.25 * prod3) / pi;
  double err1 = (s == 0.0) ? 1.0 : x * 2.0 / s;
  double err2 = (prod3 > 1.0) ? 2.5 * y : 1.0;
  if (err2 < err1) err1 = err2;
  x = 0.5 * sum2;
  err2 = (x <= y) ? 1.0 : y / x;
  return (err1 < err2) ? err1 : err2;
}

// Truncation point u with truncation(u) <= accx and truncation(u / 1.1)
// above it, starting from *utx; the result through utx.
void findu(double *utx, double accx) {
  static const double divis[] = {2.0, 1.4, 1.2, 1.1};
  double ut = *utx;
  double u = ut / 4.0;
  double bound = truncation(u, 0.0);
  if (spent) return;
  if (bound > accx) {
    for (u = ut;; u = ut) {
      bound = truncation(u, 0.0);
      if (spent) return;
      if (!(bound > accx)) break;
      ut = ut * 4.0;
    }
  } else {
    ut = u;
    for (u = u / 4.0;; u = u / 4.0) {
      bound = truncation(u, 0.0);
      if (spent) return;
      if (!(bound <= accx)) break;
      ut = u;
    }
  }
  for (int i = 0; i < 4; i++) {
    u = ut / divis[i];
    bound = truncation(u, 0.0);
    if (spent) return;
    if (bound <= accx) ut = u;
  }
  *utx = ut;
}

// Trapezoidal integration with nterm + 1 terms at step interv; unless mainx,
// the integrand is multiplied by 1 - exp(-tausq u^2 / 2). Adds to intl and
// ersm.
void integrate(int nterm, double interv, double tausq, BOOL mainx) {
  double inpi = interv / pi;
  for (int k = nterm; k >= 0; k--) {
    double u = (k + 0.5) * interv;
    double sum1 = -2.0 * u * c;
    double sum2 = std::fabs(sum1);
    double sum3 = -0.5 * sigsq * square(u);
    for (int j = r - 1; j >= 0; j--) {
      double nj = n[j];
      double x = 2.0 * lb[j] * u;
      double y = square(x);
      sum3 = sum3 - 0.25 * nj * log1(y, kTrue);
      y = nc[j] * x / (1.0 + y);
      double z = nj * std::atan(x) + y;
      sum1 = sum1 + z;
      sum2 = sum2 + std::fabs(z);
      sum3 = sum3 - 0.5 * x * y;
    }
    double x = inpi * exp1(sum3) / u;
    if (!mainx) x = x * (1.0 - exp1(-0.5 * tausq * square(u)));
    sum1 = std::sin(0.5 * sum1) * x;
    sum2 = 0.5 * sum2 * x;
    intl = intl + sum1;
    ersm = ersm + sum2;
  }
}

// Coefficient of tausq in the error when the convergence factor
// exp(-tausq u^2 / 2) is used and the distribution is evaluated at x.
double cfe(double x) {
  if (counter()) return 1.0;
  if (ndtsrt) order();
  double axl = std::fabs(x);
  double sxl = (x > 0.0) ? 1.0 : -1.0;
  double sum1 = 0.0;
  for (int j = r - 1; j >= 0; j--) {
    int t = th[j];
    if (lb[t] * sxl > 0.0) {
      double lj = std::fabs(lb[t]);
      double axl1 = axl - lj * (n[t] + nc[t]);
      double axl2 = lj / log28;
      if (axl1 > axl2) {
        axl = axl1;
      } else {
        if (axl > axl2) axl = axl2;
        sum1 = (axl - axl1) / lj;
        for (int k = j - 1; k >= 0; k--) sum1 = sum1 + (n[th[k]] + nc[th[k]]);
        break;
      }
    }
  }
  if (sum1 > 100.0) {
    fail = kTrue;
    return 1.0;
  }
  return std::pow(2.0, sum1 / 4.0) / (pi * square(axl));
}

}  // namespace

void qfc(double *lb1, double *nc1, int *n1, int *r1, double *sigma, double *c1, int *lim1,
         double *acc, double *trace, int *ifault, double *res) {
  static const int rats[] = {1, 2, 4, 8};
  int nt, ntm;
  double acc1, almx, xlim, xnt, xntm;
  double utx, tausq, sd, intv, intv1, x, up, un, d1, d2;
  double qfval = -1.0;

  r = r1[0];
  lim = lim1[0];
  c = c1[0];
  n = n1;
  lb = lb1;
  nc = nc1;
  th = nullptr;
  for (int j = 0; j < 7; j++) trace[j] = 0.0;
  *ifault = 0;
  count = 0;
  spent = kFalse;
  intl = 0.0;
  ersm = 0.0;
  acc1 = acc[0];
  ndtsrt = kTrue;
  fail = kFalse;
  xlim = static_cast<double>(lim);

  // A negative number of terms is an invalid parameter, not an allocation
  // failure; no terms need no index array.
  if (r < 0) {
    *ifault = 3;
    goto endofproc;
  }
  if (r > 0) {
    th = static_cast<int *>(std::malloc(static_cast<size_t>(r) * sizeof(int)));
    if (!th) {
      *ifault = 5;
      goto endofproc;
    }
  }

  // Mean, spread, extreme weights; validity of the parameters.
  sigsq = square(sigma[0]);
  sd = sigsq;
  lmax = 0.0;
  lmin = 0.0;
  mean = 0.0;
  for (int j = 0; j < r; j++) {
    double nj = n[j], lj = lb[j], ncj = nc[j];
    if (n[j] < 0 || ncj < 0.0) {
      *ifault = 3;
      goto endofproc;
    }
    sd = sd + square(lj) * (2.0 * nj + 4.0 * ncj);
    mean = mean + lj * (nj + ncj);
    if (lmax < lj)
      lmax = lj;
    else if (lmin > lj)
      lmin = lj;
  }
  if (sd == 0.0) {
    qfval = (c > 0.0) ? 1.0 : 0.0;
    goto endofproc;
  }
  if (lmin == 0.0 && lmax == 0.0 && sigma[0] == 0.0) {
    *ifault = 3;
    goto endofproc;
  }
  sd = std::sqrt(sd);
  almx = (lmax < -lmin) ? -lmin : lmax;

  // Starting values for findu and ctff; truncation point without a
  // convergence factor.
  utx = 16.0 / sd;
  up = 4.5 / sd;
  un = -up;
  findu(&utx, 0.5 * acc1);
  if (spent) goto endofproc;
  // Does a convergence factor help?
  if (c != 0.0 && (almx > 0.07 * sd)) {
    double coef = cfe(c);
    if (spent) goto endofproc;
    tausq = 0.25 * acc1 / coef;
    if (fail) {
      fail = kFalse;
    } else {
      double bound = truncation(utx, tausq);
      if (spent) goto endofproc;
      if (bound < 0.2 * acc1) {
        sigsq = sigsq + tausq;
        findu(&utx, 0.25 * acc1);
        if (spent) goto endofproc;
        trace[5] = std::sqrt(tausq);
      }
    }
  }
  trace[4] = utx;
  acc1 = 0.5 * acc1;

  // Range of the distribution: quit when c lies outside it.
  for (;;) {
    double cut = ctff(acc1, &up);
    if (spent) goto endofproc;
    d1 = cut - c;
    if (d1 < 0.0) {
      qfval = 1.0;
      goto endofproc;
    }
    cut = ctff(acc1, &un);
    if (spent) goto endofproc;
    d2 = c - cut;
    if (d2 < 0.0) {
      qfval = 0.0;
      goto endofproc;
    }
    // Integration interval; terms needed by the main and auxiliary
    // integrations.
    intv = pi2 / ((d1 > d2) ? d1 : d2);
    xnt = utx / intv;
    xntm = 3.0 / std::sqrt(acc1);
    if (!(xnt > xntm * 1.5)) break;
    // Auxiliary integration with its own convergence factor.
    if (xntm > xlim) {
      *ifault = 1;
      goto endofproc;
    }
    ntm = static_cast<int>(std::floor(xntm + 0.5));
    intv1 = utx / ntm;
    x = pi2 / intv1;
    if (x <= std::fabs(c)) break;
    double cf1 = cfe(c - x);
    if (spent) goto endofproc;
    double cf2 = cfe(c + x);
    if (spent) goto endofproc;
    tausq = 0.33 * acc1 / (1.1 * (cf1 + cf2));
    if (fail) break;
    acc1 = 0.67 * acc1;
    integrate(ntm, intv1, tausq, kFalse);
    xlim = xlim - xntm;
    sigsq = sigsq + tausq;
    trace[2] = trace[2] + 1;
    trace[1] = trace[1] + ntm + 1;
    // Truncation point with the new convergence factor.
    findu(&utx, 0.25 * acc1);
    if (spent) goto endofproc;
    acc1 = 0.75 * acc1;
  }

  // Main integration. The comparison is written so that a quantity that is
  // not a number (from weights or a point that are not numbers) also stops
  // here rather than reach the conversion to int.
  trace[3] = intv;
  if (!(xnt <= xlim)) {
    *ifault = 1;
    goto endofproc;
  }
  nt = static_cast<int>(std::floor(xnt + 0.5));
  integrate(nt, intv, 0.0, kTrue);
  trace[2] = trace[2] + 1;
  trace[1] = trace[1] + nt + 1;
  qfval = 0.5 - intl;
  trace[0] = ersm;

  // Could round-off be significant? Allows for radix 8 or 16 machines.
  up = ersm;
  x = up + acc[0] / 10.0;
  for (int j = 0; j < 4; j++) {
    if (rats[j] * x == rats[j] * up) *ifault = 2;
  }

endofproc:
  if (spent) {
    *ifault = 4;
    qfval = -1.0;
  }
  std::free(th);
  th = nullptr;
  trace[6] = static_cast<double>(count);
  res[0] = qfval;
}
