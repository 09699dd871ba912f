// Fuzz target: the phenotype loader on arbitrary file contents.
#include "driver/input.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *name = fuzz_support::file_with(data, size);
  PhenotypeData ph;
  try {
    load_phenotype(name, &ph);
  } catch (const RunStop &) {
  }
  free_phenotype(&ph);
  return 0;
}
