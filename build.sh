#!/usr/bin/env bash
# Set-up, build and test driver for a fresh Debian 12 machine.
#   bash build.sh example   install what is missing, build, run the example job
#   bash build.sh test      install what is missing (with bcftools and plink),
#                           build, run every test (a Release build and an
#                           ASan/UBSan build)
set -euo pipefail
cd "$(dirname "$0")"
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

install_missing() {  # $1 "test": also the tools the tests run
  local need=()
  command -v cmake >/dev/null 2>&1 || need+=(cmake)
  command -v g++ >/dev/null 2>&1 || need+=(g++)
  command -v make >/dev/null 2>&1 || need+=(make)
  if [ "${1:-}" = test ]; then  # the README's VCF and PLINK recipe
    for tool in bcftools plink1.9 plink2; do
      command -v "$tool" >/dev/null 2>&1 || need+=("$tool")
    done
  fi
  for pkg in libgsl-dev libgtest-dev; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  echo "Installing: ${need[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
}

configure_build() {  # $1 build dir, rest: cmake options
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

run_example() {
  configure_build build -DCMAKE_BUILD_TYPE=Release
  local out=build/example-run
  rm -rf "$out"; mkdir -p "$out"
  (cd "$out" && ../quorvex -pfile ../../examples/pheno.txt -gfile ../../examples/geno.txt \
      -mfile ../../examples/mapping.txt -wfile ../../examples/weights.txt)
  echo "Example output files are in $out/"
}

run_tests() {
  configure_build build -DCMAKE_BUILD_TYPE=Release
  (cd build && ctest --output-on-failure -j "$JOBS")
  configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_SANITIZE=ON
  (cd build-asan && ctest --output-on-failure -j "$JOBS")
}

case "${1:-}" in
  example) install_missing; run_example ;;
  test) install_missing test; run_tests ;;
  *) echo "usage: bash build.sh example|test" >&2; exit 2 ;;
esac
