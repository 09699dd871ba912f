// Score statistic of one burden score against closed forms: the weighted
// residual sum of squares of S on the design (a simple regression for two
// columns) and the intercept-only variance.
#include "stats/score.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "numeric/arrays.h"
#include "tests/support/tolerances.h"

namespace {

// A small null model held in index-range arrays: design [1, t] (D = 2) or
// [1] (D = 1), arbitrary residuals and variances, and Iz from the closed-form
// inverse of sum w z z' (w = v, or 1 for a quantitative trait).
struct Fixture {
  int N, D;
  double **z, **Iz;
  double *centerY, *v, *SZ;
  std::vector<double> t;

  Fixture(int D_, const std::vector<double> &t_, const std::vector<double> &r,
          const std::vector<double> &w)
      : N(static_cast<int>(t_.size())), D(D_), t(t_) {
    z = dmatrix(0, N - 1, 0, D - 1);
    Iz = dmatrix(0, D - 1, 0, D - 1);
    centerY = dvector(0, N - 1);
    v = dvector(0, N - 1);
    SZ = dvector(0, D - 1);
    double s0 = 0, s1 = 0, s2 = 0;
    for (int i = 0; i < N; i++) {
      z[i][0] = 1.0;
      if (D == 2) z[i][1] = t[i];
      centerY[i] = r[i];
      v[i] = w[i];
      s0 += w[i];
      s1 += w[i] * t[i];
      s2 += w[i] * t[i] * t[i];
    }
    if (D == 1) {
      Iz[0][0] = 1.0 / s0;
    } else {
      double det = s0 * s2 - s1 * s1;
      Iz[0][0] = s2 / det;
      Iz[0][1] = Iz[1][0] = -s1 / det;
      Iz[1][1] = s0 / det;
    }
  }
  ~Fixture() {
    free_dvector(SZ, 0, D - 1);
    free_dvector(v, 0, N - 1);
    free_dvector(centerY, 0, N - 1);
    free_dmatrix(Iz, 0, D - 1, 0, D - 1);
    free_dmatrix(z, 0, N - 1, 0, D - 1);
  }

