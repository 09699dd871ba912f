#!/usr/bin/env bash
# Loading benchmark: builds quorvex (Release), generates a data set with
# quorvex_gen into bench/data/ and times the program's run on it against
# `wc -l` on the same genotype file. The run is made with -noRare, so it
# ends after the phenotype and genotype files are loaded (the gene pass
# has its own benchmark, bench/gene_pass.sh).
#
#   bash bench/loading.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]
#
# Defaults: 5000 subjects, 50000 variants (about 500 MB of genotypes),
# 2500 genes, binary trait. Options after "--" are added to the quorvex
# command line (for later benchmarks of the test passes).
#
# Environment:
#   REPEAT=3           timed runs of each command; the best and the median are shown
#   GEN_ARGS="..."     extra generator options (for example "-mapcols 4 -weights 2")
#   BUILD_DIR=build    build folder (relative to the repository root)
#   QUORVEX=path       time this program instead of the one built here
#   FORCE=1            regenerate the data even when it is up to date
#   USE_WEIGHTS=1      add "-wfile <data>/weights.txt" to the quorvex options
#                      (generate it with GEN_ARGS="-weights K")
#   THREADS="1 8"      time the program with QUORVEX_THREADS set to each count
#                      (default: every CPU of the affinity mask)
#   BASE=path          time this other quorvex as well (the build before a
#                      change): every command is run once per round, in turn,
#                      so that the ratios compare runs made under the same load
#
# Every timed command's standard output (its clock lines left out) is
# compared with the first one's; a difference stops the script.
#
# Timings are taken with the files in the page cache (each command is run
# once untimed first), so they measure parsing speed rather than the disk.
set -euo pipefail

# shellcheck source=bench/common.sh
source "$(dirname "$0")/common.sh"
bench_setup "bash bench/loading.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]" "$@"
bench_data
if [ -n "$gen_secs" ]; then
  bytes=$(cat "$data"/*.txt | wc -c)
  echo "generator: $gen_secs s for $(mb "$bytes") MB written ($(mbps "$bytes" "$gen_secs") MB/s)"
fi
geno=$data/geno.txt
size=$(stat -c %s "$geno")
label="quorvex -pfile -gfile -noRare${extra[*]:+ ${extra[*]}}"
if [ "${USE_WEIGHTS:-0}" = 1 ]; then
  extra+=(-wfile "$data/weights.txt")
  label="$label -wfile"
fi

# ------------------------------------------------------------ timing --
out=$root/bench/out/$tag
mkdir -p "$out"
# run_prog PROGRAM THREADS OUTPUT: one loading run (THREADS empty: every CPU)
run_prog() {
  local program=$1 threads=$2 output=$3
  if [ -n "$threads" ]; then
    (cd "$out" && QUORVEX_THREADS=$threads "$program" -pfile "$data/pheno.txt" -gfile "$geno" -noRare "${extra[@]}" >"$output")
  else
    (cd "$out" && "$program" -pfile "$data/pheno.txt" -gfile "$geno" -noRare "${extra[@]}" >"$output")
  fi
}
masked() { grep -v -e '^QUORVEX started: ' -e '^              ' "$1"; }

# The commands: this program per thread count, then BASE per thread count.
names=() programs=() counts=()
read -r -a thread_list <<<"${THREADS:-}"
[ ${#thread_list[@]} -eq 0 ] && thread_list=("")
for p in "$prog" ${BASE:+"$BASE"}; do
  for t in "${thread_list[@]}"; do
    if [ "$p" = "$prog" ]; then name=${t:+threads=$t}; else name=base${t:+ threads=$t}; fi
    names+=("$name") programs+=("$p") counts+=("$t")
  done
done

cat "$geno" >/dev/null  # into the page cache
wc -l "$geno" >/dev/null
read -r wc_best wc_med < <(time_cmd wc -l "$geno" | best_median)
n=${#names[@]}
for ((c = 0; c < n; c++)); do  # untimed first runs, and the outputs compared
  if ! run_prog "${programs[$c]}" "${counts[$c]}" "$out/stdout.$c.txt"; then
    echo "'$label${names[$c]:+ ${names[$c]}}' failed; its output is in $out/stdout.$c.txt" >&2
    tail -5 "$out/stdout.$c.txt" >&2
    exit 1
  fi
  if ! cmp -s <(masked "$out/stdout.0.txt") <(masked "$out/stdout.$c.txt"); then
    echo "standard output of '$label${names[$c]:+ ${names[$c]}}' differs from the first command's ($out/stdout.$c.txt)" >&2
    exit 1
  fi
done
declare -A times
for ((i = 0; i < repeat; i++)); do
  for ((c = 0; c < n; c++)); do
    t0=$(now); run_prog "${programs[$c]}" "${counts[$c]}" /dev/null; t1=$(now)
    times[$c]+="$(secs "$t0" "$t1") "
  done
done

echo "== loading benchmark: $tag, genotype file $(mb "$size") MB, $repeat runs, warm page cache"
echo "   load: $(uptime | sed 's/.*load average/load average/')"
printf '%-44s %9s %9s %10s %9s\n' "command" "best s" "median s" "MB/s best" "median/1st"
printf '%-44s %9s %9s %10s\n' "wc -l geno.txt" "$wc_best" "$wc_med" "$(mbps "$size" "$wc_best")"
first_med=
for ((c = 0; c < n; c++)); do
  read -r best med < <(tr ' ' '\n' <<<"${times[$c]}" | grep . | best_median)
  [ -z "$first_med" ] && first_med=$med
  ratio=$(awk -v a="$med" -v b="$first_med" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  printf '%-44s %9s %9s %10s %9s\n' "$label${names[$c]:+ ${names[$c]}}" "$best" "$med" "$(mbps "$size" "$best")" "$ratio"
done
echo "program output: $out/stdout.0.txt"
