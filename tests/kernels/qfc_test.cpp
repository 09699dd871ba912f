// Davies' algorithm (AS 155) for P(Q < c), Q = sum_j lb_j chi2(n_j, nc_j) +
// sigma X, checked against values computed another way: the chi-square and
// normal distribution functions of GSL, the Poisson mixture for a non-central
// chi-square, closed forms for two weights with one degree of freedom each
// (an integral over the angle of (X1, X2)) and for distinct weights with two
// degrees of freedom each (the hypoexponential law), and Imhof's inversion
// formula evaluated by adaptive quadrature. Also the fault codes and the
// diagnostics in trace.
#include "kernels/qfc.h"
#include "tests/support/tolerances.h"

#include <gsl/gsl_cdf.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_integration.h>
#include <gsl/gsl_sf_gamma.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

// The routine's contract is an absolute error of at most acc; the tests ask
// for the accuracy the SKAT caller asks for and check against it.
constexpr double kAcc = 1e-8;
constexpr int kLim = 1000000000;

struct QfcOut {
  double res;
  int ifault;
  double trace[7];
};

struct QfcIn {
  std::vector<double> lb;
  std::vector<int> n;
  std::vector<double> nc;
  double sigma;
};

QfcIn central(const std::vector<double> &lb, int df = 1) {
  return QfcIn{lb, std::vector<int>(lb.size(), df), std::vector<double>(lb.size(), 0.0), 0.0};
}

QfcOut run_qfc(QfcIn in, double c, double acc = kAcc, int lim = kLim) {
  QfcOut out{};
  int r = static_cast<int>(in.lb.size());
  for (double &t : out.trace) t = -7.0;  // every entry must be overwritten
  out.ifault = 99;
  out.res = -7.0;
  qfc(in.lb.data(), in.nc.data(), in.n.data(), &r, &in.sigma, &c, &lim, &acc, out.trace,
      &out.ifault, &out.res);
  return out;
}

// Imhof (1961): P(Q < c) = 1/2 - (1/pi) int_0^inf sin(theta(t)) / (t rho(t)) dt
// with the phase theta and modulus rho of exp(-itc) times the characteristic
// function of Q.
struct ImhofData {
  const QfcIn *in;
  double c;
};

double imhof_integrand(double t, void *p) {
  const ImhofData *d = static_cast<const ImhofData *>(p);
  const QfcIn &in = *d->in;
  if (t == 0.0) {
    // Limit t -> 0: the derivative of theta at 0, which is the mean minus c.
    double m = -d->c;
    for (size_t j = 0; j < in.lb.size(); j++) m += in.lb[j] * (in.n[j] + in.nc[j]);
    return m;
  }
  double theta = -t * d->c;
  double logrho = 0.5 * in.sigma * in.sigma * t * t;
  for (size_t j = 0; j < in.lb.size(); j++) {
    double x = 2.0 * in.lb[j] * t;
    theta += 0.5 * in.n[j] * std::atan(x) + in.lb[j] * in.nc[j] * t / (1.0 + x * x);
    logrho += 0.25 * in.n[j] * std::log1p(x * x) +
              2.0 * in.lb[j] * in.lb[j] * in.nc[j] * t * t / (1.0 + x * x);
  }
  return std::sin(theta) / (t * std::exp(logrho));
}

// Returns the reference probability; *err receives the quadrature's own
// error estimate.
double imhof_cdf(const QfcIn &in, double c, double *err) {
  gsl_set_error_handler_off();
  ImhofData d{&in, c};
  gsl_function f;
  f.function = imhof_integrand;
  f.params = &d;
  gsl_integration_workspace *w = gsl_integration_workspace_alloc(20000);
  double value = 0.0, abserr = 0.0;
  int status = gsl_integration_qagiu(&f, 0.0, 1e-13, 0.0, 20000, w, &value, &abserr);
  gsl_integration_workspace_free(w);
  // Rounding that stops the requested 1e-13 is acceptable; the returned
  // error estimate is still checked by the caller.
  *err = (status == 0 || status == GSL_EROUND) ? abserr / M_PI : 1.0;
  return 0.5 - value / M_PI;
}

// P(a X1^2 + b X2^2 < c), a, b > 0: with X1 = R cos t, X2 = R sin t and R^2
// exponential with mean 2, the probability is the average over t of
// 1 - exp(-c / (2 (a cos^2 t + b sin^2 t))); the integrand is smooth and
// periodic, so the trapezoidal rule converges geometrically.
double two_weight_cdf(double a, double b, double c) {
  if (c <= 0.0) return 0.0;
  const int m = 200000;
  double s = 0.0;
  for (int k = 0; k < m; k++) {
    double t = 2.0 * M_PI * k / m;
    double g = a * std::cos(t) * std::cos(t) + b * std::sin(t) * std::sin(t);
    s += -std::expm1(-c / (2.0 * g));
  }
  return s / m;
}

// Sum of lb_j chi2(2) with distinct lb_j > 0: each term is exponential with
// mean 2 lb_j, and P(Q > c) = sum_j prod_{k != j} lb_j / (lb_j - lb_k)
// exp(-c / (2 lb_j)).
double hypoexponential_cdf(const std::vector<double> &lb, double c) {
  double upper = 0.0;
  for (size_t j = 0; j < lb.size(); j++) {
    double w = 1.0;
    for (size_t k = 0; k < lb.size(); k++)
      if (k != j) w *= lb[j] / (lb[j] - lb[k]);
    upper += w * std::exp(-c / (2.0 * lb[j]));
  }
  return 1.0 - upper;
}

// P(chi2(k, delta) < x) as the Poisson(delta / 2) mixture of central
// chi-square distribution functions with k + 2i degrees of freedom.
double noncentral_chisq_cdf(double x, int k, double delta) {
  double s = 0.0;
  for (int i = 0; i < 400; i++) {
    double w = std::exp(-0.5 * delta + i * std::log(0.5 * delta) - gsl_sf_lngamma(i + 1.0));
    s += w * gsl_cdf_chisq_P(x, k + 2.0 * i);
  }
  return s;
}

// Decreasing positive weights like the eigenvalues of a SKAT kernel, passed
// in ascending order as the SKAT caller passes them.
std::vector<double> skat_like_weights(int m) {
  std::vector<double> lb(m);
  for (int j = 0; j < m; j++) lb[j] = 1.0 / (m - j);
  return lb;
}

double mean_of(const QfcIn &in) {
  double m = 0.0;
  for (size_t j = 0; j < in.lb.size(); j++) m += in.lb[j] * (in.n[j] + in.nc[j]);
  return m;
}

double sd_of(const QfcIn &in) {
  double v = in.sigma * in.sigma;
  for (size_t j = 0; j < in.lb.size(); j++)
    v += in.lb[j] * in.lb[j] * (2.0 * in.n[j] + 4.0 * in.nc[j]);
  return std::sqrt(v);
}

void expect_success(const QfcOut &o) {
  EXPECT_EQ(o.ifault, 0);
  EXPECT_GE(o.trace[2], 1.0);            // at least the main integration
  EXPECT_GE(o.trace[1], o.trace[2]);     // every integration has a term
  EXPECT_GT(o.trace[3], 0.0);            // final integration interval
  EXPECT_GT(o.trace[4], 0.0);            // initial truncation point
  EXPECT_GE(o.trace[5], 0.0);            // convergence factor (0 if none)
  EXPECT_GT(o.trace[6], 0.0);            // bound evaluations
  EXPECT_GT(o.trace[0], 0.0);            // absolute value sum
}

// --- chi-square distribution -------------------------------------------

struct ChisqCase {
  int k;        // degrees of freedom
  bool terms;   // true: k equal weights of one degree each; false: one term of k
  double lb;    // the common weight (negative: -chi2)
  double p;     // probability level at which c is placed
};

std::ostream &operator<<(std::ostream &os, const ChisqCase &s) {
  return os << "k" << s.k << (s.terms ? "_terms" : "_one") << "_lb" << s.lb << "_p" << s.p;
}

class QfcChisq : public ::testing::TestWithParam<ChisqCase> {};

