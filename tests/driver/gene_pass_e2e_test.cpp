// End-to-end runs of the gene pass on small fixtures: the whole gene-level
// result file is compared with one computed here independently (linear
// scans of the mapping, Gaussian elimination instead of matrix inversion,
// Newton iterations run to full convergence, the recessive missing-genotype
// probability by convolution, p-values from erfc).

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "numeric/random.h"
#include "numeric/regression.h"
#include "stats/permute.h"
#include "tests/driver/family_reference.h"
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
  write_file(dir, "pheno.txt", ph);
  write_file(dir, "geno.txt", ge);
  write_file(dir, "mapping.txt", ma);
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


// ------------------------------------------- stage 1 of the resampling
//
// The 1,000 resamples of stage 1 made here with the program's generators
// (permutations, Bernoulli draws) and, for a binary trait with covariates,
// its logistic refit; every statistic is then recomputed by the plain dense
// loops of this file, gene by gene.

// Null model of trait y at the coefficients gamma (binary), or of the
// least-squares fit of y (quantitative).
Null null_of(const Matrix &Z, const std::vector<double> &y, bool binary,
             const std::vector<double> &gamma) {
  Null nm;
  nm.binary = binary;
  nm.Z = Z;
  const size_t N = y.size(), p = Z[0].size();
  if (binary) {
    for (size_t i = 0; i < N; i++) {
      double eta = 0;
      for (size_t d = 0; d < p; d++) eta += Z[i][d] * gamma[d];
      double mu = 1 / (1 + std::exp(-eta));
      nm.w.push_back(mu * (1 - mu));
      nm.res.push_back(y[i] - mu);
    }
    return nm;
  }
  Matrix A(p, std::vector<double>(p, 0.0));
  std::vector<double> b(p, 0.0);
  for (size_t i = 0; i < N; i++)
    for (size_t d = 0; d < p; d++) {
      b[d] += Z[i][d] * y[i];
      for (size_t e = 0; e < p; e++) A[d][e] += Z[i][d] * Z[i][e];
    }
  std::vector<double> beta = solve(A, b);
  for (size_t i = 0; i < N; i++) {
    double eta = 0;
    for (size_t d = 0; d < p; d++) eta += Z[i][d] * beta[d];
    nm.res.push_back(y[i] - eta);
    nm.w.push_back(1.0);
    nm.sigma2 += (y[i] - eta) * (y[i] - eta);
  }
  nm.sigma2 /= N;
  return nm;
}

// The program's logistic fit (its stopping rule decides the last digits,
// and a resampled trait equal to the observed one must tie with it).
std::vector<double> library_logistic(const Matrix &Z, std::vector<double> y) {
  const size_t N = y.size(), p = Z[0].size();
  std::vector<double *> rows(N);
  Matrix z = Z;
  for (size_t i = 0; i < N; i++) rows[i] = z[i].data();
  std::vector<double> gamma(p, 0.0);
  logisticReg_v0((int)N, (int)p, y.data(), rows.data(), gamma.data());
  return gamma;
}

struct Stage1 {
  Null observed;                 // null model of the observed statistics
  std::vector<double> trait;     // the observed trait of the EREC scores
  std::vector<Null> nulls;       // the resamples' null models
  std::vector<std::vector<double>> traits;  // the resamples' traits
  double delta = 1;
};

Stage1 stage1_resamples(const Fixture &f, bool binary, const Null &fitted) {
  Stage1 st;
  const Matrix &Z = fitted.Z;
  const size_t N = f.y.size(), p = Z[0].size();
  std::vector<double> none;
  if (binary) {
    st.delta = 1;
    st.trait = f.y;
    std::vector<double> gamma = p > 1 ? library_logistic(Z, f.y) : std::vector<double>();
    if (p == 1) {
      double ybar = 0;
      for (double v : f.y) ybar += v;
      ybar /= N;
      gamma.assign(1, std::log(ybar / (1 - ybar)));
    }
    st.observed = null_of(Z, f.y, true, gamma);
    std::vector<double> pY(N);
    for (size_t i = 0; i < N; i++) {
      double eta = 0;
      for (size_t d = 0; d < p; d++) eta += Z[i][d] * gamma[d];
      pY[i] = 1 / (1 + std::exp(-eta));
    }
    reset_runifC3();
    reset_runifC3P();
    std::vector<int> perm(N);
    for (int s = 0; s < 1000; s++) {
      std::vector<double> y(N);
      if (p > 1) {
        for (size_t i = 0; i < N; i++) y[i] = rbinomC(pY[i], 1);
        st.nulls.push_back(null_of(Z, y, true, library_logistic(Z, y)));
      } else {
        getPermute(perm.data(), (int)N);
        for (size_t i = 0; i < N; i++) y[i] = f.y[perm[i]];
        st.nulls.push_back(null_of(Z, y, true, gamma));
      }
      st.traits.push_back(y);
    }
    return st;
  }
  st.delta = 2;
  double mean = 0, ss = 0;
  for (double v : f.y) mean += v;
  mean /= N;
  for (double v : f.y) ss += (v - mean) * (v - mean);
  const double sd = std::sqrt(ss / N);
  std::vector<double> scaled(N);
  for (size_t i = 0; i < N; i++) scaled[i] = (f.y[i] - mean) / sd;
  st.trait = scaled;
  st.observed = null_of(Z, scaled, false, none);
  reset_runifC3P();
  std::vector<int> perm(N);
  for (int s = 0; s < 1000; s++) {
    getPermute(perm.data(), (int)N);
    std::vector<double> y(N);
    // Fitted values plus permuted residuals; with the intercept alone the
    // standardized trait permuted.
    for (size_t i = 0; i < N; i++)
      y[i] = p > 1 ? st.observed.res[perm[i]] + (scaled[i] - st.observed.res[i]) : scaled[perm[i]];
    st.nulls.push_back(null_of(Z, y, false, none));
    st.traits.push_back(y);
  }
  return st;
}

double abs_z(const Null &nm, const std::vector<double> &S) {
  double U, V, Z;
  score(nm, S, U, V, Z);
  return std::fabs(Z);
}

