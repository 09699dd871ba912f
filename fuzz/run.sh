#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each on a
# copy of its committed corpus for the given number of seconds (default 15).
#   bash fuzz/run.sh [seconds]
# Without clang and its fuzzer runtime it says so and does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
probe='extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }'
if ! command -v clang++ >/dev/null 2>&1 || ! command -v clang >/dev/null 2>&1 ||
   ! echo "$probe" | clang++ -x c++ -fsanitize=fuzzer - -o /dev/null >/dev/null 2>&1; then
  echo "fuzz/run.sh: clang with the libFuzzer runtime is not available; fuzz targets skipped"
  exit 0
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_FUZZ=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j "$JOBS" --target fuzz_phenotype fuzz_genotype fuzz_mapping fuzz_weights
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for t in phenotype genotype mapping weights; do
  mkdir -p "$work/$t"
  # New inputs go to the scratch folder; the committed corpus is only read.
  build-fuzz/fuzz/fuzz_$t "$work/$t" fuzz/corpus/$t -max_total_time="$seconds" -max_len=16384 \
    -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/$t-" -print_final_stats=1 2>"$work/$t.log" ||
    { tail -n 60 "$work/$t.log"; echo "fuzz_$t found a fault; its input is above"; exit 1; }
  grep -E "^stat::number_of_executed_units|DONE" "$work/$t.log" | sed "s/^/fuzz_$t: /"
done
