#include "kernels/sadmvn.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

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
// Every thread has its own engine: all state below is thread_local.
thread_local double work[kWorkSize];
thread_local int infis, m, rulcls, totcls, maxcls, newcls;
thread_local double d__, e, oldval;

// Integrand state written by mvnnit_ and read by mvnfnc_: scaled limits,
// codes, expected values, packed scaled Cholesky factor and the first
// variable's probability limits.
thread_local double a[kMaxIntegrandVariables], b[kMaxIntegrandVariables], y[kMaxIntegrandVariables];
thread_local int infi[kMaxIntegrandVariables];
thread_local double cov[kMaxIntegrandVariables * (kMaxIntegrandVariables + 1) / 2];
thread_local double d1, e1;

// Work-saving switches (see sadmvn_options) and counters.
bool resume_stages = true, share_prefixes = true;
thread_local long long evaluations = 0, steps = 0;

// The integrand's last point and the state after each of its conditioning
// steps (limits, running product); y keeps its conditioned values. Valid
// for cached_n variables of the current set-up, none when 0.
thread_local int cached_n = 0;
thread_local double prefix_w[kMaxIntegrandVariables], prefix_d[kMaxIntegrandVariables],
    prefix_e[kMaxIntegrandVariables], prefix_prod[kMaxIntegrandVariables];

// What a spare thread needs to evaluate the integrand of another thread's
// integration: that thread's set-up of `rows` variables (read only while the
// integration runs), and the counts of the points it evaluated there, which
// the integrating thread adds to its own.
struct SharedSetup {
  int rows = 0;
  const double *a = nullptr, *b = nullptr, *cov = nullptr;
  const int *infi = nullptr;
  double d1 = 0.0, e1 = 0.0;
  std::atomic<long long> evaluations{0}, steps{0};
};
thread_local SharedSetup shared_setup;
thread_local long long lent_evaluations = 0, lent_steps = 0;

// adapt_share for mvnfnc_: on entering, this thread's integrand state
// becomes a copy of the set-up (its own prefix cache dropped); on leaving,
// the evaluations and steps made for the other thread go to its counts.
void take_setup(const void *context, bool enter) {
  const auto *s = static_cast<const SharedSetup *>(context);
  if (enter) {
    std::copy(s->a, s->a + s->rows, a);
    std::copy(s->b, s->b + s->rows, b);
    std::copy(s->infi, s->infi + s->rows, infi);
    std::copy(s->cov, s->cov + s->rows * (s->rows + 1) / 2, cov);
    d1 = s->d1;
    e1 = s->e1;
    cached_n = 0;
    lent_evaluations = evaluations;
    lent_steps = steps;
  } else {
    auto *t = const_cast<SharedSetup *>(s);
    t->evaluations.fetch_add(evaluations - lent_evaluations);
    t->steps.fetch_add(steps - lent_steps);
    evaluations = lent_evaluations;
    steps = lent_steps;
    cached_n = 0;  // the set-up is another thread's and ends with its integration
  }
}

bool same_bits(double x, double y) {
  uint64_t u, v;
  std::memcpy(&u, &x, sizeof u);
  std::memcpy(&v, &y, sizeof v);
  return u == v;
}

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

