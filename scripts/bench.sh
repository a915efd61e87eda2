#!/usr/bin/env bash
# Speed and memory of a full-frame run: median wall time, peak resident memory and
# peak anonymous memory (RssAnon, sampled) of `tavrolin` on generated full-frame
# scenes:
#   path-2       a dark frame and a 2-point path, run after run;
#   path-2000    a dark frame and a 2000-point path;
#   no-dark      no dark frame and a 2-point path;
#   alternating  path-2, each run after a memory- and file-heavy program (it fills
#                400 MB of memory and writes a picture-sized file, as the next
#                frame's converter or a plotting job would);
#   floor        the I/O floor: both pictures of path-2 read to /dev/null and a
#                file of a picture's size written;
#   raw          path-2's pictures as raw files (DNG) named directly;
#   dcraw+pgm    the same raw files converted by DCRAW ("dcraw -E -4 -W -j -t 0",
#                both pictures), then the run on the PGMs.
# The last column gives each case's median against the floor's; the raw cases need
# the project's generator (it writes the DNGs) and dcraw (Debian package dcraw).
# Then what a night costs against its frames run as single `tavrolin` runs
# (scripts/bench_night.sh, NIGHT_RUNS paired farm-bench runs each): CPU per frame,
# scaling with two jobs, the fixed cost of a one-frame night and peak memory.
#
# Usage: scripts/bench.sh [RUNS [NIGHT_RUNS]]   (RUNS defaults to 7, NIGHT_RUNS to 3)
#
# Environment:
#   TAVROLIN_BUILD   build folder (default: build-bench, a Release build that this
#                    script configures when it is missing and brings up to date)
#   TAVROLIN_EXE     the program to measure instead of the build's (to compare builds)
#   TAVROLIN_SCENES  folder for the scenes (default: a temporary folder, removed at
#                    the end); scenes already there are reused, so that figures of two
#                    builds can be compared on the same pictures (about 270 MB)
#
# Needs: cmake and a C++17 compiler; the build's tools/tavrolin-bench-aid; GNU time as /usr/bin/time (Debian package `time`);
# and a scene generator, taken in this order:
#   1. the project's generator, BUILD/tools/tavrolin-scene, once it is built;
#   2. otherwise make_scene.py from the reference folder beside the project
#      (../shared/reference/make_scene.py), run by /usr/bin/python3 with numpy
#      (Debian package python3-numpy).
# The generated path is replaced by a straight one of 2 or of 2000 points between the
# generated path's first and last rows.
#
# The machine may be shared: compare figures taken in one run of this script.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
runs=${1:-7}
night_runs=${2:-3}
build=${TAVROLIN_BUILD:-build-bench}

if [ ! -x /usr/bin/time ]; then
  echo "bench.sh: /usr/bin/time (GNU time) is missing; install the Debian package 'time'" >&2
  exit 1
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if [ -n "${TAVROLIN_EXE:-}" ]; then
  exe=$TAVROLIN_EXE
else
  cmake --build "$build" -j2 --target tavrolin >/dev/null
  exe=$root/$build/tavrolin
fi
cmake --build "$build" -j2 --target tavrolin-night >/dev/null 2>&1 || true
night_exe=${TAVROLIN_NIGHT_EXE:-$root/$build/tavrolin-night}
# The project's scene generator, where the build has it, and the bench's helpers.
cmake --build "$build" -j2 --target tavrolin-scene >/dev/null 2>&1 || true
cmake --build "$build" -j2 --target tavrolin-bench-aid >/dev/null
aid=$root/$build/tools/tavrolin-bench-aid

reference_generator=$root/../shared/reference/make_scene.py
scene_tool=
for candidate in "$build/tools/tavrolin-scene" build/tools/tavrolin-scene; do
  if [ -x "$candidate" ]; then scene_tool=$root/$candidate; break; fi
done
if [ -n "$scene_tool" ]; then
  make_scene=("$scene_tool")
  no_dark=--no-dark
elif [ -f "$reference_generator" ] && /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
  make_scene=(/usr/bin/python3 "$reference_generator")
  no_dark=--nodark
else
  echo "bench.sh: no scene generator: build tools/tavrolin-scene, or provide" >&2
  echo "  $reference_generator with /usr/bin/python3 and numpy" >&2
  exit 1
fi

if [ -n "${TAVROLIN_SCENES:-}" ]; then
  scenes=$TAVROLIN_SCENES
  mkdir -p "$scenes"
else
  scenes=$(mktemp -d)
  trap 'rm -rf "$scenes"' EXIT
fi

# Rewrites the path file of folder $1 as $2 points on the straight line between the
# generated path's first and last rows, so that both path sizes make the same work.
straight_path() {
  awk -v n="$2" '
    { for (i = 1; i + 1 <= NF; i += 2) { x[++k] = $i; y[k] = $(i + 1) } }
    END {
      first = 1; last = 1
      for (i = 2; i <= k; ++i) {
        if (y[i] < y[first]) first = i
        if (y[i] > y[last]) last = i
      }
      for (i = 0; i < n; ++i) {
        f = i / (n - 1)
        printf "%d %d\n", x[first] + int(f * (x[last] - x[first])), y[first] + int(f * (y[last] - y[first]))
      }
    }' "$1/tavrolinpath.txt" >"$1/path.tmp"
  mv "$1/path.tmp" "$1/tavrolinpath.txt"
}

