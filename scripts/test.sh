#!/usr/bin/env bash
# Builds the project and runs every test: the optimised build, the build with
# AddressSanitizer and UndefinedBehaviorSanitizer, and short fuzzing runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_deps.sh

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

echo "== Release build and tests"
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTAVROLIN_TESTS=ON >/dev/null
cmake --build build -j2
# Without GoogleTest the build leaves most tests out: that is no test run.
[ -x build/tests/tavrolin_tests ] || { echo "GoogleTest missing (libgtest-dev): tests not built" >&2; exit 1; }
ctest --test-dir build --output-on-failure -j2

echo "== Sanitizer build (ASan + UBSan) and tests"
cmake -S . -B build-asan "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DTAVROLIN_SANITIZE=ON -DTAVROLIN_TESTS=ON >/dev/null
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure -j2

if [ -x scripts/fuzz.sh ]; then
  echo "== Short fuzzing runs"
  scripts/fuzz.sh "${TAVROLIN_FUZZ_SECONDS:-30}"
fi