TEST_P(QfcChisq, AgreesWithTheChiSquareDistributionFunction) {
  const ChisqCase s = GetParam();
  QfcIn in = s.terms ? central(std::vector<double>(s.k, s.lb))
                     : QfcIn{{s.lb}, {s.k}, {0.0}, 0.0};
  // c such that P(Q < c) = p: Q = lb chi2_k.
  double q = s.lb > 0 ? gsl_cdf_chisq_Pinv(s.p, s.k) : gsl_cdf_chisq_Qinv(s.p, s.k);
  double c = s.lb * q;
  double ref = s.lb > 0 ? gsl_cdf_chisq_P(c / s.lb, s.k) : gsl_cdf_chisq_Q(c / s.lb, s.k);
  QfcOut o = run_qfc(in, c);
  EXPECT_EQ(o.ifault, 0);
  EXPECT_NEAR(o.res, ref, kAcc);
}

std::vector<ChisqCase> chisq_cases() {
  std::vector<ChisqCase> v;
  for (int k : {1, 2, 3, 5, 10, 30, 100})
    for (double p : {1e-6, 1e-3, 0.05, 0.5, 0.95, 0.999}) v.push_back({k, true, 1.0, p});
  for (int k : {1, 4, 7, 20})
    for (double p : {0.01, 0.3, 0.99}) {
      v.push_back({k, false, 2.5, p});
      v.push_back({k, false, -0.4, p});
    }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Cases, QfcChisq, ::testing::ValuesIn(chisq_cases()));

TEST(Qfc, NinetyFifthPercentOfOneDegreeOfFreedom) {
  QfcOut o = run_qfc(central({1.0}), 3.841458820694124);
  EXPECT_EQ(o.ifault, 0);
  EXPECT_NEAR(o.res, 0.95, kAcc);
  expect_success(o);
}

// --- weighted sums -----------------------------------------------------

struct TwoWeightCase {
  double a, b, c;
};
void PrintTo(const TwoWeightCase &c, std::ostream *os) {
  *os << "weights " << c.a << "," << c.b << " c=" << c.c;
}

class QfcTwoWeights : public ::testing::TestWithParam<TwoWeightCase> {};

TEST_P(QfcTwoWeights, AgreesWithTheAngularIntegral) {
  const TwoWeightCase s = GetParam();
  QfcOut o = run_qfc(central({s.a, s.b}), s.c);
  EXPECT_EQ(o.ifault, 0);
  EXPECT_NEAR(o.res, two_weight_cdf(s.a, s.b, s.c), kAcc);
}

INSTANTIATE_TEST_SUITE_P(Cases, QfcTwoWeights,
                         ::testing::Values(TwoWeightCase{1.0, 0.5, 0.3}, TwoWeightCase{1.0, 0.5, 2.0},
                                           TwoWeightCase{1.0, 0.5, 8.0}, TwoWeightCase{3.0, 0.1, 1.0},
                                           TwoWeightCase{3.0, 0.1, 25.0}, TwoWeightCase{0.2, 5.0, 0.05},
                                           TwoWeightCase{0.2, 5.0, 60.0}));

TEST(Qfc, DistinctWeightsWithTwoDegreesAgreeWithTheHypoexponentialLaw) {
  const std::vector<double> lb = {0.5, 1.0, 2.0, 3.5};
  for (double c : {0.5, 3.0, 10.0, 25.0, 60.0}) {
    QfcOut o = run_qfc(central(lb, 2), c);
    EXPECT_EQ(o.ifault, 0) << c;
    EXPECT_NEAR(o.res, hypoexponential_cdf(lb, c), kAcc) << c;
  }
}

TEST(Qfc, NonCentralTermAgreesWithThePoissonMixture) {
  struct Case {
    int k;
    double delta, lb, x;  // P(lb chi2(k, delta) < lb x)
  };
  for (const Case &s : {Case{1, 0.5, 1.0, 2.0}, Case{3, 4.0, 2.0, 5.0}, Case{3, 4.0, 2.0, 15.0},
                        Case{2, 10.0, 0.7, 6.0}, Case{5, 1.5, 1.0, 20.0}}) {
    QfcIn in{{s.lb}, {s.k}, {s.delta}, 0.0};
    QfcOut o = run_qfc(in, s.lb * s.x);
    EXPECT_EQ(o.ifault, 0) << s.k << " " << s.delta << " " << s.x;
    EXPECT_NEAR(o.res, noncentral_chisq_cdf(s.x, s.k, s.delta), kAcc)
        << s.k << " " << s.delta << " " << s.x;
  }
}