# One scene per case: a folder, whether it has a dark picture, and its path size.
cases=("path-2 dark 2" "path-2000 dark 2000" "no-dark none 2")
generated=reused
for entry in "${cases[@]}"; do
  read -r name dark points <<<"$entry"
  dir=$scenes/$name
  [ -f "$dir/tavrolinconfig.txt" ] && continue
  generated="${make_scene[*]}"
  mkdir -p "$dir"
  if [ "$dark" = dark ]; then
    "${make_scene[@]}" "$dir" --seed 7 >/dev/null
  else
    "${make_scene[@]}" "$dir" --seed 7 "$no_dark" >/dev/null
  fi
  straight_path "$dir" "$points"
done

# The raw cases: path-2's scene with its pictures also as DNG files, named directly
# in raw/ and converted by DCRAW in convert/.
raw_cases=()
if [ -n "$scene_tool" ] && command -v dcraw >/dev/null; then
  raw_cases=(raw dcraw+pgm)
  if [ ! -f "$scenes/raw/tavrolinconfig.txt" ]; then
    generated="${make_scene[*]}"
    "$scene_tool" "$scenes/raw" --seed 7 --dng >/dev/null
    rm "$scenes"/raw/scene_laser.pgm "$scenes"/raw/scene_dark.pgm
    cp "$scenes/path-2/tavrolinpath.txt" "$scenes/raw/"
    mkdir -p "$scenes/convert"
    cp "$scenes"/raw/* "$scenes/convert/"
    sed -i 's/scene_laser\.pgm scene_dark\.pgm/scene_laser.dng scene_dark.dng/' "$scenes/raw/tavrolinconfig.txt"
  fi
  # A program that doesn't read raw files (an earlier build) leaves the raw cases out.
  if ! (cd "$scenes/raw" && "$exe" </dev/null >/dev/null); then
    echo "bench.sh: $exe doesn't read the DNG files: no raw cases"
    raw_cases=()
  fi
fi

median_of() {
  sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# The pictures that the path-2 scene's configuration names.
read -r laser_picture dark_picture _ <"$scenes/path-2/tavrolinconfig.txt"
picture_bytes=$(stat -c %s "$scenes/path-2/$laser_picture")

# The command of a case, run in its folder.
case_command() {
  case $1 in
    floor) echo "sh -c 'cat $laser_picture $dark_picture >/dev/null && head -c $picture_bytes /dev/zero >floor.out'" ;;
    dcraw+pgm) echo "sh -c 'dcraw -E -4 -W -j -t 0 scene_laser.dng scene_dark.dng && exec $exe'" ;;
    *) echo "$exe" ;;
  esac
}
case_folder() {
  case $1 in
    floor | alternating) echo "$scenes/path-2" ;;
    dcraw+pgm) echo "$scenes/convert" ;;
    *) echo "$scenes/$1" ;;
  esac
}
# What runs, untimed, before each timed run of a case.
before_run() {
  [ "$1" = alternating ] && "$aid" churn 400 "$2/churn.out" "$picture_bytes"
  return 0
}

echo "tavrolin: $exe"
echo "scenes:   $scenes ($generated, seed 7), $runs runs each"
printf '%-12s %10s %10s %10s %12s %13s %9s\n' case "median s" "min s" "max s" "peak RSS MB" \
  "RssAnon MB" "/ floor"
floor_median=
declare -A medians
for name in floor path-2 path-2000 no-dark alternating "${raw_cases[@]}"; do
  dir=$(case_folder "$name")
  command=$(case_command "$name")
  times=()
  peak_kb=0
  for ((i = 0; i < runs; ++i)); do
    before_run "$name" "$dir"
    start=$(date +%s%N)
    (cd "$dir" && eval "/usr/bin/time -v -o time.txt $command" </dev/null >stdout.txt)
    end=$(date +%s%N)
    times+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }')")
    kb=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$dir/time.txt")
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
  done
  # The anonymous memory in one more run, sampled (the sampler costs time of its own).
  anon=-
  if [ "$name" != floor ] && [ "$name" != dcraw+pgm ]; then
    before_run "$name" "$dir"
    (cd "$dir" && eval "\"$aid\" anon-peak anon.txt $command" </dev/null >stdout.txt)
    anon=$(awk '{ printf "%.1f", $1 / 1024 }' "$dir/anon.txt")
  fi
  rm -f "$dir/floor.out" "$dir/churn.out"
  sorted=$(printf '%s\n' "${times[@]}" | sort -g)
  median=$(printf '%s\n' "${times[@]}" | median_of)
  [ "$name" = floor ] && floor_median=$median
  medians[$name]=$median
  printf '%-12s %10s %10s %10s %12s %13s %9s\n' "$name" "$median" \
    "$(head -1 <<<"$sorted")" "$(tail -1 <<<"$sorted")" \
    "$(awk -v k="$peak_kb" 'BEGIN { printf "%.1f", k / 1024 }')" "$anon" \
    "$(awk -v m="$median" -v f="$floor_median" 'BEGIN { printf "%.2f", m / f }')"
done
if [ ${#raw_cases[@]} -gt 0 ]; then
  awk -v r="${medians[raw]}" -v c="${medians[dcraw+pgm]}" \
    'BEGIN { printf "raw files named directly: %.2f times as fast as converting them with DCRAW first\n", c / r }'
fi

# The night against its frames, with the project's generator only (it writes several
# frames), as paired farm-bench runs.
if [ -z "$scene_tool" ] || [ ! -x "$night_exe" ] || ! command -v farm-bench >/dev/null; then
  echo "night: skipped (needs the project's tavrolin-scene, tavrolin-night and farm-bench)"
  exit 0
fi
scripts/bench_night.sh "$(dirname "$night_exe")" "$night_runs"