  // Weighted residual sum of squares of S regressed on the design: about the
  // weighted mean (D = 1), or minus the explained part of the slope (D = 2).
  double residual_ss(const std::vector<double> &S, const std::vector<double> &w) const {
    double sw = 0, ms = 0, mt = 0;
    for (int i = 0; i < N; i++) {
      sw += w[i];
      ms += w[i] * S[i];
      mt += w[i] * t[i];
    }
    ms /= sw;
    mt /= sw;
    double sss = 0, sst = 0, sts = 0;
    for (int i = 0; i < N; i++) {
      sss += w[i] * (S[i] - ms) * (S[i] - ms);
      sst += w[i] * (t[i] - mt) * (t[i] - mt);
      sts += w[i] * (t[i] - mt) * (S[i] - ms);
    }
    return D == 1 ? sss : sss - sts * sts / sst;
  }
};

const std::vector<double> kT = {0.3, -1.2, 2.5, 0.0, 1.1, -0.4, 0.8};
const std::vector<double> kR = {0.6, -0.3, 0.45, -0.8, 0.2, -0.15, 0.7};
const std::vector<double> kV = {0.24, 0.21, 0.16, 0.25, 0.09, 0.1875, 0.2};
const std::vector<double> kOnes(7, 1.0);

struct ScoreCase {
  const char *name;
  int D;
  std::vector<double> S;
};

const std::vector<ScoreCase> kScores = {
    {"burden_D1", 1, {1, 0, 0, 2, 0, 1, 0}},
    {"burden_D2", 2, {1, 0, 0, 2, 0, 1, 0}},
    {"fractional_D2", 2, {0.19, 0, 1, 0.01, 0, 0.4375, 1}},
    {"signed_D1", 1, {-1.5, 2, 0.25, 0, 3, -0.5, 1}},
};

TEST(ScoreStat, BinaryAgainstWeightedResidualSumOfSquares) {
  for (const auto &c : kScores) {
    SCOPED_TRACE(c.name);
    Fixture f(c.D, kT, kR, kV);
    std::vector<double> S = c.S;
    double U = 0, V = 0;
    double Z = score_stat(f.N, f.D, nullptr, S.data(), f.z, f.centerY, f.v, f.Iz, f.SZ, &U, &V);
    double U_expect = 0;
    for (int i = 0; i < f.N; i++) U_expect += S[i] * kR[i];
    double V_expect = f.residual_ss(S, kV);
    EXPECT_NEAR(U, U_expect, tol::kTight);
    EXPECT_NEAR(V, V_expect, tol::kTight * V_expect);
    EXPECT_NEAR(Z, U_expect / std::sqrt(V_expect), tol::kTight);
    // SZ holds the v-weighted projection of S on the design.
    double sz0 = 0;
    for (int i = 0; i < f.N; i++) sz0 += kV[i] * S[i];
    EXPECT_NEAR(f.SZ[0], sz0, tol::kRounding * 10);
  }
}

TEST(ScoreStat, QuantitativeAgainstResidualSumOfSquares) {
  const double SigmaSQ = 0.37;
  for (const auto &c : kScores) {
    SCOPED_TRACE(c.name);
    Fixture f(c.D, kT, kR, kOnes);
    std::vector<double> S = c.S;
    double U = 0, V = 0;
    double Z = score_stat_quanTrait(f.N, f.D, nullptr, S.data(), f.z, f.centerY, SigmaSQ, f.Iz,
                                    f.SZ, &U, &V);
    double U_raw = 0;
    for (int i = 0; i < f.N; i++) U_raw += S[i] * kR[i];
    double rss = f.residual_ss(S, kOnes);
    EXPECT_NEAR(U, U_raw / SigmaSQ, tol::kTight);
    EXPECT_NEAR(V, rss / SigmaSQ, tol::kTight * rss / SigmaSQ);
    EXPECT_NEAR(Z, U_raw / std::sqrt(rss * SigmaSQ), tol::kTight);
    EXPECT_NEAR(Z, U / std::sqrt(V), tol::kTight);
  }
}

// D = 1, binary: Vq = (sum v S)^2 Iz[0][0], so V is the v-weighted variance of
// S about its v-weighted mean.
TEST(ScoreStat, InterceptOnlyBinaryIsWeightedVariance) {
  Fixture f(1, kT, kR, kV);
  std::vector<double> S = {2, 1, 0, 0, 1, 0, 3};
  double U, V;
  score_stat(f.N, 1, nullptr, S.data(), f.z, f.centerY, f.v, f.Iz, f.SZ, &U, &V);
  double sw = 0, swS = 0, swS2 = 0;
  for (int i = 0; i < f.N; i++) {
    sw += kV[i];
    swS += kV[i] * S[i];
    swS2 += kV[i] * S[i] * S[i];
  }
  EXPECT_NEAR(V, swS2 - swS * swS / sw, tol::kTight);
}

TEST(ScoreStat, ZeroScoreGivesZeroVarianceAndNaN) {
  for (int D = 1; D <= 2; D++) {
    Fixture f(D, kT, kR, kV);
    std::vector<double> S(7, 0.0);
    double U = 1, V = 1;
    double Z = score_stat(f.N, D, nullptr, S.data(), f.z, f.centerY, f.v, f.Iz, f.SZ, &U, &V);
    EXPECT_EQ(U, 0.0);
    EXPECT_EQ(V, 0.0);
    EXPECT_TRUE(std::isnan(Z));
    U = V = 1;
    Z = score_stat_quanTrait(f.N, D, nullptr, S.data(), f.z, f.centerY, 0.5, f.Iz, f.SZ, &U, &V);
    EXPECT_EQ(U, 0.0);
    EXPECT_EQ(V, 0.0);
    EXPECT_TRUE(std::isnan(Z));
  }
}

// A score equal to the covariate column is fully collinear: V is 0 up to
// rounding and Z is not a usable statistic.
TEST(ScoreStat, CollinearScoreHasNoVariance) {
  Fixture f(2, kT, kR, kV);
  std::vector<double> S = kT;
  double U, V;
  score_stat(f.N, 2, nullptr, S.data(), f.z, f.centerY, f.v, f.Iz, f.SZ, &U, &V);
  EXPECT_NEAR(V, 0.0, tol::kTight);
}

TEST(ScoreStat, DoublingResidualVarianceHalvesUAndV) {
  Fixture f(2, kT, kR, kOnes);
  std::vector<double> S = kScores[2].S;
  double U1, V1, U2, V2;
  double Z1 = score_stat_quanTrait(f.N, 2, nullptr, S.data(), f.z, f.centerY, 0.8, f.Iz, f.SZ,
                                   &U1, &V1);
  double Z2 = score_stat_quanTrait(f.N, 2, nullptr, S.data(), f.z, f.centerY, 1.6, f.Iz, f.SZ,
                                   &U2, &V2);
  EXPECT_NEAR(U2, U1 / 2, tol::kRounding * std::fabs(U1));
  EXPECT_NEAR(V2, V1 / 2, tol::kRounding * V1);
  EXPECT_NEAR(Z2, Z1 / std::sqrt(2.0), tol::kRounding * 4 * std::fabs(Z1));
}

// The trait argument is not read: any array, even a permuted or NaN one,
// gives bit-identical results.
TEST(ScoreStat, TraitIsNotRead) {
  Fixture f(2, kT, kR, kV);
  std::vector<double> S = kScores[1].S;
  std::vector<double> y1 = {1, 0, 0, 1, 0, 1, 0};
  std::vector<double> y2(7, std::numeric_limits<double>::quiet_NaN());
  double Ua, Va, Ub, Vb;
  double Za = score_stat(f.N, 2, y1.data(), S.data(), f.z, f.centerY, f.v, f.Iz, f.SZ, &Ua, &Va);
  double Zb = score_stat(f.N, 2, y2.data(), S.data(), f.z, f.centerY, f.v, f.Iz, f.SZ, &Ub, &Vb);
  EXPECT_TRUE(std::isfinite(Za));
  EXPECT_EQ(Za, Zb);
  EXPECT_EQ(Ua, Ub);
  EXPECT_EQ(Va, Vb);
  Fixture g(2, kT, kR, kOnes);
  Za = score_stat_quanTrait(g.N, 2, y1.data(), S.data(), g.z, g.centerY, 0.3, g.Iz, g.SZ, &Ua, &Va);
  Zb = score_stat_quanTrait(g.N, 2, y2.data(), S.data(), g.z, g.centerY, 0.3, g.Iz, g.SZ, &Ub, &Vb);
  EXPECT_TRUE(std::isfinite(Za));
  EXPECT_EQ(Za, Zb);
  EXPECT_EQ(Ua, Ub);
  EXPECT_EQ(Va, Vb);
}

}  // namespace
