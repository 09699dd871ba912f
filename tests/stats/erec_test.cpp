// EREC scores against their worked examples (2 x 2 tables, clamping,
// opposite rows, a variant above the frequency bound, missing genotypes),
// the quantitative slopes against a closed form, and the sparse score
// sums of resampling against the dense score statistic, bit for bit.
#include "stats/erec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "numeric/arrays.h"
#include "stats/score.h"

namespace {

// Genotypes held as index-range matrices, filled column by column.
struct Gene {
  int N, M;
  double **x0, **x, **S;
  Gene(const std::vector<std::vector<double>> &cols0, const std::vector<std::vector<double>> &cols)
      : N((int)cols[0].size()), M((int)cols.size()) {
    x0 = dmatrix(0, N - 1, 0, M - 1);
    x = dmatrix(0, N - 1, 0, M - 1);
    S = dmatrix(0, 1, 0, N - 1);
    for (int j = 0; j < M; j++)
      for (int i = 0; i < N; i++) {
        x0[i][j] = cols0[j][i];
        x[i][j] = cols[j][i];
      }
  }
  ~Gene() {
    free_dmatrix(x0, 0, N - 1, 0, M - 1);
    free_dmatrix(x, 0, N - 1, 0, M - 1);
    free_dmatrix(S, 0, 1, 0, N - 1);
  }
};

struct TableCase {
  const char *name;
  std::vector<double> y, g;  // one variant; g < 0 missing
  double b;                  // expected effect after clamping
};
void PrintTo(const TableCase &c, std::ostream *os) { *os << c.name; }

class ErecTable : public ::testing::TestWithParam<TableCase> {};

TEST_P(ErecTable, EffectAndRows) {
  const TableCase &c = GetParam();
  std::vector<double> gx = c.g;
  for (double &v : gx)
    if (v < 0) v = 0.25;  // an imputed value: enters the scores, not the table
  Gene gene({c.g}, {gx});
  double maf = 0.01;
  const double delta = 1.0;
  getS_opp(gene.N, 1, const_cast<double *>(c.y.data()), gene.x0, gene.x, gene.S, &maf, 0.05,
           delta);
  for (int i = 0; i < gene.N; i++) {
    EXPECT_DOUBLE_EQ(gene.S[0][i], gx[i] * (c.b + delta)) << i;
    EXPECT_DOUBLE_EQ(gene.S[1][i], gx[i] * (c.b - delta)) << i;
  }
}

// Cases-only variant: 5 carrier cases, 10 non-carrier controls, OR = 6 x 11
// = 66, ln 66 = 4.19 clamped to 3 (weights 4 and 2). One carrier case, one
// carrier control, one non-carrier case and one non-carrier control give
// OR = 1: rows of opposite sign. Missing subjects leave the table.
const TableCase kTables[] = {
    {"CasesOnlyClampedTo3", {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     {1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 3.0},
    {"ControlsOnlyClampedToMinus3", {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
     {2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, -3.0},
    {"OddsRatioOneOppositeRows", {1, 0, 1, 0}, {1, 1, 0, 0}, 0.0},
    {"MissingLeaveTheTable", {1, 0, 1, 0, 1, 1}, {1, 1, 0, 0, -1, -1}, 0.0},
    {"UnclampedLogOdds", {1, 1, 0, 1, 0, 0}, {1, 1, 1, 0, 0, 0}, std::log(3.0 * 3.0 / (2.0 * 2.0))},
};

INSTANTIATE_TEST_SUITE_P(Cases, ErecTable, ::testing::ValuesIn(kTables),
                         [](const ::testing::TestParamInfo<TableCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(ErecScores, VariantAboveTheBoundContributesNothing) {
  Gene gene({{1, 0, 1, 0}, {0, 1, 1, 0}}, {{1, 0, 1, 0}, {0, 1, 1, 0}});
  std::vector<double> y = {1, 0, 1, 0};
  double maf[2] = {0.01, 0.2};
  getS_opp(4, 2, y.data(), gene.x0, gene.x, gene.S, maf, 0.05, 1.0);
  // Variant 0 alone: 2 carrier cases, 2 non-carrier controls: OR = 9, b = ln 9.
  const double b = std::log(9.0);
  const double expect0[4] = {b + 1, 0, b + 1, 0}, expect1[4] = {b - 1, 0, b - 1, 0};
  for (int i = 0; i < 4; i++) {
    EXPECT_DOUBLE_EQ(gene.S[0][i], expect0[i]);
    EXPECT_DOUBLE_EQ(gene.S[1][i], expect1[i]);
  }
}

TEST(ErecScores, QuantitativeSlopesClampedAndConstantColumnNaN) {
  // Slope of y on x: cov / var by the closed form; 10 x the variant gives a
  // slope above 3 for the second variant.
  std::vector<double> y = {0.5, -1.0, 2.0, 0.0, 1.5};
  std::vector<double> x1 = {0, 1, 2, 0, 1}, x2 = {0, 0, 0.2, 0, 0};
  Gene gene({x1, x2}, {x1, x2});
  double maf[2] = {0.01, 0.01};
  getS_opp_quan(5, 2, y.data(), gene.x, gene.S, maf, 0.05, 2.0);
  auto slope = [&](const std::vector<double> &x) {
    double my = 0, mx = 0, sxy = 0, sxx = 0;
    for (int i = 0; i < 5; i++) my += y[i] / 5, mx += x[i] / 5;
    for (int i = 0; i < 5; i++) sxy += (y[i] - my) * (x[i] - mx), sxx += (x[i] - mx) * (x[i] - mx);
    return sxy / sxx;
  };
  const double b1 = slope(x1), b2 = slope(x2);
  ASSERT_GT(b2, 3.0);
  for (int i = 0; i < 5; i++) {
    EXPECT_NEAR(gene.S[0][i], x1[i] * (b1 + 2) + x2[i] * (3 + 2), 1e-13);
    EXPECT_NEAR(gene.S[1][i], x1[i] * (b1 - 2) + x2[i] * (3 - 2), 1e-13);
  }
  // A constant column: 0/0, the clamping keeps the NaN, and every value of
  // both rows is NaN.
  std::vector<double> xc = {1, 1, 1, 1, 1};
  Gene constant({x1, xc}, {x1, xc});
  getS_opp_quan(5, 2, y.data(), constant.x, constant.S, maf, 0.05, 2.0);
  for (int i = 0; i < 5; i++) {
    EXPECT_TRUE(std::isnan(constant.S[0][i]));
    EXPECT_TRUE(std::isnan(constant.S[1][i]));
  }
}

TEST(ErecClamp, BoundsAndNaN) {
  EXPECT_EQ(erec_clamp(4.19), 3.0);
  EXPECT_EQ(erec_clamp(-7.0), -3.0);
  EXPECT_EQ(erec_clamp(INFINITY), 3.0);
  EXPECT_EQ(erec_clamp(-2.5), -2.5);
  EXPECT_TRUE(std::isnan(erec_clamp(NAN)));
}

// A random gene for the quantitative slopes under resampling: rare 0/1/2
// genotypes, missing ones imputed with a fraction, some constant columns
// (all 0 or all 1: 0/0 slopes), some variants above the frequency bound.
struct SlopeGene {
  int N, M;
  std::vector<std::vector<double>> x;  // [N][M]
  std::vector<double> maf;
  // The subject rows as the resampling builds them.
  std::vector<int> subj, sstart{0}, svar, pos, act;
  std::vector<double> sx, avg_x, V, nd;
  SlopeGene(int N_, int M_, std::mt19937_64 &rng, bool every_subject)
      : N(N_), M(M_), x((size_t)N_, std::vector<double>((size_t)M_, 0.0)), maf((size_t)M_, 0.01) {
    std::uniform_real_distribution<double> u(0, 1);
    for (int j = 0; j < M; j++) {
      const int kind = (int)(rng() % 10);
      const double rate = kind < 3 ? 0.002 : kind < 7 ? 0.02 : 0.2;
      for (int i = 0; i < N; i++) {
        if (kind == 9) {
          x[i][j] = j % 2 ? 1.0 : 0.0;  // constant
          continue;
        }
        const double r = u(rng);
        if (r < rate) x[i][j] = r < rate / 10 ? 2.0 : 1.0;
        else if (r > 0.99) x[i][j] = 2 * rate * (0.5 + u(rng));  // imputed missing
      }
      if (rng() % 6 == 0) maf[j] = 0.3;  // above the bound: inactive
    }
    pos.assign((size_t)M, -1);
    for (int j = 0; j < M; j++)
      if (!(maf[j] > 0.05)) pos[j] = (int)act.size(), act.push_back(j);
    for (int i = 0; i < N; i++) {
      bool any = false;
      for (int j = 0; j < M; j++)
        if (every_subject || x[i][j] != 0) svar.push_back(j), sx.push_back(x[i][j]), any = true;
      if (any) subj.push_back(i), sstart.push_back((int)svar.size());
    }
    avg_x.assign((size_t)M, 0.0);
    V.assign((size_t)M, 0.0);
    for (int j : act) {
      double sum = 0.0;
      for (int i = 0; i < N; i++) sum += x[i][j];
      avg_x[j] = sum / N;
      double v = 0.0;
      for (int i = 0; i < N; i++) v += (x[i][j] - avg_x[j]) * (x[i][j] - avg_x[j]);
      V[j] = v;
      nd.push_back(0.0 - avg_x[j]);
    }
  }
  ErecSubjectRows rows() const {
    ErecSubjectRows g;
    g.N = N;
    g.A = (int)act.size();
    g.n_subj = (int)subj.size();
    g.subj = subj.data();
    g.sstart = sstart.data();
    g.svar = svar.data();
    g.pos = pos.data();
    g.sx = sx.data();
    g.avg_x = avg_x.data();
    g.nd = nd.data();
    return g;
  }
};

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The slopes of kErecLanes resamples side by side equal the one-at-a-time
// sums bit for bit on every machine code this CPU runs, and both equal the
// dense slope of getS_opp_quan (its rows, NaN ones included): several
// subject counts, 0 to 30 active variants (tiles of 8 and remainders), a
// number of resamples that leaves the last block part full, and the
// every-subject layout of a non-finite design.
TEST(ErecQuanLanes, SameBitsAsOneAtATimeAndTheDenseSlopes) {
  std::mt19937_64 rng(19);
  std::normal_distribution<double> normal(0, 1);
  const int kSubjects[] = {1, 2, 9, 64, 701, 3001};
  const int kVariants[] = {1, 3, 8, 9, 17, 30};
  const ErecLaneCode kCodes[] = {ErecLaneCode::kBaseline, ErecLaneCode::kAvx2,
                                 ErecLaneCode::kAvx512};
  const int R = 13;  // one full block of lanes and one of 5
  int codes_run = 0, nan_slopes = 0, checked = 0;
  for (int N : kSubjects)
    for (int M : kVariants)
      for (int every = 0; every < 2; every++) {
        if (every && N > 701) continue;
        SlopeGene gene(N, M, rng, every == 1);
        const ErecSubjectRows g = gene.rows();
        const int A = g.A;
        ErecSlopeTiles tiles;
        erec_slope_tiles(g, tiles);
        std::vector<std::vector<double>> y((size_t)R, std::vector<double>((size_t)N));
        std::vector<std::vector<double>> yc = y;
        for (int r = 0; r < R; r++) {
          double sum = 0.0;
          for (int i = 0; i < N; i++) sum += y[r][i] = normal(rng) * (r + 1);
          const double avg = sum / N;
          for (int i = 0; i < N; i++) yc[r][i] = y[r][i] - avg;
        }
        std::vector<double> U1((size_t)A + 1), d((size_t)A + 1);
        std::vector<double> C((size_t)N * kErecLanes), UL((size_t)(A + 1) * kErecLanes);
        for (ErecLaneCode code : kCodes) {
          if (!erec_lane_code_available(code)) continue;
          codes_run++;
          for (int r0 = 0; r0 < R; r0 += kErecLanes) {
            const int nb = std::min(kErecLanes, R - r0);
            for (int i = 0; i < N; i++)
              for (int l = 0; l < kErecLanes; l++)
                C[(size_t)i * kErecLanes + l] = l < nb ? yc[r0 + l][i] : 1e300;
            erec_quan_numerators_lanes(tiles, C.data(), UL.data(), code);
            for (int l = 0; l < nb; l++) {
              erec_quan_numerators(g, yc[r0 + l].data(), U1.data(), d.data());
              for (int a = 0; a < A; a++) {
                ASSERT_TRUE(same_bits(U1[a], UL[(size_t)a * kErecLanes + l]))
                    << "N " << N << " M " << M << " every " << every << " code " << (int)code
                    << " resample " << r0 + l << " variant " << a;
                checked++;
              }
            }
          }
        }
        // The full chain against the dense code: weights clamp(U / V) +- delta
        // give getS_opp_quan's rows bit for bit.
        const double delta = 2.0;
        double **x = dmatrix(0, N - 1, 0, M - 1), **S = dmatrix(0, 1, 0, N - 1);
        for (int i = 0; i < N; i++)
          for (int j = 0; j < M; j++) x[i][j] = gene.x[i][j];
        for (int r = 0; r < R; r++) {
          getS_opp_quan(N, M, y[r].data(), x, S, gene.maf.data(), 0.05, delta);
          erec_quan_numerators(g, yc[r].data(), U1.data(), d.data());
          std::vector<double> w0((size_t)M, 0.0), w1((size_t)M, 0.0);
          for (int a = 0; a < A; a++) {
            const int j = gene.act[a];
            const double b = erec_clamp(U1[a] / gene.V[j]);
            if (std::isnan(b)) nan_slopes++;
            w0[j] = b + delta;
            w1[j] = b - delta;
          }
          for (int i = 0; i < N; i++) {
            double s0 = 0.0, s1 = 0.0;
            for (int j = 0; j < M; j++) s0 += x[i][j] * w0[j], s1 += x[i][j] * w1[j];
            ASSERT_TRUE(same_bits(s0, S[0][i]) || (std::isnan(s0) && std::isnan(S[0][i])))
                << N << " " << M << " " << i;
            ASSERT_TRUE(same_bits(s1, S[1][i]) || (std::isnan(s1) && std::isnan(S[1][i])));
          }
        }
        free_dmatrix(x, 0, N - 1, 0, M - 1);
        free_dmatrix(S, 0, 1, 0, N - 1);
      }
  EXPECT_GT(codes_run, 0);
  EXPECT_GT(nan_slopes, 0);  // constant columns and one-subject genes were met
  EXPECT_GT(checked, 0);
}

// Sparse score sums equal the dense score statistic bit for bit on rows of
// rare-variant shape (mostly exact zeros), for D = 1..5 and both traits.
TEST(SparseScore, SameBitsAsTheDenseStatistic) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int D = 1; D <= 5; D++) {
    const int N = 300;
    double **z = dmatrix(0, N - 1, 0, D - 1), **Iz = dmatrix(0, D - 1, 0, D - 1);
    double *centerY = dvector(0, N - 1), *v = dvector(0, N - 1), *S = dvector(0, N - 1);
    double *SZ = dvector(0, D - 1), *SZ2 = dvector(0, D - 1);
    for (int i = 0; i < N; i++) {
      z[i][0] = 1;
      for (int d = 1; d < D; d++) z[i][d] = u(rng);
      centerY[i] = u(rng);
      v[i] = 0.25 * std::fabs(u(rng));
    }
    for (int a = 0; a < D; a++)
      for (int b = 0; b < D; b++) Iz[a][b] = (a == b ? 0.01 : 0.001 * u(rng));
    for (int rep = 0; rep < 20; rep++) {
      std::vector<int> idx;
      std::vector<double> val;
      for (int i = 0; i < N; i++) {
        S[i] = (rng() % 10 == 0) ? (double)(rng() % 3) + (rep % 2 ? 0.37 : 0.0) : 0.0;
        if (S[i] != 0) idx.push_back(i), val.push_back(S[i]);
      }
      double U, V, Us, Vs;
      const double Z = score_stat(N, D, nullptr, S, z, centerY, v, Iz, SZ, &U, &V);
      const double Zs = score_stat_sparse((int)idx.size(), idx.data(), val.data(), D, z, centerY,
                                          v, Iz, SZ2, &Us, &Vs);
      EXPECT_EQ(std::memcmp(&Z, &Zs, sizeof Z), 0) << D << " " << rep;
      EXPECT_EQ(std::memcmp(&V, &Vs, sizeof V), 0);
      EXPECT_EQ(std::memcmp(&U, &Us, sizeof U), 0);
      const double Vb = score_variance_sparse((int)idx.size(), idx.data(), val.data(), D, z, v,
                                              Iz, SZ2);
      EXPECT_EQ(std::memcmp(&V, &Vb, sizeof V), 0);
      const double Ub = score_U_sparse((int)idx.size(), idx.data(), val.data(), centerY);
      EXPECT_EQ(std::memcmp(&U, &Ub, sizeof U), 0);
      // The same null model packed by subject.
      std::vector<double> packed((size_t)N * (D + 1));
      for (int i = 0; i < N; i++) {
        packed[(size_t)i * (D + 1)] = centerY[i];
        packed[(size_t)i * (D + 1) + 1] = v[i];
        for (int d = 1; d < D; d++) packed[(size_t)i * (D + 1) + d + 1] = z[i][d];
      }
      double Up, Vp;
      const double Zp = score_stat_packed((int)idx.size(), idx.data(), val.data(), D,
                                          packed.data(), Iz, SZ2, &Up, &Vp);
      EXPECT_EQ(std::memcmp(&Z, &Zp, sizeof Z), 0);
      EXPECT_EQ(std::memcmp(&V, &Vp, sizeof V), 0);
      // Quantitative: Z = U / sqrt((V1 - q) SigmaSQ), U output U / SigmaSQ.
      const double sigma = 1.7;
      const double Zq = score_stat_quanTrait(N, D, nullptr, S, z, centerY, sigma, Iz, SZ, &U, &V);
      const double Wq = score_variance_sparse((int)idx.size(), idx.data(), val.data(), D, z,
                                              nullptr, Iz, SZ2);
      const double Zqs = Ub / std::sqrt(Wq * sigma);
      EXPECT_EQ(std::memcmp(&Zq, &Zqs, sizeof Zq), 0);
      const double Uq = Ub / sigma;
      EXPECT_EQ(std::memcmp(&U, &Uq, sizeof U), 0);
    }
    free_dmatrix(z, 0, N - 1, 0, D - 1);
    free_dmatrix(Iz, 0, D - 1, 0, D - 1);
    free_dvector(centerY, 0, N - 1);
    free_dvector(v, 0, N - 1);
    free_dvector(S, 0, N - 1);
    free_dvector(SZ, 0, D - 1);
    free_dvector(SZ2, 0, D - 1);
  }
}

}  // namespace
