#include "stats/permute.h"

#include <cmath>

// Seeds of the permutation generator: the run's global state.
long bix = 7335, biy = 4623, biz = 8097;

void reset_runifC3P() {
  bix = 7335;
  biy = 4623;
  biz = 8097;
}

// Wichmann and Hill (1982), AS 183, step for step as runifC3 on its own
// seeds.
double runifC3P() {
  bix = 171 * (bix % 177) - 2 * (bix / 177);
  biy = 172 * (biy % 176) - 35 * (biy / 176);
  biz = 170 * (biz % 178) - 63 * (biz / 178);
  if (bix < 0) bix += 30269;
  if (biy < 0) biy += 30307;
  if (biz < 0) biz += 30323;
  double r = bix / 30269.0 + biy / 30307.0 + biz / 30323.0;
  // Fractional part of r in [0, 3): r - floor(r) is exact here (Sterbenz)
  // and equals fmod(r, 1.0), at a fraction of its cost.
  return r - std::floor(r);
}

int permuteIndex(double ran) {
  double c = std::ceil(ran);
  if (c < 1.0) c = 1.0;
  return static_cast<int>(c) - 1;
}

void getPermute(int *per, int n) {
  for (int i = 0; i < n; i++) per[i] = i;
  for (int i = n - 1; i >= 1; i--) {
    double ran = (i + 1) * runifC3P();
    int k = permuteIndex(ran);
    int tmp = per[i];
    per[i] = per[k];
    per[k] = tmp;
  }
}
