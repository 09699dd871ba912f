#!/usr/bin/env bash
# The exome, measured: a whole asymptotic run of an exome-sized study on
# every CPU (20,000 genes, 10,000 subjects, 200,000 variants, binary trait,
# 2 covariates, a weight file of 3 weights, so that every asymptotic test
# runs), with its wall time, user and system CPU time, peak memory and the
# machine's load before and after. RESAMPLE=1 also times the run with
# "-resample 1" on the same data.
#
#   bash bench/exome.sh [-- QUORVEX OPTIONS...]
#
# This takes long: generating the data (a genotype file of about 4 GB) takes
# minutes, the asymptotic run most of an hour of a quiet 8-CPU machine's
# time when the CPUs are shared, and the resampling run longer. The data are
# generated once, into BUILD_DIR/exome-data (default build/exome-data); a
# second run reuses them while the generator and its options are unchanged
# (FORCE=1 regenerates).
#
# Environment: SUBJECTS=10000, VARIANTS=200000, GENES=20000 (the study's
# size), RESAMPLE=1 (also the resampling run), BUILD_DIR=build,
# QUORVEX=<program> (default: the Release build of this tree), FORCE=1.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/common.sh
source "$root/bench/common.sh"
extra=()
if [ $# -gt 0 ]; then
  if [ "$1" != "--" ]; then echo "usage: bash bench/exome.sh [-- QUORVEX OPTIONS...]" >&2; exit 2; fi
  shift; extra=("$@")
fi
subjects=${SUBJECTS:-10000} variants=${VARIANTS:-200000} genes=${GENES:-20000}
build=$root/${BUILD_DIR:-build}

bench_build

tag=${subjects}x${variants}_g${genes}_binary_weights_3
data=$build/exome-data/$tag
gen_cmd=("$gen" -subjects "$subjects" -variants "$variants" -genes "$genes" -trait binary
  -covariates 2 -weights 3 -out "$data")
stamp="$(printf '%s ' "${gen_cmd[@]}") $(cksum <"$gen" | cut -d' ' -f1)"
if [ "${FORCE:-0}" = 1 ] || [ ! -f "$data/stamp" ] || [ "$(cat "$data/stamp")" != "$stamp" ]; then
  echo "== generate $tag (once; later runs reuse it)"
  rm -rf "$data"
  t0=$(now)
  "${gen_cmd[@]}"
  t1=$(now)
  echo "generated in $(secs "$t0" "$t1") s"
  printf '%s' "$stamp" >"$data/stamp"
else
  echo "== data $tag up to date in $data (FORCE=1 regenerates)"
fi

out=$root/bench/out/exome_$tag
mkdir -p "$out"
files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$data/mapping.txt"
  -wfile "$data/weights.txt" -msglog msg.log)
echo "genotype file: $(mb "$(stat -c %s "$data/geno.txt")") MB; CPUs: $(nproc)"

load() { cut -d' ' -f1-3 /proc/loadavg; }
field() { awk -F': ' -v k="$2" 'index($0, k) { print $2 }' "$out/$1.time"; }
wall() { field "$1" "Elapsed (wall clock)" | awk '{ n = split($1, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }'; }

run() {  # name, then quorvex options
  local name=$1; shift
  mkdir -p "$out/$name"
  echo "== $name run (load before: $(load); uptime: $(uptime))"
  (cd "$out/$name" && /usr/bin/time -v -o "$out/$name.time" "$prog" "${files[@]}" "$@" "${extra[@]}" \
    >stdout.txt 2>stderr.txt)
  echo "   load after: $(load); uptime: $(uptime)"
  awk -v w="$(wall "$name")" -v u="$(field "$name" "User time (seconds)")" \
    -v s="$(field "$name" "System time (seconds)")" -v m="$(field "$name" "Maximum resident set size")" \
    -v n="$name" 'BEGIN {
      printf "%s: %.1f s wall, %.1f s user + %.1f s sys = %.1f CPU-s (%.2f CPUs busy on average), peak RSS %.0f MB\n",
        n, w, u, s, u + s, (w > 0 ? (u + s) / w : 0), m / 1024 }'
}

run asymptotic
if [ "${RESAMPLE:-0}" = 1 ]; then
  run resampling -resample 1
fi
echo "outputs in $out (figures taken on a shared machine: give them with the load)"
