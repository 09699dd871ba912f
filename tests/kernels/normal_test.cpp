#include "kernels/normal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>

#include "tests/support/tolerances.h"

namespace {

const double kPi = 3.14159265358979323846;

double Phi(double z) { return phi_(&z); }
double PhiInv(double p) { return phinv_(&p); }
double Bvnu(double h, double k, double r) { return bvnu_(&h, &k, &r); }

// Reference normal functions from the C library's erfc.
double RefPhi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double RefDensity(double z) { return std::exp(-z * z / 2.0) / std::sqrt(2.0 * kPi); }

// Newton inversion of the reference Phi: solves log Phi(x) = log p for p <= 1/2
// and log Q(x) = log(1 - p) for p > 1/2 (1 - p is exact there).
double NewtonQuantile(double p, double x) {
  const bool upper = p > 0.5;
  const double target = upper ? std::log(1.0 - p) : std::log(p);
  for (int it = 0; it < 50; it++) {
    const double tail = upper ? 0.5 * std::erfc(x / std::sqrt(2.0)) : RefPhi(x);
    const double g = std::log(tail) - target;
    const double dg = (upper ? -1.0 : 1.0) * RefDensity(x) / tail;
    const double step = g / dg;
    x -= step;
    if (std::fabs(step) <= 1e-17 * std::fmax(1.0, std::fabs(x))) break;
  }
  return x;
}

// P(X in [l1, u1], Y in [l2, u2]) by composite Simpson over x of
// phi(x) * (Phi((u2 - r x)/s) - Phi((l2 - r x)/s)), s = sqrt(1 - r^2);
// infinite limits are given as +-40.
double RectangleBySimpson(double l1, double u1, double l2, double u2, double r) {
  const double s = std::sqrt((1.0 - r) * (1.0 + r));
  l1 = std::fmax(l1, -40.0);
  u1 = std::fmin(u1, 40.0);
  if (u1 <= l1) return 0.0;
  const int n = 200000;
  const double step = (u1 - l1) / n;
  auto f = [&](double x) {
    return RefDensity(x) * (RefPhi((u2 - r * x) / s) - RefPhi((l2 - r * x) / s));
  };
  double sum = f(l1) + f(u1);
  for (int i = 1; i < n; i++) sum += (i % 2 ? 4.0 : 2.0) * f(l1 + i * step);
  return sum * step / 3.0;
}

TEST(NormalDistribution, AgreesWithErfcOverItsRange) {
  // Hart's 5666 is accurate to 2.2e-16 absolute; relative accuracy in the
  // lower tail is only about 1e-8 (largest near z = -7.8).
  double max_abs = 0.0, max_rel_upper = 0.0, max_rel_lower = 0.0;
  for (int i = 0; i <= 740000; i++) {
    const double z = -37.0 + i * 1e-4;
    const double p = Phi(z), ref = RefPhi(z);
    const double abs_err = std::fabs(p - ref);
    max_abs = std::fmax(max_abs, abs_err);
    if (ref > 0.0) {
      const double rel = abs_err / ref;
      if (z >= -2.0)
        max_rel_upper = std::fmax(max_rel_upper, rel);
      else
        max_rel_lower = std::fmax(max_rel_lower, rel);
    }
  }
  std::printf("Phi vs erfc on [-37, 37]: max abs %.3g, max rel %.3g (z >= -2), %.3g (z < -2)\n",
              max_abs, max_rel_upper, max_rel_lower);
  EXPECT_LE(max_abs, 3e-16);
  EXPECT_LE(max_rel_upper, 1e-14);
  EXPECT_LE(max_rel_lower, 1e-8);
}

TEST(NormalDistribution, ExactValuesAndCutoffs) {
  EXPECT_EQ(Phi(0.0), 0.5);
  EXPECT_EQ(Phi(-38.0), 0.0);
  EXPECT_EQ(Phi(38.0), 1.0);
  EXPECT_EQ(Phi(std::nextafter(-37.0, -40.0)), 0.0);
  EXPECT_GT(Phi(-37.0), 0.0);  // 37 itself is still computed
  EXPECT_EQ(Phi(-1e300), 0.0);
  EXPECT_EQ(Phi(1e300), 1.0);
  // At |z| = 10/sqrt(2) the continued fraction is used: the value is the
  // fraction's, and it agrees with erfc to the fraction's accuracy.
  const double t = 7.071067811865475;
  const double fraction = std::exp(-t * t / 2.0) /
                          (t + 1.0 / (t + 2.0 / (t + 3.0 / (t + 4.0 / (t + 0.65))))) /
                          2.506628274631001;
  EXPECT_EQ(Phi(-t), fraction);
  EXPECT_NEAR(Phi(-t) / RefPhi(-t), 1.0, 1e-8);
  EXPECT_EQ(Phi(t), 1.0 - fraction);
}

TEST(NormalQuantile, AgreesWithNewtonInversionOfPhi) {
  double max_rel = 0.0;
  int count = 0;
  // Probabilities spread log-uniformly over [1e-300, 0.5] and their
  // complements, plus a uniform grid of the central region.
  for (int i = 0; i <= 3000; i++) {
    const double p = std::pow(10.0, -300.0 + i * (300.0 - std::log10(2.0)) / 3000.0);
    for (double q : {p, 1.0 - p}) {
      if (q <= 0.0 || q >= 1.0) continue;
      const double x = PhiInv(q);
      const double ref = NewtonQuantile(q, x);
      const double err = std::fabs(x - ref) / std::fmax(std::fabs(ref), 1e-300);
      max_rel = std::fmax(max_rel, err);
      count++;
    }
  }
  for (int i = 1; i < 10000; i++) {
    const double p = i / 10000.0;
    if (p == 0.5) continue;
    const double x = PhiInv(p);
    const double ref = NewtonQuantile(p, x);
    max_rel = std::fmax(max_rel, std::fabs(x - ref) / std::fabs(ref));
    count++;
  }
  std::printf("Phi^-1 vs Newton inversion of erfc: max rel %.3g over %d points\n", max_rel, count);
  EXPECT_LE(max_rel, tol::kTight);
}

TEST(NormalQuantile, ExactValuesAndSymmetry) {
  EXPECT_EQ(PhiInv(0.5), 0.0);
  EXPECT_EQ(PhiInv(0.0), -9.0);
  EXPECT_EQ(PhiInv(1.0), 9.0);
  EXPECT_EQ(PhiInv(-0.5), -9.0);
  EXPECT_EQ(PhiInv(1.5), 9.0);
  for (double p : {1e-300, 1e-20, 1e-5, 0.01, 0.075, 0.2, 0.4, 0.45}) {
    const double q = 1.0 - p;  // rounded; the quantile of q is compared with that of 1 - q
    EXPECT_NEAR(PhiInv(q), -PhiInv(1.0 - q), tol::kTight * std::fabs(PhiInv(q))) << p;
  }
  // Round trip through Phi where Phi is accurate (upper half).
  for (double p : {0.5, 0.6, 0.9, 0.975, 0.999}) EXPECT_NEAR(Phi(PhiInv(p)), p, tol::kTight);
}

struct BvnuCase {
  double h, k, r;
};
std::ostream &operator<<(std::ostream &os, const BvnuCase &c) {
  return os << "h=" << c.h << " k=" << c.k << " r=" << c.r;
}

class BivariateUpperAtOrigin : public ::testing::TestWithParam<double> {};

// P(X > 0, Y > 0) = 1/4 + asin(r)/(2 pi) (Sheppard); covers every rule and
// both branches, including the single-precision thresholds given as doubles.
TEST_P(BivariateUpperAtOrigin, MatchesSheppardsFormula) {
  const double r = GetParam();
  EXPECT_NEAR(Bvnu(0.0, 0.0, r), 0.25 + std::asin(r) / (2.0 * kPi), tol::kTight) << r;
}
INSTANTIATE_TEST_SUITE_P(Correlations, BivariateUpperAtOrigin,
                         ::testing::Values(-1.0, -0.99999, -0.95, -0.925, -0.8, -0.5, -0.3, -0.1,
                                           0.0, 0.1, 0.29, 0.3, 0.30000001192092896, 0.5, 0.74,
                                           0.75, 0.9, 0.925, 0.925000011920929, 0.95, 0.999,
                                           0.9999999, 1.0));

class BivariateUpperNumeric : public ::testing::TestWithParam<BvnuCase> {};

TEST_P(BivariateUpperNumeric, MatchesDirectIntegration) {
  const BvnuCase c = GetParam();
  const double ref = RectangleBySimpson(c.h, 40.0, c.k, 40.0, c.r);
  const double value = Bvnu(c.h, c.k, c.r);
  std::printf("bvnu %s: |value - Simpson| = %.3g\n", ::testing::PrintToString(c).c_str(),
              std::fabs(value - ref));
  EXPECT_NEAR(value, ref, tol::kClose) << c;
}
INSTANTIATE_TEST_SUITE_P(Points, BivariateUpperNumeric,
                         ::testing::Values(BvnuCase{0.5, -1.0, 0.2}, BvnuCase{-1.5, 2.0, -0.25},
                                           BvnuCase{1.0, 1.0, 0.6}, BvnuCase{-0.7, 0.3, -0.7},
                                           BvnuCase{2.0, 1.5, 0.8}, BvnuCase{-2.0, -1.0, -0.9},
                                           BvnuCase{0.3, 0.4, 0.95}, BvnuCase{1.0, -1.0, -0.97},
                                           BvnuCase{-3.0, 2.5, 0.99}, BvnuCase{2.5, 3.0, 0.999},
                                           BvnuCase{-1.2, 1.1, -0.995}, BvnuCase{4.0, 4.0, 0.5}));

TEST(BivariateUpper, LimitingCorrelations) {
  const double pts[][2] = {{0.0, 0.0}, {1.0, -0.5}, {-2.0, 0.3}, {1.5, 2.5}, {-3.0, -3.0}};
  for (const auto &p : pts) {
    const double h = p[0], k = p[1];
    EXPECT_NEAR(Bvnu(h, k, 0.0), Phi(-h) * Phi(-k), tol::kRounding) << h << " " << k;
    EXPECT_EQ(Bvnu(h, k, 1.0), Phi(-std::fmax(h, k))) << h << " " << k;
    EXPECT_NEAR(Bvnu(h, k, -1.0), std::fmax(0.0, Phi(-h) - Phi(k)), tol::kRounding)
        << h << " " << k;
  }
}

// The large-correlation branch of Drezner and Wesolowsky's method as refined
// by Genz, written term by term in its published order of operations
// (xs = as (1 - x)^2 / 4 squares 1 - x before the product), on the
// published 20-point Gauss-Legendre rule; it must agree to the last bit.
double BvnuLargeCorrelation(double h, double k, double r) {
  static const double x[10] = {-0.9931285991850949, -0.9639719272779138, -0.9122344282513259,
                               -0.8391169718222188, -0.7463319064601508, -0.6360536807265150,
                               -0.5108670019508271, -0.3737060887154196, -0.2277858511416451,
                               -0.07652652113349733};
  static const double w[10] = {0.01761400713915212, 0.04060142980038694, 0.06267204833410906,
                               0.08327674157670475, 0.1019301198172404,  0.1181945319615184,
                               0.1316886384491766,  0.1420961093183821,  0.1491729864726037,
                               0.1527533871307259};
  double hk = h * k;
  if (r < 0.0) {
    k = -k;
    hk = -hk;
  }
  double bvn = 0.0;
  if (std::fabs(r) < 1.0) {
    const double as = (1.0 - r) * (1.0 + r);
    double a = std::sqrt(as);
    const double bs = (h - k) * (h - k);
    const double c = (4.0 - hk) / 8.0;
    const double d = (12.0 - hk) / 16.0;
    bvn = a * std::exp(-(bs / as + hk) / 2.0) *
          (1.0 - c * (bs - as) * (1.0 - d * bs / 5.0) / 3.0 + c * d * as * as / 5.0);
    if (hk > -160.0) {
      const double b = std::sqrt(bs);
      bvn -= std::exp(-hk / 2.0) * 2.5066282746310002 * Phi(-b / a) * b *
             (1.0 - c * bs * (1.0 - d * bs / 5.0) / 3.0);
    }
    a /= 2.0;
    for (int i = 0; i < 10; i++) {
      const double t = a * (1.0 + x[i]);
      double xs = t * t;
      double rs = std::sqrt(1.0 - xs);
      bvn += a * w[i] *
             (std::exp(-bs / (2.0 * xs) - hk / (1.0 + rs)) / rs -
              std::exp(-(bs / xs + hk) / 2.0) * (1.0 + c * xs * (1.0 + d * xs)));
      const double u = 1.0 - x[i];
      xs = as * (u * u) / 4.0;
      rs = std::sqrt(1.0 - xs);
      bvn += a * w[i] * std::exp(-(bs / xs + hk) / 2.0) *
             (std::exp(-hk * (1.0 - rs) / (2.0 * (1.0 + rs))) / rs - (1.0 + c * xs * (1.0 + d * xs)));
    }
    bvn = -bvn / 6.283185307179586;
  }
  if (r > 0.0) return bvn + Phi(-std::fmax(h, k));
  return std::fmax(0.0, Phi(-h) - Phi(-k)) - bvn;
}

TEST(BivariateUpper, LargeCorrelationBranchFollowsThePublishedFormula) {
  int differing = 0;
  for (double r : {0.925000011920929, 0.93, 0.95, 0.97, 0.99, 0.999, -0.93, -0.96, -0.99, -0.9999})
    for (double h : {-2.5, -1.0, -0.3, 0.0, 0.4, 1.3, 2.2})
      for (double k : {-1.7, -0.2, 0.0, 0.6, 1.9}) {
        const double got = Bvnu(h, k, r), want = BvnuLargeCorrelation(h, k, r);
        EXPECT_EQ(got, want) << "h=" << h << " k=" << k << " r=" << r;
        differing += got != want;
      }
  EXPECT_EQ(differing, 0);
}

struct RectangleCase {
  double l1, u1, l2, u2, r;
  int c1, c2;
};
std::ostream &operator<<(std::ostream &os, const RectangleCase &c) {
  return os << "codes " << c.c1 << "," << c.c2 << " r=" << c.r;
}

class BivariateRectangle : public ::testing::TestWithParam<RectangleCase> {};

TEST_P(BivariateRectangle, EveryLimitCodeMatchesDirectIntegration) {
  const RectangleCase c = GetParam();
  double lower[2] = {c.l1, c.l2}, upper[2] = {c.u1, c.u2};
  int infin[2] = {c.c1, c.c2};
  double r = c.r;
  const double l1 = c.c1 == 0 ? -40.0 : c.l1, u1 = c.c1 == 1 ? 40.0 : c.u1;
  const double l2 = c.c2 == 0 ? -40.0 : c.l2, u2 = c.c2 == 1 ? 40.0 : c.u2;
  // Unused limits hold values that would change the result if read.
  if (c.c1 == 0) lower[0] = 1e3;
  if (c.c1 == 1) upper[0] = -1e3;
  if (c.c2 == 0) lower[1] = 1e3;
  if (c.c2 == 1) upper[1] = -1e3;
  EXPECT_NEAR(bvn_(lower, upper, infin, &r), RectangleBySimpson(l1, u1, l2, u2, c.r), tol::kClose)
      << c;
}
INSTANTIATE_TEST_SUITE_P(
    Codes, BivariateRectangle,
    ::testing::Values(RectangleCase{-1.0, 0.5, -0.3, 1.2, 0.4, 2, 2},
                      RectangleCase{-2.0, 2.0, -2.0, 2.0, -0.95, 2, 2},
                      RectangleCase{-1.0, 0.5, -0.3, 0.0, 0.6, 2, 1},
                      RectangleCase{0.2, 0.0, -0.8, 1.5, -0.5, 1, 2},
                      RectangleCase{-1.5, 1.0, 0.0, 0.7, 0.3, 2, 0},
                      RectangleCase{0.0, -0.4, -1.0, 2.0, 0.93, 0, 2},
                      RectangleCase{0.5, 0.0, 0.0, 1.0, 0.7, 1, 0},
                      RectangleCase{0.0, -0.5, 0.25, 0.0, -0.2, 0, 1},
                      RectangleCase{-0.5, 0.0, 1.0, 0.0, 0.85, 1, 1},
                      RectangleCase{0.0, 0.3, 0.0, -0.6, -0.99, 0, 0}));

TEST(BivariateRectangle, WholePlaneIsOne) {
  double lower[2] = {-37.0, -37.0}, upper[2] = {37.0, 37.0};
  int infin[2] = {2, 2};
  for (double r : {-0.99, -0.5, 0.0, 0.3, 0.8, 0.95}) {
    EXPECT_NEAR(bvn_(lower, upper, infin, &r), 1.0, tol::kRounding) << r;
  }
}

}  // namespace
