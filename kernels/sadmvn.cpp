#include "kernels/sadmvn.h"

#include <algorithm>
#include <cmath>

#include "kernels/adapt.h"
#include "kernels/normal.h"

// Multivariate normal rectangle probabilities by Genz's method (SADMVN,
// 1992): the variables are reordered by smallest expected probability and
// the correlation matrix factored (Cholesky), turning the probability into
// an integral over the unit cube of one dimension less than the number of
// finite variables; the subregion-adaptive engine integrates it in a loop
// of continuation calls. Positions in the comments are 1-based.

namespace {

const int kMaxDriverVariables = 20;
const int kWorkSize = 8000;
const int kMaxIntegrandVariables = 100;
const double kRootTwoPi = 2.5066282746310007;
const double kExactError = 2.000000033724767e-16;  // 2e-16 held in single precision

// Driver state: the engine's storage and the counts of one integration.
double work[kWorkSize];
int infis, m, rulcls, totcls, maxcls, newcls;
double d__, e, oldval;

// Integrand state written by mvnnit_ and read by mvnfnc_: scaled limits,
// codes, expected values, packed scaled Cholesky factor and the first
// variable's probability limits.
double a[kMaxIntegrandVariables], b[kMaxIntegrandVariables], y[kMaxIntegrandVariables];
int infi[kMaxIntegrandVariables];
double cov[kMaxIntegrandVariables * (kMaxIntegrandVariables + 1) / 2];
double d1, e1;

}  // namespace

double mymvn(int maxpts, double abseps, int n, double *lower, double *upper, int *infin,
             double *mu, double **Sigma, double *error, int *inform) {
  // The fixed arrays hold 50 variables; the driver accepts at most 20, so n
  // is checked here before anything is stored.
  if (n < 1 || n > kMaxDriverVariables) {
    *error = 1.0;
    *inform = 2;
    return 0.0;
  }
  int inf[50];
  double low[50], upp[50], correl[1300];
  double releps = 0.0;
  int nc = 0;
  for (int j = 1; j <= n; j++) {
    inf[j - 1] = infin[j];
    const double s = std::sqrt(Sigma[j][j]);
    if (infin[j] > 0) low[j - 1] = (lower[j] - mu[j]) / s;
    if (infin[j] == 0 || infin[j] == 2) upp[j - 1] = (upper[j] - mu[j]) / s;
    for (int k = 1; k <= j - 1; k++)
      correl[nc++] = Sigma[j][k] / std::sqrt(Sigma[j][j] * Sigma[k][k]);
  }
  double value;
  sadmvn_(&n, low, upp, inf, correl, &maxpts, &abseps, &releps, error, &value, inform);
  return value;
}

void sadmvn_(int *n, double *lower, double *upper, int *infin, double *correl, int *maxpts,
             double *fabseps, double *releps, double *error, double *value, int *inform__) {
  if (*n < 1 || *n > kMaxDriverVariables) {
    *value = 0.0;
    *error = 1.0;
    *inform__ = 2;
    return;
  }
  *inform__ = static_cast<int>(mvnnit_(n, correl, lower, upper, infin, &infis, &d__, &e));
  m = *n - infis;
  if (m == 0) {
    *value = 1.0;
    *error = 0.0;
    return;
  }
  if (m == 1) {
    *value = e - d__;
    *error = kExactError;
    return;
  }
  m -= 1;  // dimension of the cube integral
  int lenwrk = kWorkSize;
  // Probe: a budget of 0 makes the engine report its rule size.
  rulcls = 1;
  int zero = 0;
  adapt_(&m, &rulcls, &zero, mvnfnc_, fabseps, releps, &lenwrk, work, error, value, inform__);
  maxcls = std::min(10 * rulcls, *maxpts);
  totcls = 0;
  adapt_(&m, &totcls, &maxcls, mvnfnc_, fabseps, releps, &lenwrk, work, error, value, inform__);
  if (*inform__ == 2) {
    // Budget below one rule application: nothing was evaluated.
    *value = 0.0;
    *error = 1.0;
    return;
  }
  if (*error <= std::max(*fabseps, *releps * std::fabs(*value))) return;
  for (;;) {
    oldval = *value;
    const long long grown = 3LL * maxcls / 2;
    maxcls = static_cast<int>(
        std::max<long long>(2LL * rulcls, std::min<long long>(grown, *maxpts - totcls)));
    newcls = -1;
    adapt_(&m, &newcls, &maxcls, mvnfnc_, fabseps, releps, &lenwrk, work, error, value,
           inform__);
    totcls += newcls;
    const double square = *error * *error;
    *error = std::fabs(*value - oldval) + std::sqrt(rulcls * square / static_cast<double>(totcls));
    if (*error <= std::max(*fabseps, *releps * std::fabs(*value))) {
      *inform__ = 0;
      return;
    }
    if (static_cast<long long>(*maxpts) - totcls <= 2LL * rulcls) return;
  }
}