double largest_abs_z(const Null &nm, const Matrix &rows) {
  double best = abs_z(nm, rows[0]);
  for (size_t l = 1; l < rows.size(); l++) best = std::max(best, abs_z(nm, rows[l]));
  return best;
}

double skat_q(const Null &nm, const Matrix &rows, const std::vector<double> &w) {
  double q = 0;
  for (size_t j = 0; j < rows.size(); j++) {
    double U, V, Z;
    score(nm, rows[j], U, V, Z);
    q += U * U * w[j];
  }
  return q;
}

// EREC statistic from its definition: per variant a clamped log odds ratio
// (binary, 2 x 2 table of the observed genotypes g0 with 1 added to each
// cell) or regression slope (quantitative, from X), shifted by +-delta.
double erec_stat(const Null &nm, const std::vector<double> &y, const Matrix &X, const Matrix &G0,
                 const std::vector<double> &maf, double maf_ub, double delta) {
  const size_t M = X.size(), N = y.size();
  std::vector<double> b(M, 0.0);
  for (size_t j = 0; j < M; j++) {
    if (maf[j] > maf_ub) continue;
    double e;
    if (nm.binary) {
      double t[2][2] = {{1, 1}, {1, 1}};  // [carrier][case]
      for (size_t i = 0; i < N; i++)
        if (G0[j][i] >= 0) t[G0[j][i] > 0][y[i] == 1] += 1;
      e = std::log(t[1][1] * t[0][0] / (t[0][1] * t[1][0]));
    } else {
      double my = 0, mx = 0, sxy = 0, sxx = 0;
      for (size_t i = 0; i < N; i++) {
        my += y[i] / N;
        mx += X[j][i] / N;
      }
      for (size_t i = 0; i < N; i++) {
        sxy += (y[i] - my) * (X[j][i] - mx);
        sxx += (X[j][i] - mx) * (X[j][i] - mx);
      }
      e = sxy / sxx;
    }
    b[j] = e > 3 ? 3 : e < -3 ? -3 : e;  // NaN stays NaN
  }
  double best = NAN;
  for (int sign = 1; sign >= -1; sign -= 2) {
    std::vector<double> S(N, 0.0);
    for (size_t i = 0; i < N; i++)
      for (size_t j = 0; j < M; j++)
        if (!(maf[j] > maf_ub)) S[i] += X[j][i] * (b[j] + sign * delta);
    const double z = abs_z(nm, S);
    if (sign == 1 || z > best) best = z;
  }
  return best;
}

// A family of candidate scores S[0..K-1] (N values each): U, covariance and
// null flags. null[l] = 1 on entry marks a score below the count bound; a
// constant score, one collinear with the design, or one whose variance is not
// positive is null as well. Family variances of a quantitative trait use the
// residual variance on N - p degrees of freedom.
struct Family {
  std::vector<double> U;
  Matrix cov;
  std::vector<int> null;
  int kept = 0;
};

Family family(const Null &nm, const Matrix &S, std::vector<int> null) {
  const size_t K = S.size(), N = nm.res.size(), p = nm.Z[0].size();
  Family fam;
  fam.U.assign(K, 0.0);
  fam.cov.assign(K, std::vector<double>(K, 0.0));
  Matrix A(p, std::vector<double>(p, 0.0)), A1(p, std::vector<double>(p, 0.0));
  for (size_t i = 0; i < N; i++)
    for (size_t d = 0; d < p; d++)
      for (size_t e = 0; e < p; e++) {
        A[d][e] += nm.w[i] * nm.Z[i][d] * nm.Z[i][e];
        A1[d][e] += nm.Z[i][d] * nm.Z[i][e];
      }
  Matrix c(K, std::vector<double>(p, 0.0)), Ac(K);
  for (size_t l = 0; l < K; l++) {
    bool constant = true;
    std::vector<double> b(p, 0.0);
    double ss = 0;
    for (size_t i = 0; i < N; i++) {
      if (S[l][i] != S[l][0]) constant = false;
      ss += S[l][i] * S[l][i];
      for (size_t d = 0; d < p; d++) {
        b[d] += S[l][i] * nm.Z[i][d];
        c[l][d] += nm.w[i] * S[l][i] * nm.Z[i][d];
      }
    }
    std::vector<double> g = solve(A1, b);
    double fitted = 0;
    for (size_t d = 0; d < p; d++) fitted += b[d] * g[d];
    if (constant || ss - fitted <= 1e-12 * std::max(1.0, ss)) null[l] = 1;
    Ac[l] = solve(A, c[l]);
  }
  const double scale = nm.binary ? 1.0 : (double)N / ((double)(N - p) * nm.sigma2);
  for (size_t l = 0; l < K; l++) {
    if (null[l]) continue;
    double u = 0;
    for (size_t i = 0; i < N; i++) u += nm.res[i] * S[l][i];
    fam.U[l] = nm.binary ? u : u / nm.sigma2;
    for (size_t m = 0; m < K; m++) {
      if (null[m]) continue;
      double sw = 0, q = 0;
      for (size_t i = 0; i < N; i++) sw += nm.w[i] * S[l][i] * S[m][i];
      for (size_t d = 0; d < p; d++) q += c[l][d] * Ac[m][d];
      fam.cov[l][m] = (sw - q) * scale;
    }
  }
  for (size_t l = 0; l < K; l++)
    if (!null[l] && fam.cov[l][l] <= 1e-12) null[l] = 1;
  for (size_t l = 0; l < K; l++)
    if (null[l]) {
      fam.U[l] = 0;
      for (size_t m = 0; m < K; m++) fam.cov[l][m] = fam.cov[m][l] = 0;
    }
  fam.null = null;
  for (int f : null) fam.kept += f == 0;
  return fam;
}

