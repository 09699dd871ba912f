#include "numeric/linalg.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <cmath>

#include "numeric/arrays.h"

namespace {

// Value that replaces an exact zero pivot, so that a singular matrix without
// an all-zero row is factored rather than rejected.
constexpr double TINY = 1.0e-40;

// Crout's method with partial pivoting and implicit row scaling (Numerical
// Recipes ludcmp), for a[1..n][1..n] whose rows all hold a non-zero entry;
// vv[1..n] holds the row scale factors on entry. Ties in the pivot search go
// to the last row; on an exchange the scale factor is moved one way only.
// Every exchange negates *d when d is not null.
void crout(double **a, int n, int *indx, double *vv, double *d) {
  for (int j = 1; j <= n; j++) {
    for (int i = 1; i < j; i++) {
      double sum = a[i][j];
      for (int k = 1; k < i; k++) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    double big = 0.0;
    // A column whose scaled values are all NaN passes no test below; its
    // pivot then stays on the diagonal.
    int imax = j;
    for (int i = j; i <= n; i++) {
      double sum = a[i][j];
      for (int k = 1; k < j; k++) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      double dum = vv[i] * std::fabs(sum);
      if (dum >= big) {
        big = dum;
        imax = i;
      }
    }
    if (j != imax) {
      for (int k = 1; k <= n; k++) {
        double dum = a[imax][k];
        a[imax][k] = a[j][k];
        a[j][k] = dum;
      }
      if (d) *d = -(*d);
      vv[imax] = vv[j];
    }
    indx[j] = imax;
    if (a[j][j] == 0.0) a[j][j] = TINY;
    if (j != n) {
      double dum = 1.0 / a[j][j];
      for (int i = j + 1; i <= n; i++) a[i][j] *= dum;
    }
  }
}

// Scale factors vv[i] = 1 / max_j |a[i][j]|; false (vv partly written) when
// some row is all zero.
bool row_scales(double **a, int n, double *vv) {
  for (int i = 1; i <= n; i++) {
    double big = 0.0;
    for (int j = 1; j <= n; j++) {
      double temp = std::fabs(a[i][j]);
      if (temp > big) big = temp;
    }
    if (big == 0.0) return false;
    vv[i] = 1.0 / big;
  }
  return true;
}

}  // namespace

void ludcmp(double **a, int n, int *indx) {
  double *vv = dvector(1, n);
  if (!row_scales(a, n, vv)) {
    // The stop unwinds a thread working in a capture: nothing is left behind.
    free_dvector(vv, 1, n);
    nrerror("Sigmatrix in ludcmp");
  }
  crout(a, n, indx, vv, nullptr);
  free_dvector(vv, 1, n);
}

void ludcmp2(double **a, int n, int *indx, double *d) {
  *d = 1.0;
  double *vv = dvector(1, n);
  if (!row_scales(a, n, vv)) {
    *d = 0.0;
    free_dvector(vv, 1, n);
    return;
  }
  crout(a, n, indx, vv, d);
  free_dvector(vv, 1, n);
}

// Forward substitution with the row interchanges, skipping the leading zeros
// of the right-hand side, then back substitution (Numerical Recipes lubksb).
void lubksb(double **a, int n, int *indx, double *b) {
  int ii = 0;
  for (int i = 1; i <= n; i++) {
    int ip = indx[i];
    double sum = b[ip];
    b[ip] = b[i];
    if (ii) {
      for (int j = ii; j <= i - 1; j++) sum -= a[i][j] * b[j];
    } else if (sum != 0.0) {
      ii = i;
    }
    b[i] = sum;
  }
  for (int i = n; i >= 1; i--) {
    double sum = b[i];
    for (int j = i + 1; j <= n; j++) sum -= a[i][j] * b[j];
    b[i] = sum / a[i][i];
  }
}

// Inverse column by column: one LU decomposition, then one solve per unit
// vector.
void invv(double **fma, int nn) {
  int *indx = ivector(1, nn);
  double *COL = dvector(1, nn);
  double **ipi = dmatrix(1, nn, 1, nn);
  try {
    ludcmp(fma, nn, indx);
  } catch (...) {  // a stop inside a capture
    free_ivector(indx, 1, nn);
    free_dvector(COL, 1, nn);
    free_dmatrix(ipi, 1, nn, 1, nn);
    throw;
  }
  for (int j = 1; j <= nn; j++) {
    for (int i = 1; i <= nn; i++) COL[i] = 0.0;
    COL[j] = 1.0;
    lubksb(fma, nn, indx, COL);
    for (int i = 1; i <= nn; i++) ipi[i][j] = COL[i];
  }
  for (int i = 1; i <= nn; i++)
    for (int j = 1; j <= nn; j++) fma[i][j] = ipi[i][j];
  free_ivector(indx, 1, nn);
  free_dvector(COL, 1, nn);
  free_dmatrix(ipi, 1, nn, 1, nn);
}

// Product of the pivots times the parity of the interchanges; a matrix with
// an all-zero row has parity 0 and gives 0.0.
double Determinant(double **a, int n) {
  double d;
  int *index = ivector(1, n);
  ludcmp2(a, n, index, &d);
  for (int j = 1; j <= n; j++) d *= a[j][j];
  free_ivector(index, 1, n);
  return d;
}

int dependent_column(double **x, long N, int p, double tol, int *involved) {
  std::vector<std::vector<double>> q;  // orthonormal basis of the accepted columns
  std::vector<int> accepted;
  std::vector<std::vector<double>> R;  // R[k][l]: coefficient of q_k in accepted column l
  std::vector<double> r((size_t)N);
  for (int j = 0; j < p; j++) {
    // Column j scaled to unit length (through its largest absolute value first).
    double big = 0;
    for (long i = 0; i < N; i++) big = std::max(big, std::fabs(x[i][j]));
    double ss = 0;
    for (long i = 0; i < N; i++) {
      r[(size_t)i] = big > 0 ? x[i][j] / big : 0.0;
      ss += r[(size_t)i] * r[(size_t)i];
    }
    const double len = std::sqrt(ss);
    if (len > 0)
      for (long i = 0; i < N; i++) r[(size_t)i] /= len;
    // Projection on the basis, twice (reorthogonalization keeps the basis
    // orthogonal to working precision however ill-conditioned it is).
    const size_t m = q.size();
    std::vector<double> coef(m, 0.0);
    for (int pass = 0; pass < 2; pass++)
      for (size_t k = 0; k < m; k++) {
        double dot = 0;
        for (long i = 0; i < N; i++) dot += q[k][(size_t)i] * r[(size_t)i];
        coef[k] += dot;
        for (long i = 0; i < N; i++) r[(size_t)i] -= dot * q[k][(size_t)i];
      }
    double rs = 0;
    for (long i = 0; i < N; i++) rs += r[(size_t)i] * r[(size_t)i];
    const double rlen = std::sqrt(rs);
    if (!(rlen >= tol)) {
      // Column j = sum_k b_k (accepted column k) up to the residual: back
      // substitution in the accepted columns' triangle.
      std::vector<double> b(m);
      for (size_t k = m; k-- > 0;) {
        double v = coef[k];
        for (size_t l = k + 1; l < m; l++) v -= R[k][l] * b[l];
        b[k] = v / R[k][k];
      }
      for (int c = 0; c < p; c++) involved[c] = 0;
      involved[j] = 1;
      for (size_t k = 0; k < m; k++)
        if (std::fabs(b[k]) > 1e-6) involved[accepted[k]] = 1;
      return j;
    }
    for (size_t k = 0; k < m; k++) R[k].push_back(coef[k]);
    R.push_back(std::vector<double>(m + 1, 0.0));
    R[m][m] = rlen;
    for (long i = 0; i < N; i++) r[(size_t)i] /= rlen;
    q.push_back(r);
    accepted.push_back(j);
  }
  return -1;
}
