// Run set-up: the stops before the null-model fit, the null model per trait
// type against closed forms, DELTA, the standardized trait of the
// resampling, the run arrays per switch, the "START" heading and the
// message log.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "driver/run_setup.h"
#include "numeric/arrays.h"
#include "tests/driver/gene_pass_support.h"
#include "tests/support/tolerances.h"
#include "support/death_tests.h"

using namespace gene_pass_test;

namespace {

// A phenotype held in vectors, seen through a LoadedData.
struct HandPheno {
  std::vector<double> y;
  std::vector<std::vector<double>> rows;
  std::vector<double *> zptr;
  LoadedData data;

  HandPheno(const std::vector<double> &trait, const std::vector<std::vector<double>> &cov,
            int binary)
      : y(trait) {
    for (size_t i = 0; i < y.size(); i++) {
      std::vector<double> r = {1.0};
      if (!cov.empty())
        for (double c : cov[i]) r.push_back(c);
      rows.push_back(r);
    }
    for (auto &r : rows) zptr.push_back(r.data());
    data.pheno.pheno_NROW = (long)y.size();
    data.pheno.pheno_NCOL = (long)rows[0].size();
    data.pheno.y = y.data();
    data.pheno.z = zptr.data();
    data.pheno.BINARY_Y = binary;
    data.geno.geno_NROW = 4;
    data.map.N_GENE = 3;
  }
};

Settings defaults() {
  Settings s;
  set_defaults(&s);
  return s;
}

const std::vector<double> kBinary = {1, 0, 0, 1, 0, 0, 0, 1, 0, 1};
const std::vector<double> kQuant = {0.3, 1.7, -0.4, 2.2, 0.9, -1.3, 0.1, 1.1, 0.6, -0.2};
const std::vector<std::vector<double>> kCov = {{0.5, 1}, {1.2, 0}, {-0.3, 0}, {0.8, 1},
                                               {2.0, 1}, {0.1, 0}, {-1.0, 1}, {0.4, 0},
                                               {1.5, 1}, {-0.7, 1}};

TEST(NullModel, BinaryInterceptOnlyClosedForm) {
  HandPheno h(kBinary, {}, 1);
  Settings s = defaults();
  NullModel nm;
  RunArrays run;
  check_null_model_data(h.data);
  allocate_run(s, h.data, nm, run);
  fit_null_model(s, h.data, nm, run);
  const double ybar = 0.4, N = 10;
  EXPECT_NEAR(nm.mleZ[0], std::log(ybar / (1 - ybar)), tol::kTight);
  for (int i = 0; i < 10; i++) {
    EXPECT_NEAR(nm.centerY[i], kBinary[i] - ybar, tol::kTight);
    EXPECT_NEAR(nm.v[i], ybar * (1 - ybar), tol::kTight);
  }
  EXPECT_NEAR(nm.Iz[0][0], 1 / (N * ybar * (1 - ybar)), tol::kTight);
  EXPECT_EQ(nm.DELTA, 1.0);
  EXPECT_EQ(nm.SigmaSQ, 0.0);
  free_run(s, h.data, nm, run);
}

TEST(NullModel, BinaryWithCovariatesSolvesTheScoreEquations) {
  HandPheno h(kBinary, kCov, 1);
  Settings s = defaults();
  NullModel nm;
  RunArrays run;
  allocate_run(s, h.data, nm, run);
  fit_null_model(s, h.data, nm, run);
  double score[3] = {0, 0, 0};
  for (int i = 0; i < 10; i++) {
    double eta = nm.mleZ[0] + nm.mleZ[1] * kCov[i][0] + nm.mleZ[2] * kCov[i][1];
    double mu = 1 / (1 + std::exp(-eta));
    EXPECT_NEAR(nm.pY[i], mu, tol::kNumerical);  // second fit of p_null, same optimum
    EXPECT_NEAR(nm.centerY[i], kBinary[i] - mu, tol::kClose);
    EXPECT_NEAR(nm.v[i], mu * (1 - mu), tol::kClose);
    for (int d = 0; d < 3; d++) score[d] += nm.centerY[i] * h.rows[i][d];
  }
  for (int d = 0; d < 3; d++) EXPECT_NEAR(score[d], 0, tol::kNumerical);
  free_run(s, h.data, nm, run);
}

TEST(NullModel, QuantitativeDeltaAndResiduals) {
  struct {
    int mopp;
    double delta, expect;
  } cases[] = {{0, 1.0, 2.0}, {1, 0.5, 0.5}};
  for (auto &c : cases) {
    HandPheno h(kQuant, {}, 0);
    Settings s = defaults();
    s.mopp = c.mopp;
    s.DELTA = c.delta;
    NullModel nm;
    RunArrays run;
    allocate_run(s, h.data, nm, run);
    fit_null_model(s, h.data, nm, run);
    EXPECT_EQ(nm.DELTA, c.expect);
    double ybar = 0, ss = 0;
    for (double v : kQuant) ybar += v / 10;
    for (double v : kQuant) ss += (v - ybar) * (v - ybar);
    EXPECT_NEAR(nm.SigmaSQ, ss / 10, tol::kTight);
    EXPECT_NEAR(nm.Iz[0][0], 0.1, tol::kTight);
    for (int i = 0; i < 10; i++) EXPECT_NEAR(nm.centerY[i], kQuant[i] - ybar, tol::kTight);
    free_run(s, h.data, nm, run);
  }
}

TEST(NullModel, QuantitativeResamplingStandardizedTrait) {
  for (int covariates : {0, 1}) {
    HandPheno h(kQuant, covariates ? kCov : std::vector<std::vector<double>>{}, 0);
    Settings s = defaults();
    s.PERM_FLAG = 1;
    NullModel nm;
    RunArrays run;
    allocate_run(s, h.data, nm, run);
    fit_null_model(s, h.data, nm, run);
    double m = 0, sq = 0;
    for (int i = 0; i < 10; i++) m += nm.scaleY[i] / 10;
    for (int i = 0; i < 10; i++) sq += nm.scaleY[i] * nm.scaleY[i] / 10;
    EXPECT_NEAR(m, 0, tol::kTight);
    EXPECT_NEAR(sq, 1, tol::kTight);  // divisor N
    for (int i = 0; i < 10; i++) {
      EXPECT_NEAR(nm.addZ[i] + nm.centerY_scale[i], nm.scaleY[i], tol::kRounding) << i;
      EXPECT_NEAR(nm.RY[i], nm.centerY_scale[i], tol::kClose);
    }
    if (!covariates) {
      EXPECT_NEAR(nm.mleZ[0], 0, tol::kTight);
      EXPECT_EQ(run.gammaPool, nullptr);
    } else {
      EXPECT_NE(run.gammaPool, nullptr);
    }
    EXPECT_NE(run.pvalue_perm, nullptr);
    EXPECT_EQ(run.pvalue_perm[2][2], 99);
    EXPECT_EQ(run.pvalue_opp[0], 99);
    free_run(s, h.data, nm, run);
  }
}

TEST(RunArrays, AllocatedPerSwitch) {
  HandPheno h(kQuant, {}, 0);
  Settings s = defaults();
  NullModel nm;
  RunArrays run;
  allocate_run(s, h.data, nm, run);
  EXPECT_EQ(run.pvalue_multi, nullptr);
  EXPECT_EQ(run.buffer_weight, nullptr);
  EXPECT_EQ(run.pvalue_perm, nullptr);
  EXPECT_EQ(run.pvalue_com, nullptr);
  ASSERT_NE(run.pvalue, nullptr);
  for (int t = 0; t < 3; t++)
    for (int k = 0; k < 3; k++) EXPECT_EQ(run.pvalue[t][k], 99);
  for (int k = 0; k < 3; k++) EXPECT_EQ(run.pvalue_vt[k], 99);
  for (int k = 0; k < 3; k++) EXPECT_EQ(run.pvalue_skat[k], 99);
  for (int r = 0; r < 4; r++) EXPECT_EQ(run.genek_index[r], 0.0);
  free_run(s, h.data, nm, run);

  s.mwf = 1;
  s.DORARE = 1;
  allocate_run(s, h.data, nm, run);
  ASSERT_NE(run.pvalue_multi, nullptr);
  EXPECT_NE(run.buffer_weight, nullptr);
  EXPECT_EQ(run.pvalue_multi[2], 99);
  free_run(s, h.data, nm, run);

  s.mwf = 0;
  s.DORARE = 0;
  s.DOCOM = 1;
  allocate_run(s, h.data, nm, run);
  EXPECT_EQ(run.pvalue, nullptr);
  EXPECT_NE(run.pvalue_com, nullptr);
  free_run(s, h.data, nm, run);
}

struct StopCase {
  const char *name;
  std::vector<double> y;
  std::vector<std::vector<double>> cov;
  int binary;
  const char *message;
};

void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

class NullModelDeathTest : public ::testing::TestWithParam<StopCase> {};

TEST_P(NullModelDeathTest, StopsBeforeAMeaninglessFit) {
  const StopCase &c = GetParam();
  HandPheno h(c.y, c.cov, c.binary);
  Settings s = defaults();
  EXPECT_EXIT(
      run_to_exit([&] {
        fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        NullModel nm;
        RunArrays run;
        check_null_model_data(h.data);
        check_design(s, h.data);
        allocate_run(s, h.data, nm, run);
        fit_null_model(s, h.data, nm, run);
        exit(0);
      }),
      ::testing::ExitedWithCode(1), c.message);
}

const char kSame[] =
    "^\nError: All subjects have the same value of the binary trait, so the null model cannot "
    "be fitted.\n\nQUORVEX was stopped due to error\\(s\\) listed above.\n\n$";
const char kFew[] = "^\nError: The number of subjects \\(2\\) is not greater than the number of "
                    "design columns \\(3: the intercept and 2 covariates\\)";
const char kFlat[] = "^\nError: The quantitative trait has residual variance 0";

const char kConstant[] =
    "^\nError: Covariate column 5 of phenotype file 'pheno.txt' is constant \\(it varies by less than "
    "a relative 1e-8 of its values\\), so the null model cannot be fitted.\n\nQUORVEX was stopped";
const char kCombination[] =
    "^\nError: Covariate column 5 of phenotype file 'pheno.txt' is a linear combination of columns 3 "
    "and 4 \\(to a relative tolerance of 1e-8\\), so the null model cannot be fitted.\n";
const char kWithIntercept[] =
    "^\nError: Covariate column 5 of phenotype file 'pheno.txt' is a linear combination of column 3 "
    "and the intercept \\(to a relative tolerance of 1e-8\\)";
const char kOffset[] = "^\nError: Covariate column 3 of phenotype file 'pheno.txt' is constant";
const char kHuge[] = "^\nError: Covariate column 5 of phenotype file 'pheno.txt' holds values too large";
const char kTiny[] = "^\nError: Covariate column 3 of phenotype file 'pheno.txt' holds values too small";

// kCov with a third covariate from each row (a, b).
std::vector<std::vector<double>> with_third(double (*f)(double a, double b)) {
  std::vector<std::vector<double>> cov = kCov;
  for (auto &r : cov) r.push_back(f(r[0], r[1]));
  return cov;
}

const StopCase kStops[] = {
    {"BinaryAllZero", {0, 0, 0, 0}, {}, 1, kSame},
    {"BinaryAllOne", {1, 1, 1}, {}, 1, kSame},
    {"BinaryAllOneWithCovariates", {1, 1, 1}, {{1, 2}, {2, 1}, {0, 0}}, 1, kSame},
    {"SubjectsEqualDesignColumns", {0.5, 1.5}, {{1, 2}, {2, 2}}, 0, kFew},
    {"ConstantQuantitativeTrait", {3, 3, 3, 3}, {}, 0, kFlat},
    {"TraitLinearInCovariate", {1, 3, 5, 7, 11}, {{0}, {1}, {2}, {3}, {5}}, 0, kFlat},
    // Designs that cannot be fitted: named by their phenotype-file columns.
    {"ConstantCovariate", kBinary, with_third([](double, double) { return 0.0; }), 1, kConstant},
    {"CovariateLinearInAnotherOne", kBinary, with_third([](double a, double) { return 3 * a + 1; }), 1,
     kWithIntercept},
    {"CovariateCombinationOfOthers", kQuant, with_third([](double a, double b) { return 2 * a - 3 * b; }), 0,
     kCombination},
    {"CovariateAtAConstantOffset", kBinary,
     {{1e10}, {1e10 + 1}, {1e10}, {1e10 + 1}, {1e10}, {1e10}, {1e10 + 1}, {1e10}, {1e10 + 1}, {1e10}}, 1, kOffset},
    {"CovariateBeyond1e150", kQuant, with_third([](double a, double) { return a * 1e200; }), 0, kHuge},
    {"CovariateBelow1eMinus150", kBinary,
     {{1e-200}, {0}, {2e-200}, {0}, {1e-200}, {0}, {1e-200}, {3e-200}, {0}, {1e-200}}, 1, kTiny},
};

INSTANTIATE_TEST_SUITE_P(Data, NullModelDeathTest, ::testing::ValuesIn(kStops),
                         [](const ::testing::TestParamInfo<StopCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(StartOfTesting, HeadingAndMessageLog) {
  const std::string dir = scratch_dir();
  const std::string path = write_file(dir, "msg.log", "old warnings\n");
  Settings s = defaults();
  s.mmsgl = 1;
  s.msglog = path.c_str();
  MessageLog log;
  ::testing::internal::CaptureStdout();
  start_testing(s, log);
  report_warning(log, "GENE %s Warning: test %d.\n", "G1", 7);
  end_testing(log);
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(::testing::internal::RE::FullMatch(
      out,
      "\n\\*---------------- START QUORVEX TEST ----------------\\*\n"
      "              [A-Z][a-z][a-z] [A-Z][a-z][a-z] [ 0-9][0-9] [0-9:]{8} [0-9]{4}\n\n"
      "GENE G1 Warning: test 7.\n"
      "\n\\*----------------- END QUORVEX TEST -----------------\\*\n"
      "              [A-Z][a-z][a-z] [A-Z][a-z][a-z] [ 0-9][0-9] [0-9:]{8} [0-9]{4}\n"))
      << out;
  EXPECT_EQ(read_file(path), "GENE G1 Warning: test 7.\n");
  EXPECT_EQ(log.file, nullptr);
  remove_dir(dir);
}

TEST(StartOfTesting, WarningsWithoutLogGoToStandardOutputOnly) {
  Settings s = defaults();
  MessageLog log;
  ::testing::internal::CaptureStdout();
  start_testing(s, log);
  report_warning(log, "SNP %s Warning: x.\n", "rs1");
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(log.file, nullptr);
  EXPECT_NE(out.find("SNP rs1 Warning: x.\n"), std::string::npos);
}

TEST(StartOfTestingDeathTest, UncreatableMessageLogStops) {
  Settings s = defaults();
  s.mmsgl = 1;
  s.msglog = "/nonexistent/msg.log";
  EXPECT_EXIT(
      run_to_exit([&] {
        fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        MessageLog log;
        start_testing(s, log);
      }),
      ::testing::ExitedWithCode(1),
      "Error: Cannot create warning message log '/nonexistent/msg.log'.\n\nQUORVEX was stopped");
}

}  // namespace