TEST(Qfc, NormalTermAloneGivesTheNormalDistributionFunction) {
  for (double sigma : {0.5, 2.0})
    for (double c : {-1.5, 0.0, 0.3, 1.0, 4.0}) {
      QfcOut o = run_qfc(QfcIn{{}, {}, {}, sigma}, c);
      EXPECT_EQ(o.ifault, 0);
      EXPECT_NEAR(o.res, gsl_cdf_ugaussian_P(c / sigma), kAcc) << sigma << " " << c;
    }
}

struct ImhofCase {
  std::string name;
  QfcIn in;
  double z;  // c = mean + z sd
};

std::ostream &operator<<(std::ostream &os, const ImhofCase &s) {
  return os << s.name << "_z" << s.z;
}

class QfcImhof : public ::testing::TestWithParam<ImhofCase> {};

TEST_P(QfcImhof, AgreesWithImhofsFormula) {
  const ImhofCase s = GetParam();
  double c = mean_of(s.in) + s.z * sd_of(s.in);
  double err = 0.0;
  double ref = imhof_cdf(s.in, c, &err);
  ASSERT_LT(err, 1e-11) << "reference quadrature did not converge";
  QfcOut o = run_qfc(s.in, c);
  EXPECT_EQ(o.ifault, 0);
  EXPECT_NEAR(o.res, ref, kAcc);
}

