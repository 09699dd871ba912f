#!/usr/bin/env bash
# Common-variant pass benchmark: builds quorvex (Release), generates data
# sets of common variants only (quorvex_gen -common 1, 2 covariates), a
# binary and a quantitative trait, and times on each
#   - quorvex -noRare             (loading alone),
#   - quorvex -noRare -com 0.01   (loading and the common-variant pass: every
#                                  variant tested),
#   - plink2 --glm, one thread    (single-variant regression on the same
#                                  variants and covariates, reading its own
#                                  binary format).
# plink2 is installed here with apt-get when it is missing; it is no
# dependency of quorvex. Its input is made from the same files beforehand
# (untimed): the genotype file becomes a dosage file (two allele columns
# after the identifier) imported into plink2's binary format, the trait and
# the covariates go to its phenotype and covariate files (a binary trait
# coded 1/2).
#
#   bash bench/common_pass.sh [SUBJECTS [VARIANTS]]
#
# With RESAMPLE=1 it also times, once per trait,
#   - quorvex -noRare -com 0.01 -resample 1 (every variant resampled, the
#     pool's stage figures on standard error, QUORVEX_RESAMPLE_REPORT=1)
# and reports the time it adds to the pass, its making of the resamples and
# its evaluation, and the nanoseconds per subject per variant per resample
# (evaluation alone, and the whole added time over the same count). POOL=n
# sets QUORVEX_RESAMPLE_POOL (1: variant by variant).
#
# THREADS="1 8": instead (no plink2), the loading and the pass once per
# thread count (QUORVEX_THREADS), best of REPEAT runs each, the pass's time
# (best -com minus best loading) and its speed-up over the first count, and
# com.out and standard output (clock lines masked) compared byte for byte
# with the first count's. Report the machine's load with the figures.
#
# Defaults: 5000 subjects, 20000 variants. Environment as for
# bench/loading.sh (REPEAT, BUILD_DIR, QUORVEX, FORCE); timings are taken
# with the files in the page cache. Run it on a quiet machine, or with
# `nice -n 10 taskset -c 2 bash bench/common_pass.sh` on a shared one.
set -euo pipefail

subjects_arg=${1:-5000}
variants_arg=${2:-20000}
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${THREADS:-}" ]; then
  # shellcheck source=bench/common.sh
  source "$here/common.sh"
  mask() { sed -E 's/^(QUORVEX started:.*| {14}[^ ].*)$/<time>/' "$1"; }
  for trait_arg in binary quantitative; do
    export GEN_ARGS="-common 1 -covariates 2"
    bench_setup "THREADS=\"1 8\" bash bench/common_pass.sh [SUBJECTS [VARIANTS]]" \
      "$subjects_arg" "$variants_arg" $((variants_arg / 20)) "$trait_arg"
    bench_data
    geno=$data/geno.txt
    out=$root/bench/out/common_threads_$tag
    mkdir -p "$out"
    cat "$geno" >/dev/null  # into the page cache
    echo "== common-variant pass by thread count: $tag, $repeat runs each; $(uptime)"
    printf '%-8s %10s %10s %10s %10s %10s\n' threads "load s" "-com s" "pass s" "pass x" "whole x"
    first=
    for t in $THREADS; do
      run_load() { (cd "$out" && QUORVEX_THREADS=$t "$prog" -pfile "$data/pheno.txt" -gfile "$geno" -noRare >/dev/null); }
      run_com() { (cd "$out" && QUORVEX_THREADS=$t "$prog" -pfile "$data/pheno.txt" -gfile "$geno" -noRare -com 0.01 >"$out/stdout_$t.txt"); }
      run_load && run_com || { echo "a command failed; see $out" >&2; exit 1; }
      cp "$out/com.out" "$out/com_$t.out"
      read -r l_best _ < <(time_cmd run_load | best_median)
      read -r c_best _ < <(time_cmd run_com | best_median)
      pass=$(awk -v a="$c_best" -v b="$l_best" 'BEGIN { printf "%.3f", a - b }')
      if [ -z "$first" ]; then
        first=$t p1=$pass c1=$c_best
      else
        cmp -s "$out/com_$first.out" "$out/com_$t.out" || echo "com.out differs: $first and $t threads" >&2
        cmp -s <(mask "$out/stdout_$first.txt") <(mask "$out/stdout_$t.txt") ||
          echo "standard output differs: $first and $t threads" >&2
      fi
      printf '%-8s %10s %10s %10s %10s %10s\n' "$t" "$l_best" "$c_best" "$pass" \
        "$(awk -v a="$p1" -v b="$pass" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')" \
        "$(awk -v a="$c1" -v b="$c_best" 'BEGIN { printf "%.2f", a / b }')"
    done
    echo "$(uptime)"
  done
  exit 0
fi

if ! command -v plink2 >/dev/null 2>&1; then
  echo "== installing plink2 (benchmark only)"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq plink2
fi

# shellcheck source=bench/common.sh
source "$here/common.sh"

