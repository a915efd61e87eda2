#!/usr/bin/env bash
# Every output byte of both programs on a fixed set of scenes, for comparing two builds
# (a change that must not change any output):
#   scripts/output_bytes.sh BUILD_BEFORE before/ && scripts/output_bytes.sh BUILD_AFTER after/
#   diff -r before/ after/
# The scenes (generated once into SCENES, default /tmp/tavrolin-output-scenes): the
# generator's seed-1 frame; a frame with gain 2.5, read noise 15, three frames, two darks
# and their DNGs; a frame without a dark and with other band settings; and the reference
# scene when ../shared/reference is there. Each case keeps the exit code, standard output
# and error, and the products; night.json without its "run" block (times), and the
# night's PNGs as sums. The version in night.json differs between builds of different
# commits.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
out=$2
scenes=${SCENES:-/tmp/tavrolin-output-scenes}
rm -rf "$out" && mkdir -p "$out" && out=$(realpath "$out")

if [ ! -d "$scenes/s5" ]; then
  mkdir -p "$scenes"
  "$build/tools/tavrolin-scene" --seed 1 "$scenes/s1" >/dev/null
  "$build/tools/tavrolin-scene" --seed 3 --dng --frames 3 --darks 2 --gain 2.5 --read-noise 15 \
    --median 6 "$scenes/s3" >/dev/null
  "$build/tools/tavrolin-scene" --seed 5 --no-dark --median 0 --band-width 21 --side-scale 2 \
    --elevation 25 "$scenes/s5" >/dev/null
fi
reference="$root/../shared/reference/make_scene.py"
if [ ! -d "$scenes/ref" ] && [ -f "$reference" ]; then
  NPY_DISABLE_CPU_FEATURES="AVX512_SKX AVX512_CLX AVX512_CNL AVX512_ICL" \
    /usr/bin/python3 "$reference" "$scenes/ref" --seed 7 --median 3 >/dev/null 2>&1
fi

# single NAME SCENE [CONFIGURATION [PREPARE]]: tavrolin in a copy of SCENE (links to its
# files), with another configuration line, after the shell command PREPARE in $work.
single() {
  local name=$1 scene=$2 work="$out/work_$1"
  [ -d "$scene" ] || return 0
  mkdir -p "$work" && cp -as "$scene/." "$work/"
  if [ -n "${3:-}" ]; then rm -f "$work/tavrolinconfig.txt"; printf '%s\n' "$3" > "$work/tavrolinconfig.txt"; fi
  [ -n "${4:-}" ] && (cd "$work" && eval "$4")
  (cd "$work" && "$build/tavrolin" < /dev/null > "$out/$name.stdout" 2> "$out/$name.stderr"; echo $? > "$out/$name.code")
  for product in tavrolin_data.txt linearlyscaledG.PGM; do
    [ -f "$work/$product" ] && [ ! -L "$work/$product" ] && mv "$work/$product" "$out/$name.$product"
  done
  rm -rf "$work"
}
single s1 "$scenes/s1"
single reference "$scenes/ref"
single s3 "$scenes/s3"
single s3_dng "$scenes/s3" "scene_laser.dng scene_dark.dng 500 10 30 1 6 10000 100 3231 2139 2052"
single s5 "$scenes/s5"
single s1_table_blocked "$scenes/s1" "" 'mkdir tavrolin_data.txt'
single s1_picture_blocked "$scenes/s1" "" 'mkdir linearlyscaledG.PGM'
single s1_flat_path "$scenes/s1" "" 'rm tavrolinpath.txt; echo "3000 10 3000 10" > tavrolinpath.txt'
single s1_no_configuration "$scenes/s1" "" 'rm tavrolinconfig.txt'
single s1_bands_outside "$scenes/s1" "" 'rm tavrolinpath.txt; echo "20 400 20 4000" > tavrolinpath.txt'

(cd "$scenes/s3" && "$build/tools/tavrolin-sigmas" > "$out/sigmas_s3.txt" 2>&1; echo $? >> "$out/sigmas_s3.txt")
(cd "$scenes/s1" && "$build/tools/tavrolin-sigmas" --gain 1.5 > "$out/sigmas_s1.txt" 2>&1; echo $? >> "$out/sigmas_s1.txt")

# night NAME OPTION...: tavrolin-night in a copy of the three-frame scene.
night() {
  local name=$1 work="$out/night_work_$1"
  shift
  mkdir -p "$work" && cp -as "$scenes/s3/." "$work/"
  (cd "$work" && "$build/tavrolin-night" --out out "$@" > "$out/night_$name.stdout" 2> "$out/night_$name.stderr"
   echo $? > "$out/night_$name.code")
  if [ -d "$work/out" ]; then
    [ -f "$work/out/night.json" ] && python3 -c '
import json, sys
record = json.load(open(sys.argv[1]))
record.pop("run", None)
record.get("tool", {}).pop("version", None)
open(sys.argv[1], "w").write(json.dumps(record, indent=1, sort_keys=True))' "$work/out/night.json"
    mv "$work/out" "$out/night_$name"
  fi
  rm -rf "$work"
}
night two_darks --jobs 2 --dark scene_dark.pgm --dark scene_dark_2.pgm scene_laser.pgm scene_laser_2.pgm scene_laser_3.pgm
night one_dark_no_pictures --jobs 1 --no-pictures --gain 2 --dark scene_dark.pgm scene_laser.pgm scene_laser_2.pgm
night no_dark --jobs 2 --saturation 60000 scene_laser.pgm scene_laser_3.pgm
night dng_darks --jobs 2 --no-pictures --dark scene_dark.dng --dark scene_dark_2.dng scene_laser.pgm
night dng_frame --jobs 2 --no-pictures --dark scene_dark.dng scene_laser.dng
find "$out" -name '*.png' | while read -r png; do sha256sum < "$png" > "$png.sha256"; rm "$png"; done
echo "outputs of $build in $out"
