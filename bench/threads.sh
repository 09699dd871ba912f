#!/usr/bin/env bash
# Thread scaling of a whole run: the same run on one CPU (taskset -c on the
# first CPU of the mask) and on every CPU of the mask, timed in turn, with
# every output compared byte for byte (standard output with its clock lines
# masked). Default data: the gene-pass benchmark (5,000 subjects, 50,000
# variants, 2,500 genes, binary trait, 2 covariates) with a weight file of 3
# weights, so that every asymptotic test runs.
#
#   bash bench/threads.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]
#
# GEN_ARGS (default "-weights 3") goes to the generator; WFILE=0 leaves the
# weight file out of the run. GENE=<id> also times that gene alone (a mapping
# of its rows only), on one CPU and on all: the slowest gene bounds the run.
# The one-CPU run of the default data takes about 14 minutes.
set -euo pipefail
GEN_ARGS=${GEN_ARGS--weights 3}
export GEN_ARGS
source "$(dirname "$0")/common.sh"
bench_setup "bash bench/threads.sh [SUBJECTS [VARIANTS [GENES [TRAIT]]]] [-- QUORVEX OPTIONS...]" "$@"
bench_data

out=$root/bench/out/threads_$tag
rm -rf "$out"
mkdir -p "$out/one" "$out/all"
mapping=$data/mapping.txt
files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$mapping" -msglog msg.log)
[ "${WFILE:-1}" = 1 ] && [ -f "$data/weights.txt" ] && files+=(-wfile "$data/weights.txt")
first_cpu=$(taskset -pc $$ | awk -F': ' '{ split($2, a, /[-,]/); print a[1] }')
cpus=$(nproc)

run_on() {  # $1 folder, $2 "one" or "all"
  local pin=()
  [ "$2" = one ] && pin=(taskset -c "$first_cpu")
  (cd "$1" && "${pin[@]}" "$prog" "${files[@]}" "${extra[@]}" >stdout.txt)
}
timed() {  # prints the seconds of one run
  local t0 t1
  t0=$(now)
  run_on "$@"
  t1=$(now)
  secs "$t0" "$t1"
}

cat "$data/geno.txt" >/dev/null  # into the page cache
echo "== whole run on 1 CPU and on $cpus CPUs ($tag)"
t_all=$(timed "$out/all" all)
t_one=$(timed "$out/one" one)
mask() { sed -E 's/^(QUORVEX started:|              [A-Z][a-z][a-z] ).*/<time>/' "$1"; }
same=yes
for f in "$out/one"/*; do
  name=$(basename "$f")
  if [ "$name" = stdout.txt ]; then
    cmp -s <(mask "$f") <(mask "$out/all/$name") || { same=no; echo "differs: $name"; }
  else
    cmp -s "$f" "$out/all/$name" || { same=no; echo "differs: $name"; }
  fi
done
printf '%-24s %10s\n' "run" "seconds"
printf '%-24s %10s\n' "1 CPU" "$t_one"
printf '%-24s %10s\n' "$cpus CPUs" "$t_all"
awk -v a="$t_one" -v b="$t_all" -v n="$cpus" \
  'BEGIN { printf "speed-up %.2f, thread efficiency %.0f%%\n", a / b, 100 * a / b / n }'
echo "outputs byte-identical: $same"

if [ -n "${GENE:-}" ]; then
  awk -v g="$GENE" '$1 == g' "$data/mapping.txt" >"$out/gene_mapping.txt"
  mapping=$out/gene_mapping.txt
  files=(-pfile "$data/pheno.txt" -gfile "$data/geno.txt" -mfile "$mapping")
  [ "${WFILE:-1}" = 1 ] && [ -f "$data/weights.txt" ] && files+=(-wfile "$data/weights.txt")
  mkdir -p "$out/gene_one" "$out/gene_all"
  g_one=$(timed "$out/gene_one" one)
  g_all=$(timed "$out/gene_all" all)
  cmp -s "$out/gene_one/rare.out" "$out/gene_all/rare.out" || echo "differs: gene $GENE rare.out"
  printf 'gene %s alone: %s s on 1 CPU, %s s on %s CPUs\n' "$GENE" "$g_one" "$g_all" "$cpus"
fi
[ "$same" = yes ]