namespace {

// Resumable integrations. One call of the engine is decided by the state it
// starts from, its budget and the tolerance; the tolerance only through the
// error estimates it is compared with, the budget only through the counts
// compared with it (both recorded in the call's trace). A later integration
// of the same problem with another budget or tolerance therefore repeats an
// earlier one call by call for as long as every such comparison comes out
// the same: those calls are taken from the record, and the engine continues
// from the state kept after the last of them; when a call of the record
// stopped on its tolerance and the new, smaller tolerance goes on from that
// point, the engine continues inside that call.

struct CallRecord {
  int mincls_in;  // the call's minimum (0 first call, -1 continuation)
  AdaptTrace trace;
  int newcls;     // evaluations of the call
  double error, value;
  int inform;
  AdaptCheckpoint after;  // engine state after the call
};
using Trajectory = std::vector<std::shared_ptr<const CallRecord>>;

// The problem the records belong to (its inputs byte for byte) and the
// records of its last integrations.
thread_local std::vector<unsigned char> record_key;
thread_local std::vector<Trajectory> records;
const size_t kMaxRecords = 8;

void append_bytes(std::vector<unsigned char> *key, const void *p, size_t size) {
  const auto *c = static_cast<const unsigned char *>(p);
  key->insert(key->end(), c, c + size);
}

// Would the recorded call take the same steps with budget maxcls and
// tolerance tol (tol > 0 without a relative part)?
bool reproduces(const CallRecord &r, int mincls_in, int maxcls, double tol) {
  if (r.mincls_in != mincls_in || maxcls < rulcls || mincls_in > maxcls) return false;
  const AdaptTrace &t = r.trace;
  if (t.max_passed > maxcls || !(tol < t.min_missed)) return false;
  if (t.stop == 1) return t.stop_cls > maxcls;
  if (t.stop == 0) return t.stop_error <= tol;
  return false;
}

// Does the call with budget maxcls and tolerance tol pass through the
// recorded call's end and go on (its tolerance missed where the record's
// was met)?
bool passes_through(const CallRecord &r, int mincls_in, int maxcls, double tol) {
  if (r.mincls_in != mincls_in || maxcls < rulcls || mincls_in > maxcls) return false;
  const AdaptTrace &t = r.trace;
  return t.stop == 0 && !(t.stop_error <= tol) && tol < t.min_missed && t.max_passed <= maxcls;
}

// One integration's way through the records.
struct Session {
  bool active = false;     // records used and kept
  double tol = 0.0;
  std::vector<const Trajectory *> candidates;  // records repeated so far
  Trajectory path;         // this integration's calls
  int live = -1;           // call whose end state the engine holds (-1: none)
  bool computed = false;   // some call was evaluated, not taken from a record
};
thread_local Session session;

void start_session(int n, const double *lower, const double *upper, const int *infin,
                   const double *correl, const double *fabseps, const double *releps) {
  session = Session();
  if (!resume_stages || !(*fabseps > 0.0) || *releps != 0.0) return;
  std::vector<unsigned char> key;
  append_bytes(&key, &n, sizeof n);
  append_bytes(&key, releps, sizeof *releps);
  for (int i = 0; i < n; i++) {
    append_bytes(&key, &infin[i], sizeof infin[i]);
    if (infin[i] >= 0 && infin[i] != 0) append_bytes(&key, &lower[i], sizeof lower[i]);
    if (infin[i] >= 0 && infin[i] != 1) append_bytes(&key, &upper[i], sizeof upper[i]);
  }
  append_bytes(&key, correl, sizeof(double) * static_cast<size_t>(n * (n - 1) / 2));
  if (key != record_key) {
    records.clear();
    record_key = key;
  }
  session.active = true;
  session.tol = *fabseps;
  for (const auto &t : records) session.candidates.push_back(&t);
}

void finish_session() {
  if (session.active && session.computed) {
    if (records.size() >= kMaxRecords) records.erase(records.begin());
    records.push_back(std::move(session.path));
  }
  session = Session();
}

// Engine call number c of the integration (arguments as adapt_).
void engine_call(int c, int *ndim, int *mincls, int *maxcls, double *fabsreq, double *relreq,
                 int *lenwrk, double *error, double *value, int *inform__) {
  if (!session.active) {
    adapt_(ndim, mincls, maxcls, mvnfnc_, fabsreq, relreq, lenwrk, work, error, value, inform__);
    return;
  }
  const int mincls_in = *mincls;
  const double tol = session.tol;
  // A recorded call this one repeats.
  std::vector<const Trajectory *> same;
  for (const Trajectory *t : session.candidates)
    if (static_cast<size_t>(c) < t->size() && reproduces(*(*t)[c], mincls_in, *maxcls, tol))
      same.push_back(t);
  if (!same.empty()) {
    const auto &r = (*same.front())[c];
    *mincls = r->newcls;
    *error = r->error;
    *value = r->value;
    *inform__ = r->inform;
    session.path.push_back(r);
    session.candidates = same;
    return;
  }
  // Continue inside a recorded call, or after the previous one.
  AdaptTrace trace{-1, -1, INFINITY, 0.0, -1};
  const CallRecord *through = nullptr;
  for (const Trajectory *t : session.candidates)
    if (static_cast<size_t>(c) < t->size() && passes_through(*(*t)[c], mincls_in, *maxcls, tol)) {
      through = (*t)[c].get();
      break;
    }
  adapt_trace(&trace);
  if (through) {
    adapt_restore(*ndim, *lenwrk, work, through->after);
    trace.max_passed = through->trace.max_passed;
    trace.min_missed = through->trace.min_missed;
    adapt_resume_(ndim, mincls, maxcls, mvnfnc_, fabsreq, relreq, lenwrk, work, error, value,
                  inform__, through->newcls);
  } else {
    if (c > 0 && session.live != c - 1)
      adapt_restore(*ndim, *lenwrk, work, (*session.candidates.front())[c - 1]->after);
    adapt_(ndim, mincls, maxcls, mvnfnc_, fabsreq, relreq, lenwrk, work, error, value, inform__);
  }
  adapt_trace(nullptr);
  session.candidates.clear();
  session.computed = true;
  session.live = c;
  if (*inform__ == 2) return;  // refused: nothing evaluated, nothing to record
  auto r = std::make_shared<CallRecord>();
  r->mincls_in = mincls_in;
  r->trace = trace;
  r->newcls = *mincls;
  r->error = *error;
  r->value = *value;
  r->inform = *inform__;
  adapt_save(*ndim, *lenwrk, work, &r->after);
  session.path.push_back(std::move(r));
}

// The integration loop of sadmvn_ for dimension m >= 1 of the cube.
void integrate(int *maxpts, double *fabseps, double *releps, double *error, double *value,
               int *inform__) {
  int lenwrk = kWorkSize;
  // Probe: a budget of 0 makes the engine report its rule size.
  rulcls = 1;
  int zero = 0;
  adapt_(&m, &rulcls, &zero, mvnfnc_, fabseps, releps, &lenwrk, work, error, value, inform__);
  maxcls = std::min(10 * rulcls, *maxpts);
  totcls = 0;
  int call = 0;
  engine_call(call++, &m, &totcls, &maxcls, fabseps, releps, &lenwrk, error, value, inform__);
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
    engine_call(call++, &m, &newcls, &maxcls, fabseps, releps, &lenwrk, error, value, inform__);
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

}  // namespace

void sadmvn_options(bool resume, bool share) {
  resume_stages = resume;
  share_prefixes = share;
  adapt_set_ordered(share);
  records.clear();
  record_key.clear();
  cached_n = 0;
}

void sadmvn_forget() {
  records.clear();
  record_key.clear();
}

void sadmvn_counts(long long *evaluated, long long *conditioned) {
  *evaluated = evaluations;
  *conditioned = steps;
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
  start_session(*n, lower, upper, infin, correl, fabseps, releps);
  // The integrand reads variables 1 .. m + 1 of the set-up.
  SharedSetup &s = shared_setup;
  s.rows = m + 1;
  s.a = a;
  s.b = b;
  s.cov = cov;
  s.infi = infi;
  s.d1 = d1;
  s.e1 = e1;
  s.evaluations = 0;
  s.steps = 0;
  adapt_share_with(take_setup, &s);
  integrate(maxpts, fabseps, releps, error, value, inform__);
  adapt_share_with(nullptr, nullptr);
  evaluations += s.evaluations.load();
  steps += s.steps.load();
  finish_session();
}

double mvnfnc_(int *n, double *w) {
  ++evaluations;
  double di = d1, ei = e1;
  double prod = e1 - d1;
  int start = 1;  // first conditioning step to compute
  if (share_prefixes && cached_n == *n) {
    // Steps whose coordinates match the previous point's bit for bit repeat
    // its arithmetic: continue from the state after the last of them.
    while (start <= *n && same_bits(w[start - 1], prefix_w[start - 1])) start++;
    if (start > 1) {
      di = prefix_d[start - 2];
      ei = prefix_e[start - 2];
      prod = prefix_prod[start - 2];
    }
  }
  int ij = 1 + (start - 1) * (start + 2) / 2;  // the diagonal of row start
  for (int i = start; i <= *n; i++) {
    ++steps;
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
    if (share_prefixes) {
      prefix_w[i - 1] = w[i - 1];
      prefix_d[i - 1] = di;
      prefix_e[i - 1] = ei;
      prefix_prod[i - 1] = prod;
    }
  }
  if (share_prefixes) cached_n = *n;
  return prod;
}

double mvnnit_(int *n, double *correl, double *lower, double *upper, int *infin, int *infis_,
               double *d, double *e_) {
  cached_n = 0;  // y, the limits and the factor change
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
