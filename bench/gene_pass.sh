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

root=$(cd "$(dirname "$0")/.." && pwd)
subjects=5000 variants=50000 genes=2500 trait=binary
pos=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--" ]; then shift; break; fi
  pos+=("$1"); shift
done
[ ${#pos[@]} -ge 1 ] && subjects=${pos[0]}
[ ${#pos[@]} -ge 2 ] && variants=${pos[1]}
[ ${#pos[@]} -ge 3 ] && genes=${pos[2]}
[ ${#pos[@]} -ge 4 ] && trait=${pos[3]}
extra=("$@")
repeat=${REPEAT:-3}
gen_args=${GEN_ARGS:-}
build=$root/${BUILD_DIR:-build}

echo "== build (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 3 --target quorvex quorvex_gen >/dev/null
gen=$build/tools/quorvex_gen
prog=$build/quorvex

now() { date +%s%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
best_median() { sort -g | awk '{ v[NR] = $1 } END { printf "%s %s\n", v[1], v[int((NR + 1) / 2)] }'; }

# The same data folder as the loading benchmark for the same sizes.
tag=${subjects}x${variants}_g${genes}_${trait}
[ -n "$gen_args" ] && tag=${tag}_$(printf '%s' "$gen_args" | tr -cs 'A-Za-z0-9.' '_' | sed 's/^_//; s/_$//')
data=$root/bench/data/$tag
gen_cmd=("$gen" -subjects "$subjects" -variants "$variants" -genes "$genes" -trait "$trait" -out "$data")
# shellcheck disable=SC2206
[ -n "$gen_args" ] && gen_cmd+=($gen_args)
stamp="$(printf '%s ' "${gen_cmd[@]}") $(cksum <"$gen" | cut -d' ' -f1)"
if [ "${FORCE:-0}" = 1 ] || [ ! -f "$data/stamp" ] || [ "$(cat "$data/stamp")" != "$stamp" ]; then
  echo "== generate $tag"
  rm -rf "$data"
  "${gen_cmd[@]}"
  printf '%s' "$stamp" >"$data/stamp"
else
  echo "== data $tag up to date (FORCE=1 regenerates)"
fi

out=$root/bench/out/gene_pass_$tag
mkdir -p "$out"
files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$data/mapping.txt")
loading() { (cd "$out" && "$prog" "${files[@]}" -noRare "${extra[@]}" >"$out/stdout_loading.txt"); }
whole() { (cd "$out" && "$prog" "${files[@]}" "${extra[@]}" >"$out/stdout_whole.txt"); }
time_cmd() {
  local i t0 t1
  for ((i = 0; i < repeat; i++)); do
    t0=$(now); "$@"; t1=$(now)
    secs "$t0" "$t1"; echo
  done
}
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