report=()
for trait_arg in binary quantitative; do
  export GEN_ARGS="-common 1 -covariates 2"
  bench_setup "bash bench/common_pass.sh [SUBJECTS [VARIANTS]]" \
    "$subjects_arg" "$variants_arg" $((variants_arg / 20)) "$trait_arg"
  bench_data
  geno=$data/geno.txt
  size=$(stat -c %s "$geno")

  # plink2's input, made once per data set.
  pl=$data/plink2
  if [ ! -f "$pl/stamp" ] || [ "$(cat "$pl/stamp")" != "$stamp" ]; then
    echo "== converting $tag for plink2"
    rm -rf "$pl"
    mkdir -p "$pl"
    awk 'BEGIN { OFS = "\t" } { print $1, $1, 0, 0, 0, -9 }' "$data/pheno.txt" >"$pl/samples.fam"
    awk -v bin=$([ "$trait" = binary ] && echo 1 || echo 0) 'BEGIN { OFS = "\t"; print "#FID", "IID", "Y" }
      { print $1, $1, (bin ? $2 + 1 : $2) }' "$data/pheno.txt" >"$pl/trait.txt"
    awk 'BEGIN { OFS = "\t"; print "#FID", "IID", "C1", "C2" } { print $1, $1, $3, $4 }' \
      "$data/pheno.txt" >"$pl/covar.txt"
    sed 's/\t/\tA\tC\t/' "$geno" >"$pl/dosage.txt"
    plink2 --import-dosage "$pl/dosage.txt" noheader format=1 single-chr=1 --fam "$pl/samples.fam" \
      --make-pgen --threads 1 --out "$pl/geno" >/dev/null
    rm -f "$pl/dosage.txt"
    printf '%s' "$stamp" >"$pl/stamp"
  fi

  out=$root/bench/out/common_$tag
  mkdir -p "$out"
  run_load() { (cd "$out" && "$prog" -pfile "$data/pheno.txt" -gfile "$geno" -noRare >"$out/stdout_load.txt"); }
  run_com() { (cd "$out" && "$prog" -pfile "$data/pheno.txt" -gfile "$geno" -noRare -com 0.01 >"$out/stdout.txt"); }
  run_plink2() {
    plink2 --pfile "$pl/geno" --pheno "$pl/trait.txt" --covar "$pl/covar.txt" --glm hide-covar \
      --threads 1 --out "$out/plink2" >/dev/null
  }

  cat "$geno" "$pl/geno.pgen" >/dev/null  # into the page cache
  run_load && run_com && run_plink2 || { echo "a command failed; see $out" >&2; exit 1; }
  tested=$(($(wc -l <"$out/com.out") - 1))
  plink_rows=$(($(cat "$out"/plink2.*.glm.* | wc -l) - 1))
  read -r l_best l_med < <(time_cmd run_load | best_median)
  read -r c_best c_med < <(time_cmd run_com | best_median)
  read -r p_best p_med < <(time_cmd run_plink2 | best_median)
  pass=$(awk -v a="$c_best" -v b="$l_best" 'BEGIN { printf "%.3f", a - b }')
  ratio=$(awk -v a="$p_best" -v b="$c_best" 'BEGIN { printf "%.2f", a / b }')

  echo "== common-variant pass: $tag, genotype file $(mb "$size") MB, $repeat runs, warm page cache"
  printf '%-40s %9s %9s\n' "command" "best s" "median s"
  printf '%-40s %9s %9s\n' "quorvex -noRare (loading)" "$l_best" "$l_med"
  printf '%-40s %9s %9s\n' "quorvex -noRare -com 0.01 ($tested tested)" "$c_best" "$c_med"
  printf '%-40s %9s %9s\n' "plink2 --glm --threads 1 ($plink_rows rows)" "$p_best" "$p_med"
  ns=$(awk -v t="$pass" -v n="$subjects" -v m="$tested" 'BEGIN { if (m > 0) printf "%.2f", t * 1e9 / (n * m); else print "-" }')
  echo "the pass alone (best com - best loading): $pass s," \
    "$(mbps "$size" "$pass") MB/s of genotypes, $ns ns per subject per tested variant;" \
    "loading $(mbps $((2 * size)) "$l_best") MB/s over its two passes"
  echo "plink2 / quorvex -com (whole runs): $ratio"
  report+=("$trait: quorvex -com $c_best s (loading $l_best s, pass $pass s), plink2 $p_best s, ratio $ratio")

  if [ "${RESAMPLE:-0}" = 1 ]; then
    echo "== -com -resample: $tag${POOL:+, pool $POOL} (one run)"
    t0=$(now)
    (cd "$out" && QUORVEX_RESAMPLE_POOL=${POOL:-} QUORVEX_RESAMPLE_REPORT=1 "$prog" -pfile "$data/pheno.txt" \
      -gfile "$geno" -noRare -com 0.01 -resample 1 -ofileC com_resample.out \
      >"$out/stdout_resample.txt" 2>"$out/stderr_resample.txt")
    t1=$(now)
    r_secs=$(secs "$t0" "$t1")
    cat "$out/stderr_resample.txt"
    # Stage lines: "... making M s, evaluating E s, X entries, ..." where an
    # entry is one subject of one variant under one resample.
    read -r make_s eval_s entries < <(awk '/ stage / {
        for (i = 1; i <= NF; i++) {
          if ($i == "making") m += $(i + 1)
          if ($i == "evaluating") e += $(i + 1)
          if ($i == "entries,") x += $(i - 1)
        }
      } END { printf "%.3f %.3f %.0f\n", m, e, x }' "$out/stderr_resample.txt")
    added=$(awk -v a="$r_secs" -v b="$c_best" 'BEGIN { printf "%.3f", a - b }')
    echo "-com -resample $r_secs s: adds $added s to -com (making the resamples $make_s s," \
      "evaluating $eval_s s over $entries subject x variant x resample);" \
      "$(awk -v e="$eval_s" -v x="$entries" 'BEGIN { printf "%.3f", (x > 0 ? e * 1e9 / x : 0) }') ns" \
      "per subject per variant per resample evaluating," \
      "$(awk -v e="$added" -v x="$entries" 'BEGIN { printf "%.3f", (x > 0 ? e * 1e9 / x : 0) }') ns all included"
    report+=("$trait: -com -resample $r_secs s, adds $added s (making $make_s s, evaluating $eval_s s)")
  fi
done

echo "== summary"
printf '%s\n' "${report[@]}"
