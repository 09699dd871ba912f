#!/usr/bin/env bash
# Benchmark of one big gene: a single gene of VARIANTS rare variants on
# SUBJECTS subjects (binary trait, 2 covariates, no common variants), the
# whole asymptotic run timed with its peak memory (/usr/bin/time -v). With
# BASE=/path/to/an/older/quorvex the older build runs on the same data and
# every output is compared byte for byte: rare.out, vt.log, skat.log and
# standard output with its clock texts masked.
#
#   bash bench/big_gene.sh [SUBJECTS [VARIANTS]]      (default 5000 2000)
#   BASE=/tmp/before/build/quorvex bash bench/big_gene.sh 5000 2000
#
# The SKAT kernel's eigenvalues cost O(VARIANTS^3) and the kernel, the
# covariance and the genotype matrices take O(VARIANTS^2 + SUBJECTS *
# VARIANTS) memory: 10,000 variants on 10,000 subjects takes minutes and
# several GB, and writes a variant log of about 1 GB.
set -euo pipefail

source "$(dirname "$0")/common.sh"
GEN_ARGS="-common 0"
bench_setup "bash bench/big_gene.sh [SUBJECTS [VARIANTS]]" "${1:-5000}" "${2:-2000}" 1 binary
bench_data

files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$data/mapping.txt")
# Runs one build in its own folder; prints "wall_seconds peak_kB".
run_in() {
  local binary=$1 out=$2
  rm -rf "$out" && mkdir -p "$out"
  (cd "$out" && /usr/bin/time -v "$binary" "${files[@]}" >stdout.txt 2>time.txt)
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
                for (i = 1; i <= n; i++) s = s * 60 + t[i]; w = s }
              /Maximum resident set size/ { m = $2 }
              END { printf "%.2f %d\n", w, m }' "$out/time.txt"
}

cat "$data/geno.txt" >/dev/null  # into the page cache
echo "== load: $(uptime | sed 's/.*load average/load average/')"
read -r secs_new kb_new < <(run_in "$prog" "$root/bench/out/big_gene_$tag")
printf '%-10s %10s %12s\n' "build" "wall s" "peak RSS MB"
printf '%-10s %10s %12s\n' "this" "$secs_new" "$(awk -v k="$kb_new" 'BEGIN { printf "%.1f", k / 1024 }')"
if [ -n "${BASE:-}" ]; then
  read -r secs_base kb_base < <(run_in "$BASE" "$root/bench/out/big_gene_${tag}_base")
  printf '%-10s %10s %12s\n' "base" "$secs_base" "$(awk -v k="$kb_base" 'BEGIN { printf "%.1f", k / 1024 }')"
  awk -v a="$secs_new" -v b="$secs_base" 'BEGIN { printf "speed-up base / this: %.2f\n", b / a }'
  a=$root/bench/out/big_gene_$tag b=$root/bench/out/big_gene_${tag}_base
  same=1
  for f in rare.out vt.log skat.log; do cmp -s "$a/$f" "$b/$f" || { echo "DIFFERENT: $f"; same=0; }; done
  mask() { sed -E 's/[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}/CLOCK/' "$1"; }
  cmp -s <(mask "$a/stdout.txt") <(mask "$b/stdout.txt") || { echo "DIFFERENT: standard output"; same=0; }
  [ "$same" = 1 ] && echo "outputs identical: rare.out, vt.log, skat.log, standard output (clock texts masked)"
fi
echo "== load: $(uptime | sed 's/.*load average/load average/')"
