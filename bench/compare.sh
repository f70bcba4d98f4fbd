#!/usr/bin/env bash
# Whole-job comparison with the peer renderers, in one run on one machine:
#   bench/compare.sh [runs, default 5] [reference build folder]
# Pictures: ../shared/bench/src4096.png and src4096.jpg, and src1024.png and src8192.png made
# from src4096.png by ImageMagick (convert -filter Triangle -resize, the same bytes every time;
# kept in build/bench-pictures/ for the next call).
# Jobs, per picture:
#   - vellumark-bench PICTURE OUT: decode, render and encode all 53 entries from the whole
#     picture (selection 0,0,1,1) on every core, write;
#   - Vellumark --generate: the command line, from a settings file with the picture in all 13
#     frames, each selection covering the whole picture as the window shows it (made by
#     generate-bench --write-settings), the full 53-file run; for src4096.png also with smooth
#     downscaling checked, its time as a ratio to the plain run of the same round.
# Each round runs, in turn, the libvips peer and each job (and, given a reference build folder,
# the same job from that build right after ours), so each pair ran back to back and the ratio
# holds while the machine's speed drifts. Prints, per job: the median wall seconds, the median
# peak memory (/usr/bin/time), the median of the per-round ratios libvips / ours (and reference /
# ours), and the total bytes of the 53 PNG files beside those of the Pillow peer on the same
# picture. Uses the peers and pictures of ../shared/bench (fails when absent). Needs the build
# in build/ (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
ref=${2:-}
peers=../shared/bench/peers
shared=../shared/bench
# The peers and the source pictures are not part of the repository: they lie in ../shared/bench.
for need in "$peers/peer_vips.c" "$peers/peer_pillow.py" "$peers/catalogue.tsv" "$shared/src4096.png" \
  "$shared/src4096.jpg"; do
  if [ ! -f "$need" ]; then
    echo "bench/compare.sh: $need is missing; the comparison needs the peer programs and the source pictures" \
      "of ../shared/bench beside the repository" >&2
    exit 2
  fi
done
for b in build/vellumark-bench build/generate-bench build/Vellumark ${ref:+"$ref/vellumark-bench" "$ref/Vellumark"}; do
  [ -x "$b" ] || { echo "bench/compare.sh: $b is missing: build first (scripts/build.sh)" >&2; exit 2; }
done
bash scripts/install-packages.sh libvips-dev python3-pil bc imagemagick
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
gcc -O2 -o "$work/peer_vips" "$peers/peer_vips.c" $(pkg-config --cflags --libs vips)
export QT_QPA_PLATFORM=offscreen

pictures=build/bench-pictures
mkdir -p "$pictures"
for n in 1024 8192; do
  if [ ! -f "$pictures/src$n.png" ]; then
    echo "making $pictures/src$n.png ..." >&2
    /usr/bin/convert "$shared/src4096.png" -filter Triangle -resize "${n}x$n" "$pictures/src$n.png.tmp.png"
    mv "$pictures/src$n.png.tmp.png" "$pictures/src$n.png"
  fi
done

# "wall-seconds peak-KiB" of one command, its output thrown away.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" > /dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  cat "$work/time"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
png_bytes() { find "$1" -name '*.png' -printf '%s\n' | awk '{s += $1} END {print s}'; }
# Median of the per-round ratios column(file a) / column(file b).
ratio() { paste "$1" "$2" | awk '{printf "%.3f\n", $1 / $3}' | median; }

printf '%-34s %9s %9s %9s %12s %12s %14s\n' job "wall s" "peak MiB" "vips/ours" "ref/ours" "bytes" "Pillow bytes"
for pic in "$pictures/src1024.png" "$shared/src4096.png" "$shared/src4096.jpg" "$pictures/src8192.png"; do
  name=$(basename "$pic")
  out="$work/out"
  # The settings file of the command line: the picture in all 13 frames, whole picture selected.
  rm -rf "$out"
  ./build/generate-bench "$pic" "$out" --write-settings "$work/run.ini" > /dev/null 2>&1
  # The 4096 PNG picture also runs with smooth downscaling, right after the plain run.
  smooth=
  if [ "$name" = src4096.png ]; then
    smooth=1
    ./build/generate-bench "$pic" "$out" --smooth --write-settings "$work/smooth.ini" > /dev/null 2>&1
  fi
  : > "$work/vips"; : > "$work/bench"; : > "$work/cli"; : > "$work/refbench"; : > "$work/refcli"; : > "$work/smooth"
  for ((i = 1; i <= runs; i++)); do
    rm -rf "$work/v"; mkdir -p "$work/v"
    measure "$work/peer_vips" "$pic" "$work/v" "$peers/catalogue.tsv" >> "$work/vips"
    rm -rf "$work/b"
    measure ./build/vellumark-bench "$pic" "$work/b" >> "$work/bench"
    if [ -n "$ref" ]; then
      rm -rf "$work/rb"
      measure "$ref/vellumark-bench" "$pic" "$work/rb" >> "$work/refbench"
    fi
    rm -rf "$out"; mkdir -p "$out"
    measure ./build/Vellumark --generate --settings "$work/run.ini" --overwrite=all >> "$work/cli"
    if [ -n "$smooth" ]; then
      rm -rf "$out"; mkdir -p "$out"
      measure ./build/Vellumark --generate --settings "$work/smooth.ini" --overwrite=all >> "$work/smooth"
    fi
    if [ -n "$ref" ]; then
      rm -rf "$out"; mkdir -p "$out"
      measure "$ref/Vellumark" --generate --settings "$work/run.ini" --overwrite=all >> "$work/refcli"
    fi
  done
  rm -rf "$work/p"; mkdir -p "$work/p"
  /usr/bin/python3 "$peers/peer_pillow.py" "$pic" "$work/p"
  pillow=$(png_bytes "$work/p")
  row() {  # job label, times file, reference times file, output folder
    local wall peak r
    wall=$(cut -d' ' -f1 "$2" | median)
    peak=$(cut -d' ' -f2 "$2" | median | awk '{printf "%.0f", $1 / 1024}')
    r=-
    [ -s "$3" ] && r=$(ratio "$3" "$2")
    printf '%-34s %9s %9s %9s %12s %12s %14s\n' "$1" "$wall" "$peak" "$(ratio "$work/vips" "$2")" "$r" \
      "$(png_bytes "$4")" "$pillow"
  }
  printf '%-34s %9s %9s\n' "libvips peer, $name" "$(cut -d' ' -f1 "$work/vips" | median)" \
    "$(cut -d' ' -f2 "$work/vips" | median | awk '{printf "%.0f", $1 / 1024}')"
  row "vellumark-bench $name" "$work/bench" "$work/refbench" "$work/b"
  row "Vellumark --generate $name" "$work/cli" "$work/refcli" "$out"
  if [ -n "$smooth" ]; then
    # Smooth downscaling: its wall time beside the plain run's of the same round.
    printf '%-34s %9s %9s   smooth / plain run %s\n' "  the same with smooth downscaling" \
      "$(cut -d' ' -f1 "$work/smooth" | median)" \
      "$(cut -d' ' -f2 "$work/smooth" | median | awk '{printf "%.0f", $1 / 1024}')" "$(ratio "$work/smooth" "$work/cli")"
  fi
done
echo "wall s and peak MiB: medians of $runs rounds; ratios: medians of the per-round ratios of wall times;" \
  "bytes: the 53 PNG files of the last round; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
