#!/usr/bin/env bash
# Builds the project and runs every test: the optimised build, the build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and short fuzzing runs. After each
# build's tests it lists the tests that were skipped, each with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# Runs the tests of one build folder; prints the failures' output and the skipped
# tests' reasons, and fails when a test failed.
run_tests() {
  local status=0
  ctest --test-dir "$1" --output-on-failure -j2 --output-junit ctest_junit.xml || status=$?
  python3 scripts/skipped_tests.py "$1/ctest_junit.xml"
  return $status
}

echo "== Release build and tests"
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTAVROLIN_TESTS=ON >/dev/null
cmake --build build -j2
# Without GoogleTest the build leaves most tests out: that is no test run.
[ -x build/tests/tavrolin_tests ] || { echo "GoogleTest missing (libgtest-dev): tests not built" >&2; exit 1; }
run_tests build

echo "== Sanitizer build (ASan + UBSan) and tests"
cmake -S . -B build-asan "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DTAVROLIN_SANITIZE=ON -DTAVROLIN_TESTS=ON >/dev/null
cmake --build build-asan -j2
run_tests build-asan

if [ -x scripts/fuzz.sh ]; then
  echo "== Short fuzzing runs"
  scripts/fuzz.sh "${TAVROLIN_FUZZ_SECONDS:-30}"
fi
