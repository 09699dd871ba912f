// Fuzz target: the genotype loader on arbitrary file contents. The number of
// subjects is the number of values on the first line, so that well-formed
// inputs get past the shape check. The file is loaded on one thread and then
// in ranges on three threads; the two must give the same message, or the
// same summary and row offsets bit for bit (abort otherwise).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/input.h"
#include "driver/text_file.h"
#include "fuzz/fuzz_support.h"
#include "numeric/run_stop.h"

namespace {

// The loading's message ("" when it succeeded).
std::string load(const char *name, long N, int threads, long range_bytes, GenotypeSummary *g) {
  try {
    load_genotype_on(name, N, g, threads, range_bytes);
  } catch (const RunStop &stop) {
    return stop.texts.empty() ? std::string("stop") : stop.texts[0].bytes;
  }
  return "";
}

bool same_summary(const GenotypeSummary &a, const GenotypeSummary &b) {
  if (a.geno_NROW != b.geno_NROW || a.geno_NCOL != b.geno_NCOL) return false;
  const std::size_t n = static_cast<std::size_t>(a.geno_NROW);
  if (std::memcmp(a.geno_naRate, b.geno_naRate, n * sizeof(double)) != 0 ||
      std::memcmp(a.geno_maf, b.geno_maf, n * sizeof(double)) != 0 ||
      std::memcmp(a.geno_singular, b.geno_singular, n * sizeof(int)) != 0 ||
      std::memcmp(a.geno_offset, b.geno_offset, n * sizeof(long)) != 0)
    return false;
  for (std::size_t r = 0; r < n; r++)
    if (std::strcmp(a.geno_snpID[r], b.geno_snpID[r]) != 0) return false;
  return true;
}

}  // namespace

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
  GenotypeSummary one, ranges;
  const std::string one_error = load(name, N, 1, 0, &one);
  // Ranges of a few bytes put a boundary after nearly every line.
  const std::string ranges_error = load(name, N, 3, 1 + static_cast<long>(size % 7), &ranges);
  if (one_error != ranges_error || (one_error.empty() && !same_summary(one, ranges))) std::abort();
  free_genotype(&one);
  free_genotype(&ranges);
  return 0;
}
