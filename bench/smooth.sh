#!/usr/bin/env bash
# Smooth downscaling: quality and cost of the whole job, in one run on one machine:
#   bench/smooth.sh [runs, default 5]
# Needs the build in build/ (scripts/build.sh) and ../shared/bench/src4096.png (the wood photo).
# Speed: generate-bench (the real window, 13 frames on the picture, whole picture selected, the
# full 53-file run) without and with --smooth, in turn; prints each run's wall and CPU seconds,
# the medians and the ratios smooth / plain.
# Quality: the mean absolute difference of the colour channels of the 29, 57 and 180 pixel icons
# of both runs from Pillow's exact area average (Image.BOX), by bench/smooth-quality.py.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
src=../shared/bench/src4096.png
[ -f "$src" ] || { echo "missing $src: the shared bench pictures must lie beside the source tree" >&2; exit 2; }
[ -x build/generate-bench ] || { echo "missing build/generate-bench: build first (scripts/build.sh)" >&2; exit 2; }
bash scripts/install-packages.sh python3-pil
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# "wall cpu" seconds of one whole run into a fresh folder.
one() {
  local out=$1; shift
  rm -rf "$out"
  local TIMEFORMAT='%R %U %S'
  { time ./build/generate-bench "$src" "$out" "$@" > /dev/null 2>&1; } 2>&1 | awk '{printf "%s %.3f\n", $1, $2 + $3}'
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

: > "$work/plain"; : > "$work/smooth"
for ((i = 1; i <= runs; i++)); do
  one "$work/p" >> "$work/plain"
  one "$work/s" --smooth >> "$work/smooth"
done
pw=$(cut -d' ' -f1 < "$work/plain" | median); pc=$(cut -d' ' -f2 < "$work/plain" | median)
sw=$(cut -d' ' -f1 < "$work/smooth" | median); sc=$(cut -d' ' -f2 < "$work/smooth" | median)
echo "plain   wall s: $(cut -d' ' -f1 < "$work/plain" | tr '\n' ' ')  median $pw   cpu s median $pc"
echo "smooth  wall s: $(cut -d' ' -f1 < "$work/smooth" | tr '\n' ' ')  median $sw   cpu s median $sc"
awk -v pw="$pw" -v sw="$sw" -v pc="$pc" -v sc="$sc" \
  'BEGIN {printf "smooth / plain: wall %.2f  cpu %.2f\n", sw / pw, sc / pc}'
echo "mean absolute difference from Pillow's Image.BOX (colour channels):"
/usr/bin/python3 bench/smooth-quality.py "$src" "$work/p" "$work/s" | sed -e "s|$work/p|  plain |" -e "s|$work/s|  smooth|"
