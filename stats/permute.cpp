#include "stats/permute.h"

#include "numeric/random.h"

#include <cmath>

// Seeds of the permutation generator, one set per thread.
thread_local long bix = 7335, biy = 4623, biz = 8097;

void reset_runifC3P() {
  bix = 7335;
  biy = 4623;
  biz = 8097;
}

// The AS 183 step of the Bernoulli generator, on the permutation seeds.
double runifC3P() { return wichmann_hill_next(&bix, &biy, &biz); }

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