// Maximum-statistic p-value of a family: T = max |U| / sqrt(V) over the
// usable scores, a score correlated within 1e-10 of +1 with an earlier one
// left out of the integration.
family_reference::Reference max_test(const Family &fam) {
  std::vector<size_t> use;
  for (size_t l = 0; l < fam.U.size(); l++)
    if (fam.cov[l][l] > 0) use.push_back(l);
  double T = 0;
  for (size_t l : use) T = std::max(T, std::fabs(fam.U[l]) / std::sqrt(fam.cov[l][l]));
  std::vector<size_t> keep;
  for (size_t a = 0; a < use.size(); a++) {
    bool dup = false;
    for (size_t b = 0; b < a; b++) {
      double r = fam.cov[use[a]][use[b]] / std::sqrt(fam.cov[use[a]][use[a]] * fam.cov[use[b]][use[b]]);
      if (std::fabs(r - 1) < 1e-10) dup = true;
    }
    if (!dup) keep.push_back(use[a]);
  }
  Matrix R(keep.size(), std::vector<double>(keep.size()));
  for (size_t a = 0; a < keep.size(); a++)
    for (size_t b = 0; b < keep.size(); b++)
      R[a][b] = a == b ? 1.0
                       : fam.cov[keep[a]][keep[b]] /
                             std::sqrt(fam.cov[keep[a]][keep[a]] * fam.cov[keep[b]][keep[b]]);
  return family_reference::max_normal_tail(R, T);
}

// SKAT p-value: Q = sum w U^2 over the usable scores against the eigenvalues
// of the weighted covariance above 1e-5 of their mean.
double skat_test(const Family &fam, const std::vector<double> &w) {
  std::vector<size_t> use;
  for (size_t l = 0; l < fam.U.size(); l++)
    if (fam.cov[l][l] > 0) use.push_back(l);
  double Q = 0;
  Matrix Kern(use.size(), std::vector<double>(use.size()));
  for (size_t a = 0; a < use.size(); a++) {
    Q += w[use[a]] * fam.U[use[a]] * fam.U[use[a]];
    for (size_t b = 0; b < use.size(); b++)
      Kern[a][b] = std::sqrt(w[use[a]] * w[use[b]]) * fam.cov[use[a]][use[b]];
  }
  std::vector<double> ev = family_reference::jacobi_eigenvalues(Kern), lambda;
  double sum = 0;
  int n = 0;
  for (double e : ev)
    if (e >= 0) {
      sum += e;
      n++;
    }
  for (double e : ev)
    if (e > sum / n / 100000) lambda.push_back(e);
  return family_reference::chisq_mixture_upper_tail(lambda, Q);
}

// Lower triangle of row j: "\t%.9E" up to the diagonal, "\t0" above.
std::string lower_row(const Matrix &cov, size_t j) {
  std::string s;
  for (size_t c = 0; c < cov.size(); c++) s += c <= j ? "\t" + fmt("%.9E", cov[j][c]) : "\t0";
  return s;
}

// -------------------------------------------------- independent gene logic

