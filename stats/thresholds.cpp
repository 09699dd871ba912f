#include "stats/thresholds.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "numeric/arrays.h"
#include "stats/burden.h"

namespace {

// Largest number of thresholds a VT test takes.
constexpr int kMaxThresholds = 20;

}  // namespace

void getThresh(int MODEL, int n, int N_SNP, double **x0, double *maf, int MAC_LB, int *n_thresh,
               double *thresh) {
  *n_thresh = 0;
  // flag: 0 not visited, 1 first variant of a frequency value that stays a
  // candidate, -1 a later variant with the same value or a dropped candidate.
  int *flag = ivector(0, N_SNP - 1);
  for (int j = 0; j < N_SNP; j++) flag[j] = 0;
  for (int j = 0; j < N_SNP; j++) {
    if (flag[j] != 0) continue;
    flag[j] = 1;
    for (int k = j + 1; k < N_SNP; k++)
      if (maf[k] == maf[j]) flag[k] = -1;
  }
  // Counts of the whole gene (every variant, maf <= 1), which must reach the
  // bound, and of every candidate, from one pass over the genotypes.
  std::vector<double> limit(1, 1.0), mac;
  for (int j = 0; j < N_SNP; j++)
    if (flag[j] == 1) limit.push_back(maf[j]);
  mac.resize(limit.size());
  burdenMAC_many(MODEL, n, N_SNP, x0, maf, static_cast<int>(limit.size()), limit.data(),
                 mac.data());
  if (mac[0] < static_cast<double>(MAC_LB)) {
    free_ivector(flag, 0, N_SNP - 1);
    return;
  }
  int N_UNIQ = 0;
  for (int j = 0, c = 1; j < N_SNP; j++) {
    if (flag[j] != 1) continue;
    if (mac[static_cast<size_t>(c++)] < static_cast<double>(MAC_LB))
      flag[j] = -1;
    else
      N_UNIQ++;
  }
  if (N_UNIQ == 0) {
    free_ivector(flag, 0, N_SNP - 1);
    return;
  }

  double *thresh0 = dvector(0, N_UNIQ - 1);
  for (int j = 0, g = 0; j < N_SNP; j++)
    if (flag[j] == 1) thresh0[g++] = maf[j];

  if (N_UNIQ <= kMaxThresholds) {
    for (int g = 0; g < N_UNIQ; g++) thresh[g] = thresh0[g];
    *n_thresh = N_UNIQ;
  } else {
    double *rank_double = dvector(0, N_UNIQ - 1);
    int *rank = ivector(0, N_UNIQ - 1);
    int *index_vt = ivector(0, N_UNIQ - 1);
    bubbleRank_noTie(N_UNIQ, thresh0, rank_double);
    for (int g = 0; g < N_UNIQ; g++) rank[g] = static_cast<int>(rank_double[g] - 1);
    int N_UNIQ2 = 0;
    shrinkVT(N_UNIQ, thresh0, rank, &N_UNIQ2, index_vt);
    for (int g = 0, t = 0; g < N_UNIQ; g++)
      if (index_vt[g] == 1) thresh[t++] = thresh0[g];
    *n_thresh = N_UNIQ2;
    free_ivector(index_vt, 0, N_UNIQ - 1);
    free_ivector(rank, 0, N_UNIQ - 1);
    free_dvector(rank_double, 0, N_UNIQ - 1);
  }
  free_dvector(thresh0, 0, N_UNIQ - 1);
  free_ivector(flag, 0, N_SNP - 1);
}

void shrinkVT(int N_UNIQ, double *thresh, int *rank, int *N_UNIQ2, int *index_vt) {
  double *maf_sig = dvector(0, N_UNIQ - 1);
  int *index_vt_rank = ivector(0, N_UNIQ - 1);
  for (int i = 0; i < N_UNIQ; i++) index_vt_rank[i] = 1;
  for (int i = 0; i < N_UNIQ; i++) maf_sig[rank[i]] = thresh[i];

  // Each rounding works on the result of the previous one.
  sigDigit(N_UNIQ, maf_sig, 3);
  if (uniqueNum(N_UNIQ, maf_sig) > kMaxThresholds) {
    sigDigit(N_UNIQ, maf_sig, 2);
    if (uniqueNum(N_UNIQ, maf_sig) > kMaxThresholds) {
      sigDigit(N_UNIQ, maf_sig, 1);
      int D = uniqueNum(N_UNIQ, maf_sig);
      if (D > kMaxThresholds) {
        // Drop the D - 20 groups of smallest rounded values.
        int drop = D - kMaxThresholds;
        int g = 0;
        for (int k = 0; k <= N_UNIQ - 2; k++) {
          bool group_end = maf_sig[k] != maf_sig[k + 1];
          if (!group_end || g < drop) index_vt_rank[k] = 0;
          if (group_end && g < drop) g++;
        }
      }
    }
  }
  // Each group of equal rounded values keeps only its last sorted position.
  for (int k = 0; k <= N_UNIQ - 2; k++)
    if (maf_sig[k] == maf_sig[k + 1]) index_vt_rank[k] = 0;

  int kept = 0;
  for (int i = 0; i < N_UNIQ; i++) {
    index_vt[i] = index_vt_rank[rank[i]];
    kept += index_vt[i];
  }
  *N_UNIQ2 = kept;
  free_ivector(index_vt_rank, 0, N_UNIQ - 1);
  free_dvector(maf_sig, 0, N_UNIQ - 1);
}

void sigDigit(int M, double *v, int DIG) {
  constexpr int kText = 20;
  char text[kText];
  char kept[kText];
  for (int j = 0; j < M; j++) {
    std::snprintf(text, sizeof text, "%.10f", v[j]);
    int len = static_cast<int>(std::strlen(text));
    int a = 2;
    while (a < len && text[a] == '0') a++;
    int size = DIG > 0 ? a + 1 + DIG : a + 1;
    if (size > kText - 1) size = kText - 1;
    int copy = size < len ? size : len;
    std::memcpy(kept, text, static_cast<std::size_t>(copy));
    kept[copy] = '\0';
    double value = std::strtod(kept, nullptr);
    double tens = std::pow(10.0, static_cast<double>(size - 3));
    v[j] = static_cast<double>(static_cast<int>(tens * value + 0.5)) / tens;
  }
}

void bubbleRank_noTie(int arrayLen, double *Array, double *rank) {
  if (arrayLen <= 0) return;
  double **pArray =
      static_cast<double **>(std::malloc(static_cast<std::size_t>(arrayLen) * sizeof(double *)));
  if (!pArray) nrerror("allocation failure for pArray");
  for (int i = 0; i < arrayLen; i++) {
    rank[i] = Array[i];
    pArray[i] = &rank[i];
  }
  for (int len = arrayLen; len >= 2; len--)
    for (int k = 0; k < len - 1; k++)
      if (*pArray[k] > *pArray[k + 1]) {
        double *t = pArray[k];
        pArray[k] = pArray[k + 1];
        pArray[k + 1] = t;
      }
  for (int i = 0; i < arrayLen; i++) *pArray[i] = static_cast<double>(i + 1);
  std::free(pArray);
}

int uniqueNum(int M, double *v) {
  if (M < 2) return 1;
  int count = 1;
  for (int k = 0; k <= M - 2; k++)
    if (v[k] != v[k + 1]) count++;
  return count;
}
