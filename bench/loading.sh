#!/usr/bin/env bash
# Loading benchmark: builds quorvex (Release), generates a data set with
# quorvex_gen into bench/data/ and times the program's run on it against
# `wc -l` on the same genotype file.
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
[ ${#pos[@]} -ge 5 ] && { echo "usage: bash bench/loading.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]" >&2; exit 2; }
extra=("$@")
repeat=${REPEAT:-3}
gen_args=${GEN_ARGS:-}
build=$root/${BUILD_DIR:-build}

echo "== build (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 3 --target quorvex quorvex_gen >/dev/null
gen=$build/tools/quorvex_gen
prog=${QUORVEX:-$build/quorvex}

now() { date +%s%N; }
# seconds between two now() stamps
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
mb() { awk -v bytes="$1" 'BEGIN { printf "%.1f", bytes / 1e6 }'; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", bytes / 1e6 / s; else print "inf" }'; }
# best and median of the numbers on standard input
best_median() { sort -g | awk '{ v[NR] = $1 } END { printf "%s %s\n", v[1], v[int((NR + 1) / 2)] }'; }

# -------------------------------------------------------------- data --
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
  t0=$(now)
  "${gen_cmd[@]}"
  t1=$(now)
  bytes=$(cat "$data"/*.txt | wc -c)
  echo "generator: $(secs "$t0" "$t1") s for $(mb "$bytes") MB written ($(mbps "$bytes" "$(secs "$t0" "$t1")") MB/s)"
  printf '%s' "$stamp" >"$data/stamp"
else
  echo "== data $tag up to date (FORCE=1 regenerates)"
fi
geno=$data/geno.txt
size=$(stat -c %s "$geno")
label="quorvex -pfile -gfile -mfile${extra[*]:+ ${extra[*]}}"
if [ "${USE_WEIGHTS:-0}" = 1 ]; then
  extra+=(-wfile "$data/weights.txt")
  label="$label -wfile"
fi

# ------------------------------------------------------------ timing --
out=$root/bench/out/$tag
mkdir -p "$out"
run_prog() {
  (cd "$out" && "$prog" -pfile "$data/pheno.txt" -gfile "$geno" -mfile "$data/mapping.txt" "${extra[@]}" >"$out/stdout.txt")
}
time_cmd() {  # repeat a command; prints the seconds of each run, one a line
  local i t0 t1
  for ((i = 0; i < repeat; i++)); do
    t0=$(now); "$@" >/dev/null; t1=$(now)
    secs "$t0" "$t1"; echo
  done
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
