// Fuzz target: the genotype loader on arbitrary file contents. The number of
// subjects is the number of values on the first line, so that well-formed
// inputs get past the shape check.
#include <algorithm>

#include "driver/input.h"
#include "driver/text_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  const char *end = std::find(text, text + size, '\n');
  long tokens = 0;
  for (const char *p = text; p < end;) {
    while (p < end && is_blank(*p)) p++;
    if (p == end) break;
    tokens++;
    while (p < end && !is_blank(*p)) p++;
  }
  const long N = tokens > 0 ? tokens - 1 : 0;
  const char *name = fuzz_support::file_with(data, size);
  GenotypeSummary g;
  try {
    load_genotype(name, N, &g);
  } catch (const RunStop &) {
  }
  free_genotype(&g);
  return 0;
}
