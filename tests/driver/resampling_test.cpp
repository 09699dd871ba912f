// The resampling scheme: stage bookkeeping with injected hit counts (the
// p-value of each stage, who goes on, the warning rule), the hit rule's
// tolerance, and resample s made from a generator state set directly (a
// skip) equal to the one made after resamples 0..s-1, in all four cases.
#include "driver/resampling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <vector>

#include "numeric/arrays.h"
#include "stats/null_model.h"

namespace {

struct StageCase {
  const char *name;
  int stage;
  double hits;
  long MORE;
  int mmore;
  double p;
  bool goes_on, warns;
};
void PrintTo(const StageCase &c, std::ostream *os) { *os << c.name; }

class StageEnd : public ::testing::TestWithParam<StageCase> {};

TEST_P(StageEnd, PValueContinuationAndWarning) {
  const StageCase &c = GetParam();
  ResampleScheme scheme;
  scheme.MORE = c.MORE;
  scheme.mmore = c.mmore;
  double slot = 99;
  ResampleTest t;
  t.n = c.hits;
  t.slot = &slot;
  t.in_play = true;
  EXPECT_EQ(end_stage(t, c.stage, scheme), c.warns);
  EXPECT_EQ(slot, c.p);
  EXPECT_EQ(t.in_play, c.goes_on);
}

const StageCase kStages[] = {
    {"NoHitGoesOn", 1, 0, 1000000, 0, 1.0 / 1001, true, false},
    {"NinetyNineHitsGoOn", 1, 99, 1000000, 0, 100.0 / 1001, true, false},
    {"HundredHitsStop", 1, 100, 1000000, 0, 101.0 / 1001, false, false},
    {"StageTwoLimit", 2, 99, 1000000, 0, 100.0 / 100001, true, false},
    {"StageTwoStops", 2, 100, 1000000, 0, 101.0 / 100001, false, false},
    {"SmallestValueWarns", 3, 0, 1000000, 0, 1.0 / 1000001, false, true},
    {"NinetyNineHitsWarn", 3, 99, 1000000, 0, 100.0 / 1000001, false, true},
    {"HundredHitsNoWarning", 3, 100, 1000000, 0, 101.0 / 1000001, false, false},
    {"MoreGoesOnWithoutWarning", 3, 5, 2000000, 1, 6.0 / 1000001, true, false},
    {"MoreStopsAboveTheLimit", 3, 100, 2000000, 1, 101.0 / 1000001, false, false},
    {"StageFour", 4, 7, 2000000, 1, 8.0 / 2000001.0, false, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, StageEnd, ::testing::ValuesIn(kStages),
                         [](const ::testing::TestParamInfo<StageCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(StageRanges, ResampleIndicesRunOnAcrossStages) {
  ResampleScheme scheme;
  scheme.MORE = 2500000;
  EXPECT_EQ(stage_first(1), 0);
  EXPECT_EQ(stage_end(1, scheme), 1000);
  EXPECT_EQ(stage_first(2), 1000);
  EXPECT_EQ(stage_end(2, scheme), 100000);
  EXPECT_EQ(stage_first(3), 100000);
  EXPECT_EQ(stage_end(3, scheme), 1000000);
  EXPECT_EQ(stage_first(4), 1000000);
  EXPECT_EQ(stage_end(4, scheme), 2500000);
}

TEST(HitRule, AbsoluteToleranceAndNaN) {
  EXPECT_TRUE(is_hit(2.0, 1.0));
  EXPECT_TRUE(is_hit(1.0, 1.0));
  EXPECT_TRUE(is_hit(1.0 - 0.9e-10, 1.0));
  EXPECT_FALSE(is_hit(1.0 - 1.1e-10, 1.0));
  EXPECT_FALSE(is_hit(0.5, 1.0));
  EXPECT_FALSE(is_hit(NAN, 1.0));
  EXPECT_TRUE(is_hit(INFINITY, 1.0));
}

// A small run set up by hand: N subjects, design [1, t] (D = 2) or [1].
struct SmallRun {
  int N, D;
  bool binary;
  std::vector<double> y, pY, RY, addZ, scaleY, t;
  double **z, **Iz;
  double mleZ[1];
  RunArrays run;
  ResampleScheme scheme;
  Resample r;

  SmallRun(bool binary_, int D_) : N(40), D(D_), binary(binary_) {
    z = dmatrix(0, N - 1, 0, D - 1);
    Iz = dmatrix(0, D - 1, 0, D - 1);
    for (int i = 0; i < N; i++) {
      z[i][0] = 1;
      if (D == 2) z[i][1] = std::sin(1.0 + i);
      y.push_back(binary ? (i % 3 == 0) : std::cos(2.0 * i));
      pY.push_back(0.2 + 0.5 * (i % 4) / 4.0);
      scaleY.push_back(y.back() - 0.1);
      RY.push_back(0.3 * std::cos(3.0 * i));
      addZ.push_back(scaleY.back() - RY.back());
    }
    double a = 0, b = 0, c = 0;
    for (int i = 0; i < N; i++) {
      a += 1;
      if (D == 2) b += z[i][1], c += z[i][1] * z[i][1];
    }
    if (D == 2) {
      const double det = a * c - b * b;
      Iz[0][0] = c / det, Iz[0][1] = Iz[1][0] = -b / det, Iz[1][1] = a / det;
    } else {
      Iz[0][0] = 1 / a;
    }
    mleZ[0] = binary ? std::log(14.0 / 26.0) : 0.05;
    if (D > 1) run.gammaPool = dmatrix(0, 999999, 0, D - 1);
    scheme.N = N;
    scheme.D = D;
    scheme.binary = binary;
    scheme.y = y.data();
    scheme.z = z;
    scheme.pY = pY.data();
    scheme.RY = RY.data();
    scheme.addZ = addZ.data();
    scheme.scaleY = scaleY.data();
    scheme.Iz = Iz;
    scheme.mleZ = mleZ;
    scheme.run = &run;
    scheme.MORE = 1000000;
    set_run_wide_values(scheme);
    alloc_resample(scheme, r);
  }
  ~SmallRun() {
    if (D > 1) free_dmatrix(run.gammaPool, 0, 999999, 0, D - 1);
    ResampleScheme copy = scheme;
    free_resample_scheme(copy, r);
    free_dmatrix(z, 0, N - 1, 0, D - 1);
    free_dmatrix(Iz, 0, D - 1, 0, D - 1);
  }
  std::vector<double> fingerprint() const {
    std::vector<double> f(r.permY, r.permY + N);
    f.insert(f.end(), r.centerY, r.centerY + N);
    if (binary) f.insert(f.end(), r.v, r.v + N);
    f.push_back(r.SigmaSQ);
    return f;
  }
};

struct SchemeCase {
  const char *name;
  bool binary;
  int D;
};
void PrintTo(const SchemeCase &c, std::ostream *os) { *os << c.name; }

class SkipToResample : public ::testing::TestWithParam<SchemeCase> {};

TEST_P(SkipToResample, SameDataSetAsMadeInOrder) {
  const SchemeCase &c = GetParam();
  SmallRun st(c.binary, c.D);
  std::vector<std::vector<double>> in_order;
  start_resampling(st.scheme);
  for (long s = 0; s < 6; s++) {
    make_resample(st.scheme, s, st.r);
    in_order.push_back(st.fingerprint());
  }
  for (long s : {4L, 1L, 5L, 0L}) {
    seek_resample(st.scheme, s);
    make_resample(st.scheme, s, st.r);
    const std::vector<double> f = st.fingerprint();
    ASSERT_EQ(f.size(), in_order[s].size());
    EXPECT_EQ(std::memcmp(f.data(), in_order[s].data(), f.size() * sizeof(double)), 0) << s;
  }
  // Without covariates the trait is a permutation of the observed one.
  if (c.D == 1) {
    std::vector<double> a(st.r.permY, st.r.permY + st.N);
    std::vector<double> b = c.binary ? st.y : st.scaleY;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
  }
}

const SchemeCase kSchemes[] = {
    {"BinaryPermuted", true, 1},
    {"BinaryBernoulliDraws", true, 2},
    {"QuantitativePermuted", false, 1},
    {"QuantitativeResidualsPermuted", false, 2},
};

INSTANTIATE_TEST_SUITE_P(Cases, SkipToResample, ::testing::ValuesIn(kSchemes),
                         [](const ::testing::TestParamInfo<SchemeCase> &info) {
                           return std::string(info.param.name);
                         });

// The refit cache: stage 1's rows are filled by the first pass over them
// (flag set at s = 999) and read afterwards, giving the same resamples.
TEST(RefitCache, FilledOnceThenRead) {
  SmallRun st(false, 2);
  start_resampling(st.scheme);
  std::vector<double> first, again;
  for (long s = 0; s < 1000; s++) {
    make_resample(st.scheme, s, st.r);
    if (s == 0 || s == 999) {
      std::vector<double> f = st.fingerprint();
      first.insert(first.end(), f.begin(), f.end());
    }
    EXPECT_EQ(st.run.STEP1_FLAG, s == 999 ? 1 : 0);
  }
  EXPECT_EQ(st.run.STEP2_FLAG, 0);
  // A poisoned row shows that later passes read the cache.
  const double saved = st.run.gammaPool[5][1];
  start_resampling(st.scheme);
  for (long s = 0; s < 1000; s++) {
    make_resample(st.scheme, s, st.r);
    if (s == 0 || s == 999) {
      std::vector<double> f = st.fingerprint();
      again.insert(again.end(), f.begin(), f.end());
    }
  }
  EXPECT_EQ(first, again);
  st.run.gammaPool[5][1] = saved + 1;
  seek_resample(st.scheme, 5);
  make_resample(st.scheme, 5, st.r);
  const double with_poison = st.r.SigmaSQ;
  st.run.gammaPool[5][1] = saved;
  seek_resample(st.scheme, 5);
  make_resample(st.scheme, 5, st.r);
  EXPECT_NE(with_poison, st.r.SigmaSQ);
}

}  // namespace
