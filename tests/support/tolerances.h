#ifndef QUORVEX_TESTS_TOLERANCES_H
#define QUORVEX_TESTS_TOLERANCES_H

// Named tolerance levels shared by every test. Pick the tightest level the
// computation can honestly meet and say why when a looser one is used.
namespace tol {
constexpr double kRounding = 1e-15;   // a few units in the last place of O(1) values
constexpr double kTight = 1e-13;      // closed forms reached by a different rounding path
constexpr double kClose = 1e-10;      // iterative or reordered sums, second methods
constexpr double kNumerical = 1e-6;   // numerical integration against a second method
constexpr double kStatistical = 1e-3; // Monte Carlo comparisons (use with a standard error)
}  // namespace tol

#endif
