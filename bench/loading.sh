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
run_prog() {
  (cd "$out" && "$prog" -pfile "$data/pheno.txt" -gfile "$geno" -noRare "${extra[@]}" >"$out/stdout.txt")
}

cat "$geno" >/dev/null  # into the page cache
wc -l "$geno" >/dev/null
read -r wc_best wc_med < <(time_cmd wc -l "$geno" | best_median)
if ! run_prog; then
  echo "quorvex failed; its output is in $out/stdout.txt" >&2
  tail -5 "$out/stdout.txt" >&2
  exit 1
fi
read -r q_best q_med < <(time_cmd run_prog | best_median)

echo "== loading benchmark: $tag, genotype file $(mb "$size") MB, $repeat runs, warm page cache"
printf '%-34s %9s %9s %10s\n' "command" "best s" "median s" "MB/s best"
printf '%-34s %9s %9s %10s\n' "wc -l geno.txt" "$wc_best" "$wc_med" "$(mbps "$size" "$wc_best")"
printf '%-34s %9s %9s %10s\n' "$label" "$q_best" "$q_med" "$(mbps "$size" "$q_best")"
printf '%-34s %9s %9s %10s\n' "  per genotype pass (2 passes)" "" "" "$(mbps $((2 * size)) "$q_best")"
echo "program output: $out/stdout.txt"
