#!/usr/bin/env bash
# Builds the project and runs its tests. After each build's tests it lists the tests
# that were skipped, each with its reason.
#   scripts/test.sh           every test: the optimised build with GCC, the build with
#                             AddressSanitizer and UndefinedBehaviorSanitizer with Clang
#                             (both with warnings as errors, so that the sources build
#                             warning-free with both compilers), and short fuzzing runs
#   scripts/test.sh --quick   the optimised build and its unit tests only
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "Usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
scripts/install_deps.sh

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# Configures a build folder for a compiler: configure FOLDER COMPILER CMAKE_OPTION...
# When an existing folder was made with another compiler, CMake would start it
# afresh but forget the options given: such a folder loses its cache first.
configure() {
  local folder=$1 compiler cached
  compiler=$(command -v "$2") || { echo "$2 not found (scripts/install_deps.sh names the packages)" >&2; return 1; }
  shift 2
  cached=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$folder/CMakeCache.txt" 2>/dev/null || true)
  if [ -n "$cached" ] && [ "$cached" != "$compiler" ]; then
    echo "($folder was made with $cached: configuring it afresh for $compiler)"
    rm -rf "$folder/CMakeCache.txt" "$folder/CMakeFiles"
  fi
  cmake -S . -B "$folder" "${generator[@]}" -DCMAKE_CXX_COMPILER="$compiler" "$@" >/dev/null
}

# Runs the tests of one build folder (further arguments go to ctest); prints the
# failures' output and the skipped tests' reasons, and fails when a test failed or
# when there was no test to run.
run_tests() {
  local folder=$1 status=0
  shift
  ctest --test-dir "$folder" --output-on-failure -j2 --no-tests=error --output-junit ctest_junit.xml "$@" ||
    status=$?
  python3 scripts/skipped_tests.py "$folder/ctest_junit.xml"
  return $status
}

if [ $quick -eq 1 ]; then
  echo "== Release build (GCC) and unit tests"
else
  echo "== Release build (GCC) and tests"
fi
configure build g++ -DCMAKE_BUILD_TYPE=Release -DTAVROLIN_WERROR=ON -DTAVROLIN_TESTS=ON
cmake --build build -j2
# Without GoogleTest the build leaves the unit tests out: that is no test run.
unit_tests=$(ctest --test-dir build -N -L unit | sed -n 's/^Total Tests: //p')
if [ "${unit_tests:-0}" -eq 0 ]; then
  echo "GoogleTest missing (libgtest-dev): unit tests not built (no test labelled 'unit' in build/)" >&2
  exit 1
fi
if [ $quick -eq 1 ]; then
  run_tests build -L unit
  exit 0
fi
run_tests build

echo "== Sanitizer build (ASan + UBSan, Clang) and tests"
clang=clang++-14
command -v $clang >/dev/null || clang=clang++
configure build-asan $clang -DCMAKE_BUILD_TYPE=Debug -DTAVROLIN_SANITIZE=ON -DTAVROLIN_WERROR=ON \
  -DTAVROLIN_TESTS=ON
cmake --build build-asan -j2
run_tests build-asan

if [ -x scripts/fuzz.sh ]; then
  echo "== Short fuzzing runs"
  scripts/fuzz.sh "${TAVROLIN_FUZZ_SECONDS:-30}"
fi
