#!/usr/bin/env bash
# Resampling benchmark: the time "-resample" adds to the asymptotic run,
# against the time of making the resamples alone (bench_resample_bench: the
# 10^6 refits of a binary trait with covariates, or 10^6 resampled traits
# with their null models), with the stage breakdown that the run prints on
# standard error (QUORVEX_RESAMPLE_REPORT=1) and the peak memory.
#
#   bash bench/resampling.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]
#
# Defaults: 5000 subjects, 50000 variants, 2500 genes, binary trait, 2
# covariates, a 4-column mapping whose flags are cut to at most 5 per gene.
# Targets (one thread): added time <= 1.5 x the refits alone (binary),
# <= 2.5 x making the resamples alone (quantitative).
#
# Environment: RESAMPLES=1000000 (resamples of the making-alone bench, 1000,
# 100000 or 1000000; the ratio scales it to 10^6), POOL=... (QUORVEX_RESAMPLE_POOL of the
# resampling run; 1 = gene by gene), GEN_ARGS (default "-mapcols 4"),
# BUILD_DIR=build, FORCE=1.
#
# THREADS="1 8": instead, the resampling run once per thread count
# (QUORVEX_THREADS), its wall time, stage breakdown and the speed-up of each
# count over the first, with the outputs compared byte for byte (target: at
# least 6x on 8 CPUs against 1). Report it with the machine's load.
set -euo pipefail

GEN_ARGS=${GEN_ARGS:--mapcols 4}
export GEN_ARGS
# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
bench_setup "bash bench/resampling.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]" "$@"
bench_data
cmake --build "$build" -j 3 --target bench_resample_bench >/dev/null

out=$root/bench/out/resampling_${tag}${POOL:+_pool$POOL}
mkdir -p "$out"
# At most 5 VT thresholds per gene: later flags of a gene set to 0.
awk -F'\t' 'BEGIN { OFS = "\t" } NF == 4 { if ($4 == 1 && ++n[$1] > 5) $4 = 0 } { print }' \
  "$data/mapping.txt" >"$out/mapping5.txt"
files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$out/mapping5.txt")
cat "$data/geno.txt" >/dev/null

timed() {  # name, then quorvex options: wall seconds and peak RSS (kB) into $name.time
  local name=$1; shift
  (cd "$out" && /usr/bin/time -v -o "$out/$name.time" "$prog" "${files[@]}" "$@" "${extra[@]}" \
    >"$out/stdout_$name.txt" 2>"$out/stderr_$name.txt")
}
wall() { awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$out/$1.time"; }
peak() { awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }' "$out/$1.time"; }

if [ -n "${THREADS:-}" ]; then
  first=""
  for t in $THREADS; do
    echo "== resampling run, $t threads (load: $(cut -d' ' -f1-3 /proc/loadavg))"
    QUORVEX_THREADS=$t QUORVEX_RESAMPLE_POOL=${POOL:-} QUORVEX_RESAMPLE_REPORT=1 \
      timed "threads$t" -resample 1 -ofile resampling_threads.out
    mv "$out/resampling_threads.out" "$out/resampling_t$t.out"
    cat "$out/stderr_threads$t.txt"
    w=$(wall "threads$t")
    if [ -z "$first" ]; then
      first=$t fw=$w
    else
      cmp "$out/resampling_t$first.out" "$out/resampling_t$t.out"
      diff <(grep -v '^QUORVEX started\|^              [A-Z]' "$out/stdout_threads$first.txt") \
        <(grep -v '^QUORVEX started\|^              [A-Z]' "$out/stdout_threads$t.txt") >/dev/null
    fi
    awk -v t="$t" -v w="$w" -v f="$fw" -v ft="$first" 'BEGIN {
      printf "%s threads: %.1f s wall, %.2fx the %s-thread run\n", t, w, f / w, ft }'
  done
  echo "(load after: $(cut -d' ' -f1-3 /proc/loadavg)); outputs in $out"
  exit 0
fi

echo "== asymptotic run"
timed asymptotic -ofile asymptotic.out
echo "== resampling run${POOL:+ (pool $POOL)}"
QUORVEX_RESAMPLE_POOL=${POOL:-} QUORVEX_RESAMPLE_REPORT=1 timed resampling -resample 1 -ofile resampling.out
n=${RESAMPLES:-1000000}
echo "== making $n resamples alone"
"$build/bench/bench_resample_bench" "$data/pheno.txt" "$n" >/dev/null 2>"$out/making.txt"

a=$(wall asymptotic) r=$(wall resampling)
echo "== resampling benchmark: $tag${POOL:+, pool $POOL}"
printf '%-34s %10s %12s\n' "run" "wall s" "peak RSS MB"
printf '%-34s %10s %12s\n' "asymptotic" "$a" "$(peak asymptotic)"
printf '%-34s %10s %12s\n' "with -resample" "$r" "$(peak resampling)"
cat "$out/stderr_resampling.txt"
cat "$out/making.txt"
refit=$(awk '/refits alone/ { print $4 }' "$out/making.txt")
making=$(awk '/refits computed/ { print $5 }' "$out/making.txt")
awk -v a="$a" -v r="$r" -v f="$refit" -v m="$making" -v n="$n" 'BEGIN {
  added = r - a; scale = 1e6 / n
  printf "added by -resample: %.1f s\n", added
  printf "refits alone, scaled to 10^6: %.1f s -> added / refits = %.2f (binary target <= 1.5)\n", f * scale, (f > 0 ? added / (f * scale) : 0)
  printf "making 10^6 resamples alone: %.1f s -> added / making = %.2f (quantitative target <= 2.5)\n", m * scale, added / (m * scale)
}'
echo "outputs in $out"
