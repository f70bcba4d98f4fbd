#!/usr/bin/env bash
# Whole-job comparison with the peer renderers, in one run on one machine:
#   bench/compare.sh [runs, default 5] [source, default ../shared/bench/src4096.png]
# Each round runs, in turn: the libvips peer, vellumark-bench (decode, render, encode and write all
# 53 entries, on every core) and generate-bench (the real window, 13 frames on the picture, the
# full generation run). Prints every wall time, the medians, the median of the per-round ratios to
# libvips (each round's pair ran back to back, so the ratio holds while the machine's speed
# drifts), and the total bytes of each (Pillow's bytes from one run of its peer). Uses the peers
# and pictures of ../shared/bench (fails when absent). Needs the build in build/ (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
peers=../shared/bench/peers
src=${2:-../shared/bench/src4096.png}
# The peers and the source picture are not part of the repository: they lie in ../shared/bench.
for need in "$peers/peer_vips.c" "$peers/peer_pillow.py" "$peers/catalogue.tsv" "$src"; do
  if [ ! -f "$need" ]; then
    echo "bench/compare.sh: $need is missing; the comparison needs the peer programs and the source picture" \
      "of ../shared/bench beside the repository" >&2
    exit 2
  fi
done
bash scripts/install-packages.sh libvips-dev python3-pil bc
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
gcc -O2 -o "$work/peer_vips" "$peers/peer_vips.c" $(pkg-config --cflags --libs vips)
export QT_QPA_PLATFORM=offscreen

wall() {  # wall seconds of one command
  local start end
  start=$(date +%s.%N); "$@" > /dev/null 2>&1; end=$(date +%s.%N)
  echo "$end - $start" | bc
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

: > "$work/vips"; : > "$work/bench"; : > "$work/window"
for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/o"; mkdir -p "$work/o"
  wall "$work/peer_vips" "$src" "$work/o" "$peers/catalogue.tsv" >> "$work/vips"
  rm -rf "$work/o"
  wall ./build/vellumark-bench "$src" "$work/o" >> "$work/bench"
  if [ "$src" = ../shared/bench/src4096.png ]; then  # 13 frames of a larger picture would not fit in memory
    rm -rf "$work/o"
    wall ./build/generate-bench "$src" "$work/o" >> "$work/window"
  fi
done
png_bytes() { find "$1" -name '*.png' -printf '%s\n' | awk '{s += $1} END {print s}'; }
bytes_ours=$(png_bytes "$work/o")
mkdir -p "$work/p"; /usr/bin/python3 "$peers/peer_pillow.py" "$src" "$work/p"
bytes_pillow=$(png_bytes "$work/p")

ratios() { paste "$work/vips" "$1" | awk '{printf "%.3f\n", $1 / $2}' | median; }
v=$(median < "$work/vips"); b=$(median < "$work/bench"); w=$(median < "$work/window")
echo "libvips peer     wall s: $(tr '\n' ' ' < "$work/vips")  median $v"
echo "vellumark-bench  wall s: $(tr '\n' ' ' < "$work/bench")  median $b  libvips/ours per round, median $(ratios "$work/bench")"
[ -s "$work/window" ] && echo "generate-bench   wall s: $(tr '\n' ' ' < "$work/window")  median $w  libvips/ours per round, median $(ratios "$work/window")"
echo "PNG bytes: ours $bytes_ours  Pillow $bytes_pillow"
