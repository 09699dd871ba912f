// Fuzz target: the gene-to-variant mapping loader (with its sort) on
// arbitrary file contents.
#include "driver/input.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *name = fuzz_support::file_with(data, size);
  const long geno_NROW = 16;
  MappingData m;
  try {
    load_mapping(name, geno_NROW, &m);
  } catch (const RunStop &) {
  }
  free_mapping(&m, geno_NROW);
  return 0;
}
