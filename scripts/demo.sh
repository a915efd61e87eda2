#!/usr/bin/env bash
# The sample scene end to end: builds the program (Release, in build/), writes a
# full-frame scene with a known beam profile into demo/, runs the analysis there,
# and draws the measured profile and a preview of the corrected picture.
set -euo pipefail
cd "$(dirname "$0")/.."

# The project's Debian packages, when we run as root (otherwise it names the
# missing ones). The plots are drawn only if their tools are there at the end.
scripts/install_deps.sh || echo "Installing the Debian packages failed; going on with what is there" >&2

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# Debian packages that draw the pictures: the program that provides each tool.
missing=()
command -v gnuplot >/dev/null || missing+=(gnuplot-nox)
for tool in pamscale pamcut pamenlarge pnmgamma pamdepth ppmtoppm ppmdraw ppmmake pnmcat pnmtopng; do
  command -v "$tool" >/dev/null || { missing+=(netpbm); break; }
done

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

# The analysis is done; without the drawing tools only the plots are left out.
if [ ${#missing[@]} -gt 0 ]; then
  echo "Plots not drawn (demo/profile.png, demo/linearlyscaledG.png): to draw them, install ${missing[*]} (apt-get install -y ${missing[*]})" >&2
  exit 0
fi
gnuplot -e "data='demo/tavrolin_data.txt'; output='demo/profile.png'; truth='demo/scene_truth.txt'" \
  scripts/plot_profile.gp
# The preview: the whole corrected picture reduced to 800 pixels across, and beside
# it a crop at full resolution (each pixel drawn 2 x 2) along the beam around the
# 90-degree row, where the beam band and the side bands lie between their marker
# lines; a red frame on the reduced picture shows where the crop lies. The 16-bit
# picture is reduced or cut while still 16-bit, brightened (its sky lies low on the
# scale), and only then brought to 8 bits.
read -r -a tokens <<< "$(tr -s ' \t\r\n' ' ' < demo/tavrolinconfig.txt)"
reach=$((2 * (tokens[4] / 2) * tokens[5]))   # the side bands' outer edge from the path
read -r beam_x beam_y <<< "$(sed -n 's/^Scaling coefficient.*at x = *\(-\{0,1\}[0-9]*\) *y = *\(-\{0,1\}[0-9]*\)$/\1 \2/p' demo/console.txt)"
if [ "${beam_y:--1}" -lt 0 ]; then   # no 90-degree row: the middle of the table
  read -r beam_x beam_y _ <<< "$(sed -n "$(( (rows + 1) / 2 + 1 ))p" demo/tavrolin_data.txt)"
fi
read -r _ width height _ <<< "$(head -n 2 demo/linearlyscaledG.PGM | tr '\n' ' ')"
crop_w=$((2 * (reach + 36)))
crop_h=$((2 * crop_w))
crop_x=$((beam_x - crop_w / 2)); crop_y=$((beam_y - crop_h / 2))
crop_x=$((crop_x < 0 ? 0 : (crop_x + crop_w > width ? width - crop_w : crop_x)))
crop_y=$((crop_y < 0 ? 0 : (crop_y + crop_h > height ? height - crop_h : crop_y)))
# The crop's place on the reduced picture (800 / width of the frame).
fx=$((crop_x * 800 / width)); fy=$((crop_y * 800 / width))
fw=$(((crop_w * 800 + width - 1) / width)); fh=$(((crop_h * 800 + width - 1) / width))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pamscale -width 800 demo/linearlyscaledG.PGM | pnmgamma 2.2 | pamdepth 255 | ppmtoppm |
  ppmdraw -script "setcolor red; line $fx $fy $((fx + fw)) $fy; line $((fx + fw)) $fy $((fx + fw)) $((fy + fh));
                   line $((fx + fw)) $((fy + fh)) $fx $((fy + fh)); line $fx $((fy + fh)) $fx $fy;" > "$work/frame.ppm"
pamcut -left "$crop_x" -top "$crop_y" -width "$crop_w" -height "$crop_h" demo/linearlyscaledG.PGM |
  pnmgamma 2.2 | pamdepth 255 | pamenlarge 2 | ppmtoppm > "$work/crop.ppm"
ppmmake white 16 16 > "$work/gap.ppm"
pnmcat -lr -jcenter -white "$work/frame.ppm" "$work/gap.ppm" "$work/crop.ppm" | pnmtopng > demo/linearlyscaledG.png
echo "Profile plot:        demo/profile.png"
echo "Picture preview:     demo/linearlyscaledG.png (whole picture, and columns $crop_x to $((crop_x + crop_w - 1)) of rows $crop_y to $((crop_y + crop_h - 1)) at full resolution)"