std::vector<ImhofCase> imhof_cases() {
  std::vector<ImhofCase> v;
  QfcIn skat50 = central(skat_like_weights(50));
  QfcIn skat500 = central(skat_like_weights(500));
  QfcIn mixed = central({-2.0, -0.5, 0.3, 1.0, 1.5, 4.0});
  QfcIn mixed_nc{{-1.0, 0.6, 2.0, 0.2}, {1, 3, 2, 5}, {0.5, 0.0, 1.2, 2.0}, 0.0};
  QfcIn with_normal{{1.0, 0.5, 0.25}, {1, 1, 2}, {0.0, 0.0, 0.0}, 0.8};
  for (double z : {-1.2, 0.0, 1.0, 3.0, 6.0}) {
    v.push_back({"skat50", skat50, z});
    v.push_back({"skat500", skat500, z});
  }
  for (double z : {-2.5, -0.7, 0.0, 0.4, 2.0}) {
    v.push_back({"mixed", mixed, z});
    v.push_back({"mixed_noncentral", mixed_nc, z});
    v.push_back({"with_normal", with_normal, z});
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Cases, QfcImhof, ::testing::ValuesIn(imhof_cases()),
                         [](const ::testing::TestParamInfo<ImhofCase> &info) {
                           std::string s = info.param.name + "_" + std::to_string(info.index);
                           return s;
                         });

TEST(Qfc, TraceReportsAuxiliaryIntegrationsAndTheConvergenceFactor) {
  // One degree of freedom: the integrand decays slowly, so the main
  // integration is preceded by auxiliary ones with convergence factors.
  QfcOut one = run_qfc(central({1.0}), 1.0);
  expect_success(one);
  EXPECT_GE(one.trace[2], 2.0);
  EXPECT_GT(one.trace[5], 0.0);
  EXPECT_NEAR(one.res, gsl_cdf_chisq_P(1.0, 1), kAcc);
  // Fifty weights of comparable size: one integration, no factor.
  QfcOut many = run_qfc(central(skat_like_weights(50)), 20.0);
  expect_success(many);
  EXPECT_EQ(many.trace[2], 1.0);
  EXPECT_EQ(many.trace[5], 0.0);
}

TEST(Qfc, OrderOfTheTermsDoesNotMatter) {
  std::vector<double> lb = skat_like_weights(50);
  std::vector<double> rev(lb.rbegin(), lb.rend());
  for (double c : {20.0, 40.0}) {
    QfcOut a = run_qfc(central(lb), c);
    QfcOut b = run_qfc(central(rev), c);
    EXPECT_EQ(a.ifault, 0);
    EXPECT_EQ(b.ifault, 0);
    EXPECT_NEAR(a.res, b.res, tol::kClose);
  }
}

// --- edge cases --------------------------------------------------------

TEST(Qfc, NoTermsAndNoNormalTermIsAStepAtZero) {
  for (double c : {-1.0, 0.0, 1e-300, 2.0}) {
    QfcOut o = run_qfc(QfcIn{{}, {}, {}, 0.0}, c);
    EXPECT_EQ(o.ifault, 0);
    EXPECT_EQ(o.res, c > 0.0 ? 1.0 : 0.0) << c;
    for (int j = 0; j < 7; j++) EXPECT_EQ(o.trace[j], 0.0) << j;
  }
}

TEST(Qfc, AllWeightsZeroIsAStepAtZero) {
  for (double c : {-0.5, 0.0, 0.5}) {
    QfcIn in{{0.0, 0.0, 0.0}, {1, 4, 2}, {0.0, 1.0, 0.0}, 0.0};
    QfcOut o = run_qfc(in, c);
    EXPECT_EQ(o.ifault, 0);
    EXPECT_EQ(o.res, c > 0.0 ? 1.0 : 0.0) << c;
    EXPECT_EQ(o.trace[6], 0.0);
  }
}

TEST(Qfc, PointFarAboveOrBelowTheRangeNeedsNoIntegration) {
  QfcIn in = central(skat_like_weights(50));
  QfcOut hi = run_qfc(in, 1e4);
  EXPECT_EQ(hi.ifault, 0);
  EXPECT_EQ(hi.res, 1.0);
  QfcOut lo = run_qfc(central({-1.0, 2.0}), -1e4);
  EXPECT_EQ(lo.ifault, 0);
  EXPECT_EQ(lo.res, 0.0);
  for (const QfcOut &o : {hi, lo}) {
    EXPECT_EQ(o.trace[1], 0.0);  // no integration terms
    EXPECT_EQ(o.trace[2], 0.0);  // no integrations
    EXPECT_EQ(o.trace[3], 0.0);
    EXPECT_GT(o.trace[4], 0.0);
    EXPECT_GT(o.trace[6], 0.0);
  }
  // Positive weights only: below 0 the probability is 0.
  QfcOut neg = run_qfc(in, -1.0);
  EXPECT_EQ(neg.ifault, 0);
  EXPECT_EQ(neg.res, 0.0);
}

TEST(Qfc, SuccessiveCallsAreIndependent) {
  QfcIn a = central(skat_like_weights(50));
  QfcIn b{{-1.0, 0.6, 2.0, 0.2}, {1, 3, 2, 5}, {0.5, 0.0, 1.2, 2.0}, 0.3};
  QfcOut a1 = run_qfc(a, 30.0);
  QfcOut b1 = run_qfc(b, 2.0);
  QfcOut spent = run_qfc(b, 2.0, kAcc, 5);
  EXPECT_EQ(spent.ifault, 4);
  QfcOut a2 = run_qfc(a, 30.0);
  QfcOut b2 = run_qfc(b, 2.0);
  EXPECT_EQ(a1.res, a2.res);
  EXPECT_EQ(b1.res, b2.res);
  for (int j = 0; j < 7; j++) {
    EXPECT_EQ(a1.trace[j], a2.trace[j]) << j;
    EXPECT_EQ(b1.trace[j], b2.trace[j]) << j;
  }
}

// --- fault codes -------------------------------------------------------

TEST(Qfc, NegativeDegreesOfFreedomOrNonCentralityIsFault3) {
  QfcIn bad_n{{1.0, 2.0}, {1, -1}, {0.0, 0.0}, 0.0};
  QfcIn bad_nc{{1.0, 2.0}, {1, 1}, {0.0, -0.5}, 0.0};
  for (const QfcIn &in : {bad_n, bad_nc}) {
    QfcOut o = run_qfc(in, 1.0);
    EXPECT_EQ(o.ifault, 3);
    EXPECT_EQ(o.res, -1.0);
    for (int j = 0; j < 7; j++) EXPECT_EQ(o.trace[j], 0.0) << j;
  }
}

TEST(Qfc, WeightsThatAreNotNumbersAreFault3) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  QfcOut o = run_qfc(central({nan, nan}), 1.0);
  EXPECT_EQ(o.ifault, 3);
  EXPECT_EQ(o.res, -1.0);
}

