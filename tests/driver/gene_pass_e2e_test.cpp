// End-to-end runs of the gene pass on small fixtures: the whole gene-level
// result file is compared with one computed here independently (linear
// scans of the mapping, Gaussian elimination instead of matrix inversion,
// Newton iterations run to full convergence, the recessive missing-genotype
// probability by convolution, p-values from erfc).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/driver/gene_pass_support.h"
#include "tests/support/tolerances.h"

using namespace gene_pass_test;

namespace {

using Matrix = std::vector<std::vector<double>>;

// ---------------------------------------------------------------- fixtures

struct MapRow {
  std::string gene, snp;
  double maf;
  int flag;
};

struct Fixture {
  std::vector<double> y;
  Matrix cov;                      // [N][covariates]
  std::vector<std::string> snp;    // genotype rows
  Matrix geno;                     // [rows][N], -1 missing
  std::vector<MapRow> map;
  int map_columns = 3;
};

const double NA = -1;

Fixture base_fixture(bool binary, int covariates) {
  Fixture f;
  if (binary)
    f.y = {1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 1};
  else
    f.y = {1.3, -0.2, 2.1, 0.4, -1.1, 1.7, 0.9, 0.0, -0.6, 2.4, 0.3, -0.9};
  const double c1[12] = {0.5, 1.2, -0.3, 0.8, 2.0, 0.1, -1.0, 0.4, 1.5, -0.7, 0.9, 0.2};
  const double c2[12] = {1, 0, 0, 1, 1, 0, 1, 0, 1, 1, 0, 0};
  f.cov.assign(12, {});
  for (int i = 0; i < 12; i++) {
    if (covariates >= 1) f.cov[i].push_back(c1[i]);
    if (covariates >= 2) f.cov[i].push_back(c2[i]);
  }
  f.snp = {"v01", "v02", "v03", "v04", "v05", "v06", "v07", "v08"};
  f.geno = {
      {0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0},
      {0, NA, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0},
      {0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0},
      {1, 0, 0, 0, 0, 0, 0, 0, NA, 0, 1, 1},
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
      {0, 1, 0, 1, 0, 0, 1, 0, 0, 0, 1, 0},
      {NA, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0},
      {0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},
  };
  // Rows out of gene order, and a gene's rows out of genotype-file order.
  f.map = {
      {"GB", "v08", 0.002, 1}, {"GA", "v04", 0.045, 1}, {"GA", "v01", 0.005, 0},
      {"GC", "v05", 0.003, 1}, {"GB", "v06", 0.2, 0},   {"GA", "v02", 0.008, 1},
      {"GB", "v07", 0.01, 0},  {"GD", "v09", 0.01, 1},  {"GA", "v03", 0.03, 0},
      {"GE", "v06", 0.04, 1},  {"GE", "v03", 0.02, 0},
  };
  return f;
}

std::string fmt(const char *format, double v) {
  char buf[64];
  snprintf(buf, sizeof buf, format, v);
  return buf;
}

void write_fixture(const std::string &dir, const Fixture &f) {
  std::string ph, ge, ma;
  for (size_t i = 0; i < f.y.size(); i++) {
    ph += "id" + std::to_string(i) + "\t" + fmt("%g", f.y[i]);
    for (double c : f.cov[i]) ph += "\t" + fmt("%g", c);
    ph += "\n";
  }
  for (size_t r = 0; r < f.snp.size(); r++) {
    ge += f.snp[r];
    for (double g : f.geno[r]) ge += g < 0 ? std::string("\tNA") : "\t" + fmt("%g", g);
    ge += "\n";
  }
  for (const MapRow &m : f.map) {
    ma += m.gene + "\t" + m.snp;
    if (f.map_columns >= 3) ma += "\t" + fmt("%g", m.maf);
    if (f.map_columns >= 4) ma += "\t" + std::to_string(m.flag);
    ma += "\n";
  }
  put_file(dir, "pheno.txt", ph);
  put_file(dir, "geno.txt", ge);
  put_file(dir, "mapping.txt", ma);
}

// ------------------------------------------------------ independent algebra

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
      double m = A[r][c] / A[c][c];
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

struct Null {
  bool binary;
  Matrix Z;                  // design with intercept
  std::vector<double> w;     // per-subject weight of the information (v, or 1)
  std::vector<double> res;   // residuals
  double sigma2 = 0;         // quantitative: RSS / N
};

Null fit_null(const Fixture &f, bool binary) {
  Null nm;
  nm.binary = binary;
  const size_t N = f.y.size(), p = f.cov[0].size() + 1;
  nm.Z.assign(N, std::vector<double>(p, 1.0));
  for (size_t i = 0; i < N; i++)
    for (size_t d = 1; d < p; d++) nm.Z[i][d] = f.cov[i][d - 1];
  std::vector<double> beta(p, 0.0);
  if (binary) {
    // Newton-Raphson to full convergence.
    for (int it = 0; it < 200; it++) {
      Matrix I(p, std::vector<double>(p, 0.0));
      std::vector<double> U(p, 0.0);
      for (size_t i = 0; i < N; i++) {
        double eta = 0;
        for (size_t d = 0; d < p; d++) eta += nm.Z[i][d] * beta[d];
        double mu = 1 / (1 + std::exp(-eta));
        for (size_t d = 0; d < p; d++) {
          U[d] += (f.y[i] - mu) * nm.Z[i][d];
          for (size_t e = 0; e < p; e++) I[d][e] += mu * (1 - mu) * nm.Z[i][d] * nm.Z[i][e];
        }
      }
      std::vector<double> step = solve(I, U);
      double size = 0;
      for (size_t d = 0; d < p; d++) {
        beta[d] += step[d];
        size = std::max(size, std::fabs(step[d]));
      }
      if (size < 1e-14) break;
    }
    for (size_t i = 0; i < N; i++) {
      double eta = 0;
      for (size_t d = 0; d < p; d++) eta += nm.Z[i][d] * beta[d];
      double mu = 1 / (1 + std::exp(-eta));
      nm.w.push_back(mu * (1 - mu));
      nm.res.push_back(f.y[i] - mu);
    }
  } else {
    Matrix A(p, std::vector<double>(p, 0.0));
    std::vector<double> b(p, 0.0);
    for (size_t i = 0; i < N; i++)
      for (size_t d = 0; d < p; d++) {
        b[d] += nm.Z[i][d] * f.y[i];
        for (size_t e = 0; e < p; e++) A[d][e] += nm.Z[i][d] * nm.Z[i][e];
      }
    beta = solve(A, b);
    for (size_t i = 0; i < N; i++) {
      double eta = 0;
      for (size_t d = 0; d < p; d++) eta += nm.Z[i][d] * beta[d];
      nm.res.push_back(f.y[i] - eta);
      nm.w.push_back(1.0);
      nm.sigma2 += (f.y[i] - eta) * (f.y[i] - eta);
    }
    nm.sigma2 /= N;
  }
  return nm;
}

// U, V and Z of one score under the null model; V <= 0 gives a non-finite Z.
void score(const Null &nm, const std::vector<double> &S, double &U, double &V, double &Z) {
  const size_t N = S.size(), p = nm.Z[0].size();
  Matrix A(p, std::vector<double>(p, 0.0));
  std::vector<double> b(p, 0.0);
  double u = 0, s2 = 0;
  for (size_t i = 0; i < N; i++) {
    u += S[i] * nm.res[i];
    s2 += nm.w[i] * S[i] * S[i];
    for (size_t d = 0; d < p; d++) {
      b[d] += nm.w[i] * S[i] * nm.Z[i][d];
      for (size_t e = 0; e < p; e++) A[d][e] += nm.w[i] * nm.Z[i][d] * nm.Z[i][e];
    }
  }
  std::vector<double> c = solve(A, b);
  double q = 0;
  for (size_t d = 0; d < p; d++) q += b[d] * c[d];
  double v = s2 - q;
  if (nm.binary) {
    U = u;
    V = v;
  } else {
    U = u / nm.sigma2;
    V = v / nm.sigma2;
  }
  // A score without any spread is exactly degenerate.
  bool constant = true;
  for (size_t i = 1; i < N; i++)
    if (S[i] != S[0]) constant = false;
  if (constant) V = 0;
  Z = (V > 1e-12 * std::max(1.0, s2)) ? U / std::sqrt(V) : NAN;
}

// -------------------------------------------------- independent gene logic

struct Options {
  int model = 1;  // 1 additive, 2 dominant, 3 recessive
  double MAF_UB = 0.05;
  int MAC_LB = 1;
  double NA_UB = 1.0;
  bool weights = false;   // customized test on: a MAX_P column
  bool resample = false;  // resampling columns
};

// Probability that the missing genotypes (Binomial(2, 1 - q_j) each) add at
// least `need` minor alleles, by convolution of their distributions.
double prob_at_least(const std::vector<double> &q, int need) {
  std::vector<double> dist(1, 1.0);
  for (double qj : q) {
    double a = 1 - qj;
    std::vector<double> next(dist.size() + 2, 0.0);
    for (size_t k = 0; k < dist.size(); k++) {
      next[k] += dist[k] * qj * qj;
      next[k + 1] += dist[k] * 2 * a * qj;
      next[k + 2] += dist[k] * a * a;
    }
    dist = next;
  }
  double tail = 0;
  for (size_t k = (size_t)std::max(need, 0); k < dist.size(); k++) tail += dist[k];
  return tail;
}

std::string expected_results(const Fixture &f, bool binary, const Options &o) {
  const size_t N = f.y.size();
  const int nfix = o.model == 1 ? 3 : 2;
  Null nm = fit_null(f, binary);
  std::string out;
  if (o.model == 1) {
    out = "GENE_ID\tT1_P\tT5_P\tMB_P\tVT_P\tSKAT_P";
    if (o.weights) out += "\tMAX_P";
    if (o.resample) out += "\tT1_R\tT5_R\tMB_R\tVT_R\tSKAT_R\tEREC_R";
    out += "\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V\tT5_Z\tMB_MAC\tMB_U\tMB_V\tMB_Z\n";
  } else {
    out = "GENE_ID\tT1_P\tT5_P\tVT_P\tSKAT_P";
    if (o.resample) out += "\tT1_R\tT5_R\tVT_R\tSKAT_R";
    out += "\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V\tT5_Z\n";
  }
  // Per genotype row: observed count, sum, missing rate, frequency, monomorphic.
  std::vector<double> nobs(f.snp.size()), gsum(f.snp.size()), narate(f.snp.size()),
      gmaf(f.snp.size());
  std::vector<int> mono(f.snp.size());
  for (size_t r = 0; r < f.snp.size(); r++) {
    double lo = 1e9, hi = -1e9;
    for (double g : f.geno[r])
      if (g >= 0) {
        nobs[r]++;
        gsum[r] += g;
        lo = std::min(lo, g);
        hi = std::max(hi, g);
      }
    narate[r] = (N - nobs[r]) / N;
    gmaf[r] = gsum[r] / (2 * nobs[r]);
    mono[r] = lo == hi;
  }
  std::vector<MapRow> map = f.map;
  std::stable_sort(map.begin(), map.end(),
                   [](const MapRow &a, const MapRow &b) { return a.gene < b.gene; });
  for (size_t start = 0; start < map.size();) {
    size_t end = start;
    while (end < map.size() && map[end].gene == map[start].gene) end++;
    // Used rows and their frequencies, by linear scans.
    std::vector<double> freq(f.snp.size(), 0.0);
    for (size_t m = start; m < end; m++) {
      for (size_t r = 0; r < f.snp.size(); r++) {
        if (f.snp[r] != map[m].snp) continue;
        bool ok;
        if (f.map_columns == 4)
          ok = map[m].maf >= 1e-10 && map[m].maf <= o.MAF_UB && narate[r] <= o.NA_UB &&
               nobs[r] > 0;
        else if (f.map_columns == 2)
          ok = narate[r] <= o.NA_UB && gmaf[r] >= 1e-10 && !mono[r] && gmaf[r] <= o.MAF_UB;
        else
          ok = map[m].maf >= 1e-10 && map[m].maf <= o.MAF_UB && narate[r] <= o.NA_UB &&
               gmaf[r] >= 1e-10 && !mono[r];
        if (ok) {
          freq[r] = f.map_columns == 2 ? gmaf[r] : map[m].maf;
          break;
        }
      }
    }
    std::vector<size_t> used;
    for (size_t r = 0; r < f.snp.size(); r++)
      if (freq[r] != 0) used.push_back(r);
    const std::string gene = map[start].gene;
    start = end;
    if (used.empty()) continue;

    // Burden scores from their definitions.
    Matrix S(nfix, std::vector<double>(N, 0.0));
    double allele_all = 0, allele_t1 = 0, allele_t5 = 0;
    for (size_t r : used) {
      allele_all += gsum[r];
      if (freq[r] < 0.01) allele_t1 += gsum[r];
      if (freq[r] < 0.05) allele_t5 += gsum[r];
    }
    if (allele_all < o.MAC_LB) continue;  // flagged: warning, no row
    for (size_t i = 0; i < N; i++) {
      for (int t = 0; t < 2; t++) {
        const double lim = t == 0 ? 0.01 : 0.05;
        double alleles = 0;
        bool carrier = false;
        std::vector<double> qmiss;
        for (size_t r : used) {
          if (!(freq[r] < lim)) continue;
          double g = f.geno[r][i];
          double q = 1 - gsum[r] / (2 * nobs[r]);
          if (g < 0) {
            qmiss.push_back(q);
            if (o.model == 1) alleles += gsum[r] / nobs[r];
          } else {
            alleles += g;
            if (g > 0.5) carrier = true;
          }
        }
        if (o.model == 1)
          S[t][i] = alleles;
        else if (o.model == 2)
          S[t][i] = carrier ? 1 : prob_at_least(qmiss, 1);
        else
          S[t][i] = alleles >= 2 ? 1 : prob_at_least(qmiss, 2 - (int)alleles);
      }
      if (o.model == 1) {
        for (size_t r : used) {
          double g = f.geno[r][i] < 0 ? gsum[r] / nobs[r] : f.geno[r][i];
          double pf = f.map_columns == 2 ? (gsum[r] + 1) / (2 * nobs[r] + 2) : freq[r];
          S[2][i] += g / std::sqrt(pf * (1 - pf));
        }
      }
    }
    if (allele_t1 < o.MAC_LB) std::fill(S[0].begin(), S[0].end(), 0.0);
    if (allele_t5 < o.MAC_LB) std::fill(S[1].begin(), S[1].end(), 0.0);

    out += gene;
    std::string tail;
    for (int t = 0; t < nfix; t++) {
      double U, V, Z;
      score(nm, S[t], U, V, Z);
      const double lim = t == 0 ? 0.01 : t == 1 ? 0.05 : 1.0;
      int mac = 0;
      for (size_t i = 0; i < N; i++) {
        double a = 0;
        bool carrier = false;
        for (size_t r : used)
          if (freq[r] <= lim) {
            double g = f.geno[r][i];
            if (g >= 1) carrier = true;
            if (g > 0.1) a += g;
          }
        mac += o.model == 3 ? (a >= 2) : carrier;
      }
      if (std::isfinite(Z)) {
        out += "\t" + fmt("%.4E", std::erfc(std::fabs(Z) / std::sqrt(2.0)));
        tail += "\t" + std::to_string(mac) + "\t" + fmt("%.9E", U) + "\t" + fmt("%.9E", V) +
                "\t" + fmt("%.4E", Z);
      } else {
        out += "\tNA";
        tail += "\tNA\tNA\tNA\tNA";
      }
    }
    out += "\tNA\tNA";             // VT_P, SKAT_P
    if (o.weights) out += "\tNA";    // MAX_P
    if (o.resample) out += std::string(o.model == 1 ? "\tNA\tNA\tNA\tNA\tNA\tNA" : "\tNA\tNA\tNA\tNA");
    out += tail + "\n";
  }
  return out;
}

// ------------------------------------------------------------------ cases

struct Case {
  const char *name;
  bool binary;
  int covariates;
  int map_columns;
  Options opts;
  const char *args;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class GenePassEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(GenePassEndToEnd, ResultFileMatchesIndependentComputation) {
  const Case &c = GetParam();
  Fixture f = base_fixture(c.binary, c.covariates);
  f.map_columns = c.map_columns;
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  if (c.opts.weights)
    put_file(dir, "weights.txt", "GA v01 1 0.5\nGA v02 2 0.5\nGA v03 1 1\nGB v08 3 1\nGE v03 1 1\n");
  ASSERT_EQ(run_quorvex(dir, c.args), 0) << get_file(dir + "/stdout.txt");
  const std::string expected = expected_results(f, c.binary, c.opts);
  // The logistic fit stops at a relative log-likelihood change of 1e-8, so
  // its coefficients carry an error of that order; least squares and the
  // intercept-only logistic fit are closed forms.
  const double rel = (c.binary && c.covariates > 0) ? tol::kNumerical : tol::kClose;
  expect_same_results(get_file(dir + "/rare.out"), expected, rel);
  if (!HasFailure()) remove_dir(dir);
}

Options opt(int model, double maf = 0.05, int mac = 1, double na_ub = 1.0, bool weights = false,
            bool resample = false) {
  Options o;
  o.model = model;
  o.MAF_UB = maf;
  o.MAC_LB = mac;
  o.NA_UB = na_ub;
  o.weights = weights;
  o.resample = resample;
  return o;
}

const Case kCases[] = {
    {"BinaryNoCovariatesAdditive", true, 0, 3, opt(1), ""},
    {"BinaryCovariatesAdditive", true, 2, 3, opt(1), ""},
    {"BinaryCovariatesDominant", true, 2, 3, opt(2), "-dominant"},
    {"BinaryCovariatesRecessive", true, 2, 3, opt(3), "-recessive"},
    {"BinaryNoCovariatesDominant", true, 0, 3, opt(2), "-dominant"},
    {"QuantNoCovariatesAdditive", false, 0, 3, opt(1), ""},
    {"QuantCovariatesAdditive", false, 2, 3, opt(1), ""},
    {"QuantCovariatesDominant", false, 2, 3, opt(2), "-dominant"},
    {"QuantCovariatesRecessive", false, 2, 3, opt(3), "-recessive"},
    {"QuantOneCovariateRecessive", false, 1, 3, opt(3), "-recessive"},
    {"TwoColumnMappingBinary", true, 2, 2, opt(1, 0.2), "-MAF 0.2"},
    {"TwoColumnMappingQuant", false, 1, 2, opt(1, 0.2), "-MAF 0.2"},
    {"MacBoundFlagsGenes", true, 2, 3, opt(1, 0.05, 5), "-MAC 5"},
    {"MacBoundZero", false, 2, 3, opt(1, 0.05, 0), "-MAC 0"},
    {"FourColumnMappingBinary", true, 2, 4, opt(1), ""},
    {"FourColumnMappingQuantRecessive", false, 2, 4, opt(3), "-recessive"},
    {"CallRateBound", true, 2, 3, opt(1, 0.05, 1, 1.0 - 0.95), "-CR 0.95"},
    {"WeightFileAddsMaxColumn", true, 2, 3, opt(1, 0.05, 1, 1.0, true), "-wfile weights.txt"},
    {"ResamplingColumns", false, 2, 3, opt(1, 0.05, 1, 1.0, false, true), "-resample 1000"},
    {"ResamplingWeightsQuantNoCovariates", false, 0, 3, opt(1, 0.05, 1, 1.0, true, true),
     "-resample 1000 -wfile weights.txt"},
    {"ResamplingDominant", true, 2, 3, opt(2, 0.05, 1, 1.0, false, true),
     "-dominant -resample 1000"},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, GenePassEndToEnd, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) {
                           return std::string(info.param.name);
                         });

}  // namespace

