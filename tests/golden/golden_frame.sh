#!/usr/bin/env bash
# The golden full frame: the scene generator's files for seed 1, and the console
# report, data table and corrected picture of each program named on them, against
# the SHA-256 sums in this folder (inputs.sha256, outputs.sha256). The sums were made
# with `tavrolin-scene --seed 1 FOLDER`, then `tavrolin < /dev/null > console.txt` in
# FOLDER, and `sha256sum` of the files they name. Exits 77 (skipped) when the
# generator writes other inputs on this machine: the outputs' sums then say nothing.
# Usage: golden_frame.sh GENERATOR GOLDEN_DIR PROGRAM...
set -euo pipefail
generator=$1
golden=$(realpath "$2")
shift 2
scene=$(mktemp -d)
trap 'rm -rf "$scene"' EXIT

"$generator" --seed 1 "$scene" >/dev/null
if ! (cd "$scene" && sha256sum --quiet -c "$golden/inputs.sha256"); then
  echo "SKIPPED: the scene generator writes other inputs on this machine than the golden"
  echo "sums were made from (other maths library?); the outputs can't be checked here"
  exit 77
fi

status=0
for program in "$@"; do
  program=$(realpath "$program")
  rm -f "$scene/console.txt" "$scene/tavrolin_data.txt" "$scene/linearlyscaledG.PGM"
  code=0
  (cd "$scene" && "$program" < /dev/null > console.txt) || code=$?
  if [ "$code" -ne 0 ]; then
    echo "$program: exit code $code, expected 0"
    status=1
  elif (cd "$scene" && sha256sum --quiet -c "$golden/outputs.sha256"); then
    echo "$program: golden frame reproduced bit for bit"
  else
    echo "$program: console, table or picture differ from the golden sums (above)"
    status=1
  fi
done
exit $status
