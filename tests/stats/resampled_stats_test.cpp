// A gene's resampled statistics from its kept rows against the dense score
// statistic on the same null model, bit for bit: |Z| of sparse rows (with
// the variance part computed per null model, packed, or stored once when it
// is fixed), VT's maximum, SKAT's sum, and EREC's maximum (one null model at
// a time and a block side by side) against the larger dense |Z| of the two
// EREC rows of getS_opp / getS_opp_quan. Hand-made null models: the
// statistics only read them.
#include "stats/resampled_stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "numeric/arrays.h"
#include "stats/erec.h"
#include "stats/score.h"

namespace {

bool same_double(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

const int kN = 41, kM = 5, kNulls = 3;

struct StatsCase {
  const char *name;
  bool binary;
  int D;        // design columns (intercept first)
  bool packed;  // binary: the null model also packed by subject
};
void PrintTo(const StatsCase &c, std::ostream *os) { *os << c.name; }

// A design, kNulls null models of one trait (binary 0/1, or quantitative)
// and a gene of kM variants (one above the frequency bound, missing values
// in x0 imputed in x).
struct Fixture {
  ResampleDesign d;
  double **z, **Iz, **x0, **x, **S_opp;
  std::vector<double> v_fixed, maf;
  double **Iz_fixed;
  std::vector<std::vector<double>> permY, centerY, v, ycenter, packed;
  ResampleNull nulls[kNulls];

  explicit Fixture(const StatsCase &c) {
    const int N = kN, D = c.D;
    d.N = N;
    d.D = D;
    d.binary = c.binary;
    d.DELTA = 1.0;
    z = dmatrix(0, N - 1, 0, D - 1);
    Iz = dmatrix(0, D - 1, 0, D - 1);
    Iz_fixed = dmatrix(0, 0, 0, 0);
    x0 = dmatrix(0, N - 1, 0, kM - 1);
    x = dmatrix(0, N - 1, 0, kM - 1);
    S_opp = dmatrix(0, 1, 0, N - 1);
    for (int i = 0; i < N; i++) {
      z[i][0] = 1;
      for (int k = 1; k < D; k++) z[i][k] = std::sin(0.3 * i + k);
      for (int j = 0; j < kM; j++) {
        const bool carrier = (i + 3 * j) % (4 + j) == 0;
        const bool missing = j == 2 && i % 13 == 5;
        x0[i][j] = missing ? -1 : carrier ? 1 + (i % 7 == 0) : 0;
        x[i][j] = missing ? 0.125 : x0[i][j];
      }
    }
    for (int a = 0; a < D; a++)
      for (int b = 0; b < D; b++) Iz[a][b] = a == b ? 0.04 + 0.01 * a : 0.003;
    Iz_fixed[0][0] = 0.045;
    maf = {0.01, 0.02, 0.03, 0.2, 0.04};  // variant 3 above the bound
    v_fixed.assign(N, 0.21);
    // Binary without covariates: every null model's variance part is the
    // fixed one; a quantitative trait's always is.
    d.fixed_variance = !c.binary || D == 1;
    d.z = z;
    d.Iz = Iz;
    if (c.binary && D == 1) {
      d.v_fixed = v_fixed.data();
      d.Iz_fixed = Iz_fixed;
    }
    permY.resize(kNulls), centerY.resize(kNulls), v.resize(kNulls);
    ycenter.resize(kNulls), packed.resize(kNulls);
    for (int s = 0; s < kNulls; s++) {
      ResampleNull &r = nulls[s];
      double sum = 0;
      for (int i = 0; i < N; i++) {
        const double y = c.binary ? (double)((i * (s + 2) + s) % 3 == 0)
                                  : std::cos(0.7 * i + s) + 0.05 * i;
        permY[s].push_back(y);
        centerY[s].push_back(y - (c.binary ? 0.35 : 0.1 * s) - 0.01 * std::sin(i));
        v[s].push_back(0.2 + 0.002 * ((i + s) % 9));
        sum += y;
      }
      for (int i = 0; i < N; i++) ycenter[s].push_back(permY[s][i] - sum / N);
      r.permY = permY[s].data();
      r.centerY = centerY[s].data();
      r.sum_y = sum;
      r.ycenter = ycenter[s].data();
      if (c.binary) {
        r.v = d.fixed_variance ? d.v_fixed : v[s].data();
        r.Iz = d.fixed_variance ? Iz_fixed : Iz;
        if (c.packed) {
          for (int i = 0; i < N; i++) {
            packed[s].push_back(r.centerY[i]);
            packed[s].push_back(r.v[i]);
            for (int k = 1; k < D; k++) packed[s].push_back(z[i][k]);
          }
          r.packed = packed[s].data();
        }
      } else {
        r.Iz = Iz;
        r.SigmaSQ = 0.8 + 0.1 * s;
      }
    }
  }
  ~Fixture() {
    free_dmatrix(z, 0, kN - 1, 0, d.D - 1);
    free_dmatrix(Iz, 0, d.D - 1, 0, d.D - 1);
    free_dmatrix(Iz_fixed, 0, 0, 0, 0);
    free_dmatrix(x0, 0, kN - 1, 0, kM - 1);
    free_dmatrix(x, 0, kN - 1, 0, kM - 1);
    free_dmatrix(S_opp, 0, 1, 0, kN - 1);
  }
};

// Score rows: a burden-like row, a dosage row with a negative entry, and a
// row of one carrier.
std::vector<std::vector<double>> score_rows() {
  std::vector<std::vector<double>> rows(3, std::vector<double>(kN, 0.0));
  for (int i = 0; i < kN; i++) {
    rows[0][i] = i % 4 == 1 ? 1 : (i % 9 == 2 ? 2 : 0);
    rows[1][i] = i % 5 == 0 ? 0.5 : (i % 11 == 3 ? -0.25 : 0);
  }
  rows[2][17] = 1;
  return rows;
}

class ResampledStats : public ::testing::TestWithParam<StatsCase> {};

TEST_P(ResampledStats, KeptRowsGiveTheDenseStatistics) {
  Fixture f(GetParam());
  std::vector<std::vector<double>> dense = score_rows();
  ResampledRows g;
  std::vector<double> SZ((size_t)f.d.D);
  for (std::vector<double> &row : dense) {
    g.burden.add(row.data(), kN, false);
    g.vt.add(row.data(), kN, false);
    g.skat.add(row.data(), kN, false);
  }
  fill_fixed_variances(g.burden, f.d, SZ.data());
  fill_fixed_variances(g.vt, f.d, SZ.data());
  EXPECT_LT(g.burden.idx.size(), (size_t)(3 * kN));  // only the non-zero entries kept
  g.weight_skat = {0.5, 2.0, 1.25};
  EvalWork w;
  w.SZ.assign((size_t)f.d.D, 0.0);
  for (int s = 0; s < kNulls; s++) {
    const ResampleNull &r = f.nulls[s];
    double want[3];
    for (int q = 0; q < 3; q++) {
      want[q] = dense_abs_z(f.d, r, dense[q].data(), SZ.data());
      EXPECT_TRUE(std::isfinite(want[q]));
      EXPECT_TRUE(same_double(resampled_statistic(g, q, f.d, r, w), want[q])) << s << " " << q;
    }
    double *rows[3] = {dense[0].data(), dense[1].data(), dense[2].data()};
    const double vt = largest_abs_z(f.d, r, rows, 3, SZ.data());
    EXPECT_EQ(vt, std::max(want[0], std::max(want[1], want[2])));
    EXPECT_TRUE(same_double(resampled_statistic(g, kTestVT, f.d, r, w), vt)) << s;
    // SKAT: sum of w U^2, U by the dense score statistic (quantitative: its
    // U / SigmaSQ).
    double Q = 0;
    for (int j = 0; j < 3; j++) {
      double U, V;
      if (f.d.binary)
        score_stat(kN, f.d.D, r.permY, dense[j].data(), f.z, r.centerY, r.v, r.Iz, SZ.data(), &U,
                   &V);
      else
        score_stat_quanTrait(kN, f.d.D, r.permY, dense[j].data(), f.z, r.centerY, r.SigmaSQ,
                             r.Iz, SZ.data(), &U, &V);
      Q += U * U * g.weight_skat[j];
    }
    EXPECT_TRUE(same_double(resampled_statistic(g, kTestSKAT, f.d, r, w), Q)) << s;
  }
  // A null model that is not finite gives NaN.
  ResampleNull bad = f.nulls[0];
  bad.finite = false;
  EXPECT_TRUE(std::isnan(resampled_statistic(g, 0, f.d, bad, w)));
}

TEST_P(ResampledStats, ErecOneAtATimeAndSideBySideGiveTheDenseRows) {
  Fixture f(GetParam());
  const double MAF_UB = 0.05;
  ResampledRows g;
  g.erec_on = true;
  build_erec_rows(f.d, kM, f.x, f.x0, f.maf.data(), MAF_UB, false, g.erec);
  EXPECT_EQ(g.erec.act.size(), (size_t)(kM - 1));
  EvalWork w;
  w.SZ.assign((size_t)f.d.D, 0.0);
  w.fit(kM, g.erec.subj.size());
  std::vector<double> SZ((size_t)f.d.D);
  const ResampleNull *block[kNulls] = {&f.nulls[0], &f.nulls[1], &f.nulls[2]};
  erec_block_lanes(f.d, block, kNulls, w);
  double T[kNulls];
  erec_block_statistics(g.erec, f.d, block, kNulls, w, T);
  for (int s = 0; s < kNulls; s++) {
    const ResampleNull &r = f.nulls[s];
    if (f.d.binary)
      getS_opp(kN, kM, r.permY, f.x0, f.x, f.S_opp, f.maf.data(), MAF_UB, f.d.DELTA);
    else
      getS_opp_quan(kN, kM, r.permY, f.x, f.S_opp, f.maf.data(), MAF_UB, f.d.DELTA);
    const double Z0 = dense_abs_z(f.d, r, f.S_opp[0], SZ.data());
    const double Z1 = dense_abs_z(f.d, r, f.S_opp[1], SZ.data());
    const double want = Z1 > Z0 ? Z1 : Z0;
    EXPECT_TRUE(std::isfinite(want));
    EXPECT_TRUE(same_double(resampled_statistic(g, kTestEREC, f.d, r, w), want)) << s;
    EXPECT_TRUE(same_double(T[s], want)) << s;
  }
}

const StatsCase kCases[] = {
    {"BinaryWithCovariatePacked", true, 2, true},
    {"BinaryWithCovariate", true, 2, false},
    {"BinaryInterceptOnlyFixedVariance", true, 1, true},
    {"QuantitativeWithCovariate", false, 2, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, ResampledStats, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<StatsCase> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace
