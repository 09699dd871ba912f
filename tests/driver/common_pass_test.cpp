// Common-variant pass: the token rule of the pass, the coding under the
// three genetic models, which rows are tested, the fatal stops, and whole
// result files of end-to-end runs against an independent computation (null
// models by Gaussian elimination and Newton iterations run to convergence,
// the score variance by solving the information system instead of inverting
// it, p-values from erfc; with -resample the first stage of resamples
// recomputed with the same dense formulas).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "driver/common_pass.h"
#include "driver/text_file.h"
#include "numeric/random.h"
#include "numeric/regression.h"
#include "stats/permute.h"
#include "tests/driver/gene_pass_support.h"
#include "tests/support/death_tests.h"
#include "tests/support/tolerances.h"

using namespace gene_pass_test;

namespace {

Settings defaults() {
  Settings s;
  set_defaults(&s);
  return s;
}

// ------------------------------------------------------------ token rule --

struct TokenCase {
  const char *token;
  double value;
};

// A token whose first character is 'N' or whose second is 'A' is missing
// (-1); any other is its leading decimal number (0 when there is none).
TEST(CommonPassRow, EveryTokenByThePassRule) {
  const TokenCase cases[] = {
      {"0", 0},    {"1", 1},       {"2", 2},      {"7", 7},     {"NA", -1},   {"N", -1},
      {"N/", -1},  {"NAN", -1},    {"XA", -1},    {"-A", -1},   {"A", 0},     {".", 0},
      {"1.5", 1.5}, {"0.25", 0.25}, {"2x", 2},     {"abc", 0},   {"-1", -1},   {"1e-1", 0.1},
  };
  std::string line = "rs1";
  for (const TokenCase &c : cases) line += std::string("\t") + c.token;
  const long N = sizeof cases / sizeof cases[0];
  std::vector<double> S(N, 99.0);
  EXPECT_EQ(read_common_row(line.data(), line.data() + line.size(), N, S.data()), N);
  for (long i = 0; i < N; i++) EXPECT_EQ(S[i], cases[i].value) << cases[i].token;
}

// A line holding more values than subjects stores only N of them and
// reports how many it holds; blanks of any kind separate tokens.
TEST(CommonPassRow, CountsValuesAndStoresAtMostN) {
  const std::string line = "id 1\t2 \t0\r";
  std::vector<double> S(2, 99.0);
  EXPECT_EQ(read_common_row(line.data(), line.data() + line.size(), 2, S.data()), 3);
  EXPECT_EQ(S[0], 1);
  EXPECT_EQ(S[1], 2);
  const std::string one_char_id = "x\tNA";
  EXPECT_EQ(read_common_row(one_char_id.data(), one_char_id.data() + one_char_id.size(), 2, S.data()), 1);
  EXPECT_EQ(S[0], -1);
}

// ---------------------------------------------------------------- coding --

struct CodingCase {
  const char *model;  // "additive", "dominant", "recessive"
  double f;
  std::vector<double> in, out;
};

Settings with_model(const char *model) {
  Settings s = defaults();
  s.DOCMC = std::string(model) == "dominant";
  s.DOREC = std::string(model) == "recessive";
  return s;
}

// A missing genotype at f = 0.3 becomes 2f = 0.6, 1 - (1 - f)^2 = 0.51 or
// f^2 = 0.09; dominant 1 and 2 become 1; recessive 1 becomes 0 and 2
// becomes 1; dosages follow the same comparisons; a negative value other
// than -1 is missing only to the additive model (negative), the other two
// take exactly -1 as missing and leave it.
TEST(CommonPassCoding, ThreeModels) {
  const CodingCase cases[] = {
      {"additive", 0.3, {0, 1, 2, -1, 1.5, -0.5}, {0, 1, 2, 0.6, 1.5, 0.6}},
      {"dominant", 0.3, {0, 1, 2, -1, 0.4, -0.5}, {0, 1, 1, 0.51, 1, -0.5}},
      {"recessive", 0.3, {0, 1, 2, -1, 1.5, 0.5, -0.5}, {0, 0, 1, 0.09, 1, 0.5, -0.5}},
      {"additive", 0.97, {2, -1}, {2, 1.94}},
      {"dominant", 0.97, {0, -1}, {0, 1 - 0.03 * 0.03}},
      {"recessive", 0.97, {1, -1}, {0, 0.97 * 0.97}},
  };
  for (const CodingCase &c : cases) {
    std::vector<double> S = c.in;
    code_common_variant(with_model(c.model), c.f, (long)S.size(), S.data());
    for (size_t i = 0; i < S.size(); i++)
      EXPECT_NEAR(S[i], c.out[i], tol::kRounding) << c.model << " f=" << c.f << " value " << c.in[i];
  }
}

// The pass reads and codes a row in one walk, one-character tokens through a
// table: the same values, bit for bit, as reading the row and then coding
// it, for every token kind, at frequencies 0.3 and 0.97, under each model.
TEST(CommonPassCoding, OneWalkEqualsReadingThenCoding) {
  std::string line = "rs1";
  for (int c = 1; c < 256; c++)
    if (!is_blank((char)c) && c != '\n') line += std::string("\t") + (char)c;
  for (const char *t : {"NA", "N/", "XA", "1.5", "0.25", "2x", "-1", "1e-1", "10", "0.5", "-0.5"})
    line += std::string("\t") + t;
  const long N = read_common_row(line.data(), line.data() + line.size(), 0, nullptr);
  for (const char *model : {"additive", "dominant", "recessive"})
    for (double f : {0.3, 0.97}) {
      const Settings s = with_model(model);
      std::vector<double> plain(N), fused(N);
      read_common_row(line.data(), line.data() + line.size(), N, plain.data());
      code_common_variant(s, f, N, plain.data());
      EXPECT_EQ(read_coded_common_row(line.data(), line.data() + line.size(), common_coding(s, f), N,
                                      fused.data()),
                N);
      for (long i = 0; i < N; i++)
        EXPECT_EQ(std::memcmp(&plain[i], &fused[i], sizeof(double)), 0) << model << " value " << i;
    }
}

// ------------------------------------------------------- the pass as a whole

const double NA = -1;

struct Fixture {
  std::vector<double> y;
  std::vector<std::vector<double>> cov;  // [N][covariates]
  std::vector<std::string> id;
  std::vector<std::vector<double>> geno;  // [rows][N], NA missing
};

// 100 subjects, two covariates. The rows, with -com 0.25 -CR 0.75 (missing
// rate bound exactly 0.25):
//   eq25   frequency exactly 0.25                    not tested
//   f97    frequency 0.97 (the counted allele common) tested (97 subjects with 2)
//   na25   missing rate exactly 0.25                 tested
//   na26   missing rate 0.26                         not tested
//   mono   every value 1                             not tested
//   allNA  no observed value                         not tested
//   f30    frequency 0.3 with five missing values    tested
//   rec01  values 0 and 1 only, frequency 0.3        tested (all 0 when recessive)
//   dose   dosages                                   tested
Fixture make_fixture(bool binary) {
  Fixture f;
  const int N = 100;
  for (int i = 0; i < N; i++) {
    const double c1 = std::round(1000 * std::sin(0.7 * i + 0.3)) / 1000;  // exact in the file
    const double c2 = (i * 7) % 3 == 0 ? 1 : 0;
    f.cov.push_back({c1, c2});
    if (binary)
      f.y.push_back((i * 5 + i / 7) % 3 == 0 || (i % 11 == 2) ? 1 : 0);
    else
      f.y.push_back(std::round(1000 * (std::cos(1.3 * i) + 0.4 * c1 + 0.02 * (i % 9))) / 1000);
  }
  auto row = [&](const char *name, auto value) {
    f.id.push_back(name);
    std::vector<double> g(N);
    for (int i = 0; i < N; i++) g[i] = value(i);
    f.geno.push_back(g);
  };
  row("eq25", [](int i) { return i % 2 == 0 ? 1.0 : 0.0; });
  row("f97", [](int i) { return i % 37 == 3 ? 0.0 : 2.0; });  // 3 zeros: 194 / 200
  row("na25", [](int i) { return i % 4 == 1 ? NA : (double)(i % 3); });
  row("na26", [](int i) { return i % 4 == 1 || i == 98 ? NA : (double)(i % 3); });
  row("mono", [](int) { return 1.0; });
  row("allNA", [](int) { return NA; });
  // f30: 5 missing, 57 alleles over 95 observed subjects.
  row("f30", [](int i) { return i % 20 == 7 ? NA : i < 60 ? 1.0 : 0.0; });
  row("rec01", [](int i) { return (i * 13) % 10 < 6 ? 1.0 : 0.0; });
  row("dose", [](int i) { return std::round(100 * (1 + std::sin(2.1 * i))) / 100; });
  return f;
}

std::string number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

void write_fixture(const std::string &dir, const Fixture &f) {
  std::string ph, ge;
  for (size_t i = 0; i < f.y.size(); i++) {
    ph += "S" + std::to_string(i) + "\t" + number(f.y[i]);
    for (double c : f.cov[i]) ph += "\t" + number(c);
    ph += "\n";
  }
  for (size_t r = 0; r < f.geno.size(); r++) {
    ge += f.id[r];
    for (double g : f.geno[r]) ge += g == NA ? std::string("\tNA") : "\t" + number(g);
    ge += "\n";
  }
  write_file(dir, "pheno.txt", ph);
  write_file(dir, "geno.txt", ge);
}

using Matrix = std::vector<std::vector<double>>;

// Solves A x = b by Gaussian elimination with partial pivoting.
std::vector<double> solve(Matrix A, std::vector<double> b) {
  const size_t n = b.size();
  for (size_t c = 0; c < n; c++) {
    size_t piv = c;
    for (size_t r = c + 1; r < n; r++)
      if (std::fabs(A[r][c]) > std::fabs(A[piv][c])) piv = r;
    std::swap(A[c], A[piv]);
    std::swap(b[c], b[piv]);
    for (size_t r = c + 1; r < n; r++) {
      const double m = A[r][c] / A[c][c];
      for (size_t k = c; k < n; k++) A[r][k] -= m * A[c][k];
      b[r] -= m * b[c];
    }
  }
  std::vector<double> x(n);
  for (size_t c = n; c-- > 0;) {
    double s = b[c];
    for (size_t k = c + 1; k < n; k++) s -= A[c][k] * x[k];
    x[c] = s / A[c][c];
  }
  return x;
}

// The null model as weights w (v for a binary trait, 1 for a quantitative
// one), residuals r and the residual variance (quantitative).
struct Null {
  std::vector<double> w, r;
  double sigma2 = 1;
};

Null fit_null(const Fixture &f, bool binary, const Matrix &Z) {
  const size_t N = f.y.size(), D = Z[0].size();
  std::vector<double> beta(D, 0.0);
  Null m;
  m.w.assign(N, 1.0);
  m.r.assign(N, 0.0);
  if (binary) {
    for (int it = 0; it < 100; it++) {  // Newton iterations to convergence
      Matrix H(D, std::vector<double>(D, 0.0));
      std::vector<double> g(D, 0.0);
      for (size_t i = 0; i < N; i++) {
        double eta = 0;
        for (size_t d = 0; d < D; d++) eta += Z[i][d] * beta[d];
        const double mu = 1 / (1 + std::exp(-eta));
        for (size_t a = 0; a < D; a++) {
          g[a] += Z[i][a] * (f.y[i] - mu);
          for (size_t b = 0; b < D; b++) H[a][b] += mu * (1 - mu) * Z[i][a] * Z[i][b];
        }
      }
      const std::vector<double> step = solve(H, g);
      double change = 0;
      for (size_t d = 0; d < D; d++) {
        beta[d] += step[d];
        change = std::max(change, std::fabs(step[d]));
      }
      if (change < 1e-15) break;
    }
    for (size_t i = 0; i < N; i++) {
      double eta = 0;
      for (size_t d = 0; d < D; d++) eta += Z[i][d] * beta[d];
      const double mu = 1 / (1 + std::exp(-eta));
      m.w[i] = mu * (1 - mu);
      m.r[i] = f.y[i] - mu;
    }
  } else {
    Matrix ZZ(D, std::vector<double>(D, 0.0));
    std::vector<double> Zy(D, 0.0);
    for (size_t i = 0; i < N; i++)
      for (size_t a = 0; a < D; a++) {
        Zy[a] += Z[i][a] * f.y[i];
        for (size_t b = 0; b < D; b++) ZZ[a][b] += Z[i][a] * Z[i][b];
      }
    beta = solve(ZZ, Zy);
    double rss = 0;
    for (size_t i = 0; i < N; i++) {
      double fit = 0;
      for (size_t d = 0; d < D; d++) fit += Z[i][d] * beta[d];
      m.r[i] = f.y[i] - fit;
      rss += m.r[i] * m.r[i];
    }
    m.sigma2 = rss / (double)N;
  }
  return m;
}

// The expected result file and warnings of a run with -com maf_c -CR 0.75.
struct Expected {
  std::string file, warnings;
};

// Stage 1 of the resampling, recomputed here: the 1,000 resampled traits
// made with the program's generators and, for a binary trait with
// covariates, its logistic refit (whose stopping rule decides the last
// digits); each resample's null model and |Z| by the dense formulas of this
// file (the variance through a solve of the information system).
struct Stage1 {
  Null observed;             // null model the observed |Z| is taken under
  std::vector<Null> nulls;   // the resamples'
};

double abs_z(const Null &m, const Matrix &Z, const std::vector<double> &s);

// The program's logistic fit of y on Z.
std::vector<double> library_logistic(const Matrix &Z, std::vector<double> y) {
  const size_t N = y.size(), D = Z[0].size();
  Matrix z = Z;
  std::vector<double *> rows(N);
  for (size_t i = 0; i < N; i++) rows[i] = z[i].data();
  std::vector<double> gamma(D, 0.0);
  logisticReg_v0((int)N, (int)D, y.data(), rows.data(), gamma.data());
  return gamma;
}

// Null model of a binary trait at the coefficients gamma.
Null logistic_null(const Matrix &Z, const std::vector<double> &y, const std::vector<double> &gamma) {
  Null m;
  for (size_t i = 0; i < y.size(); i++) {
    double eta = 0;
    for (size_t d = 0; d < gamma.size(); d++) eta += Z[i][d] * gamma[d];
    const double mu = 1 / (1 + std::exp(-eta));
    m.w.push_back(mu * (1 - mu));
    m.r.push_back(y[i] - mu);
  }
  return m;
}

Null fit_null(const Fixture &f, bool binary, const Matrix &Z);

Stage1 stage1_resamples(const Fixture &f, bool binary, const Matrix &Z) {
  Stage1 st;
  const size_t N = f.y.size();
  if (binary) {
    const std::vector<double> gamma = library_logistic(Z, f.y);
    st.observed = logistic_null(Z, f.y, gamma);
    reset_runifC3();
    reset_runifC3P();
    for (int s = 0; s < 1000; s++) {
      std::vector<double> y(N);
      for (size_t i = 0; i < N; i++) y[i] = rbinomC(f.y[i] - st.observed.r[i], 1);
      st.nulls.push_back(logistic_null(Z, y, library_logistic(Z, y)));
    }
    return st;
  }
  // The standardized trait; its fitted values plus permuted residuals.
  double mean = 0, ss = 0;
  for (double v : f.y) mean += v / (double)N;
  for (double v : f.y) ss += (v - mean) * (v - mean);
  Fixture scaled = f;
  for (size_t i = 0; i < N; i++) scaled.y[i] = (f.y[i] - mean) / std::sqrt(ss / (double)(N - 1));
  st.observed = fit_null(scaled, false, Z);
  reset_runifC3P();
  std::vector<int> perm(N);
  for (int s = 0; s < 1000; s++) {
    getPermute(perm.data(), (int)N);
    Fixture r = scaled;
    for (size_t i = 0; i < N; i++)
      r.y[i] = st.observed.r[perm[i]] + (scaled.y[i] - st.observed.r[i]);
    st.nulls.push_back(fit_null(r, false, Z));
  }
  return st;
}

// The resampling column of a tested row: (hits + 1) / 1001 after stage 1
// when above 0.1; a smaller value goes on to stage 2, marked "~" with the
// stage-1 value.
std::string stage1_field(const Stage1 &st, const Matrix &Z, const std::vector<double> &s) {
  const double obs = abs_z(st.observed, Z, s);
  double hits = 0;
  for (const Null &m : st.nulls) {
    const double t = abs_z(m, Z, s);
    if (t > obs || std::fabs(t - obs) < 1e-10) hits += 1;
  }
  const double p = (hits + 1) / 1001;
  char buf[32];
  std::snprintf(buf, sizeof buf, p > 0.1 ? "\t%.4E" : "\t~%.4E", p);
  return buf;
}

Expected expected_run(const Fixture &f, bool binary, const char *model, double maf_c, bool resample,
                      const Stage1 *st = nullptr) {
  const size_t N = f.y.size();
  Matrix Z;
  for (size_t i = 0; i < N; i++) {
    std::vector<double> zi = {1.0};
    for (double c : f.cov[i]) zi.push_back(c);
    Z.push_back(zi);
  }
  const size_t D = Z[0].size();
  const Null m = fit_null(f, binary, Z);
  Matrix info(D, std::vector<double>(D, 0.0));
  for (size_t i = 0; i < N; i++)
    for (size_t a = 0; a < D; a++)
      for (size_t b = 0; b < D; b++) info[a][b] += m.w[i] * Z[i][a] * Z[i][b];

  Expected ex;
  ex.file = std::string("SNP_ID\tP-value") + (resample ? "\tP-value_R" : "") + "\tU\tV\tZ\n";
  const std::string model_name = model;
  for (size_t r = 0; r < f.geno.size(); r++) {
    double sum = 0, nobs = 0, lo = 1e300, hi = -1e300;
    for (double g : f.geno[r])
      if (g != NA) {
        sum += g;
        nobs += 1;
        lo = std::min(lo, g);
        hi = std::max(hi, g);
      }
    if (nobs == 0) continue;
    const double freq = sum / (2 * nobs), missing_rate = ((double)N - nobs) / (double)N;
    if (!(freq > maf_c) || missing_rate > 0.25 || lo == hi) continue;
    std::vector<double> s(N);
    for (size_t i = 0; i < N; i++) {
      const double g = f.geno[r][i];
      if (model_name == "dominant")
        s[i] = g == NA ? 1 - (1 - freq) * (1 - freq) : g > 0 ? 1 : 0;
      else if (model_name == "recessive")
        s[i] = g == NA ? freq * freq : g > 1 ? 1 : g == 1 ? 0 : g;
      else
        s[i] = g == NA ? 2 * freq : g;
    }
    double U = 0, V1 = 0;
    std::vector<double> zs(D, 0.0);
    for (size_t i = 0; i < N; i++) {
      U += s[i] * m.r[i];
      V1 += s[i] * s[i] * m.w[i];
      for (size_t d = 0; d < D; d++) zs[d] += m.w[i] * s[i] * Z[i][d];
    }
    double V = V1;
    if (V1 != 0) {
      const std::vector<double> x = solve(info, zs);
      for (size_t d = 0; d < D; d++) V -= zs[d] * x[d];
    }
    U /= m.sigma2;
    V /= m.sigma2;
    char line[256];
    if (V1 == 0) {
      std::snprintf(line, sizeof line, "%s\tNA%s\tNA\tNA\tNA\n", f.id[r].c_str(), resample ? "\tNA" : "");
      ex.warnings += "SNP " + f.id[r] +
                     " Warning: Variance estimate=0 for observed test statistic, so the p-value "
                     "cannot be calculated.\n";
    } else {
      const double z = U / std::sqrt(V);
      std::snprintf(line, sizeof line, "%s\t%.4E%s\t%.9E\t%.9E\t%.4E\n", f.id[r].c_str(),
                    std::erfc(std::fabs(z) / std::sqrt(2.0)),
                    st != nullptr ? stage1_field(*st, Z, s).c_str() : "", U, V, z);
    }
    ex.file += line;
  }
  return ex;
}

struct RunCase {
  const char *name;
  bool binary;
  const char *model;  // "additive", "dominant", "recessive"
};
void PrintTo(const RunCase &c, std::ostream *os) { *os << c.name; }

class CommonPassEndToEnd : public ::testing::TestWithParam<RunCase> {};

// The whole result file equals the independent computation; the message log
// and standard output carry exactly the variance warnings of the
// independent computation, in row order.
TEST_P(CommonPassEndToEnd, WholeResultFileAgainstIndependentComputation) {
  const RunCase &c = GetParam();
  const Fixture f = make_fixture(c.binary);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  std::string args = "-pfile pheno.txt -gfile geno.txt -noRare -com 0.25 -CR 0.75 -msglog msg.log";
  if (std::string(c.model) != "additive") args += std::string(" -") + c.model;
  ASSERT_EQ(run_quorvex(dir, args), 0) << read_file(dir + "/stdout.txt");
  const Expected ex = expected_run(f, c.binary, c.model, 0.25, false);
  // The logistic fit stops at a relative log-likelihood change of 1e-8, so
  // its coefficients carry an error of that order; least squares is a
  // closed form.
  expect_same_results(read_file(dir + "/com.out"), ex.file, c.binary ? tol::kNumerical : tol::kClose);
  EXPECT_EQ(read_file(dir + "/msg.log"), ex.warnings);
  const std::string out = read_file(dir + "/stdout.txt");
  if (!ex.warnings.empty()) {
    EXPECT_NE(out.find(ex.warnings), std::string::npos) << out;
  }
  EXPECT_FALSE(file_exists(dir + "/rare.out"));
}

const RunCase kRuns[] = {
    {"BinaryAdditive", true, "additive"},
    {"QuantitativeAdditive", false, "additive"},
    {"BinaryDominant", true, "dominant"},
    {"QuantitativeDominant", false, "dominant"},
    {"BinaryRecessive", true, "recessive"},
    {"QuantitativeRecessive", false, "recessive"},
};

INSTANTIATE_TEST_SUITE_P(Runs, CommonPassEndToEnd, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<RunCase> &i) { return std::string(i.param.name); });

// The fixture really holds the edge cases it is meant to: the rows tested
// under the additive model are exactly f97, na25, f30, rec01 and dose, and
// the recessive run turns rec01 into the "NA" row.
TEST(CommonPassRows, TestedRowsAndTheNaRow) {
  const Fixture f = make_fixture(true);
  const Expected add = expected_run(f, true, "additive", 0.25, false);
  std::string ids;
  for (const std::string &line : split(add.file, '\n'))
    if (!line.empty()) ids += line.substr(0, line.find('\t')) + " ";
  EXPECT_EQ(ids, "SNP_ID f97 na25 f30 rec01 dose ");
  const Expected rec = expected_run(f, true, "recessive", 0.25, false);
  EXPECT_NE(rec.file.find("rec01\tNA\tNA\tNA\tNA\n"), std::string::npos);
}

// With -resample the header carries "P-value_R" and the "NA" row has five
// "NA" after its identifier.
TEST(CommonPassResample, HeaderAndNaRowCarryTheResamplingColumn) {
  Fixture f = make_fixture(true);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  ASSERT_EQ(run_quorvex(dir, "-pfile pheno.txt -gfile geno.txt -noRare -com 0.25 -CR 0.75 -recessive -resample 1000"), 0)
      << read_file(dir + "/stdout.txt");
  const std::vector<std::string> lines = split(read_file(dir + "/com.out"), '\n');
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "SNP_ID\tP-value\tP-value_R\tU\tV\tZ");
  bool seen = false;
  for (const std::string &l : lines) {
    if (!l.empty()) {
      EXPECT_EQ(split(l, '\t').size(), 6u) << l;
    }
    if (l.rfind("rec01\t", 0) == 0) {
      EXPECT_EQ(l, "rec01\tNA\tNA\tNA\tNA\tNA");
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

double abs_z(const Null &m, const Matrix &Z, const std::vector<double> &s) {
  const size_t N = s.size(), D = Z[0].size();
  Matrix info(D, std::vector<double>(D, 0.0));
  std::vector<double> zs(D, 0.0);
  double U = 0, V = 0;
  for (size_t i = 0; i < N; i++) {
    U += s[i] * m.r[i];
    V += s[i] * s[i] * m.w[i];
    for (size_t a = 0; a < D; a++) {
      zs[a] += m.w[i] * s[i] * Z[i][a];
      for (size_t b = 0; b < D; b++) info[a][b] += m.w[i] * Z[i][a] * Z[i][b];
    }
  }
  const std::vector<double> x = solve(info, zs);
  for (size_t d = 0; d < D; d++) V -= zs[d] * x[d];
  return std::fabs(U / std::sqrt(V * m.sigma2));  // sigma2 is 1 for a binary trait
}

// With -resample, the whole result file against the independent
// computation, its resampling column recomputed over stage 1 (binary: Bernoulli
// draws and logistic refits; quantitative: permuted residuals of the
// standardized trait); a value that goes on to stage 2 must stay near its
// stage-1 value. Variant by variant (pool size 1) and pooled alike.
TEST(CommonPassResample, WholeResultFileWithStageOneRecomputed) {
  for (bool binary : {true, false}) {
    const Fixture f = make_fixture(binary);
    Matrix Z;
    for (size_t i = 0; i < f.y.size(); i++) {
      std::vector<double> zi = {1.0};
      for (double c : f.cov[i]) zi.push_back(c);
      Z.push_back(zi);
    }
    const Stage1 st = stage1_resamples(f, binary, Z);
    Expected ex = expected_run(f, binary, "additive", 0.25, true, &st);
    const std::string dir = scratch_dir();
    write_fixture(dir, f);
    ASSERT_EQ(run_quorvex(dir, "-pfile pheno.txt -gfile geno.txt -noRare -com 0.25 -CR 0.75 "
                               "-resample 1"),
              0)
        << read_file(dir + "/stdout.txt");
    const std::string got = read_file(dir + "/com.out");
    // Stage-2 values: the program's value replaces the mark once it is
    // checked to lie near the stage-1 value.
    std::vector<std::string> el = split(ex.file, '\n'), al = split(got, '\n');
    ASSERT_EQ(el.size(), al.size()) << got;
    int above = 0;
    for (size_t l = 1; l < el.size(); l++) {
      std::vector<std::string> ef = split(el[l], '\t'), af = split(al[l], '\t');
      if (ef.size() < 3 || af.size() < 3) continue;
      if (ef[2][0] == '~') {
        const double p1 = std::atof(ef[2].c_str() + 1), p = std::atof(af[2].c_str());
        EXPECT_LE(p, 0.1 + 3 * std::sqrt(p1 / 1001)) << al[l];
        EXPECT_GT(p, 0) << al[l];
        el[l] = el[l].replace(el[l].find('~'), ef[2].size(), af[2]);
      } else if (ef[2] != "NA") {
        above++;
      }
    }
    EXPECT_GE(above, 3) << (binary ? "binary" : "quantitative");
    std::string expected;
    for (size_t l = 0; l < el.size(); l++) expected += el[l] + (l + 1 < el.size() ? "\n" : "");
    expect_same_results(got, expected, binary ? tol::kNumerical : tol::kClose);
    // The variant-by-variant order gives the same file.
    ASSERT_EQ(test_support::run_program(dir, "QUORVEX_RESAMPLE_POOL=1 ",
                                        "-pfile pheno.txt -gfile geno.txt -noRare -com 0.25 "
                                        "-CR 0.75 -resample 1 -ofileC one.out",
                                        "> one.txt"),
              0);
    EXPECT_EQ(read_file(dir + "/one.out"), got);
  }
}

// The two passes do not disturb each other: with both, the gene-level file
// equals that of the gene pass alone and the common-variant file equals
// that of the common-variant pass alone; without -com no common-variant
// file is made.
TEST(CommonPassSwitch, BothPassesGiveTheFilesOfEachAlone) {
  const Fixture f = make_fixture(true);
  const std::string both = scratch_dir(), genes = scratch_dir(), common = scratch_dir();
  for (const std::string &dir : {both, genes, common}) {
    write_fixture(dir, f);
    write_file(dir, "mapping.txt", "G2\tdose\nG1\tf97\nG1\tf30\nG2\trec01\nG1\tna25\n");
  }
  const std::string base = "-pfile pheno.txt -gfile geno.txt -mfile mapping.txt -MAF 1 -CR 0.75";
  ASSERT_EQ(run_quorvex(both, base + " -com 0.25"), 0) << read_file(both + "/stdout.txt");
  ASSERT_EQ(run_quorvex(genes, base), 0) << read_file(genes + "/stdout.txt");
  ASSERT_EQ(run_quorvex(common, base + " -com 0.25 -noRare"), 0) << read_file(common + "/stdout.txt");
  EXPECT_FALSE(file_exists(genes + "/com.out"));
  EXPECT_FALSE(file_exists(common + "/rare.out"));
  EXPECT_EQ(split(read_file(both + "/rare.out"), '\n').size(), 4u);  // header, G1, G2, end
  EXPECT_EQ(read_file(both + "/rare.out"), read_file(genes + "/rare.out"));
  EXPECT_EQ(split(read_file(both + "/com.out"), '\n').size(), 7u);
  EXPECT_EQ(read_file(both + "/com.out"), read_file(common + "/com.out"));
}

// Load a fixture in-process and fit its null model (with the standardized
// trait when resampling is on).
struct LoadedRun {
  Settings s;
  LoadedData data;
  NullModel nm;
  RunArrays run;
  LoadedRun(const std::string &dir, int resample) {
    s = defaults();
    pheno = dir + "/pheno.txt";
    geno = dir + "/geno.txt";
    s.phenotype = pheno.c_str();
    s.genotype = geno.c_str();
    s.DORARE = 0;
    s.DOCOM = 1;
    s.PERM_FLAG = resample;
    std::fflush(stdout);
    const int saved = dup(fileno(stdout));
    if (std::freopen("/dev/null", "w", stdout) == nullptr) ADD_FAILURE();
    load_data(s, &data);
    std::fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    allocate_run(s, data, nm, run);
    fit_null_model(s, data, nm, run);
  }
  ~LoadedRun() {
    free_run(s, data, nm, run);
    free_loaded_data(&data);
  }
  std::string pheno, geno;
};

// A quantitative trait's resamples are compared with |Z| recomputed on the
// standardized trait: Z does not change when the trait is shifted and
// scaled (U scales with 1/sd, its variance with 1/sd^2), so the two agree
// up to rounding, for every tested row.
TEST(CommonPassObserved, StandardizedTraitGivesTheSameAbsoluteZ) {
  const Fixture f = make_fixture(false);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  LoadedRun r(dir, 1);
  r.s.MAF_C = 0.25;  // -com 0.25 -CR 0.75
  r.s.NA_UB = 0.25;
  const long N = r.data.pheno.pheno_NROW;
  int tested = 0;
  for (long k = 0; k < r.data.geno.geno_NROW; k++) {
    if (!common_variant_qualifies(r.s, r.data.geno, k)) continue;
    CommonVariant v;
    v.k = k;
    v.S = r.run.S[0];
    v.SZ = r.run.SZ[0];
    for (long i = 0; i < N; i++) v.S[i] = f.geno[(size_t)k][(size_t)i];
    code_common_variant(r.s, r.data.geno.geno_maf[k], N, v.S);
    const double Z = common_score_test(r.data, r.nm, v);
    const double obs = common_observed_statistic(r.data, r.nm, v);
    EXPECT_NEAR(obs, std::fabs(Z), tol::kClose * std::fabs(Z)) << f.id[(size_t)k];
    tested++;
  }
  EXPECT_EQ(tested, 5);
}

// -------------------------------------------------------------- stops --

struct StopCase {
  const char *name;
  const char *args;
  const char *stdout_tail;  // the message, then the program's stop
};
void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

class CommonPassStop : public ::testing::TestWithParam<StopCase> {};

// A result file that cannot be created, or whose writes fail (a full
// device), stops the run with exit status 1 and its message.
TEST_P(CommonPassStop, FailedResultFileStopsTheRun) {
  const StopCase &c = GetParam();
  const std::string dir = scratch_dir();
  write_fixture(dir, make_fixture(false));
  EXPECT_EQ(run_quorvex(dir, std::string("-pfile pheno.txt -gfile geno.txt -noRare -com 0.25 ") + c.args), 1);
  const std::string out = read_file(dir + "/stdout.txt");
  const std::string tail = std::string(c.stdout_tail) + "\nQUORVEX was stopped due to error(s) listed above.\n\n";
  ASSERT_GE(out.size(), tail.size()) << out;
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

const StopCase kStopCases[] = {
    {"CannotCreate", "-ofileC no_such_folder/com.out",
     "Error: Cannot create output file 'no_such_folder/com.out'.\n"},
    {"CannotWrite", "-ofileC /dev/full", "Error: Cannot write output file '/dev/full'.\n"},
};

INSTANTIATE_TEST_SUITE_P(Stops, CommonPassStop, ::testing::ValuesIn(kStopCases),
                         [](const ::testing::TestParamInfo<StopCase> &i) { return std::string(i.param.name); });

// The genotype file gone, or rewritten, between its loading and the pass.
// Gone: the message names the file's first variant (no row has been read
// yet) and the file. Rewritten with a value less on a tested row: the
// message names that variant and its line. Either way the header is on disk
// (written before the genotype file is opened).
struct ChangedCase {
  const char *name;
  bool gone;
  const char *message;  // regular expression; %s stands for the genotype file's name
};
void PrintTo(const ChangedCase &c, std::ostream *os) { *os << c.name; }

class CommonPassDeathTest : public ::testing::TestWithParam<ChangedCase> {};

TEST_P(CommonPassDeathTest, GenotypeFileGoneOrChangedAfterLoading) {
  const ChangedCase &c = GetParam();
  const std::string dir = scratch_dir();
  const Fixture f = make_fixture(true);
  write_fixture(dir, f);
  const std::string pheno = dir + "/pheno.txt", geno = dir + "/geno.txt", gone = dir + "/gone.txt";
  const std::string result = dir + "/com.out";
  const std::string used = c.gone ? gone : geno;
  std::string expected = c.message;
  expected.replace(expected.find("%s"), 2, used);
  EXPECT_EXIT(
      run_to_exit([&] {
        std::fflush(stdout);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) std::exit(2);  // the loading's progress
        ignore_leaks_from_here();
        Settings s = defaults();
        s.phenotype = pheno.c_str();
        s.genotype = geno.c_str();
        s.output_com = result.c_str();
        s.DORARE = 0;
        s.DOCOM = 1;
        s.MAF_C = 0.25;
        LoadedData data;
        load_data(s, &data);
        NullModel nm;
        RunArrays run;
        allocate_run(s, data, nm, run);
        fit_null_model(s, data, nm, run);
        MessageLog log;
        if (c.gone) {
          s.genotype = gone.c_str();
        } else {
          Fixture shorter = f;
          shorter.geno[1].pop_back();  // f97, the first tested row
          write_fixture(dir, shorter);
        }
        std::fflush(stdout);
        dup2(fileno(stderr), fileno(stdout));
        common_pass(s, data, nm, run, log);
        std::exit(0);
      }),
      ::testing::ExitedWithCode(1),
      "^" + expected + "\n\nQUORVEX was stopped due to error\\(s\\) listed above\\.\n\n$");
  EXPECT_EQ(read_file(result), "SNP_ID\tP-value\tU\tV\tZ\n");
}

const ChangedCase kChanged[] = {
    {"Gone", true, "SNP eq25 Error: Cannot open genotype file '%s'\\."},
    {"RowShortened", false,
     "SNP f97 Error: Genotype file '%s' changed during the run: line 2 no longer holds 100 values\\."},
};

INSTANTIATE_TEST_SUITE_P(AfterLoading, CommonPassDeathTest, ::testing::ValuesIn(kChanged),
                         [](const ::testing::TestParamInfo<ChangedCase> &i) { return std::string(i.param.name); });

// With -resample the tested variants before a stop wait in the pool: the
// stop on the last tested row (dose, line 9) first finishes them, so the
// result file holds their rows with their resampling p-values and the
// message comes last, as variant by variant (pool size 1).
TEST(CommonPassDeathTest, StopInALaterVariantAfterTheWaitingOnesAreWritten) {
  const std::string dir = scratch_dir();
  const Fixture f = make_fixture(true);
  std::string files[2];
  for (int pooled = 0; pooled < 2; pooled++) {
    write_fixture(dir, f);
    const std::string pheno = dir + "/pheno.txt", geno = dir + "/geno.txt";
    const std::string result = dir + "/com.out";
    EXPECT_EXIT(
        run_to_exit([&] {
          std::fflush(stdout);
          if (std::freopen("/dev/null", "w", stdout) == nullptr) std::exit(2);
          ignore_leaks_from_here();
          if (pooled)
            unsetenv("QUORVEX_RESAMPLE_POOL");
          else
            setenv("QUORVEX_RESAMPLE_POOL", "1", 1);
          Settings s = defaults();
          s.phenotype = pheno.c_str();
          s.genotype = geno.c_str();
          s.output_com = result.c_str();
          s.DORARE = 0;
          s.DOCOM = 1;
          s.MAF_C = 0.25;
          s.NA_UB = 0.25;
          s.PERM_FLAG = 1;
          LoadedData data;
          load_data(s, &data);
          NullModel nm;
          RunArrays run;
          allocate_run(s, data, nm, run);
          fit_null_model(s, data, nm, run);
          MessageLog log;
          Fixture shorter = f;
          shorter.geno[8].pop_back();  // dose
          write_fixture(dir, shorter);
          std::fflush(stdout);
          dup2(fileno(stderr), fileno(stdout));
          common_pass(s, data, nm, run, log);
          std::exit(0);
        }),
        ::testing::ExitedWithCode(1),
        "^SNP dose Error: Genotype file '" + geno +
            "' changed during the run: line 9 no longer holds 100 values\\.\n\nQUORVEX was "
            "stopped due to error\\(s\\) listed above\\.\n\n$");
    files[pooled] = read_file(result);
  }
  EXPECT_EQ(files[1], files[0]);
  const std::vector<std::string> lines = split(files[0], '\n');
  ASSERT_EQ(lines.size(), 6u) << files[0];  // header, four rows, end
  for (size_t l = 1; l <= 4; l++) {
    const std::vector<std::string> fields = split(lines[l], '\t');
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_NE(fields[2], "NA") << lines[l];
  }
}

}  // namespace
