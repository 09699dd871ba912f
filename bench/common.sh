# Shared by the benchmark scripts (sourced, not run): the size arguments,
# the Release build, the generated data set and the timing helpers.
#
# After `bench_setup "$@"`: subjects, variants, genes, trait, extra (the
# quorvex options after "--"), repeat, root, build, gen, prog, tag, data,
# gen_cmd, stamp. `bench_data` then generates the data when it is missing or
# stale and returns the generator's seconds in gen_secs (empty when reused).

# Builds quorvex and the generator (Release) in $build; sets gen and prog
# (QUORVEX, when set, names the program to time instead).
bench_build() {
  echo "== build (Release) in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 3 --target quorvex quorvex_gen >/dev/null
  gen=$build/tools/quorvex_gen
  prog=${QUORVEX:-$build/quorvex}
}

bench_setup() {
  local usage=$1; shift
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  subjects=5000 variants=50000 genes=2500 trait=binary
  local pos=()
  while [ $# -gt 0 ]; do
    if [ "$1" = "--" ]; then shift; break; fi
    pos+=("$1"); shift
  done
  [ ${#pos[@]} -ge 1 ] && subjects=${pos[0]}
  [ ${#pos[@]} -ge 2 ] && variants=${pos[1]}
  [ ${#pos[@]} -ge 3 ] && genes=${pos[2]}
  [ ${#pos[@]} -ge 4 ] && trait=${pos[3]}
  [ ${#pos[@]} -ge 5 ] && { echo "usage: $usage" >&2; exit 2; }
  extra=("$@")
  repeat=${REPEAT:-3}
  local gen_args=${GEN_ARGS:-}
  build=$root/${BUILD_DIR:-build}

  bench_build

  tag=${subjects}x${variants}_g${genes}_${trait}
  [ -n "$gen_args" ] && tag=${tag}_$(printf '%s' "$gen_args" | tr -cs 'A-Za-z0-9.' '_' | sed 's/^_//; s/_$//')
  data=$root/bench/data/$tag
  gen_cmd=("$gen" -subjects "$subjects" -variants "$variants" -genes "$genes" -trait "$trait" -out "$data")
  # shellcheck disable=SC2206
  [ -n "$gen_args" ] && gen_cmd+=($gen_args)
  stamp="$(printf '%s ' "${gen_cmd[@]}") $(cksum <"$gen" | cut -d' ' -f1)"
}

bench_data() {
  gen_secs=
  if [ "${FORCE:-0}" = 1 ] || [ ! -f "$data/stamp" ] || [ "$(cat "$data/stamp")" != "$stamp" ]; then
    echo "== generate $tag"
    rm -rf "$data"
    local t0 t1
    t0=$(now)
    "${gen_cmd[@]}"
    t1=$(now)
    gen_secs=$(secs "$t0" "$t1")
    printf '%s' "$stamp" >"$data/stamp"
  else
    echo "== data $tag up to date (FORCE=1 regenerates)"
  fi
}

now() { date +%s%N; }
# seconds between two now() stamps
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'; }
mb() { awk -v bytes="$1" 'BEGIN { printf "%.1f", bytes / 1e6 }'; }
mbps() { awk -v bytes="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", bytes / 1e6 / s; else print "inf" }'; }
# best and median of the numbers on standard input
best_median() { sort -g | awk '{ v[NR] = $1 } END { printf "%s %s\n", v[1], v[int((NR + 1) / 2)] }'; }
# runs a command $repeat times; prints the seconds of each run, one a line
time_cmd() {
  local i t0 t1
  for ((i = 0; i < repeat; i++)); do
    t0=$(now); "$@" >/dev/null; t1=$(now)
    secs "$t0" "$t1"; echo
  done
}
