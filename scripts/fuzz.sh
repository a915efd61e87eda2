#!/usr/bin/env bash
# Builds the fuzz targets of the file readers (into build-fuzz/) and runs each for
# SECONDS seconds, one after another on one core. Fails on any crash, sanitizer
# report, leak, hang or out-of-memory. New inputs go to build-fuzz/corpus/<target>/;
# the seeds in fuzz/corpus/<target>/ are only read. Crashing inputs are kept as
# build-fuzz/artifacts/<target>-crash-*.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: config path pgm
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(config path pgm)

compiler=${TAVROLIN_FUZZ_CXX:-clang++-14}
if ! command -v "$compiler" >/dev/null; then
  echo "fuzz.sh: $compiler not found (install clang-14 and libclang-rt-14-dev)" >&2
  exit 1
fi
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S fuzz -B build-fuzz "${generator[@]}" -DCMAKE_CXX_COMPILER="$compiler" >/dev/null
cmake --build build-fuzz -j2

mkdir -p build-fuzz/artifacts
status=0
for target in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$target"
  log="build-fuzz/fuzz_$target.log"
  echo "== fuzz_$target: starting at $(date +%H:%M:%S), ${seconds} s (log: $log)"
  # -timeout: an input that takes 10 s is a hang; -malloc_limit_mb: a forged size
  # must not make a reader allocate what the input doesn't hold.
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
     "build-fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
       -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
       "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    if grep -qE 'runtime error:|ERROR: (Address|Leak)Sanitizer' "$log"; then
      echo "fuzz_$target: sanitizer report, see $log"
      status=1
    fi
  else
    echo "fuzz_$target failed, see $log:"
    grep -E 'ERROR|runtime error|broken promise|Test unit written' "$log" | head -20 || true
    status=1
  fi
  grep -E '^Done [0-9]+ runs|stat::number_of_executed_units' "$log" | tail -2 | sed "s/^/  fuzz_$target: /"
done
exit $status
