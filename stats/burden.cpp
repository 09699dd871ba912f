#include "stats/burden.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "numeric/arrays.h"
#include "numeric/run_stop.h"

// Two-lane double and 64-bit integer vectors of GCC and Clang; each lane
// of a vector operation is the scalar IEEE operation on that lane.
#if defined(__GNUC__)
#define QUORVEX_VECTOR_EXT 1
typedef double v2d __attribute__((vector_size(16)));
typedef long long v2i __attribute__((vector_size(16)));
#else
#define QUORVEX_VECTOR_EXT 0
#endif

namespace {

#if QUORVEX_VECTOR_EXT
inline v2d load2(const double *p) {
  v2d v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline v2i load2i(const long long *p) {
  v2i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void store2(double *p, v2d v) { std::memcpy(p, &v, sizeof v); }
inline void store2i(long long *p, v2i v) { std::memcpy(p, &v, sizeof v); }
#endif

inline uint64_t bits_of(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// T1 and T5 take the variants strictly below these frequencies.
constexpr double kT1Bound = 0.01;
constexpr double kT5Bound = 0.05;

// Observed minor alleles of the variants within the rare-variant bound, in
// all of them and in the T1 and T5 sets, and the number of variants that are
// not usable (above the bound, or without any observed genotype).
struct AlleleSums {
  double minor_allele = 0.0;
  double minor_allele_T1 = 0.0;
  double minor_allele_T5 = 0.0;
  int N5_count = 0;
};

// Observed allele sum p_hat_num[j] and twice the observed count
// p_hat_den[j] of every variant, in row-major sweeps of four subjects (each
// variant's sum still runs over the subjects in ascending order). A missing
// genotype adds +0.0 to the sum, which leaves it as it is (it starts at +0.0
// and so is never -0.0): the same sum as skipping it, without a branch. The
// observed genotypes are counted in an integer: 2.0 added k times is exactly
// 2k. With all_zero, all_zero[i] tells whether every genotype of subject i is
// +0.0 (all 64 bits zero).
void allele_counts(int N, int N_SNP, double **x, double *p_hat_num, double *p_hat_den,
                   int *all_zero = nullptr) {
  std::vector<long long> count((size_t)(N_SNP > 0 ? N_SNP : 1), 0);
  for (int j = 0; j < N_SNP; j++) p_hat_num[j] = 0.0;
  int i = 0;
  for (; i + 3 < N; i += 4) {
    const double *xa = x[i], *xb = x[i + 1], *xc = x[i + 2], *xd = x[i + 3];
    uint64_t za = 0, zb = 0, zc = 0, zd = 0;
    int j = 0;
#if QUORVEX_VECTOR_EXT
    // Two variants per step, one in each lane: lane by lane the same
    // additions as the scalar loop below.
    v2i va_z = {0, 0}, vb_z = {0, 0}, vc_z = {0, 0}, vd_z = {0, 0};
    const v2d zero = {0.0, 0.0};
    for (; j + 1 < N_SNP; j += 2) {
      v2d sum = load2(p_hat_num + j);
      v2i k = load2i(count.data() + j);
      const v2d va = load2(xa + j), vb = load2(xb + j), vc = load2(xc + j), vd = load2(xd + j);
      const v2i ma = va >= zero, mb = vb >= zero, mc = vc >= zero, md = vd >= zero;
      sum += (v2d)((v2i)va & ma);
      sum += (v2d)((v2i)vb & mb);
      sum += (v2d)((v2i)vc & mc);
      sum += (v2d)((v2i)vd & md);
      k -= ma;  // a true lane of a comparison is -1
      k -= mb;
      k -= mc;
      k -= md;
      va_z |= (v2i)va;
      vb_z |= (v2i)vb;
      vc_z |= (v2i)vc;
      vd_z |= (v2i)vd;
      store2(p_hat_num + j, sum);
      store2i(count.data() + j, k);
    }
    za = (uint64_t)(va_z[0] | va_z[1]);
    zb = (uint64_t)(vb_z[0] | vb_z[1]);
    zc = (uint64_t)(vc_z[0] | vc_z[1]);
    zd = (uint64_t)(vd_z[0] | vd_z[1]);
#endif
    for (; j < N_SNP; j++) {
      const double va = xa[j], vb = xb[j], vc = xc[j], vd = xd[j];
      double s = p_hat_num[j];
      s += va >= 0 ? va : 0.0;
      s += vb >= 0 ? vb : 0.0;
      s += vc >= 0 ? vc : 0.0;
      s += vd >= 0 ? vd : 0.0;
      p_hat_num[j] = s;
      count[(size_t)j] += (va >= 0) + (vb >= 0) + (vc >= 0) + (vd >= 0);
      za |= bits_of(va);
      zb |= bits_of(vb);
      zc |= bits_of(vc);
      zd |= bits_of(vd);
    }
    if (all_zero) {
      all_zero[i] = za == 0;
      all_zero[i + 1] = zb == 0;
      all_zero[i + 2] = zc == 0;
      all_zero[i + 3] = zd == 0;
    }
  }
  for (; i < N; i++) {
    const double *xi = x[i];
    uint64_t z = 0;
    for (int j = 0; j < N_SNP; j++) {
      const double v = xi[j];
      p_hat_num[j] += v >= 0 ? v : 0.0;
      count[(size_t)j] += v >= 0;
      z |= bits_of(v);
    }
    if (all_zero) all_zero[i] = z == 0;
  }
  for (int j = 0; j < N_SNP; j++) p_hat_den[j] = 2.0 * static_cast<double>(count[(size_t)j]);
}

// Frequency step shared by the three scorers, for variant j in order: q[j]
// and the variant's share of the allele sums. Returns whether the variant is
// usable (observed at least once and within MAF_UB). A variant without an
// observed genotype has no frequency (0/0); it is given q = 1, so that
// nothing is imputed for it, and counted with the unusable variants.
bool frequency_step(int j, double p_hat_num, double p_hat_den, double MAF_UB, const double *maf,
                    double *q, AlleleSums *sums) {
  if (p_hat_den == 0.0) {
    q[j] = 1.0;
    sums->N5_count += 1;
    return false;
  }
  q[j] = 1.0 - p_hat_num / p_hat_den;
  if (maf[j] > MAF_UB) {
    sums->N5_count += 1;
    return false;
  }
  sums->minor_allele += p_hat_num;
  if (maf[j] < kT1Bound) sums->minor_allele_T1 += p_hat_num;
  if (maf[j] < kT5Bound) sums->minor_allele_T5 += p_hat_num;
  return true;
}

// The common first pass of the dominant and recessive scorers; observed[j]
// tells whether variant j has an observed genotype.
AlleleSums first_pass(int N, int N_SNP, double **x, double MAF_UB, const double *maf, double *q,
                      int *observed) {
  double *p_hat_num = dvector(0, N_SNP - 1);
  double *p_hat_den = dvector(0, N_SNP - 1);
  allele_counts(N, N_SNP, x, p_hat_num, p_hat_den);
  AlleleSums sums;
  for (int j = 0; j < N_SNP; j++) {
    frequency_step(j, p_hat_num[j], p_hat_den[j], MAF_UB, maf, q, &sums);
    observed[j] = p_hat_den[j] > 0.0 ? 1 : 0;
  }
  free_dvector(p_hat_den, 0, N_SNP - 1);
  free_dvector(p_hat_num, 0, N_SNP - 1);
  return sums;
}

// A gene has no usable burden when no variant is usable or when its observed
// minor alleles are fewer than MAC_LB.
bool no_usable_burden(int N_SNP, int MAC_LB, const AlleleSums &sums) {
  return sums.N5_count == N_SNP || static_cast<double>(MAC_LB) > sums.minor_allele;
}

// Missing genotypes (negative values) of subjects [from, to) become the
// variant's imputed value.
void impute_rows(int from, int to, int N_SNP, double **x, const double *imputed) {
  for (int i = from; i < to; i++) {
    double *xi = x[i];
    for (int j = 0; j < N_SNP; j++) xi[j] = xi[j] < 0 ? imputed[j] : xi[j];
  }
}

void zero_row(double *row, int N) {
  for (int i = 0; i < N; i++) row[i] = 0.0;
}

}  // namespace

void getS(int N, int N_SNP, double **x, double **S, double MAF_UB, int MAC_LB, double *maf,
          int *flag, int maf_flag, double *q) {
  double **wt0 = dmatrix(0, 2, 0, N_SNP - 1);
  double *p_hat_num = dvector(0, N_SNP - 1);
  double *p_hat_den = dvector(0, N_SNP - 1);
  double *imputed = dvector(0, N_SNP - 1);
  int *all_zero = ivector(0, N - 1);
  allele_counts(N, N_SNP, x, p_hat_num, p_hat_den, all_zero);
  AlleleSums sums;
  for (int j = 0; j < N_SNP; j++) {
    bool usable = frequency_step(j, p_hat_num[j], p_hat_den[j], MAF_UB, maf, q, &sums);
    // Every variant's missing genotypes get its mean observed genotype, also
    // above the bound; a variant never observed gets 0.
    imputed[j] = p_hat_den[j] > 0.0 ? 2.0 * p_hat_num[j] / p_hat_den[j] : 0.0;
    if (!usable) {
      wt0[0][j] = wt0[1][j] = wt0[2][j] = 0.0;
      continue;
    }
    wt0[0][j] = maf[j] < kT1Bound ? 1.0 : 0.0;
    wt0[1][j] = maf[j] < kT5Bound ? 1.0 : 0.0;
    double p = maf_flag == 1 ? (p_hat_num[j] + 1.0) / (p_hat_den[j] + 2.0) : maf[j];
    wt0[2][j] = 1.0 / std::sqrt(p * (1.0 - p));
  }
  if (no_usable_burden(N_SNP, MAC_LB, sums)) {
    *flag = 1;
    for (int i = 0; i < N; i++)
      if (!all_zero[i]) impute_rows(i, i + 1, N_SNP, x, imputed);
  } else {
    if (static_cast<double>(MAC_LB) > sums.minor_allele_T1)
      for (int j = 0; j < N_SNP; j++) wt0[0][j] = 0.0;
    if (static_cast<double>(MAC_LB) > sums.minor_allele_T5)
      for (int j = 0; j < N_SNP; j++) wt0[1][j] = 0.0;
    // Imputation and the three weighted sums of each subject in one sweep
    // over its row; each sum runs over the variants in ascending order. Two
    // subjects at a time give the processor independent chains of additions.
    // A subject whose genotypes are all +0.0 has nothing to impute, and with
    // finite weights every product is a zero, so its sums are +0.0.
    const double *w0 = wt0[0], *w1 = wt0[1], *w2 = wt0[2];
    bool finite = true;
    for (int j = 0; j < N_SNP; j++)
      finite = finite && std::isfinite(w0[j]) && std::isfinite(w1[j]) && std::isfinite(w2[j]);
    auto two_rows = [&](int ia, int ib) {
      double *xa = x[ia], *xb = x[ib];
#if QUORVEX_VECTOR_EXT
      // Subject a in lane 0, b in lane 1; the imputation by a lane mask.
      const v2d zero = {0.0, 0.0};
      v2d s0 = zero, s1 = zero, s2 = zero;
      for (int j = 0; j < N_SNP; j++) {
        v2d v = {xa[j], xb[j]};
        const v2d imp = {imputed[j], imputed[j]};
        const v2i missing = v < zero;
        v = (v2d)(((v2i)imp & missing) | ((v2i)v & ~missing));
        xa[j] = v[0];
        xb[j] = v[1];
        const v2d c0 = {w0[j], w0[j]}, c1 = {w1[j], w1[j]}, c2 = {w2[j], w2[j]};
        s0 += c0 * v;
        s1 += c1 * v;
        s2 += c2 * v;
      }
      S[0][ia] = s0[0];
      S[1][ia] = s1[0];
      S[2][ia] = s2[0];
      S[0][ib] = s0[1];
      S[1][ib] = s1[1];
      S[2][ib] = s2[1];
      return;
#endif
      double a0 = 0.0, a1 = 0.0, a2 = 0.0, b0 = 0.0, b1 = 0.0, b2 = 0.0;
      for (int j = 0; j < N_SNP; j++) {
        double va = xa[j], vb = xb[j];
        va = va < 0 ? imputed[j] : va;
        vb = vb < 0 ? imputed[j] : vb;
        xa[j] = va;
        xb[j] = vb;
        a0 += w0[j] * va;
        b0 += w0[j] * vb;
        a1 += w1[j] * va;
        b1 += w1[j] * vb;
        a2 += w2[j] * va;
        b2 += w2[j] * vb;
      }
      S[0][ia] = a0;
      S[1][ia] = a1;
      S[2][ia] = a2;
      S[0][ib] = b0;
      S[1][ib] = b1;
      S[2][ib] = b2;
    };
    auto one_row = [&](int i) {
      double *xi = x[i];
      double s0 = 0.0, s1 = 0.0, s2 = 0.0;
      for (int j = 0; j < N_SNP; j++) {
        double v = xi[j];
        v = v < 0 ? imputed[j] : v;
        xi[j] = v;
        s0 += w0[j] * v;
        s1 += w1[j] * v;
        s2 += w2[j] * v;
      }
      S[0][i] = s0;
      S[1][i] = s1;
      S[2][i] = s2;
    };
    int pending = -1;
    for (int i = 0; i < N; i++) {
      if (finite && all_zero[i]) {
        S[0][i] = S[1][i] = S[2][i] = 0.0;
      } else if (pending < 0) {
        pending = i;
      } else {
        two_rows(pending, i);
        pending = -1;
      }
    }
    if (pending >= 0) one_row(pending);
  }
  free_ivector(all_zero, 0, N - 1);
  free_dvector(imputed, 0, N_SNP - 1);
  free_dvector(p_hat_den, 0, N_SNP - 1);
  free_dvector(p_hat_num, 0, N_SNP - 1);
  free_dmatrix(wt0, 0, 2, 0, N_SNP - 1);
}

void getS_CMC(int N, int N_SNP, double **x, double **S, double MAF_UB, int MAC_LB, double *maf,
              int *flag, double *q) {
  int *observed = ivector(0, N_SNP - 1);
  AlleleSums sums = first_pass(N, N_SNP, x, MAF_UB, maf, q, observed);

  if (no_usable_burden(N_SNP, MAC_LB, sums)) {
    *flag = 1;
  } else {
    for (int i = 0; i < N; i++) {
      S[0][i] = S[1][i] = 0.0;
      double T1_impute = 1.0, T5_impute = 1.0;
      for (int j = 0; j < N_SNP; j++) {
        if (!observed[j]) continue;
        if (maf[j] < kT1Bound) {
          if (x[i][j] > 0.5)
            S[0][i] = 1.0;
          else if (x[i][j] < -0.1)
            T1_impute *= q[j] * q[j];
        }
        if (maf[j] < kT5Bound) {
          if (x[i][j] > 0.5)
            S[1][i] = 1.0;
          else if (x[i][j] < -0.1)
            T5_impute *= q[j] * q[j];
        }
      }
      // No observed carrier genotype: the Hardy-Weinberg probability that at
      // least one missing genotype of the set carries a minor allele.
      if (std::fabs(S[0][i]) < 0.1 && 1.0 - T1_impute > 0) S[0][i] = 1.0 - T1_impute;
      if (std::fabs(S[1][i]) < 0.1 && 1.0 - T5_impute > 0) S[1][i] = 1.0 - T5_impute;
    }
    if (static_cast<double>(MAC_LB) > sums.minor_allele_T1) zero_row(S[0], N);
    if (static_cast<double>(MAC_LB) > sums.minor_allele_T5) zero_row(S[1], N);
  }

  // Carrier indicators; a missing genotype becomes its carrier probability.
  for (int i = 0; i < N; i++) {
    for (int j = 0; j < N_SNP; j++) {
      if (x[i][j] > 0)
        x[i][j] = 1.0;
      else if (x[i][j] < -0.1)
        x[i][j] = 1.0 - q[j] * q[j];
    }
  }
  free_ivector(observed, 0, N_SNP - 1);
}

namespace {

// Recessive score of subject i over the set of variants below `bound`: the
// observed minor alleles s (values > 0.5) and the missing genotypes c. s >= 2
// gives 1; otherwise, with missing genotypes, the probability that they
// complete two minor alleles; otherwise 0.
double recessive_score(int N_SNP, double **x, int i, const double *maf, double *q,
                       const int *observed, double bound) {
  double s = 0.0;
  int n_miss = 0;
  for (int j = 0; j < N_SNP; j++) {
    if (!observed[j] || !(maf[j] < bound)) continue;
    if (x[i][j] > 0.5)
      s += x[i][j];
    else if (x[i][j] < -0.1)
      n_miss += 1;
  }
  if (n_miss == 0) return s >= 2 ? 1.0 : 0.0;
  if (s >= 2) return 1.0;
  double *q_miss = dvector(0, n_miss - 1);
  int m = 0;
  for (int j = 0; j < N_SNP; j++) {
    if (!observed[j] || !(maf[j] < bound)) continue;
    if (!(x[i][j] > 0.5) && x[i][j] < -0.1) q_miss[m++] = q[j];
  }
  double result = getS_REC_impute(s, n_miss, q_miss);
  free_dvector(q_miss, 0, n_miss - 1);
  return result;
}

}  // namespace

void getS_REC(int N, int N_SNP, double **x, double **S, double MAF_UB, int MAC_LB, double *maf,
              int *flag, double *q) {
  int *observed = ivector(0, N_SNP - 1);
  AlleleSums sums = first_pass(N, N_SNP, x, MAF_UB, maf, q, observed);

  if (no_usable_burden(N_SNP, MAC_LB, sums)) {
    *flag = 1;
  } else {
    for (int i = 0; i < N; i++) {
      S[0][i] = recessive_score(N_SNP, x, i, maf, q, observed, kT1Bound);
      S[1][i] = recessive_score(N_SNP, x, i, maf, q, observed, kT5Bound);
    }
    if (static_cast<double>(MAC_LB) > sums.minor_allele_T1) zero_row(S[0], N);
    if (static_cast<double>(MAC_LB) > sums.minor_allele_T5) zero_row(S[1], N);
  }

  // Indicators of two minor alleles; a missing genotype becomes (1 - q)^2.
  for (int i = 0; i < N; i++) {
    for (int j = 0; j < N_SNP; j++) {
      if (x[i][j] >= 0)
        x[i][j] = x[i][j] >= 2 ? 1.0 : 0.0;
      else if (x[i][j] < -0.1)
        x[i][j] = (1.0 - q[j]) * (1.0 - q[j]);
    }
  }
  free_ivector(observed, 0, N_SNP - 1);
}

double getS_REC_impute(double type, int n_miss, double *q) {
  if (type != 0.0 && type != 1.0) {
    RunStop stop;
    stop.texts.push_back({RunStop::kStandardOutput, "Only type=0 or 1 is acceptable\n"});
    raise_stop(stop);
  }
  // P0: every missing genotype homozygous for the major allele.
  double P0 = 1.0;
  for (int k = 0; k < n_miss; k++) P0 *= q[k] * q[k];
  double result = 1.0 - P0;
  if (type == 0.0) {
    // Without an observed minor allele, exactly one heterozygous missing
    // genotype is not enough either.
    for (int i = 0; i < n_miss; i++) {
      double others = 1.0;
      for (int k = 0; k < n_miss; k++)
        if (k != i) others *= q[k] * q[k];
      result -= 2.0 * (1.0 - q[i]) * q[i] * others;
    }
  }
  return result;
}

double burdenMAC(int MODEL, int n, int N_SNP, double **x0, double *maf, double thresh) {
  // The variants within the threshold, as 0/1 so that each subject's test
  // needs no branch; a missing or non-carrier genotype then adds nothing
  // (the sums start at +0.0, so adding +0.0 leaves them unchanged).
  int *in = ivector(0, N_SNP - 1);
  for (int j = 0; j < N_SNP; j++) in[j] = maf[j] <= thresh ? 1 : 0;
  double count = 0.0;
  if (MODEL == 1 || MODEL == 2) {
    // Subjects carrying at least one minor allele of the set.
#if QUORVEX_VECTOR_EXT
    // Two variants per step: all bits of a lane set for a variant of the set.
    std::vector<long long> in_mask((size_t)(N_SNP > 0 ? N_SNP : 1), 0);
    for (int j = 0; j < N_SNP; j++) in_mask[(size_t)j] = in[j] ? -1 : 0;
    const v2d one = {1.0, 1.0};
#endif
    for (int i = 0; i < n; i++) {
      const double *xi = x0[i];
      int carrier = 0, j = 0;
#if QUORVEX_VECTOR_EXT
      v2i hit = {0, 0};
      for (; j + 1 < N_SNP; j += 2) hit |= (load2(xi + j) >= one) & load2i(in_mask.data() + j);
      carrier = (hit[0] | hit[1]) != 0;
#endif
      for (; j < N_SNP; j++) carrier |= in[j] & (xi[j] >= 1 ? 1 : 0);
      count += carrier ? 1.0 : 0.0;
    }
  } else if (MODEL == 3) {
    for (int i = 0; i < n; i++) {
      const double *xi = x0[i];
      double alleles = 0.0;
      for (int j = 0; j < N_SNP; j++) alleles += (in[j] && xi[j] > 0.1) ? xi[j] : 0.0;
      if (alleles >= 2) count += 1.0;
    }
  } else {
    for (int i = 0; i < n; i++) {
      const double *xi = x0[i];
      for (int j = 0; j < N_SNP; j++) count += (in[j] && xi[j] > 0.1) ? xi[j] : 0.0;
    }
  }
  free_ivector(in, 0, N_SNP - 1);
  return count;
}

void burdenMAC_many(int MODEL, int n, int N_SNP, double **x0, const double *maf, int K,
                    const double *thresh, double *count) {
  // Only genotypes > 0.1 count under any model (a carrier's are >= 1): one
  // pass collects them per subject in variant order.
  std::vector<int> start((size_t)n + 1, 0), col;
  std::vector<double> val;
  for (int i = 0; i < n; i++) {
    const double *xi = x0[i];
    for (int j = 0; j < N_SNP; j++)
      if (xi[j] > 0.1) {
        col.push_back(j);
        val.push_back(xi[j]);
      }
    start[(size_t)i + 1] = (int)col.size();
  }
  burdenMAC_entries(MODEL, n, start.data(), col.data(), val.data(), maf, K, thresh, count);
}

void burdenMAC_entries(int MODEL, int n, const int *start, const int *col, const double *val,
                       const double *maf, int K, const double *thresh, double *count) {
  // Every threshold's sums run over the genotypes > 0.1 in the same order as
  // over the whole rows (the genotypes left out would add +0.0, which leaves
  // a sum unchanged).
  for (int k = 0; k < K; k++) count[k] = 0.0;
  for (int i = 0; i < n; i++) {
    const int e0 = start[i], e1 = start[i + 1];
    if (e0 == e1) continue;
    for (int k = 0; k < K; k++) {
      const double t = thresh[k];
      if (MODEL == 1 || MODEL == 2) {
        bool carrier = false;
        for (int e = e0; e < e1 && !carrier; e++)
          carrier = val[e] >= 1 && maf[col[e]] <= t;
        if (carrier) count[k] += 1.0;
      } else if (MODEL == 3) {
        double alleles = 0.0;
        for (int e = e0; e < e1; e++)
          if (val[e] > 0.1 && maf[col[e]] <= t) alleles += val[e];
        if (alleles >= 2) count[k] += 1.0;
      } else {
        for (int e = e0; e < e1; e++)
          if (val[e] > 0.1 && maf[col[e]] <= t) count[k] += val[e];
      }
    }
  }
}
