// Deterministic generator of phenotype, genotype, mapping and weight files.
#include <cstdio>

int main() {
  std::puts("quorvex_gen: not built yet");
  return 0;
}