// A weight, non-centrality or normal coefficient that is not a number (or an
// infinite weight) among ordinary terms must end the call with a fault, not
// leave it computing forever. The call runs in a child process under an
// alarm, so a call that never returns fails the test instead of hanging it.
// Exits with 0 when every call gave fault 1 with result -1.
void call_qfc_with_values_that_are_not_numbers() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<QfcIn> cases = {
      central({nan, 1.0}),
      central({0.5, inf}),
      central({-inf, 2.0}),
      QfcIn{{1.0, 2.0}, {1, 1}, {nan, 0.0}, 0.0},
      QfcIn{{1.0, 2.0}, {1, 1}, {0.0, 0.0}, nan},
  };
  alarm(20);
  bool ok = true;
  for (const QfcIn &in : cases) {
    QfcOut o = run_qfc(in, 1.0);
    ok = ok && o.ifault == 1 && o.res == -1.0 && o.trace[6] > 0.0;
  }
  std::_Exit(ok ? 0 : 1);
}

TEST(QfcDeathTest, ValuesThatAreNotNumbersAmongOrdinaryTermsEndWithAFault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(call_qfc_with_values_that_are_not_numbers(), ::testing::ExitedWithCode(0), "");
}

TEST(Qfc, NegativeNumberOfTermsIsFault3) {
  double lb = 1.0, nc = 0.0, sigma = 0.0, c = 1.0, acc = kAcc, trace[7], res = 0.0;
  int n = 1, r = -3, lim = kLim, ifault = 0;
  qfc(&lb, &nc, &n, &r, &sigma, &c, &lim, &acc, trace, &ifault, &res);
  EXPECT_EQ(ifault, 3);
  EXPECT_EQ(res, -1.0);
  EXPECT_EQ(trace[6], 0.0);
}

TEST(Qfc, PointThatIsNotANumberIsAFaultNotAResult) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  QfcOut o = run_qfc(central({1.0, 0.5}), nan);
  EXPECT_EQ(o.ifault, 1);
  EXPECT_EQ(o.res, -1.0);
}

TEST(Qfc, BudgetOfOneBoundEvaluationIsFault4) {
  QfcOut o = run_qfc(central({1.0}), 3.841458820694124, kAcc, 1);
  EXPECT_EQ(o.ifault, 4);
  EXPECT_EQ(o.res, -1.0);
  EXPECT_EQ(o.trace[6], 2.0);  // the second evaluation exceeded the budget
}

