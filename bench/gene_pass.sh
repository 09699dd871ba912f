#!/usr/bin/env bash
# Gene-pass benchmark: the whole run (loading, null model, every gene's
# set-up and burden tests, the result file) against the loading alone
# ("-noRare": phenotype and genotype files, no gene pass), on one generated
# data set. Reports the best and median wall time of each and the peak
# memory (maximum resident set size from /usr/bin/time -v).
#
#   bash bench/gene_pass.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]
#
# Defaults: 5000 subjects, 50000 variants, 2500 genes, binary trait, the
# generator's 2 covariates. Target: whole run <= 2.5 x loading alone.
#
# Environment: REPEAT=3 (timed runs of each), GEN_ARGS="..." (extra generator
# options), BUILD_DIR=build, FORCE=1 (regenerate the data).
set -euo pipefail

# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
bench_setup "bash bench/gene_pass.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]" "$@"
# The same data folder as the loading benchmark for the same sizes.
bench_data

out=$root/bench/out/gene_pass_$tag
mkdir -p "$out"
files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$data/mapping.txt")
loading() { (cd "$out" && "$prog" "${files[@]}" -noRare "${extra[@]}" >"$out/stdout_loading.txt"); }
whole() { (cd "$out" && "$prog" "${files[@]}" "${extra[@]}" >"$out/stdout_whole.txt"); }
peak_kb() {  # maximum resident set size of one run, in kB
  (cd "$out" && /usr/bin/time -v "$prog" "${files[@]}" "$@" "${extra[@]}" 2>&1 >/dev/null |
    awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }')
}

cat "$data/geno.txt" >/dev/null  # into the page cache
loading || { echo "loading run failed: $out/stdout_loading.txt" >&2; exit 1; }
whole || { echo "whole run failed: $out/stdout_whole.txt" >&2; exit 1; }
read -r l_best l_med < <(time_cmd loading | best_median)
read -r w_best w_med < <(time_cmd whole | best_median)
l_mem=$(peak_kb -noRare)
w_mem=$(peak_kb)
rows=$(($(wc -l <"$out/rare.out") - 1))

echo "== gene-pass benchmark: $tag, $repeat runs, warm page cache"
printf '%-28s %9s %9s %12s\n' "run" "best s" "median s" "peak RSS MB"
printf '%-28s %9s %9s %12s\n' "loading alone (-noRare)" "$l_best" "$l_med" "$(awk -v k="$l_mem" 'BEGIN { printf "%.1f", k / 1024 }')"
printf '%-28s %9s %9s %12s\n' "whole run" "$w_best" "$w_med" "$(awk -v k="$w_mem" 'BEGIN { printf "%.1f", k / 1024 }')"
awk -v w="$w_best" -v l="$l_best" 'BEGIN { printf "ratio whole / loading (best): %.2f (target <= 2.5)\n", w / l }'
echo "genes with a result row: $rows; outputs in $out"