double mvnfnc_(int *n, double *w) {
  double di = d1, ei = e1;
  double prod = e1 - d1;
  int ij = 1;
  for (int i = 1; i <= *n; i++) {
    double p = di + w[i - 1] * (ei - di);
    y[i - 1] = phinv_(&p);
    double sum = 0.0;
    for (int j = 1; j <= i; j++) sum += cov[ij + j - 1] * y[j - 1];
    ij += i + 1;  // the diagonal of row i + 1
    double ai = a[i] - sum, bi = b[i] - sum;
    if (cov[ij - 1] > 0.0) {
      limits_(&ai, &bi, &infi[i], &di, &ei);
    } else {
      // Zero conditional variance: the variable is fixed by the previous
      // ones, so its limits are indicators; an absent limit always holds.
      di = infi[i] == 0 ? 0.0 : (ai >= 0.0 ? 1.0 : 0.0);
      ei = infi[i] == 1 ? 1.0 : (bi >= 0.0 ? 1.0 : 0.0);
    }
    prod *= ei - di;
  }
  return prod;
}

double mvnnit_(int *n, double *correl, double *lower, double *upper, int *infin, int *infis_,
               double *d, double *e_) {
  ncvsrt_(n, lower, upper, correl, infin, y, infis_, a, b, infi, cov, d, e_);
  d1 = *d;
  e1 = *e_;
  if (*n - *infis_ == 2) {
    // Two finite variables: Y2 = c Z1 + Z2 in scaled form, so the pair
    // (Z1, Y2 / sqrt(1 + c^2)) is standard bivariate normal with
    // correlation c / sqrt(1 + c^2).
    double c = cov[1];
    double r;
    double scale;
    if (cov[2] > 0.0) {
      scale = std::sqrt(1.0 + c * c);
      r = c / scale;
    } else {
      // Zero conditional variance (correlation +-1): the second variable is
      // c Z1 exactly (row 2 kept unscaled), the limit of the above.
      scale = std::fabs(c);
      r = c > 0.0 ? 1.0 : -1.0;
    }
    a[1] /= scale;
    b[1] /= scale;
    *e_ = bvn_(a, b, infi, &r);
    *d = 0.0;
    *infis_ += 1;
  }
  return 0.0;
}

