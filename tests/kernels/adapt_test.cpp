#include "kernels/adapt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <vector>

#include "tests/support/tolerances.h"

namespace {

// Integrands see their state through file-level variables (the engine takes
// a plain function pointer).
long g_calls = 0;
double g_constant = 0.0;
std::vector<int> g_powers;  // monomial exponents, one per axis

double CountingConstant(int *, double *) {
  g_calls++;
  return g_constant;
}

double Monomial(int *ndim, double *z) {
  g_calls++;
  double v = 1.0;
  for (int i = 0; i < *ndim; i++)
    for (int p = 0; p < g_powers[i]; p++) v *= z[i];
  return v;
}

double ExpSum(int *ndim, double *z) {
  g_calls++;
  double s = 0.0;
  for (int i = 0; i < *ndim; i++) s += z[i];
  return std::exp(s);
}

double ExpFirst(int *, double *z) {
  g_calls++;
  return std::exp(z[0]);
}

// A peaked integrand the rule cannot resolve on few regions.
double Peak(int *ndim, double *z) {
  g_calls++;
  double s = 0.0;
  for (int i = 0; i < *ndim; i++) s += (z[i] - 0.3) * (z[i] - 0.3);
  return std::exp(-50.0 * s);
}

int RuleSize(int ndim) {
  if (ndim == 1) return 9;
  if (ndim < 12) return (1 << ndim) + 2 * ndim * (ndim + 2) + 1;
  return 2 * ndim * (2 * ndim + 1) + 1;
}

struct Outcome {
  double value = -7.0, error = -7.0;
  int used = 0, inform = -1;
};

Outcome Integrate(int ndim, int mincls, int maxcls, adapt_integrand f, double abseps,
              std::vector<double> &work, double releps = 0.0) {
  Outcome r;
  int nd = ndim, lenwrk = static_cast<int>(work.size());
  r.used = mincls;
  adapt_(&nd, &r.used, &maxcls, f, &abseps, &releps, &lenwrk, work.data(), &r.error, &r.value,
         &r.inform);
  return r;
}

TEST(AdaptiveEngine, ProbeReportsTheRuleSizeWithoutEvaluating) {
  const int expected[20] = {0,   9,   21,  39,   65,  103, 161, 255, 417,  711,
                            1265, 2335, 601, 703, 813, 931, 1057, 1191, 1333, 1483};
  for (int ndim = 1; ndim <= 19; ndim++) {
    std::vector<double> work(8000, 0.0);
    g_calls = 0;
    Outcome r = Integrate(ndim, 1, 0, CountingConstant, 1e-3, work);
    EXPECT_EQ(r.inform, 2) << ndim;
    EXPECT_EQ(r.used, expected[ndim]) << ndim;
    EXPECT_EQ(r.used, RuleSize(ndim)) << ndim;
    EXPECT_EQ(g_calls, 0) << ndim;
    EXPECT_EQ(r.value, -7.0);  // outputs untouched
    EXPECT_EQ(r.error, -7.0);
  }
}

TEST(AdaptiveEngine, RefusesSmallStorageAndMinimumAboveBudget) {
  for (int ndim : {1, 2, 7, 12, 19}) {
    const int lenrul = ndim == 1 ? 5 : 6;
    const int need = lenrul * (ndim + 4) + 10 * ndim + 3;
    g_constant = 1.0;
    std::vector<double> small(need - 1, 0.0), enough(need, 0.0);
    Outcome r = Integrate(ndim, 0, 100000, CountingConstant, 1e-6, small);
    EXPECT_EQ(r.inform, 2) << ndim;
    EXPECT_EQ(r.used, RuleSize(ndim));
    r = Integrate(ndim, 0, 100000, CountingConstant, 1e-6, enough);
    EXPECT_EQ(r.inform, 0) << ndim;
    std::vector<double> work(8000, 0.0);
    g_calls = 0;
    r = Integrate(ndim, 5000, 4000, CountingConstant, 1e-6, work);
    EXPECT_EQ(r.inform, 2) << ndim;
    EXPECT_EQ(g_calls, 0);
    r = Integrate(ndim, 0, RuleSize(ndim) - 1, CountingConstant, 1e-6, work);
    EXPECT_EQ(r.inform, 2) << ndim;
  }
}

class EngineDimension : public ::testing::TestWithParam<int> {};

// A constant integrand: the null rules vanish up to round-off, so the first
// test succeeds after one division-axis pass and one rule application.
TEST_P(EngineDimension, ConstantIntegrandStopsAfterTheFirstRule) {
  const int ndim = GetParam();
  std::vector<double> work(8000, 0.0);
  g_constant = 3.7;
  g_calls = 0;
  Outcome r = Integrate(ndim, 0, 1000000, CountingConstant, 1e-10, work);
  const int differ_cost = ndim > 1 ? 4 * ndim + 1 : 0;
  EXPECT_EQ(r.inform, 0);
  EXPECT_EQ(r.used, differ_cost + RuleSize(ndim));
  EXPECT_EQ(g_calls, r.used);
  // The centre weight is 1 minus sums of large weights: rounding of about
  // 1e-13 relative in 12 and more dimensions.
  EXPECT_NEAR(r.value, 3.7, tol::kClose);
  EXPECT_LE(r.error, 1e-10);
}

// The basic rule has degree 7: one application integrates every monomial of
// total degree <= 7 exactly (up to rounding). From 12 dimensions on, the
// generators have at most two non-zero coordinates, so exactness holds for
// monomials in at most two variables (a product over three axes of centred
// squares would be integrated as 0).
TEST_P(EngineDimension, OneRuleIntegratesDegreeSevenMonomialsExactly) {
  const int ndim = GetParam();
  const std::vector<std::vector<int>> shapes = {{7}, {6, 1}, {3, 2, 2}, {4, 3}, {2, 2, 2, 1},
                                                {1, 1, 1, 1, 1, 1, 1}, {5, 2}, {0, 4, 0, 2}};
  for (const auto &shape : shapes) {
    if (static_cast<int>(shape.size()) > ndim) continue;
    int axes = 0;
    for (int p : shape) axes += p > 0;
    if (ndim >= 12 && axes > 2) continue;
    g_powers.assign(ndim, 0);
    double exact = 1.0;
    for (size_t i = 0; i < shape.size(); i++) {
      g_powers[ndim - 1 - i] = shape[i];  // put the powers on the last axes
      exact /= shape[i] + 1.0;
    }
    std::vector<double> work(8000, 0.0);
    const int differ_cost = ndim > 1 ? 4 * ndim + 1 : 0;
    g_calls = 0;
    // Budget for the start only: a further step is refused.
    Outcome r = Integrate(ndim, 0, differ_cost + RuleSize(ndim), Monomial, 0.0, work);
    EXPECT_EQ(r.inform, 1);
    EXPECT_NEAR(r.value, exact, ndim >= 12 ? tol::kClose : tol::kTight)
        << "ndim " << ndim << " shape " << shape[0];
    // The refused step's division pass is counted and was evaluated.
    EXPECT_EQ(r.used, g_calls);
    EXPECT_EQ(r.used, 2 * differ_cost + RuleSize(ndim));
  }
}

class EngineSmooth : public ::testing::TestWithParam<int> {};

TEST_P(EngineSmooth, SmoothIntegrandMeetsItsTolerance) {
  const int ndim = GetParam();
  std::vector<double> work(8000, 0.0);
  g_calls = 0;
  const double exact = std::pow(std::exp(1.0) - 1.0, ndim);
  const double rel = ndim <= 3 ? 1e-9 : ndim <= 5 ? 1e-6 : 1e-5;
  Outcome r = Integrate(ndim, 0, 2000000, ExpSum, rel * exact, work);
  EXPECT_EQ(r.inform, 0) << "error estimate " << r.error / exact;
  EXPECT_EQ(g_calls, r.used);
  EXPECT_LE(std::fabs(r.value - exact), rel * exact) << "error estimate " << r.error;
}

INSTANTIATE_TEST_SUITE_P(Dimensions, EngineDimension,
                         ::testing::Values(1, 2, 3, 5, 8, 11, 12, 13, 19));
INSTANTIATE_TEST_SUITE_P(Dimensions, EngineSmooth, ::testing::Values(1, 2, 3, 5, 8));

struct StoreCase {
  int ndim, mxrgns;
};
void PrintTo(const StoreCase &c, std::ostream *os) { *os << "ndim=" << c.ndim << " mxrgns=" << c.mxrgns; }

class EngineStore : public ::testing::TestWithParam<StoreCase> {};

// With 8000 doubles the store holds mxrgns regions; an unreachable tolerance
// fills it, after which the region count stays put and evaluations go on.
TEST_P(EngineStore, FillsToItsCapacityAndThenRefinesInPlace) {
  const StoreCase c = GetParam();
  std::vector<double> work(8000, 0.0);
  g_calls = 0;
  const int budget = (c.mxrgns + 5) * (2 * RuleSize(c.ndim) + 4 * c.ndim + 1);
  Outcome r = Integrate(c.ndim, 0, budget, Peak, 0.0, work);
  EXPECT_EQ(r.inform, 1);
  EXPECT_EQ(static_cast<int>(work[7999]), c.mxrgns);
  EXPECT_EQ(r.used, g_calls);
  // Continuation: further refinement of the worst regions in place.
  g_calls = 0;
  Outcome more = Integrate(c.ndim, -1, budget, Peak, 0.0, work);
  EXPECT_EQ(more.inform, 1);
  EXPECT_EQ(static_cast<int>(work[7999]), c.mxrgns);
  EXPECT_EQ(more.used, g_calls);
  EXPECT_GT(more.used, 0);
}
INSTANTIATE_TEST_SUITE_P(Capacity, EngineStore,
                         ::testing::Values(StoreCase{2, 883}, StoreCase{3, 661},
                                           StoreCase{5, 439}, StoreCase{12, 200},
                                           StoreCase{19, 128}));

// A store of one region (the smallest storage accepted) refines the cube's
// mesh along axis 1 for an integrand of x1 alone: step m (mesh m before it)
// costs a division pass over m cells, 9m, and the rule on m + 1 cells, 21(m+1).
TEST(AdaptiveEngine, FullStoreRefinesTheMeshAndItsCostGrows) {
  std::vector<double> work(6 * 6 + 10 * 2 + 3, 0.0);
  const double exact = std::exp(1.0) - 1.0;
  int expected = 9 + 21;
  for (int steps = 0; steps <= 6; steps++) {
    if (steps > 0) expected += 9 * steps + 21 * (steps + 1);
    g_calls = 0;
    // Budget that allows exactly `steps` refinements; the next division pass
    // (9 (steps+1) evaluations) is made and counted before the refusal.
    Outcome r = Integrate(2, 0, expected + 9 * (steps + 1) + 21 * (steps + 2) - 1, ExpFirst, 0.0,
                      work);
    EXPECT_EQ(r.inform, 1);
    EXPECT_EQ(static_cast<int>(work.back()), 1);
    EXPECT_EQ(r.used, expected + 9 * (steps + 1)) << steps;
    EXPECT_EQ(r.used, g_calls);
    // The rule on m cells of width 1/m is accurate to about 1e-9 / m^8.
    EXPECT_NEAR(r.value, exact, 1e-9);
  }
}

// One rule application over a region of several mesh cells sums the rule
// over every cell: exact for a degree-7 monomial on any box.
TEST(BasicRule, SumsOverEveryMeshCell) {
  int ndim = 2, lenrul = 6;
  std::vector<double> w(lenrul * 4), g(ndim * lenrul);
  bsinit_(&ndim, w.data(), &lenrul, g.data());
  g_powers = {4, 3};
  double a[2] = {0.2, 0.1}, b[2] = {0.9, 0.5};
  for (int m1 = 1; m1 <= 4; m1++)
    for (int m2 = 1; m2 <= 3; m2++) {
      double width[2] = {(b[0] - a[0]) / (2.0 * m1), (b[1] - a[1]) / (2.0 * m2)};
      double center[2], z[2], err = -1.0, est = -1.0;
      g_calls = 0;
      basrul_(&ndim, a, b, width, Monomial, w.data(), &lenrul, g.data(), center, z, &err, &est);
      const double exact = (std::pow(0.9, 5) - std::pow(0.2, 5)) / 5.0 *
                           (std::pow(0.5, 4) - std::pow(0.1, 4)) / 4.0;
      EXPECT_NEAR(est, exact, tol::kTight) << m1 << "x" << m2;
      EXPECT_EQ(g_calls, 21L * m1 * m2);
      EXPECT_GE(err, 0.0);
    }
}

TEST(AdaptiveEngine, ContinuationImprovesAndReturnsAtOnceWhenMet) {
  std::vector<double> work(8000, 0.0);
  const int ndim = 4;
  const double exact = std::pow(std::exp(1.0) - 1.0, ndim);
  Outcome first = Integrate(ndim, 0, 2000, ExpSum, 1e-8, work);
  EXPECT_EQ(first.inform, 1);
  Outcome second = Integrate(ndim, -1, 400000, ExpSum, 1e-8, work);
  EXPECT_EQ(second.inform, 0);
  EXPECT_LT(second.error, first.error);
  EXPECT_LE(std::fabs(second.value - exact), 1e-8);
  g_calls = 0;
  Outcome third = Integrate(ndim, -1, 400000, ExpSum, 1e-8, work);
  EXPECT_EQ(third.inform, 0);
  EXPECT_EQ(third.used, 0);
  EXPECT_EQ(g_calls, 0);
  EXPECT_EQ(third.value, second.value);
  EXPECT_EQ(third.error, second.error);
}

// Symmetric fourth differences along axes 1 and 3 (none along axis 2).
double QuarticOneThree(int *, double *z) { return std::pow(z[0], 4) + std::pow(z[2], 4); }
double QuarticOneTwo(int *, double *z) { return std::pow(z[0], 4) + std::pow(z[1], 4); }

TEST(DivisionAxis, TiesKeepTheCyclicSuccessorElseTheLowestLargest) {
  // Width 5/8 makes every step of the difference stencil (width/5 = 1/8)
  // and every function value exact, so the ties are exact.
  double a[3] = {0.0, 0.0, 0.0}, b[3] = {1.25, 1.25, 1.25}, width[3] = {0.625, 0.625, 0.625};
  double z[3], dif[3];
  int ndim = 3, difcls = -1;
  struct {
    int previous, chosen;
  } cases3[] = {{0, 1}, {1, 1}, {2, 3}, {3, 1}};
  for (auto c : cases3) {
    int divaxn = c.previous;
    differ_(&ndim, a, b, width, z, dif, QuarticOneThree, &divaxn, &difcls);
    EXPECT_EQ(divaxn, c.chosen) << "after axis " << c.previous;
    EXPECT_EQ(difcls, 4 * 3 + 1);
    EXPECT_EQ(dif[0], dif[2]);
    EXPECT_EQ(dif[1], 0.0);
  }
  ndim = 2;
  struct {
    int previous, chosen;
  } cases2[] = {{0, 1}, {1, 2}, {2, 1}};
  for (auto c : cases2) {
    int divaxn = c.previous;
    differ_(&ndim, a, b, width, z, dif, QuarticOneTwo, &divaxn, &difcls);
    EXPECT_EQ(divaxn, c.chosen) << "after axis " << c.previous;
  }
  ndim = 1;
  int divaxn = 1;
  differ_(&ndim, a, b, width, z, dif, QuarticOneTwo, &divaxn, &difcls);
  EXPECT_EQ(divaxn, 1);
  EXPECT_EQ(difcls, 0);
}

std::vector<std::vector<double>> g_points;
double RecordPoint(int *ndim, double *z) {
  g_points.emplace_back(z, z + *ndim);
  return 1.0;
}

TEST(FullySymmetricSum, VisitsEveryDistinctPointOnceAndRestoresTheGenerator) {
  struct {
    std::vector<double> g;
    size_t points;
  } cases[] = {{{0.7, 0.0, 0.0}, 6},           {{0.7, 0.7, 0.0, 0.0}, 24},
               {{0.5, 0.5, 0.5}, 8},           {{0.9, 0.6, 0.3, 0.0}, 24 * 8},
               {{0.0, 0.0}, 1},                {{0.8, 0.8, 0.4, 0.4, 0.0}, 30 * 16},
               {{0.7}, 2}};
  for (auto &c : cases) {
    int s = static_cast<int>(c.g.size());
    std::vector<double> center(s, 0.0), hwidth(s, 1.0), x(s), g = c.g;
    g_points.clear();
    const double sum = fulsum_(&s, center.data(), hwidth.data(), x.data(), g.data(), RecordPoint);
    EXPECT_EQ(sum, static_cast<double>(c.points));
    EXPECT_EQ(g, c.g);
    std::set<std::vector<double>> distinct(g_points.begin(), g_points.end());
    EXPECT_EQ(distinct.size(), c.points);
    // Every point is a signed permutation of the generator.
    std::vector<double> sorted_g = c.g;
    std::sort(sorted_g.begin(), sorted_g.end());
    for (auto p : g_points) {
      for (double &v : p) v = std::fabs(v);
      std::sort(p.begin(), p.end());
      EXPECT_EQ(p, sorted_g);
    }
  }
}

bool IsHeap(const std::vector<double> &pontrs, int n, const std::vector<double> &errors) {
  for (int i = 2; i <= n; i++)
    if (errors[static_cast<int>(pontrs[i - 1]) - 1] > errors[static_cast<int>(pontrs[i / 2 - 1]) - 1])
      return false;
  return true;
}

TEST(RegionHeap, KeepsTheLargestErrorOnTop) {
  std::vector<double> errors, pontrs(64, 0.0);
  unsigned state = 12345u;
  for (int n = 1; n <= 60; n++) {
    state = state * 1103515245u + 12345u;
    errors.push_back((state >> 8) % 1000 / 10.0);  // ties occur
    trestr_(&n, &n, pontrs.data(), errors.data());
    ASSERT_TRUE(IsHeap(pontrs, n, errors)) << n;
  }
  for (int step = 0; step < 100; step++) {
    int topregion = static_cast<int>(pontrs[0]);
    state = state * 1103515245u + 12345u;
    errors[topregion - 1] = (state >> 8) % 1000 / 10.0;
    int n = 60;
    trestr_(&topregion, &n, pontrs.data(), errors.data());
    ASSERT_TRUE(IsHeap(pontrs, n, errors)) << step;
    const double top_error = errors[static_cast<int>(pontrs[0]) - 1];
    EXPECT_EQ(top_error, *std::max_element(errors.begin(), errors.end()));
  }
  std::vector<double> ids(pontrs.begin(), pontrs.begin() + 60);
  std::sort(ids.begin(), ids.end());
  for (int i = 0; i < 60; i++) EXPECT_EQ(ids[i], i + 1.0);
}

TEST(RuleWeights, PublishedParametersAndNullRules) {
  for (int ndim : {2, 5, 11, 12, 19}) {
    const int lenrul = 6;
    std::vector<double> w(lenrul * 4), g(ndim * lenrul);
    int nd = ndim, lr = lenrul;
    bsinit_(&nd, w.data(), &lr, g.data());
    const double lam3 = 0.4706999957561493;
    const double lam2 = 4.0 / (15.0 - 5.0 / lam3);
    const double ratio = (ndim - 1) / 9.0;
    const double lam1 =
        ndim < 12 ? 8.0 * lam3 * (31.0 * lam3 - 15.0) / ((3.0 * lam3 - 1.0) * (5.0 * lam3 - 3.0) * 35.0)
                  : (35.0 * ratio * (lam2 - lam3) + lam3 * (15.0 - 21.0 * lam2)) /
                        (35.0 * ratio * (lam2 / lam3 - 1.0) + lam3 * (21.0 - 35.0 * lam2));
    EXPECT_NEAR(g[1 * ndim] * g[1 * ndim], lam1, tol::kTight) << ndim;
    EXPECT_NEAR(g[2 * ndim] * g[2 * ndim], lam2, tol::kRounding);
    EXPECT_NEAR(g[3 * ndim] * g[3 * ndim], 0.8500000238418579, tol::kRounding);
    if (ndim >= 12) {
      EXPECT_NEAR(g[5 * ndim] * g[5 * ndim], lam3, tol::kRounding);
      EXPECT_EQ(g[5 * ndim + 2], 0.0);
    } else {
      for (int i = 0; i < ndim; i++) EXPECT_NEAR(g[5 * ndim + i] * g[5 * ndim + i], lam3, tol::kRounding);
    }
    // Point counts and null rules: sum of rulpts * W(i,k) is 1 for the basic
    // rule and 0 for the null rules; null rules are orthogonal.
    std::vector<double> counts = {1.0, 2.0 * ndim, 2.0 * ndim, 2.0 * ndim, 2.0 * ndim * (ndim - 1),
                                  ndim < 12 ? std::pow(2.0, ndim) : 2.0 * ndim * (ndim - 1)};
    for (int k = 0; k < 4; k++) {
      double s = 0.0;
      for (int i = 0; i < lenrul; i++) s += counts[i] * w[k * lenrul + i];
      EXPECT_NEAR(s, k == 0 ? 1.0 : 0.0, tol::kClose) << ndim << " " << k;
    }
    for (int k = 1; k < 4; k++)
      for (int j = 1; j < k; j++) {
        double s = 0.0;
        for (int i = 0; i < lenrul; i++) s += counts[i] * w[k * lenrul + i] * w[j * lenrul + i];
        EXPECT_NEAR(s, 0.0, tol::kClose) << ndim;
      }
  }
}

}  // namespace
