// Null models on intercept-only closed forms, on a simple regression worked
// out independently, on the normal equations of the fits, and at linear
// predictors where exp overflows.
#include "stats/null_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numeric/arrays.h"
#include "tests/support/tolerances.h"

namespace {

// Design [1, t1, t2, ...] and trait in index-range arrays.
struct Data {
  int N, D;
  double **z;
  double *y;
  Data(const std::vector<double> &y_, const std::vector<std::vector<double>> &cols)
      : N(static_cast<int>(y_.size())), D(static_cast<int>(cols.size()) + 1) {
    z = dmatrix(0, N - 1, 0, D - 1);
    y = dvector(0, N - 1);
    for (int i = 0; i < N; i++) {
      y[i] = y_[i];
      z[i][0] = 1.0;
      for (int d = 1; d < D; d++) z[i][d] = cols[d - 1][i];
    }
  }
  ~Data() {
    free_dvector(y, 0, N - 1);
    free_dmatrix(z, 0, N - 1, 0, D - 1);
  }
};

// Output arrays of one null-model call.
struct Out {
  int N, D;
  double *centerY, *v, *pY, *ry;
  double **Iz;
  double SigmaSQ = -1;
  Out(int N_, int D_) : N(N_), D(D_) {
    centerY = dvector(0, N - 1);
    v = dvector(0, N - 1);
    pY = dvector(0, N - 1);
    ry = dvector(0, N - 1);
    Iz = dmatrix(0, D - 1, 0, D - 1);
  }
  ~Out() {
    free_dmatrix(Iz, 0, D - 1, 0, D - 1);
    free_dvector(ry, 0, N - 1);
    free_dvector(pY, 0, N - 1);
    free_dvector(v, 0, N - 1);
    free_dvector(centerY, 0, N - 1);
  }
};

double rel(double expect) { return tol::kTight * (1.0 + std::fabs(expect)); }

const std::vector<double> kYBin = {1, 0, 0, 1, 0, 0, 0, 1};
const std::vector<double> kYQuan = {1.1, 2.9, 5.2, 6.8, 9.1, 11.0, 0.4};
const std::vector<double> kT = {0, 1, 2, 3, 4, 5, -0.5};
const std::vector<double> kU = {1, 0, 1, 1, 0, 0, 1};

TEST(NullModelBinary, InterceptOnlyClosedForm) {
  Data d(kYBin, {});
  Out o(d.N, 1);
  const double ybar = 3.0 / 8.0;
  double gamma[1] = {std::log(ybar / (1 - ybar))};
  score_yz_gamma(d.N, 1, d.y, d.z, gamma, o.centerY, o.v, o.Iz);
  for (int i = 0; i < d.N; i++) {
    EXPECT_NEAR(o.v[i], ybar * (1 - ybar), rel(ybar * (1 - ybar)));
    EXPECT_NEAR(o.centerY[i], kYBin[i] - ybar, rel(1));
  }
  double Iz = 1.0 / (d.N * ybar * (1 - ybar));
  EXPECT_NEAR(o.Iz[0][0], Iz, rel(Iz));
}

// Two columns at given coefficients: mu, v and the closed-form inverse of the
// 2 x 2 information sum v [1 t; t t^2].
TEST(NullModelBinary, GivenCoefficientsAgainstClosedForm) {
  Data d(kYBin, {{0.5, -1, 2, 0.1, -0.3, 1.5, 0.7, -2}});
  Out o(d.N, 2);
  double gamma[2] = {-0.4, 0.9};
  score_yz_gamma(d.N, 2, d.y, d.z, gamma, o.centerY, o.v, o.Iz);
  double a = 0, b = 0, c = 0;
  for (int i = 0; i < d.N; i++) {
    double t = d.z[i][1];
    double mu = 1.0 / (1.0 + std::exp(-(gamma[0] + gamma[1] * t)));
    double v = mu * (1 - mu);
    EXPECT_NEAR(o.v[i], v, rel(v));
    EXPECT_NEAR(o.centerY[i], kYBin[i] - mu, rel(1));
    a += v;
    b += v * t;
    c += v * t * t;
  }
  double det = a * c - b * b;
  EXPECT_NEAR(o.Iz[0][0], c / det, rel(c / det));
  EXPECT_NEAR(o.Iz[0][1], -b / det, rel(b / det));
  EXPECT_NEAR(o.Iz[1][0], -b / det, rel(b / det));
  EXPECT_NEAR(o.Iz[1][1], a / det, rel(a / det));
}

// Linear predictors above log(DBL_MAX) (about 709.78) overflow exp(eta); the
// probabilities and variances come out finite and equal to their values
// through exp(-eta). Below that the formulas in exp(eta) are kept as they
// are, including their 0 variance once (1 + e)^2 overflows.
TEST(NullModelBinary, LargeLinearPredictorIsFinite) {
  const double overflow = std::log(std::numeric_limits<double>::max());
  const std::vector<double> eta = {-1, 0, 1, 2, 400, 709, 709.5, 709.79, 710, 730, 745, 800, -800, 1e4};
  std::vector<double> y = {0, 1, 0, 1, 1, 1, 0, 1, 1, 1, 0, 1, 0, 1};
  Data d(y, {eta});
  Out o(d.N, 2);
  double gamma[2] = {0.0, 1.0};
  score_yz_gamma(d.N, 2, d.y, d.z, gamma, o.centerY, o.v, o.Iz);
  double a = 0, b = 0, c = 0;
  for (int i = 0; i < d.N; i++) {
    SCOPED_TRACE(eta[i]);
    double t = std::exp(-std::fabs(eta[i]));
    double v = t / ((1 + t) * (1 + t));
    double mu = eta[i] > 0 ? 1 / (1 + t) : t / (1 + t);
    ASSERT_TRUE(std::isfinite(o.v[i]));
    ASSERT_TRUE(std::isfinite(o.centerY[i]));
    if (eta[i] > overflow) {
      // Relative accuracy also in the subnormal range; exp(-745) is the last
      // value above 0.
      EXPECT_NEAR(o.v[i], v, 1e-6 * v) << o.v[i];
    } else if (eta[i] > 355) {
      double e = std::exp(eta[i]);
      EXPECT_EQ(o.v[i], e / ((1 + e) * (1 + e)));  // 0, not a value below 1e-154
      EXPECT_EQ(o.v[i], 0.0);
    } else {
      EXPECT_NEAR(o.v[i], v, rel(v) * v);
    }
    EXPECT_NEAR(o.centerY[i], y[i] - mu, rel(1));
    a += o.v[i];
    b += o.v[i] * eta[i];
    c += o.v[i] * eta[i] * eta[i];
  }
  // The subjects of moderate eta carry the information.
  double det = a * c - b * b;
  EXPECT_NEAR(o.Iz[1][1], a / det, 1e-12 * a / det);
  EXPECT_TRUE(std::isfinite(o.Iz[0][0]));
}

// Intercept only: p_null fits the logit of the trait mean, so every fitted
// probability is the mean.
TEST(NullModelBinary, FittedProbabilitiesInterceptOnly) {
  Data d(kYBin, {});
  Out o(d.N, 1);
  p_null(d.N, 1, d.y, d.z, o.pY);
  for (int i = 0; i < d.N; i++) EXPECT_NEAR(o.pY[i], 3.0 / 8.0, tol::kTight);
}

// With covariates the fitted probabilities solve the score equations of the
// logistic likelihood: sum (y - p) z_d = 0 for every column.
TEST(NullModelBinary, FittedProbabilitiesSolveScoreEquations) {
  std::vector<double> y = {1, 0, 0, 1, 0, 1, 0, 1, 1, 0};
  Data d(y, {{0.5, -1, 2, 0.1, -0.3, 1.5, 0.7, -2, 0.4, 1.2}, {1, 0, 1, 1, 0, 0, 1, 0, 1, 0}});
  Out o(d.N, 3);
  p_null(d.N, 3, d.y, d.z, o.pY);
  for (int k = 0; k < 3; k++) {
    double s = 0;
    for (int i = 0; i < d.N; i++) {
      EXPECT_GT(o.pY[i], 0.0);
      EXPECT_LT(o.pY[i], 1.0);
      s += (y[i] - o.pY[i]) * d.z[i][k];
    }
    EXPECT_NEAR(s, 0.0, 1e-6) << "column " << k;  // Newton stops at a relative likelihood change of 1e-8
  }
}

TEST(NullModelQuantitative, InterceptOnlyClosedForm) {
  Data d(kYQuan, {});
  Out o(d.N, 1);
  score_yz_quanTrait(d.N, 1, d.y, d.z, o.centerY, &o.SigmaSQ, o.Iz);
  double ybar = 0;
  for (double y : kYQuan) ybar += y;
  ybar /= d.N;
  double ss = 0;
  for (int i = 0; i < d.N; i++) {
    EXPECT_NEAR(o.centerY[i], kYQuan[i] - ybar, rel(ybar));
    ss += (kYQuan[i] - ybar) * (kYQuan[i] - ybar);
  }
  EXPECT_NEAR(o.SigmaSQ, ss / d.N, rel(ss / d.N));
  EXPECT_NEAR(o.Iz[0][0], 1.0 / d.N, tol::kRounding);
}

// Simple regression in centred form: slope Sty/Stt, intercept ybar - slope tbar,
// residual variance RSS / N, and the inverse of [N sum t; sum t sum t^2].
TEST(NullModelQuantitative, SimpleRegressionClosedForm) {
  Data d(kYQuan, {kT});
  Out o(d.N, 2);
  score_yz_quanTrait(d.N, 2, d.y, d.z, o.centerY, &o.SigmaSQ, o.Iz);
  double tbar = 0, ybar = 0, st = 0, stt = 0;
  for (int i = 0; i < d.N; i++) {
    tbar += kT[i] / d.N;
    ybar += kYQuan[i] / d.N;
    st += kT[i];
    stt += kT[i] * kT[i];
  }
  double Stt = 0, Sty = 0;
  for (int i = 0; i < d.N; i++) {
    Stt += (kT[i] - tbar) * (kT[i] - tbar);
    Sty += (kT[i] - tbar) * (kYQuan[i] - ybar);
  }
  double slope = Sty / Stt, icpt = ybar - slope * tbar, rss = 0;
  for (int i = 0; i < d.N; i++) {
    double r = kYQuan[i] - icpt - slope * kT[i];
    EXPECT_NEAR(o.centerY[i], r, tol::kTight * 10);
    rss += r * r;
  }
  EXPECT_NEAR(o.SigmaSQ, rss / d.N, rel(rss / d.N) * 10);
  double det = d.N * stt - st * st;
  EXPECT_NEAR(o.Iz[0][0], stt / det, rel(stt / det));
  EXPECT_NEAR(o.Iz[0][1], -st / det, rel(st / det));
  EXPECT_NEAR(o.Iz[1][1], d.N / det, rel(d.N / det));
}

// Three columns: residuals orthogonal to every column, fitted values in the
// column space, and Iz the inverse of Z'Z.
TEST(NullModelQuantitative, NormalEquationsThreeColumns) {
  Data d(kYQuan, {kT, kU});
  Out o(d.N, 3);
  score_yz_quanTrait(d.N, 3, d.y, d.z, o.centerY, &o.SigmaSQ, o.Iz);
  double ss = 0;
  for (int i = 0; i < d.N; i++) ss += o.centerY[i] * o.centerY[i];
  EXPECT_NEAR(o.SigmaSQ, ss / d.N, tol::kRounding * 10);
  for (int k = 0; k < 3; k++) {
    double s = 0;
    for (int i = 0; i < d.N; i++) s += o.centerY[i] * d.z[i][k];
    EXPECT_NEAR(s, 0.0, tol::kClose) << "column " << k;
    for (int m = 0; m < 3; m++) {
      double p = 0;
      for (int l = 0; l < 3; l++) {
        double zz = 0;
        for (int i = 0; i < d.N; i++) zz += d.z[i][l] * d.z[i][m];
        p += o.Iz[k][l] * zz;
      }
      EXPECT_NEAR(p, k == m ? 1.0 : 0.0, tol::kTight * 10) << k << "," << m;
    }
  }
}

// The given-coefficient routine with the fit's own coefficients reproduces
// its residuals and residual variance exactly, and leaves Iz alone.
TEST(NullModelQuantitative, GivenCoefficientsReproduceFit) {
  Data d(kYQuan, {kT, kU});
  Out o(d.N, 3), g(d.N, 3);
  score_yz_quanTrait(d.N, 3, d.y, d.z, o.centerY, &o.SigmaSQ, o.Iz);
  double gamma[3];
  std::vector<double> YZ(3, 0.0);
  for (int i = 0; i < d.N; i++)
    for (int k = 0; k < 3; k++) YZ[k] += d.y[i] * d.z[i][k];
  for (int k = 0; k < 3; k++) {
    gamma[k] = 0;
    for (int m = 0; m < 3; m++) gamma[k] += o.Iz[k][m] * YZ[m];
  }
  for (int k = 0; k < 3; k++)
    for (int m = 0; m < 3; m++) g.Iz[k][m] = 42.0;
  score_yz_quanTrait_gamma(d.N, 3, d.y, d.z, gamma, g.centerY, &g.SigmaSQ);
  for (int i = 0; i < d.N; i++) EXPECT_EQ(g.centerY[i], o.centerY[i]);
  EXPECT_EQ(g.SigmaSQ, o.SigmaSQ);
  for (int k = 0; k < 3; k++)
    for (int m = 0; m < 3; m++) EXPECT_EQ(g.Iz[k][m], 42.0);
}

TEST(NullModelQuantitative, LinearResidualMatchesFit) {
  Data d(kYQuan, {kT, kU});
  Out o(d.N, 3);
  score_yz_quanTrait(d.N, 3, d.y, d.z, o.centerY, &o.SigmaSQ, o.Iz);
  linearResidual(d.N, 3, d.y, d.z, o.ry);
  for (int i = 0; i < d.N; i++) EXPECT_NEAR(o.ry[i], o.centerY[i], tol::kTight * 10);
}

}  // namespace