void ncvsrt_(int *n, double *lower, double *upper, double *correl, int *infin, double *y_,
             int *infis_, double *a_, double *b_, int *infi_, double *cov_, double *d, double *e_) {
  const int nn = *n;
  // 1-based views.
  auto A = [&](int i) -> double & { return a_[i - 1]; };
  auto B = [&](int i) -> double & { return b_[i - 1]; };
  auto Y = [&](int i) -> double & { return y_[i - 1]; };
  auto INF = [&](int i) -> int & { return infi_[i - 1]; };
  auto COV = [&](int k) -> double & { return cov_[k - 1]; };
  int ij = 0, ii = 0;
  *infis_ = 0;
  for (int i = 1; i <= nn; i++) {
    INF(i) = infin[i - 1];
    if (INF(i) < 0) {
      ++*infis_;
    } else {
      A(i) = 0.0;
      B(i) = 0.0;
      if (INF(i) != 0) A(i) = lower[i - 1];
      if (INF(i) != 1) B(i) = upper[i - 1];
    }
    for (int j = 1; j <= i - 1; j++) {
      ij++;
      ii++;
      COV(ij) = correl[ii - 1];
    }
    ij++;
    COV(ij) = 1.0;
  }
  if (*infis_ >= nn) return;
  // Variables without limits go last.
  for (int i = nn; i >= nn - *infis_ + 1; i--) {
    if (INF(i) >= 0) {
      for (int j = 1; j <= i - 1; j++) {
        if (INF(j) < 0) {
          rcswap_(&j, &i, a_, b_, infi_, n, cov_);
          break;
        }
      }
    }
  }
  const int nf = nn - *infis_;
  ii = 0;
  for (int i = 1; i <= nf; i++) {
    // Of the remaining variables, the one of smallest expected probability
    // given the previous ones goes to position i (the later one on ties).
    double emin = 1.0, dmin = 0.0, cvdiag = 0.0;
    double amin = 0.0, bmin = 0.0;
    int jmin = i;
    ij = ii;
    for (int j = i; j <= nf; j++) {
      double sum = 0.0, sumsq = 0.0;
      for (int k = 1; k <= i - 1; k++) {
        sum += COV(ij + k) * Y(k);
        sumsq += COV(ij + k) * COV(ij + k);
      }
      ij += j;
      sumsq = std::sqrt(std::max(COV(ij) - sumsq, 0.0));
      if (sumsq > 0.0) {
        double aj = 0.0, bj = 0.0;
        if (INF(j) != 0) aj = (A(j) - sum) / sumsq;
        if (INF(j) != 1) bj = (B(j) - sum) / sumsq;
        limits_(&aj, &bj, &INF(j), d, e_);
        if (emin - dmin >= *e_ - *d) {
          jmin = j;
          if (INF(j) != 0) amin = aj;
          if (INF(j) != 1) bmin = bj;
          dmin = *d;
          emin = *e_;
          cvdiag = sumsq;
        }
      }
    }
    if (jmin != i) rcswap_(&i, &jmin, a_, b_, infi_, n, cov_);
    // Column i of the Cholesky factor.
    ij = ii + i;
    COV(ij) = cvdiag;
    for (int j = i + 1; j <= nf; j++) {
      if (cvdiag > 0.0) {
        double sum = COV(ij + i);
        for (int k = 1; k <= i - 1; k++) sum -= COV(ii + k) * COV(ij + k);
        COV(ij + i) = sum / cvdiag;
      } else {
        COV(ij + i) = 0.0;
      }
      ij += j;
    }
    // Expected value of variable i over its interval; scale row i and limits.
    if (cvdiag > 0.0) {
      if (emin > dmin + 1e-8) {
        double yl = 0.0, yu = 0.0;
        if (INF(i) != 0) yl = -std::exp(-amin * amin / 2.0) / kRootTwoPi;
        if (INF(i) != 1) yu = -std::exp(-bmin * bmin / 2.0) / kRootTwoPi;
        Y(i) = (yu - yl) / (emin - dmin);
      } else {
        if (INF(i) == 0) Y(i) = bmin;
        if (INF(i) == 1) Y(i) = amin;
        if (INF(i) == 2) Y(i) = (amin + bmin) / 2.0;
      }
      for (int j = 1; j <= i; j++) {
        ii++;
        COV(ii) /= cvdiag;
      }
      if (INF(i) != 0) A(i) /= cvdiag;
      if (INF(i) != 1) B(i) /= cvdiag;
    } else {
      Y(i) = 0.0;
      ii += i;
    }
  }
  limits_(&A(1), &B(1), &INF(1), d, e_);
}

void rcswap_(int *p, int *q, double *a_, double *b_, int *infin, int *n, double *c__) {
  const int pp = *p, qq = *q;
  auto C = [&](int k) -> double & { return c__[k - 1]; };
  std::swap(a_[pp - 1], a_[qq - 1]);
  std::swap(b_[pp - 1], b_[qq - 1]);
  std::swap(infin[pp - 1], infin[qq - 1]);
  int jj = pp * (pp - 1) / 2;
  const int ii = qq * (qq - 1) / 2;
  std::swap(C(jj + pp), C(ii + qq));
  for (int j = 1; j <= pp - 1; j++) std::swap(C(jj + j), C(ii + j));
  jj += pp;
  for (int i = pp + 1; i <= qq - 1; i++) {
    std::swap(C(jj + pp), C(ii + i));
    jj += i;
  }
  jj += qq;
  for (int i = qq + 1; i <= *n; i++) {
    std::swap(C(jj + pp), C(jj + qq));
    jj += i;
  }
}

void limits_(double *a_, double *b_, int *infin, double *lower, double *upper) {
  *lower = 0.0;
  *upper = 1.0;
  if (*infin >= 0) {
    if (*infin != 0) *lower = phi_(a_);
    if (*infin != 1) *upper = phi_(b_);
  }
}