struct Options {
  int model = 1;  // 1 additive, 2 dominant, 3 recessive
  double MAF_UB = 0.05;
  int MAC_LB = 1;
  double NA_UB = 1.0;
  bool weights = false;   // customized test on: a MAX_P column
  std::string weight_text;  // the weight file (gene, variant, weights)
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

// A field of the result file whose value may lie within tol of the expected
// one (p-values of numerical integrations).
struct Loose {
  size_t line, field;
  double tol;
};

struct Expected {
  std::string results, vt_log, skat_log, multi_log;
  std::vector<Loose> loose;
};

Expected expected_run(const Fixture &f, bool binary, const Options &o) {
  Expected ex;
  const size_t N = f.y.size();
  const int nfix = o.model == 1 ? 3 : 2;
  Null nm = fit_null(f, binary);
  Stage1 st;
  if (o.resample) st = stage1_resamples(f, binary, nm);
  if (!binary) {
    ex.vt_log = ex.skat_log = "#ResidualVariance = " + fmt("%.9f", nm.sigma2) + "\n";
    if (o.weights) ex.multi_log = ex.vt_log;
  }
  // Weight lines: gene -> variant -> weights (the fixtures keep a gene's
  // lines together and give every line the same number of weights).
  std::map<std::string, std::map<std::string, std::vector<double>>> weight_of;
  {
    std::vector<std::string> lines = split(o.weight_text, '\n');
    for (const std::string &line : lines) {
      std::vector<std::string> t = split(line, ' ');
      if (t.size() < 3) continue;
      for (size_t k = 2; k < t.size(); k++) weight_of[t[0]][t[1]].push_back(std::atof(t[k].c_str()));
    }
  }
  size_t line_no = 1;
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
    std::vector<bool> burden_printed(nfix, false);
    for (int t = 0; t < nfix; t++) {
      double U, V, Z;
      score(nm, S[t], U, V, Z);
      burden_printed[t] = std::isfinite(Z);
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
    // ------------------------------------------------ SKAT, VT, customized
    const size_t M = used.size();
    Matrix vt_kept, skat_kept;  // the scores that resampling reuses
    std::vector<double> skat_w;
    double p_vt_out = 99, p_skat_out = 99;
    std::vector<double> qv(M), umaf(M);
    for (size_t j = 0; j < M; j++) {
      qv[j] = 1 - gsum[used[j]] / (2 * nobs[used[j]]);
      umaf[j] = freq[used[j]];
    }
    auto g0 = [&](size_t i, size_t j) { return f.geno[used[j]][i]; };
    // Working genotypes after the burden step.
    Matrix X(M, std::vector<double>(N));
    for (size_t j = 0; j < M; j++)
      for (size_t i = 0; i < N; i++) {
        double g = g0(i, j);
        if (o.model == 1)
          X[j][i] = g < 0 ? 2 * (1 - qv[j]) : g;
        else if (o.model == 2)
          X[j][i] = g < 0 ? 1 - qv[j] * qv[j] : (g > 0 ? 1 : 0);
        else
          X[j][i] = g < 0 ? (1 - qv[j]) * (1 - qv[j]) : (g >= 2 ? 1 : 0);
      }
    // Count of a burden over the variants with frequency <= t.
    auto burden_mac = [&](double t) {
      int mac = 0;
      for (size_t i = 0; i < N; i++) {
        double a = 0;
        bool carrier = false;
        for (size_t j = 0; j < M; j++)
          if (umaf[j] <= t) {
            if (g0(i, j) >= 1) carrier = true;
            if (g0(i, j) > 0.1) a += g0(i, j);
          }
        mac += o.model == 3 ? (a >= 2) : carrier;
      }
      return mac;
    };
    // SKAT: one score per variant, weights 25^2 (1 - maf)^48.
    {
      Family fam = family(nm, X, std::vector<int>(M, 0));
      std::vector<double> w(M);
      for (size_t j = 0; j < M; j++) w[j] = std::pow(25 * std::pow(1 - umaf[j], 24), 2);
      for (size_t j = 0; j < M; j++)
        if (!fam.null[j]) {
          skat_kept.push_back(X[j]);
          skat_w.push_back(w[j]);
        }
      for (size_t j = 0; j < M; j++) {
        int mac = 0;
        for (size_t i = 0; i < N; i++) mac += X[j][i] >= 1;
        char buf[256];
        snprintf(buf, sizeof buf, "%s\t%s\t%E\t%d\t%d\t%.9E", gene.c_str(),
                 f.snp[used[j]].c_str(), umaf[j], mac,
                 (int)(N - N * ((double)(N - nobs[used[j]]) / N)), fam.U[j]);
        ex.skat_log += buf + lower_row(fam.cov, j) + "\n";
      }
      double p_vt = 99, p_skat = 99;
      family_reference::Reference vt{99, 0};
      if (fam.kept > 0) p_skat = skat_test(fam, w);
      // VT thresholds: the flagged frequencies (four columns) or the
      // distinct frequencies whose burden meets the count bound.
      std::vector<double> th;
      if (f.map_columns == 4) {
        for (size_t j = 0; j < M; j++) {
          bool flagged = false;
          for (size_t m = 0; m < map.size(); m++)
            if (map[m].gene == gene && map[m].snp == f.snp[used[j]] && map[m].maf == umaf[j] &&
                map[m].flag == 1)
              flagged = true;
          if (flagged) th.push_back(umaf[j]);
        }
      } else if (burden_mac(1.0) >= o.MAC_LB) {
        for (size_t j = 0; j < M; j++)
          if (std::find(th.begin(), th.end(), umaf[j]) == th.end() &&
              burden_mac(umaf[j]) >= o.MAC_LB)
            th.push_back(umaf[j]);
      }
      if (!th.empty()) {
        Matrix S(th.size(), std::vector<double>(N, 0.0));
        std::vector<int> null(th.size(), 0), macs(th.size());
        for (size_t l = 0; l < th.size(); l++) {
          macs[l] = burden_mac(th[l]);
          if (macs[l] < o.MAC_LB) null[l] = 1;
          for (size_t i = 0; i < N; i++) {
            double sum = 0, high = 0;
            bool carrier = false;
            std::vector<double> qmiss;
            for (size_t j = 0; j < M; j++) {
              if (!(umaf[j] <= th[l])) continue;
              double g = g0(i, j);
              if (g < -0.1) {
                qmiss.push_back(qv[j]);
                sum += 2 * (1 - qv[j]);
              } else {
                sum += g;
                if (g > 0.5) {
                  carrier = true;
                  high += g;
                }
              }
            }
            if (o.model == 1)
              S[l][i] = sum;
            else if (o.model == 2)
              S[l][i] = carrier ? 1 : prob_at_least(qmiss, 1);
            else
              S[l][i] = high >= 2 ? 1 : (qmiss.empty() ? 0 : prob_at_least(qmiss, 2 - (int)high));
          }
        }
        Family vfam = family(nm, S, null);
        for (size_t l = 0; l < th.size(); l++)
          if (!vfam.null[l]) vt_kept.push_back(S[l]);
        for (size_t l = 0; l < th.size(); l++) {
          char buf[256];
          snprintf(buf, sizeof buf, "%s\t%E\t%d\t%.9E", gene.c_str(), th[l], macs[l], vfam.U[l]);
          ex.vt_log += buf + lower_row(vfam.cov, l) + "\n";
        }
        if (vfam.kept > 0 && vfam.kept <= 19) {
          vt = max_test(vfam);
          p_vt = vt.p;
        }
      }
      p_vt_out = p_vt;
      p_skat_out = p_skat;
      out += p_vt <= 1 ? "\t" + fmt("%.4E", p_vt) : "\tNA";
      if (p_vt <= 1) ex.loose.push_back({line_no, (size_t)nfix + 1, vt.tol});
      out += p_skat <= 1 ? "\t" + fmt("%.4E", p_skat) : "\tNA";
      if (p_skat <= 1) ex.loose.push_back({line_no, (size_t)nfix + 2, 1e-8 + 1e-5 * p_skat});
    }
    if (o.weights) {
      double p_max = 99;
      family_reference::Reference mx{99, 0};
      auto it = weight_of.find(gene);
      size_t K = 0;
      for (size_t j = 0; it != weight_of.end() && j < M; j++) {
        auto wj = it->second.find(f.snp[used[j]]);
        if (wj != it->second.end()) K = wj->second.size();
      }
      if (K > 0) {
        Matrix S(K, std::vector<double>(N, 0.0));
        std::vector<int> null(K, 0), macs(K, 0);
        for (size_t k = 0; k < K; k++) {
          std::vector<double> wt(M, 0.0);
          for (size_t j = 0; j < M; j++) {
            auto wj = it->second.find(f.snp[used[j]]);
            if (wj != it->second.end()) wt[j] = wj->second[k];
          }
          for (size_t i = 0; i < N; i++) {
            bool carrier = false;
            for (size_t j = 0; j < M; j++) {
              double g = g0(i, j);
              S[k][i] += wt[j] * (g < -0.1 ? 2 * (1 - qv[j]) : g);
              if (wt[j] > 0 && g > 0.1) carrier = true;
            }
            macs[k] += carrier;
          }
          if (macs[k] < o.MAC_LB) null[k] = 1;
        }
        Family mfam = family(nm, S, null);
        for (size_t k = 0; k < K; k++) {
          char buf[256];
          snprintf(buf, sizeof buf, "%s\t%d\t%d\t%.9E", gene.c_str(), (int)k + 1, macs[k],
                   mfam.U[k]);
          ex.multi_log += buf + lower_row(mfam.cov, k) + "\n";
        }
        if (mfam.kept >= 1 && mfam.kept <= 19) {
          mx = max_test(mfam);
          p_max = mx.p;
        }
      }
      out += p_max <= 1 ? "\t" + fmt("%.4E", p_max) : "\tNA";
      if (p_max <= 1) ex.loose.push_back({line_no, (size_t)nfix + 3, mx.tol});
    }
    if (o.resample) {
      // Observed statistics, the tests that take part, and their hits over
      // stage 1. A test whose p-value stays above 0.1 ends with
      // (hits + 1) / 1001; one at or below 0.1 goes on to later stages, whose
      // value is only checked to stay near it.
      const int T = nfix + 3;
      std::vector<double> obs(T, NAN);
      std::vector<bool> part(T, false);
      Matrix G0(M, std::vector<double>(N));
      for (size_t j = 0; j < M; j++)
        for (size_t i = 0; i < N; i++) G0[j][i] = g0(i, j);
      for (int t = 0; t < nfix; t++) obs[t] = abs_z(st.observed, S[t]);
      if (!vt_kept.empty()) obs[nfix] = largest_abs_z(st.observed, vt_kept);
      if (!skat_kept.empty()) obs[nfix + 1] = skat_q(st.observed, skat_kept, skat_w);
      if (o.model == 1)
        obs[nfix + 2] = erec_stat(st.observed, st.trait, X, G0, umaf, o.MAF_UB, st.delta);
      for (int t = 0; t < T; t++) part[t] = std::isfinite(obs[t]);
      bool resampled = part[nfix + 2] || p_vt_out <= 1;
      for (int t = 0; t < nfix; t++) resampled = resampled || burden_printed[t];
      std::vector<double> hits(T, 0.0);
      for (size_t s = 0; resampled && s < st.nulls.size(); s++) {
        const Null &r = st.nulls[s];
        std::vector<double> T_s(T, NAN);
        for (int t = 0; t < nfix; t++) T_s[t] = abs_z(r, S[t]);
        if (part[nfix]) T_s[nfix] = largest_abs_z(r, vt_kept);
        if (part[nfix + 1]) T_s[nfix + 1] = skat_q(r, skat_kept, skat_w);
        if (part[nfix + 2])
          T_s[nfix + 2] = erec_stat(r, st.traits[s], X, G0, umaf, o.MAF_UB, st.delta);
        for (int t = 0; t < T; t++)
          if (part[t] && (T_s[t] > obs[t] || std::fabs(T_s[t] - obs[t]) < 1e-10)) hits[t] += 1;
      }
      std::vector<bool> printed(T);
      for (int t = 0; t < nfix; t++) printed[t] = burden_printed[t];
      printed[nfix] = p_vt_out <= 1;
      printed[nfix + 1] = p_skat_out <= 1;
      printed[nfix + 2] = true;
      const size_t first_field = 1 + nfix + 2 + (o.weights ? 1 : 0);
      for (int t = 0; t < T; t++) {
        if (t == nfix + 2 && o.model != 1) break;
        if (!printed[t] || !resampled || !part[t]) {
          out += "\tNA";
          continue;
        }
        const double pv = (hits[t] + 1) / 1001;
        out += "\t" + fmt("%.4E", pv);
        if (pv <= 0.1) ex.loose.push_back({line_no, first_field + t, 0.1});
      }
    }
    out += tail + "\n";
    line_no++;
  }
  ex.results = out;
  return ex;
}

// ------------------------------------------------------------------ cases

struct Case {
  const char *name;
  bool binary;
  int covariates;
  int map_columns;
  Options opts;
  const char *args;
  int copies = 1;  // the fixture's subjects repeated this many times
};

// The fixture with every subject repeated `copies` times (a binary trait
// with covariates is resampled by Bernoulli draws, and 12 subjects would
// draw a trait of one value now and then, which stops the run).
Fixture repeated(Fixture f, int copies) {
  Fixture r = f;
  for (int c = 1; c < copies; c++) {
    r.y.insert(r.y.end(), f.y.begin(), f.y.end());
    r.cov.insert(r.cov.end(), f.cov.begin(), f.cov.end());
    for (size_t v = 0; v < f.geno.size(); v++)
      r.geno[v].insert(r.geno[v].end(), f.geno[v].begin(), f.geno[v].end());
  }
  return r;
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class GenePassEndToEnd : public ::testing::TestWithParam<Case> {};

// Two weight vectors; GA's v04 has no line (weight 0), GB's two vectors are
// proportional over its used variants (correlation 1, one is left out of the
// integration).
const char kWeights[] = "GA v01 1 0.5\nGA v02 2 0.5\nGA v03 1 1\nGB v08 3 1\nGE v03 1 1\n";

// expect_same_results, except that the listed fields may differ by their
// tolerance plus one unit of the last printed digit.
void expect_same_results_loose(const std::string &actual, const std::string &expected,
                               double rel_tol, const std::vector<Loose> &loose) {
  std::vector<std::string> al = split(actual, '\n'), el = split(expected, '\n');
  ASSERT_EQ(al.size(), el.size()) << "actual:\n" << actual << "expected:\n" << expected;
  std::string a2, e2;
  for (size_t l = 0; l < el.size(); l++) {
    std::vector<std::string> af = split(al[l], '\t'), ef = split(el[l], '\t');
    for (const Loose &x : loose) {
      if (x.line != l || x.field >= af.size() || x.field >= ef.size()) continue;
      double a = std::atof(af[x.field].c_str()), b = std::atof(ef[x.field].c_str());
      EXPECT_EQ(af[x.field].size(), ef[x.field].size()) << af[x.field] << " vs " << ef[x.field];
      EXPECT_LE(std::fabs(a - b), x.tol + 1.01 * last_digit_unit(ef[x.field]))
          << "line " << l << " field " << x.field << ": " << af[x.field] << " vs "
          << ef[x.field];
      af[x.field] = ef[x.field] = "<checked>";
    }
    for (size_t f = 0; f < af.size(); f++) a2 += (f ? "\t" : "") + af[f];
    for (size_t f = 0; f < ef.size(); f++) e2 += (f ? "\t" : "") + ef[f];
    if (l + 1 < el.size()) {
      a2 += "\n";
      e2 += "\n";
    }
  }
  expect_same_results(a2, e2, rel_tol);
}

TEST_P(GenePassEndToEnd, ResultFileMatchesIndependentComputation) {
  const Case &c = GetParam();
  Fixture f = repeated(base_fixture(c.binary, c.covariates), c.copies);
  f.map_columns = c.map_columns;
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  Options o = c.opts;
  if (o.weights) {
    o.weight_text = kWeights;
    write_file(dir, "weights.txt", kWeights);
  }
  ASSERT_EQ(run_quorvex(dir, c.args), 0) << read_file(dir + "/stdout.txt");
  const Expected ex = expected_run(f, c.binary, o);
  // The logistic fit stops at a relative log-likelihood change of 1e-8, so
  // its coefficients carry an error of that order; least squares and the
  // intercept-only logistic fit are closed forms.
  const double rel = (c.binary && c.covariates > 0) ? tol::kNumerical : tol::kClose;
  expect_same_results_loose(read_file(dir + "/rare.out"), ex.results, rel, ex.loose);
  expect_same_results(read_file(dir + "/vt.log"), ex.vt_log, rel);
  expect_same_results(read_file(dir + "/skat.log"), ex.skat_log, rel);
  if (o.weights)
    expect_same_results(read_file(dir + "/multi.log"), ex.multi_log, rel);
  else
    EXPECT_FALSE(file_exists(dir + "/multi.log"));
  // One empty line on standard output per gene whose SKAT statistic was
  // computed: a gene with a SKAT p-value.
  size_t skat_genes = 0;
  for (const std::string &line : split(ex.results, '\n')) {
    std::vector<std::string> fields = split(line, '\t');
    const size_t at = o.model == 1 ? 5 : 4;
    if (fields.size() > at && fields[0] != "GENE_ID" && fields[at] != "NA") skat_genes++;
  }
  size_t empty_lines = 0;
  const std::string out = read_file(dir + "/stdout.txt");
  const size_t from = out.find("START QUORVEX TEST"), to = out.find("END QUORVEX TEST");
  std::vector<std::string> lines = split(out.substr(from, to - from), '\n');
  for (const std::string &line : lines) empty_lines += line.empty();
  // Besides them the testing phase has the empty line after the start time
  // and the one before the closing heading.
  EXPECT_EQ(empty_lines, skat_genes + 2);
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
    {"ResamplingDominant", true, 0, 3, opt(2, 0.05, 1, 1.0, false, true),
     "-dominant -resample 1000"},
    {"ResamplingBinaryNoCovariatesPermuted", true, 0, 4, opt(1, 0.05, 1, 1.0, false, true),
     "-resample 1000"},
    {"ResamplingBinaryCovariatesBernoulliDraws", true, 2, 3, opt(1, 0.05, 1, 1.0, false, true),
     "-resample 1000", 4},
    {"ResamplingQuantRecessive", false, 1, 3, opt(3, 0.05, 1, 1.0, false, true),
     "-recessive -resample 1000"},
    // The customized test is never run under the dominant or recessive
    // model: no MAX_P column and no customized log.
    {"WeightFileIgnoredUnderRecessive", false, 1, 3, opt(3), "-recessive -wfile weights.txt"},
    {"WeightFileFourColumnMapping", false, 2, 4, opt(1, 0.05, 1, 1.0, true), "-wfile weights.txt"},
    // GC's only variant is monomorphic (used with four columns) and, with
    // -MAC 0, tested: its constant SKAT score and VT burden are dropped but
    // logged with zeros, and SKAT prints no empty line for it.
    {"FourColumnMappingMacZero", true, 2, 4, opt(1, 0.05, 0), "-MAC 0"},
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
  write_file(dir, "msg.log", "left over\n");
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
  // GA and GE get their SKAT test, each printing one empty line after the
  // gene's burden warnings.
  const std::string with_skat_lines =
      "GENE GA Warning: Variance estimate=0 for observed T1 test statistic, so the p-value "
      "cannot be calculated.\n\n"
      "GENE GB Warning: All SNP MAFs >0.050000 or call rate <0.000000 or minor allele count "
      "<5, so p-values are not calculated.\n"
      "GENE GE Warning: Variance estimate=0 for observed T1 test statistic, so the p-value "
      "cannot be calculated.\n\n";
  EXPECT_EQ(testing_phase(read_file(dir + "/stdout.txt")),
            "\nDATA SUMMARY:\n#GENE = 5\n#SNP_ALL = 8\n#SUBJECTS = 12\n#COVARIATES = 2\n"
            "\n*---------------- START QUORVEX TEST ----------------*\n"
            "              <time>\n\n" +
                with_skat_lines +
                "\n*----------------- END QUORVEX TEST -----------------*\n"
                "              <time>\n");
  // The SKAT computation's empty lines go to standard output only.
  EXPECT_EQ(read_file(dir + "/msg.log"), warnings);
  EXPECT_EQ(split(read_file(dir + "/rare.out"), '\n').size(), 4u);  // header, GA, GE, end
  if (!HasFailure()) remove_dir(dir);
}

TEST(GenePassOutput, NoRareWritesNoResultFileAndEndsNormally) {
  Fixture f = base_fixture(false, 1);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  ASSERT_EQ(run_quorvex(dir, "-noRare -msglog m.log"), 0);
  EXPECT_FALSE(file_exists(dir + "/rare.out"));
  EXPECT_EQ(read_file(dir + "/m.log"), "");
  EXPECT_EQ(testing_phase(read_file(dir + "/stdout.txt")),
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
  EXPECT_EQ(testing_phase(read_file(dir + "/stdout.txt")),
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
// U = w/2 = 7.088812050, V = 3 w^2 / 16 = 37.68844221, the same Z. With one
// variant SKAT has one eigenvalue w V, so its p-value is the chi-square(1)
// tail of U^2 / V, and VT has one threshold, so its p-value is that of the
// T1 burden: both 0.24821. The logs of a binary trait have no header.
TEST(GenePassHandWorked, OneCarrierInterceptOnly) {
  const std::string dir = scratch_dir();
  write_file(dir, "pheno.txt", "a\t1\nb\t0\nc\t0\nd\t1\n");
  write_file(dir, "geno.txt", "s1\t1\t0\t0\t0\n");
  write_file(dir, "mapping.txt", "GENE\ts1\t0.005\n");
  ASSERT_EQ(run_quorvex(dir, ""), 0);
  expect_same_results(
      read_file(dir + "/rare.out"),
      "GENE_ID\tT1_P\tT5_P\tMB_P\tVT_P\tSKAT_P\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U\tT5_V"
      "\tT5_Z\tMB_MAC\tMB_U\tMB_V\tMB_Z\n"
      "GENE\t2.4821E-01\t2.4821E-01\t2.4821E-01\t2.4821E-01\t2.4821E-01"
      "\t1\t5.000000000E-01\t1.875000000E-01\t1.1547E+00"
      "\t1\t5.000000000E-01\t1.875000000E-01\t1.1547E+00"
      "\t1\t7.088812050E+00\t3.768844221E+01\t1.1547E+00\n",
      tol::kClose);
  expect_same_results(read_file(dir + "/skat.log"),
                      "GENE\ts1\t5.000000E-03\t1\t4\t5.000000000E-01\t1.875000000E-01\n",
                      tol::kClose);
  expect_same_results(read_file(dir + "/vt.log"),
                      "GENE\t5.000000E-03\t1\t5.000000000E-01\t1.875000000E-01\n", tol::kClose);
  EXPECT_FALSE(file_exists(dir + "/multi.log"));
  if (!HasFailure()) remove_dir(dir);
}

// The quantitative twin: trait 3 1 1 3, so ybar = 2, residuals +-1 and
// SigmaSQ = RSS / N = 1. The T1 score (1, 0, 0, 0) has U = 1 and V = 1 -
// 1/4 = 3/4 (Z = 1.1547, p = 0.24821), while the families rescale the
// residual variance to N - p = 3 degrees of freedom: cov = (4/3)(3/4) = 1.
// So SKAT and VT have the statistic U^2 / cov = 1 and p = erfc(sqrt(1/2))
// = 0.31731. Every log starts with "#ResidualVariance = 1.000000000".
TEST(GenePassHandWorked, OneCarrierQuantitativeFamiliesUseNMinusP) {
  const std::string dir = scratch_dir();
  write_file(dir, "pheno.txt", "a\t3\nb\t1\nc\t1\nd\t3\n");
  write_file(dir, "geno.txt", "s1\t1\t0\t0\t0\n");
  write_file(dir, "mapping.txt", "GENE\ts1\t0.005\n");
  write_file(dir, "w.txt", "GENE s1 2\n");
  ASSERT_EQ(run_quorvex(dir, "-wfile w.txt"), 0);
  const std::string p = fmt("%.4E", std::erfc(std::sqrt(0.5)));
  expect_same_results(
      read_file(dir + "/rare.out"),
      "GENE_ID\tT1_P\tT5_P\tMB_P\tVT_P\tSKAT_P\tMAX_P\tT1_MAC\tT1_U\tT1_V\tT1_Z\tT5_MAC\tT5_U"
      "\tT5_V\tT5_Z\tMB_MAC\tMB_U\tMB_V\tMB_Z\n"
      "GENE\t2.4821E-01\t2.4821E-01\t2.4821E-01\t" + p + "\t" + p + "\t" + p +
          "\t1\t1.000000000E+00\t7.500000000E-01\t1.1547E+00"
          "\t1\t1.000000000E+00\t7.500000000E-01\t1.1547E+00"
          "\t1\t1.417762410E+01\t1.507537688E+02\t1.1547E+00\n",
      tol::kClose);
  const std::string header = "#ResidualVariance = 1.000000000\n";
  expect_same_results(read_file(dir + "/skat.log"),
                      header + "GENE\ts1\t5.000000E-03\t1\t4\t1.000000000E+00\t1.000000000E+00\n",
                      tol::kClose);
  expect_same_results(read_file(dir + "/vt.log"),
                      header + "GENE\t5.000000E-03\t1\t1.000000000E+00\t1.000000000E+00\n",
                      tol::kClose);
  // The weight 2 doubles the score: U = 2, cov = 4.
  expect_same_results(read_file(dir + "/multi.log"),
                      header + "GENE\t1\t1\t2.000000000E+00\t4.000000000E+00\n", tol::kClose);
  if (!HasFailure()) remove_dir(dir);
}

}  // namespace

namespace {

// Runs the fixture with the options and compares the result file and the
// logs with the independent computation.
void run_and_compare(const Fixture &f, bool binary, const Options &o, const std::string &args,
                     const std::string &dir) {
  write_fixture(dir, f);
  if (o.weights) write_file(dir, "weights.txt", o.weight_text);
  ASSERT_EQ(run_quorvex(dir, args), 0) << read_file(dir + "/stdout.txt");
  const Expected ex = expected_run(f, binary, o);
  expect_same_results_loose(read_file(dir + "/rare.out"), ex.results, tol::kClose, ex.loose);
  expect_same_results(read_file(dir + "/vt.log"), ex.vt_log, tol::kClose);
  expect_same_results(read_file(dir + "/skat.log"), ex.skat_log, tol::kClose);
  if (o.weights) expect_same_results(read_file(dir + "/multi.log"), ex.multi_log, tol::kClose);
}

// N subjects, intercept only, binary trait 1 0 1 0 ...; variant j (j =
// 1..K) carried once by subject j - 1 and once by subject j + 29, at
// frequency j / 1000, with a 4-column mapping flagging the first `flagged`
// of them as VT thresholds. The nested threshold burdens are all valid.
Fixture many_thresholds(int K, int flagged) {
  Fixture f;
  const int N = 60;
  for (int i = 0; i < N; i++) f.y.push_back(i % 2 == 0 ? 1 : 0);
  f.cov.assign(N, {});
  for (int j = 1; j <= K; j++) {
    char id[16];
    snprintf(id, sizeof id, "v%02d", j);
    f.snp.push_back(id);
    std::vector<double> g(N, 0.0);
    g[j - 1] = 1;
    g[j + 29] = 1;
    f.geno.push_back(g);
    f.map.push_back({"G", id, j / 1000.0, j <= flagged ? 1 : 0});
  }
  f.map_columns = 4;
  return f;
}

struct ThresholdCase {
  int flagged;
  bool has_vt_p;
};
void PrintTo(const ThresholdCase &c, std::ostream *os) { *os << "flagged=" << c.flagged; }

class VtThresholdLimit : public ::testing::TestWithParam<ThresholdCase> {};

// At most 19 kept thresholds get an asymptotic VT p-value (a 19-variable
// integration); 20 give "NA" and no message. The VT log holds every
// threshold either way.
TEST_P(VtThresholdLimit, NineteenKeptThresholdsGetAPValueTwentyDoNot) {
  const ThresholdCase c = GetParam();
  Fixture f = many_thresholds(20, c.flagged);
  const std::string dir = scratch_dir();
  run_and_compare(f, true, Options(), "", dir);
  std::vector<std::string> row = split(split(read_file(dir + "/rare.out"), '\n')[1], '\t');
  EXPECT_EQ(row[4] != "NA", c.has_vt_p) << row[4];
  EXPECT_EQ(split(read_file(dir + "/vt.log"), '\n').size(), (size_t)c.flagged + 1);
  EXPECT_EQ(read_file(dir + "/stdout.txt").find("Warning"), std::string::npos);
  if (!HasFailure()) remove_dir(dir);
}

INSTANTIATE_TEST_SUITE_P(Limit, VtThresholdLimit,
                         ::testing::Values(ThresholdCase{19, true}, ThresholdCase{20, false}));

// A quantitative trait that follows the burden of three variants almost
// exactly (150 subjects, 12 carriers): the largest |Z| of the three VT
// thresholds and of the three weight vectors is about 12, the
// multivariate normal tail is 0 to double precision, and the second stage
// (accuracy p/100 = 0) cannot reach its accuracy: both maximum tests are
// printed with their accuracy warnings, on standard output and in the
// message log.
TEST(GenePassAccuracy, MaximumTestWarningsGoThroughTheWarningReport) {
  Fixture f;
  const int N = 150;
  f.cov.assign(N, {});
  f.snp = {"v1", "v2", "v3"};
  f.geno.assign(3, std::vector<double>(N, 0.0));
  for (int i = 0; i < 12; i++) f.geno[i / 4][i] = 1;
  for (int i = 0; i < N; i++) {
    // Three decimals, so that the phenotype file holds the value exactly.
    double noise = std::round(300 * std::sin(1.7 * i + 0.4)) / 1000;
    f.y.push_back((i < 12 ? 10.0 : 0.0) + noise);
  }
  f.map = {{"G", "v1", 0.005, 0}, {"G", "v2", 0.02, 0}, {"G", "v3", 0.03, 0}};
  f.map_columns = 3;
  Options o;
  o.weights = true;
  o.weight_text = "G v1 1 0 1\nG v2 0 1 1\nG v3 0 0 1\n";
  const std::string dir = scratch_dir();
  run_and_compare(f, false, o, "-wfile weights.txt -msglog msg.log", dir);
  const std::string warnings =
      "GENE G Warning: The asymptotic VT p-value may not be accurate.\n"
      "GENE G Warning: The asymptotic multivariate maximum test p-value may not be accurate.\n";
  EXPECT_EQ(read_file(dir + "/msg.log"), warnings);
  const std::string out = read_file(dir + "/stdout.txt");
  // The SKAT line comes first, then the two warnings in test order.
  EXPECT_NE(out.find("\n\n" + warnings), std::string::npos) << out;
  std::vector<std::string> row = split(split(read_file(dir + "/rare.out"), '\n')[1], '\t');
  EXPECT_EQ(row[4], "0.0000E+00");  // VT_P
  EXPECT_EQ(row[6], "0.0000E+00");  // MAX_P
  if (!HasFailure()) remove_dir(dir);
}

}  // namespace

namespace {

struct LogFailure {
  const char *name;
  const char *args;
  const char *message;
};
void PrintTo(const LogFailure &c, std::ostream *os) { *os << c.name; }

class ScoreLogCreation : public ::testing::TestWithParam<LogFailure> {};

// A score log that cannot be created stops the run before the result file
// is written.
TEST_P(ScoreLogCreation, StopsWithTheLogsMessage) {
  const LogFailure c = GetParam();
  Fixture f = base_fixture(true, 0);
  const std::string dir = scratch_dir();
  write_fixture(dir, f);
  write_file(dir, "weights.txt", kWeights);
  ASSERT_EQ(run_quorvex(dir, c.args), 1);
  const std::string out = read_file(dir + "/stdout.txt");
  EXPECT_NE(out.find(std::string(c.message) + "\nQUORVEX was stopped due to error(s) listed above.\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(file_exists(dir + "/rare.out"));
  if (!HasFailure()) remove_dir(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Logs, ScoreLogCreation,
    ::testing::Values(LogFailure{"vt", "-vtlog no/such/vt.log", "Error: Cannot create 'no/such/vt.log'.\n"},
                      LogFailure{"variant", "-snplog no/such/s.log",
                                 "Error: Cannot create 'no/such/s.log'.\n"},
                      LogFailure{"customized", "-wfile weights.txt -multilog no/such/m.log",
                                 "Error: Cannot create multivariate test log 'no/such/m.log'.\n"}),
    [](const ::testing::TestParamInfo<LogFailure> &info) { return std::string(info.param.name); });

}  // namespace