namespace {

// Standard output from the data summary on, with the two time lines masked.
std::string testing_phase(const std::string &out) {
  size_t at = out.find("\nDATA SUMMARY:");
  std::string tail = at == std::string::npos ? out : out.substr(at);
  std::string masked;
  std::vector<std::string> lines = split(tail, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();  // after the last newline
  for (const std::string &line : lines) {
    if (line.rfind("              ", 0) == 0 && line.size() > 20)
      masked += "              <time>\n";
    else
      masked += line + "\n";
  }
  return masked;
}

TEST(GenePassOutput, WarningsOnStandardOutputAndInTheMessageLog) {
  Fixture f = base_fixture(true, 2);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  put_file(dir, "msg.log", "left over\n");
  ASSERT_EQ(run_quorvex(dir, "-MAC 5 -msglog msg.log"), 0);
  // Observed minor alleles within the bound: GA 9 (T1 set 4, so its T1 row
  // is zeroed), GB 4 (below the bound: skipped), GE 6 (no T1 variant).
  const std::string warnings =
      "GENE GA Warning: Variance estimate=0 for observed T1 test statistic, so the p-value "
      "cannot be calculated.\n"
      "GENE GB Warning: All SNP MAFs >0.050000 or call rate <0.000000 or minor allele count "
      "<5, so p-values are not calculated.\n"
      "GENE GE Warning: Variance estimate=0 for observed T1 test statistic, so the p-value "
      "cannot be calculated.\n";
  EXPECT_EQ(testing_phase(get_file(dir + "/stdout.txt")),
            "\nDATA SUMMARY:\n#GENE = 5\n#SNP_ALL = 8\n#SUBJECTS = 12\n#COVARIATES = 2\n"
            "\n*---------------- START QUORVEX TEST ----------------*\n"
            "              <time>\n\n" +
                warnings +
                "\n*----------------- END QUORVEX TEST -----------------*\n"
                "              <time>\n");
  EXPECT_EQ(get_file(dir + "/msg.log"), warnings);
  EXPECT_EQ(split(get_file(dir + "/rare.out"), '\n').size(), 4u);  // header, GA, GE, end
  if (!HasFailure()) remove_dir(dir);
}

TEST(GenePassOutput, NoRareWritesNoResultFileAndEndsNormally) {
  Fixture f = base_fixture(false, 1);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  ASSERT_EQ(run_quorvex(dir, "-noRare -msglog m.log"), 0);
  EXPECT_FALSE(file_exists(dir + "/rare.out"));
  EXPECT_EQ(get_file(dir + "/m.log"), "");
  EXPECT_EQ(testing_phase(get_file(dir + "/stdout.txt")),
            "\nDATA SUMMARY:\n#SNP_ALL = 8\n#SUBJECTS = 12\n#COVARIATES = 1\n"
            "\n*---------------- START QUORVEX TEST ----------------*\n"
            "              <time>\n\n"
            "\n*----------------- END QUORVEX TEST -----------------*\n"
            "              <time>\n");
  if (!HasFailure()) remove_dir(dir);
}

TEST(GenePassOutput, AllZeroBinaryTraitStopsBeforeTesting) {
  Fixture f = base_fixture(true, 2);
  for (double &y : f.y) y = 0;
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  ASSERT_EQ(run_quorvex(dir, ""), 1);
  EXPECT_EQ(testing_phase(get_file(dir + "/stdout.txt")),
            "\nDATA SUMMARY:\n#GENE = 5\n#SNP_ALL = 8\n#SUBJECTS = 12\n#COVARIATES = 2\n"
            "\nError: All subjects have the same value of the binary trait, so the null model "
            "cannot be fitted.\n"
            "\nQUORVEX was stopped due to error(s) listed above.\n\n");
  EXPECT_FALSE(file_exists(dir + "/rare.out"));
  if (!HasFailure()) remove_dir(dir);
}

}  // namespace

namespace {

// Four subjects, trait 1 0 0 1 without covariates, one variant carried by
// subject 0 at frequency 0.005: ybar = 1/2, v = 1/4, centerY = +-1/2. The T1
// score S = (1, 0, 0, 0) has U = 1/2 and V = sum v S^2 - (sum v S)^2 / sum v
// = 1/4 - 1/16 = 3/16, so Z = (1/2) / sqrt(3/16) = 2/sqrt(3) and
// p = erfc(sqrt(2/3)) = 0.24821; MB is S times w = 1/sqrt(0.005 * 0.995):
// U = w/2 = 7.088812050, V = 3 w^2 / 16 = 37.68844221, the same Z.
TEST(GenePassHandWorked, OneCarrierInterceptOnly) {
  const std::string dir = scratch_dir();
  put_file(dir, "pheno.txt", "a\t1\nb\t0\nc\t0\nd\t1\n");
  put_file(dir, "geno.txt", "s1\t1\t0\t0\t0\n");
  put_file(dir, "mapping.txt", "GENE\ts1\t0.005\n");
  ASSERT_EQ(run_quorvex(dir, ""), 0);
  expect_same_results(
      get_file(dir + "/rare.out"),
      "GENE_ID\tT1_P\tT5_P\tMB_P\tVT_P\tSKAT_P\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V"
      "\tT5_Z\tMB_MAC\tMB_U\tMB_V\tMB_Z\n"
      "GENE\t2.4821E-01\t2.4821E-01\t2.4821E-01\tNA\tNA"
      "\t1\t5.000000000E-01\t1.875000000E-01\t1.1547E+00"
      "\t1\t5.000000000E-01\t1.875000000E-01\t1.1547E+00"
      "\t1\t7.088812050E+00\t3.768844221E+01\t1.1547E+00\n",
      tol::kClose);
  if (!HasFailure()) remove_dir(dir);
}

}  // namespace
