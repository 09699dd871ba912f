#!/usr/bin/env bash
# Set-up, build and test driver for a fresh Debian 12 machine.
#   bash build.sh example   install what is missing, build, run the example job
#   bash build.sh test      install what is missing (with bcftools and plink),
#                           build, run every test (a Release build and an
#                           ASan/UBSan build)
#   bash build.sh tsan      install what is missing, build with ThreadSanitizer
#                           and run the tests of the threaded code
# Under CI=true every build treats a compiler warning as an error.
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

# The tests that run code on several threads (the ordered passes, the spare
# threads, the pools and the whole runs side by side), selected by name.
TSAN_TESTS='RunInOrder|SpareThreads|ThreadCount|GenesSideBySide|CommonPassThreads|PoolSizes|SharedIntegration|VariantLanes|StageSplit|MvnSpareThreads|GenotypeLoadingInRanges'

# Death tests whose set-up depends on the process (a file named by its pid,
# a fresh scratch folder with data made there) cannot run in the style that
# re-executes the test program for the child; they run in the other builds.
TSAN_NOT_REEXEC='RunInOrderDeathTest.StopEndsTheRunAfterTheEarlierItems|CommonPassThreadsDeathTest.ChangedGenotypeFileStopsOnTheSameVariant'

run_tsan() {
  configure_build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_TSAN=ON
  # Death tests re-run the test program for the child instead of forking a
  # process that has threads; any report fails the test (exit status 66).
  (cd build-tsan && GTEST_DEATH_TEST_STYLE=threadsafe TSAN_OPTIONS="exitcode=66 second_deadlock_stack=1" \
     ctest --output-on-failure -j "$JOBS" -R "$TSAN_TESTS" -E "$TSAN_NOT_REEXEC")
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
  tsan) install_missing; run_tsan ;;
  *) echo "usage: bash build.sh example|test|tsan" >&2; exit 2 ;;
esac
