#ifndef QUORVEX_TESTS_WICHMANN_HILL_REFERENCE_H
#define QUORVEX_TESTS_WICHMANN_HILL_REFERENCE_H

#include <cmath>

// Second method for AS 183: each component is the plain multiplicative
// generator s <- (m s) mod q, computed directly in 64-bit arithmetic rather
// than in Schrage form.
struct DirectWichmannHill {
  long x, y, z;
  double next() {
    x = (171 * x) % 30269;
    y = (172 * y) % 30307;
    z = (170 * z) % 30323;
    double r = x / 30269.0 + y / 30307.0 + z / 30323.0;
    return std::fmod(r, 1.0);
  }
};

#endif
