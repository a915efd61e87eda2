#!/usr/bin/env bash
# The sample scene end to end: builds the program (Release, in build/), writes a
# full-frame scene with a known beam profile into demo/, runs the analysis there,
# and draws the measured profile and a preview of the corrected picture.
set -euo pipefail
cd "$(dirname "$0")/.."

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# Debian packages that draw the pictures: the program that provides each tool.
missing=()
command -v gnuplot >/dev/null || missing+=(gnuplot-nox)
for tool in pamscale pnmgamma pamdepth pnmtopng; do
  command -v "$tool" >/dev/null || { missing+=(netpbm); break; }
done
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
  echo "== Installing ${missing[*]}"
  apt-get install -y "${missing[@]}" >/dev/null 2>&1 ||
    { apt-get update >/dev/null && apt-get install -y "${missing[@]}" >/dev/null; }
  missing=()
fi

echo "== Building (Release, build/)"
# Without GoogleTest the configuration says so and leaves its tests out.
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target tavrolin tavrolin-scene

echo "== Writing the sample scene into demo/"
mkdir -p demo
rm -f demo/tavrolin_data.txt demo/linearlyscaledG.PGM demo/profile.png demo/linearlyscaledG.png
build/tools/tavrolin-scene --seed 1 demo

echo "== Running tavrolin in demo/ (console report in demo/console.txt)"
status=0
(cd demo && ../build/tavrolin < /dev/null > console.txt) || status=$?
if [ "$status" -ne 0 ]; then
  cat demo/console.txt
  echo "tavrolin ended with exit code $status" >&2
  exit 1
fi

rows=$(($(wc -l < demo/tavrolin_data.txt) - 1))
echo
echo "Rows written:        $rows (demo/tavrolin_data.txt)"
echo "Scaling coefficient: $(sed -n 's/^Scaling coefficient (scattering angle = 90 deg) = *//p' demo/console.txt)"
# Agreement with the scene's truth (same rows in the same order).
paste <(tail -n +2 demo/scene_truth.txt) <(tail -n +2 demo/tavrolin_data.txt) |
  awk -F'\t' '{ n++; s = $14 / $6 - 1; m = $15 / $6 - 1; ss += s * s; mm += m * m }
    END { printf "Against the truth:   signal %.2f %% RMS, running median %.2f %% RMS (%d rows)\n",
          100 * sqrt(ss / n), 100 * sqrt(mm / n), n }'
echo "Corrected picture:   demo/linearlyscaledG.PGM"

if [ ${#missing[@]} -gt 0 ]; then
  echo "To draw the profile and the preview, install: ${missing[*]} (apt-get install -y ${missing[*]})" >&2
  exit 1
fi
gnuplot -e "data='demo/tavrolin_data.txt'; output='demo/profile.png'; truth='demo/scene_truth.txt'" \
  scripts/plot_profile.gp
# The 16-bit picture is reduced while still 16-bit, brightened (its sky lies low on
# the scale), and only then brought to 8 bits.
pamscale -width 800 demo/linearlyscaledG.PGM | pnmgamma 2.2 | pamdepth 255 | pnmtopng > demo/linearlyscaledG.png
echo "Profile plot:        demo/profile.png"
echo "Picture preview:     demo/linearlyscaledG.png"
