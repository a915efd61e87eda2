#!/usr/bin/env bash
# What a night costs against its frames, as paired runs of the workplace's farm-bench
# (ratios taken run by run, medians quoted), on a generated night of 8 full frames
# with one dark:
#   per frame   tavrolin-night --jobs 1 against the 8 frames as single `tavrolin` runs
#               one after the other (CPU; target at most 1.1)
#   scaling     tavrolin-night --jobs 2 against the 8 single runs two at a time
#               (xargs -P2; wall, target at most 1.1), and against --jobs 1 (wall,
#               target at most 0.6)
#   fixed cost  a one-frame night against one single run (wall; target at most
#               0.3 s more)
#   memory      the peak of the largest process of the --jobs 1 night against a
#               single run's (target at most 1.2)
# The night writes its default products. Quote the machine's load with the figures.
#
# Usage: scripts/bench_night.sh BUILD [RUNS]   (RUNS defaults to 3)
# Needs farm-bench on the PATH and the build's tavrolin, tavrolin-night and
# tools/tavrolin-scene.
set -euo pipefail
build=$(cd "${1:?usage: scripts/bench_night.sh BUILD [RUNS]}" && pwd)
runs=${2:-3}
work=$(mktemp -d /tmp/tavrolin-bench-night.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$build/tools/tavrolin-scene" --seed 7 --frames 8 "$work" >/dev/null
frames=(scene_laser.pgm)
for k in 2 3 4 5 6 7 8; do frames+=("scene_laser_$k.pgm"); done
# One folder per frame for the single runs, with the frame and the dark under the
# names its configuration gives them.
for k in "${!frames[@]}"; do
  single=$work/single-$k
  mkdir "$single"
  ln -s "../${frames[$k]}" "$single/${frames[$k]}"
  ln -s ../scene_dark.pgm "$single/scene_dark.pgm"
  cp "$work/tavrolinpath.txt" "$single/"
  sed "s/^scene_laser.pgm/${frames[$k]}/" "$work/tavrolinconfig.txt" >"$single/tavrolinconfig.txt"
done

cat >"$work/singles.sh" <<EOF
#!/bin/sh
for k in 0 1 2 3 4 5 6 7; do (cd "$work/single-\$k" && "$build/tavrolin" </dev/null >/dev/null); done
EOF
cat >"$work/singles_p2.sh" <<EOF
#!/bin/sh
printf '%s\n' 0 1 2 3 4 5 6 7 | xargs -P2 -I{} sh -c 'cd "$work/single-{}" && "$build/tavrolin" </dev/null >/dev/null'
EOF
cat >"$work/night.sh" <<EOF
#!/bin/sh
# night.sh JOBS FRAME...: a night into a fresh folder.
jobs=\$1
shift
cd "$work" && rm -rf "night-\$jobs" && exec "$build/tavrolin-night" --jobs "\$jobs" --out "night-\$jobs" "\$@"
EOF
chmod +x "$work"/*.sh

bench() {
  echo "== $1"
  shift
  farm-bench -n "$runs" --timeout 900 "$@" 2>&1 | grep -E "^(A|B|A/B) (cpu|wall|peak)|load|cores"
}
uptime
bench "per frame: night --jobs 1 (A) against 8 single runs one after the other (B)" \
  --vs "$work/singles.sh" -- "$work/night.sh" 1 "${frames[@]}"
bench "scaling: night --jobs 2 (A) against 8 single runs two at a time (B)" \
  --vs "$work/singles_p2.sh" -- "$work/night.sh" 2 "${frames[@]}"
bench "scaling: night --jobs 2 (A) against night --jobs 1 (B)" \
  --vs "$work/night.sh 1 ${frames[*]}" -- "$work/night.sh" 2 "${frames[@]}"
bench "fixed cost: a one-frame night (A) against one single run (B)" \
  --vs "sh -c 'cd $work/single-0 && exec $build/tavrolin </dev/null'" -- "$work/night.sh" 1 scene_laser.pgm
uptime
