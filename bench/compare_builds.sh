#!/usr/bin/env bash
# Whole outputs of two builds of the program on the same runs: standard
# output (its clock lines masked), standard error, every file the run
# writes (rare.out, com.out, the score logs, the message log) and the exit
# status, compared byte for byte. Meant for a change that must keep every
# printed byte: build the commit before it in a folder of its own and pass
# both programs.
#
#   bash bench/compare_builds.sh OLD_QUORVEX NEW_QUORVEX [GENERATOR]
#
# The generator defaults to build/tools/quorvex_gen. The cases cover both
# traits, the three genetic models, weights, -com, -resample (stages 1-3,
# and stage 4 with -resample 1100000), and stops part-way: a bad weight in a
# later gene (with and without resampling), a stop while making a resample
# (a logistic refit with no case), a write failure (-ofile, -ofileC and
# -msglog on /dev/full); each on 1 and on 8 threads (QUORVEX_THREADS).
# CASES="name ..." runs only those cases. Prints one line per run and exits
# 1 when any differs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { echo "usage: bash bench/compare_builds.sh OLD_QUORVEX NEW_QUORVEX [GENERATOR]" >&2; exit 2; }
old=$(realpath "$1") new=$(realpath "$2")
gen=$(realpath "${3:-$root/build/tools/quorvex_gen}")
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Data sets: name -> generator options.
declare -A data_args=(
  [bin]="-subjects 300 -variants 240 -genes 24 -trait binary -covariates 2 -mapcols 3 -causal 3 -effect 2 -weights 2 -common 0.2 -seed 31"
  [quant]="-subjects 250 -variants 200 -genes 20 -trait quantitative -covariates 1 -mapcols 4 -causal 3 -effect 1.5 -weights 3 -common 0.2 -seed 32"
  [perm]="-subjects 120 -variants 60 -genes 12 -trait binary -covariates 0 -mapcols 2 -weights 2 -causal 2 -effect 2 -seed 11"
  [stage]="-subjects 100 -variants 30 -genes 6 -trait quantitative -covariates 0 -mapcols 2 -causal 1 -effect 10 -seed 15"
)

make_data() {  # $1 name: generated, then the hand-made sets
  local d=$work/data/$1
  [ -d "$d" ] && return 0
  mkdir -p "$d"
  case $1 in
    badweight|badweight_q)
      local from=perm; [ "$1" = badweight_q ] && from=quant
      make_data "$from"
      cp "$work/data/$from"/* "$d"/
      # The first weight of the second-to-last gene (identifier order)
      # becomes "nan", a weight that is not a finite number.
      local gene
      gene=$(cut -f1 "$d/weights.txt" | sort -u | tail -2 | head -1)
      awk -v g="$gene" 'BEGIN { FS = OFS = "\t" } $1 == g && !done { $3 = "nan"; done = 1 } { print }' \
        "$d/weights.txt" >"$d/w" && mv "$d/w" "$d/weights.txt"
      ;;
    refit)
      # Binary trait, one covariate, 5 cases among 126 subjects: some
      # resamples hold no case and their logistic refit stops the run.
      awk 'BEGIN { for (i = 0; i < 126; i++) printf "s%d\t%d\t%.3f\n", i, (i % 28 == 5), sin(1.7 * i) }' >"$d/pheno.txt"
      awk 'BEGIN { for (v = 0; v < 6; v++) { printf "v%d", v
                   for (i = 0; i < 126; i++) printf "\t%d", ((i * (v + 3)) % 23 == v || i == 5)
                   printf "\n" } }' >"$d/geno.txt"
      awk 'BEGIN { for (v = 0; v < 6; v++) printf "G%d\tv%d\n", int(v / 2), v }' >"$d/mapping.txt"
      ;;
    *)
      # shellcheck disable=SC2086
      "$gen" ${data_args[$1]} -out "$d" >/dev/null
      ;;
  esac
}

# Cases: name, data set, program options (W: the data's weight file).
cases=(
  "binary_additive|bin|-wfile W -msglog msg.log"
  "binary_dominant|bin|-dominant -msglog msg.log"
  "binary_recessive_com|bin|-recessive -com 0.05 -msglog msg.log"
  "quant_additive_weights|quant|-wfile W -msglog msg.log"
  "quant_dominant_com|quant|-dominant -com 0.05"
  "quant_recessive|quant|-recessive -wfile W"
  "binary_resample_weights|perm|-resample 1 -wfile W -msglog msg.log"
  "binary_resample_com|bin|-resample 1 -com 0.05 -msglog msg.log"
  "quant_resample_com_weights|quant|-resample 1 -com 0.05 -wfile W"
  "quant_resample_dominant|quant|-resample 1 -dominant -msglog msg.log"
  "stage3_warnings|stage|-resample 1 -msglog msg.log"
  "stage4|stage|-resample 1100000"
  "stop_bad_weight|badweight|-wfile W"
  "stop_bad_weight_resample|badweight|-resample 1 -wfile W -msglog msg.log"
  "stop_bad_weight_quant_com|badweight_q|-resample 1 -com 0.05 -wfile W"
  "stop_while_resampling|refit|-resample 1 -msglog msg.log"
  "stop_write_rare|bin|-ofile /dev/full"
  "stop_write_rare_resample|perm|-resample 1 -ofile /dev/full"
  "stop_write_com|bin|-com 0.05 -ofileC /dev/full"
  "stop_write_com_resample|bin|-resample 1 -com 0.05 -ofileC /dev/full"
  "stop_write_msglog|stage|-resample 1 -msglog /dev/full"
)

mask() { sed -E 's/^(QUORVEX started:|              [A-Z][a-z][a-z] ).*/<time>/' "$1"; }

run_one() {  # $1 program, $2 folder, $3 data folder, $4 threads, $5 options
  local prog=$1 dir=$2 d=$3 threads=$4 opts=${5//W/$3/weights.txt}
  mkdir -p "$dir"
  local status=0
  # shellcheck disable=SC2086
  (cd "$dir" && QUORVEX_THREADS=$threads "$prog" -pfile "$d/pheno.txt" -gfile "$d/geno.txt" \
      -mfile "$d/mapping.txt" $opts >stdout.txt 2>stderr.txt) || status=$?
  echo "$status" >"$dir/status"
  mask "$dir/stdout.txt" >"$dir/stdout.masked" && rm "$dir/stdout.txt"
}

failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r name set opts <<<"$c"
  if [ -n "${CASES:-}" ] && [[ " $CASES " != *" $name "* ]]; then continue; fi
  make_data "$set"
  d=$work/data/$set
  for threads in 1 8; do
    a=$work/runs/$name.$threads/old b=$work/runs/$name.$threads/new
    run_one "$old" "$a" "$d" "$threads" "$opts"
    run_one "$new" "$b" "$d" "$threads" "$opts"
    if diff -r "$a" "$b" >/dev/null; then
      printf '%-30s %2d threads  same   (status %s, %s files)\n' "$name" "$threads" "$(cat "$a/status")" \
        "$(find "$a" -type f | wc -l)"
    else
      failed=1
      printf '%-30s %2d threads  DIFFERS\n' "$name" "$threads"
      diff -r "$a" "$b" | head -20 || true
    fi
  done
done
exit $failed
