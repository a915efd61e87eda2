#!/usr/bin/env bash
# The golden full frame: the scene generator's files for seed 1, and the console
# report, data table and corrected picture of each program named on them, against
# what this folder keeps: the console report and the table as text (console.txt,
# tavrolin_data.txt), compared line by line, and the SHA-256 sums of the inputs
# (inputs.sha256) and of the picture (linearlyscaledG.PGM.sha256). They were made
# with `tavrolin-scene --seed 1 FOLDER`, then `tavrolin < /dev/null > console.txt` in
# FOLDER. Exits 77 (skipped) when the generator writes other inputs on this machine:
# the outputs then say nothing.
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
  echo "files were made from (other maths library?); the outputs can't be checked here"
  exit 77
fi

# Compares one text output of PROGRAM with the golden one; on a difference prints
# the start of the unified diff (golden lines "-", this run's lines "+").
same_text() {
  local name=$1 program=$2 differences
  differences=$(diff -u --label "golden/$name" --label "$(basename "$program")/$name" \
                     "$golden/$name" "$scene/$name" 2>&1) && return 0
  printf '%s\n' "$differences" | head -n 40
  local count
  count=$(printf '%s\n' "$differences" | wc -l)
  [ "$count" -le 40 ] || echo "... (first 40 of $count lines of the diff)"
  return 1
}

status=0
for program in "$@"; do
  program=$(realpath "$program")
  rm -f "$scene/console.txt" "$scene/tavrolin_data.txt" "$scene/linearlyscaledG.PGM"
  code=0
  (cd "$scene" && "$program" < /dev/null > console.txt) || code=$?
  if [ "$code" -ne 0 ]; then
    echo "$program: exit code $code, expected 0"
    status=1
    continue
  fi
  same=0
  same_text console.txt "$program" || same=1
  same_text tavrolin_data.txt "$program" || same=1
  (cd "$scene" && sha256sum --quiet -c "$golden/linearlyscaledG.PGM.sha256") || same=1
  if [ "$same" -eq 0 ]; then
    echo "$program: golden frame reproduced bit for bit"
  else
    echo "$program: console, table or picture differ from the golden ones (above)"
    status=1
  fi
done
exit $status