// Every budget short of what the computation needs ends in fault 4 at the
// evaluation that exceeds it, wherever that evaluation happens (the first
// truncation point, the convergence factor, the cut-offs, the auxiliary
// integrations); the full budget succeeds with the same result as an
// unlimited one.
TEST(Qfc, EveryExhaustedBudgetIsFault4) {
  struct Case {
    QfcIn in;
    double c;
  };
  const std::vector<Case> cases = {
      {central({1.0}), 1.0},                                        // auxiliary integrations
      {central(skat_like_weights(50)), 25.0},
      {QfcIn{{-1.0, 0.6, 2.0, 0.2}, {1, 3, 2, 5}, {0.5, 0.0, 1.2, 2.0}, 0.3}, 2.0},
      {central({1.0, 0.5}), 3.0}};
  for (const Case &cs : cases) {
    QfcOut full = run_qfc(cs.in, cs.c);
    ASSERT_EQ(full.ifault, 0);
    int needed = static_cast<int>(full.trace[6]);
    ASSERT_GT(needed, 1);
    int fault4 = 0;
    for (int lim = -1; lim < needed; lim++) {
      QfcOut o = run_qfc(cs.in, cs.c, kAcc, lim);
      EXPECT_EQ(o.res, -1.0) << lim;
      EXPECT_EQ(o.trace[0], 0.0) << lim;  // the main integration never ran
      if (o.ifault == 1) {
        // lim also caps the integration terms, which may run out first.
        EXPECT_LE(o.trace[6], lim) << lim;
      } else {
        EXPECT_EQ(o.ifault, 4) << lim;
        EXPECT_EQ(o.trace[6], lim < 0 ? 1.0 : lim + 1.0) << lim;
        // What was written before the budget ran out is what the full run
        // wrote at that stage.
        EXPECT_EQ(o.trace[3], 0.0) << lim;
        EXPECT_TRUE(o.trace[4] == 0.0 || o.trace[4] == full.trace[4]) << lim;
        EXPECT_TRUE(o.trace[5] == 0.0 || o.trace[5] == full.trace[5]) << lim;
        EXPECT_LT(o.trace[2], full.trace[2]) << lim;
        EXPECT_LT(o.trace[1], full.trace[1]) << lim;
        fault4++;
      }
    }
    EXPECT_GT(fault4, 0);
    if (full.trace[1] <= needed) {
      QfcOut exact = run_qfc(cs.in, cs.c, kAcc, needed);
      EXPECT_EQ(exact.ifault, 0);
      EXPECT_EQ(exact.res, full.res);
    }
  }
}

TEST(Qfc, TooFewIntegrationTermsIsFault1) {
  // Main integration only: 5 equal weights need a few thousand terms.
  QfcOut main_only = run_qfc(central(std::vector<double>(5, 1.0)), 4.0, kAcc, 100);
  EXPECT_EQ(main_only.ifault, 1);
  EXPECT_EQ(main_only.res, -1.0);
  EXPECT_GT(main_only.trace[3], 0.0);  // reached the main integration
  EXPECT_EQ(main_only.trace[2], 0.0);
  EXPECT_LE(main_only.trace[6], 100.0);
  // One degree of freedom needs auxiliary integrations, which need more.
  QfcOut aux = run_qfc(central({1.0}), 0.5, kAcc, 1000);
  EXPECT_EQ(aux.ifault, 1);
  EXPECT_EQ(aux.res, -1.0);
  EXPECT_EQ(aux.trace[2], 0.0);
  EXPECT_LE(aux.trace[6], 1000.0);
}

TEST(Qfc, AccuracyBelowRoundingIsFault2WithTheProbability) {
  // Q = X standard normal, asked for 1e-17: the absolute value sum of the
  // integration terms is of order 1, so acc / 10 is lost in it.
  QfcOut o = run_qfc(QfcIn{{}, {}, {}, 1.0}, 1.0, 1e-17);
  EXPECT_EQ(o.ifault, 2);
  EXPECT_NEAR(o.res, gsl_cdf_ugaussian_P(1.0), tol::kTight);
  EXPECT_GT(o.trace[0], 0.0);
}

#if !defined(__SANITIZE_ADDRESS__)
// Fault 5 needs malloc to fail: in a child process whose address space is
// capped, ask for an index array far larger than the cap. The arrays are
// never read, since the allocation comes first. Exits with 5 when qfc
// reported fault 5 with result -1.
void call_qfc_with_capped_memory() {
  struct rlimit cap;
  cap.rlim_cur = cap.rlim_max = 512UL << 20;
  setrlimit(RLIMIT_AS, &cap);
  double lb = 1.0, nc = 0.0, sigma = 0.0, c = 1.0, acc = kAcc, trace[7], res = 0.0;
  int n = 1, r = INT_MAX, lim = kLim, ifault = 0;
  qfc(&lb, &nc, &n, &r, &sigma, &c, &lim, &acc, trace, &ifault, &res);
  bool ok = ifault == 5 && res == -1.0 && trace[6] == 0.0;
  std::_Exit(ok ? 5 : 1);
}
#endif

TEST(QfcDeathTest, IndexArrayThatCannotBeAllocatedIsFault5) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves address space beyond any cap";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(call_qfc_with_capped_memory(), ::testing::ExitedWithCode(5), "");
#endif
}

}  // namespace
