#include "stats/erec.h"

#include <cmath>

#include "numeric/arrays.h"

namespace {

// S_opp[r][i] = sum over j of x[i][j] wt[r][j], for both rows.
void fill_rows(int N, int N_SNP, double **x, double **wt, double **S_opp) {
  for (int i = 0; i < N; i++) {
    double s0 = 0.0, s1 = 0.0;
    for (int j = 0; j < N_SNP; j++) {
      s0 += x[i][j] * wt[0][j];
      s1 += x[i][j] * wt[1][j];
    }
    S_opp[0][i] = s0;
    S_opp[1][i] = s1;
  }
}

}  // namespace

double erec_log_odds(double n11, double n10, double n01, double n00) {
  const double OR = ((n11 + 1) * (n00 + 1)) / ((n01 + 1) * (n10 + 1));
  return erec_clamp(std::log(OR));
}

void getS_opp(int N, int N_SNP, double *y, double **x0, double **x, double **S_opp, double *maf,
              double MAF_UB, double delta) {
  if (N_SNP <= 0) {
    for (int i = 0; i < N; i++) S_opp[0][i] = S_opp[1][i] = 0.0;
    return;
  }
  double **wt = dmatrix(0, 1, 0, N_SNP - 1);
  for (int j = 0; j < N_SNP; j++) {
    if (maf[j] > MAF_UB) {
      wt[0][j] = wt[1][j] = 0.0;
      continue;
    }
    double b = 0.0;  // OR = 1 without subjects
    if (N > 0) {
      double n11 = 0, n10 = 0, n01 = 0, n00 = 0;
      for (int i = 0; i < N; i++) {
        const double g = x0[i][j];
        if (g < 0) continue;
        if (g > 0) {
          n11 += y[i];
          n10 += 1 - y[i];
        } else if (g == 0) {
          n01 += y[i];
          n00 += 1 - y[i];
        }
      }
      b = erec_log_odds(n11, n10, n01, n00);
    }
    wt[0][j] = b + delta;
    wt[1][j] = b - delta;
  }
  fill_rows(N, N_SNP, x, wt, S_opp);
  free_dmatrix(wt, 0, 1, 0, N_SNP - 1);
}

void getS_opp_quan(int N, int N_SNP, double *y, double **x, double **S_opp, double *maf,
                   double MAF_UB, double delta) {
  if (N_SNP <= 0) {
    for (int i = 0; i < N; i++) S_opp[0][i] = S_opp[1][i] = 0.0;
    return;
  }
  double **wt = dmatrix(0, 1, 0, N_SNP - 1);
  double sum_y = 0.0;
  for (int i = 0; i < N; i++) sum_y += y[i];
  const double avg_y = sum_y / N;
  for (int j = 0; j < N_SNP; j++) {
    if (maf[j] > MAF_UB) {
      wt[0][j] = wt[1][j] = 0.0;
      continue;
    }
    double sum_x = 0.0;
    for (int i = 0; i < N; i++) sum_x += x[i][j];
    const double avg_x = sum_x / N;
    double U = 0.0, V = 0.0;
    for (int i = 0; i < N; i++) {
      const double dx = x[i][j] - avg_x;
      U += (y[i] - avg_y) * dx;
      V += dx * dx;
    }
    const double b = erec_clamp(U / V);
    wt[0][j] = b + delta;
    wt[1][j] = b - delta;
  }
  fill_rows(N, N_SNP, x, wt, S_opp);
  free_dmatrix(wt, 0, 1, 0, N_SNP - 1);
}
