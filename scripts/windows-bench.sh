#!/usr/bin/env bash
# The Windows build's speed against the Linux build's, on one machine in one run:
#   bash scripts/windows-bench.sh [runs, default 7] [source, default ../shared/bench/src4096.png]
# Runs build-windows/vellumark-bench.exe (made by scripts/windows.sh) under Wine, beside the DLLs of
# the package, and build/vellumark-bench in turn, each pair back to back, and prints every wall time,
# the medians, the median of the per-pair ratios (Wine / Linux) and whether both wrote the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
src=$(realpath "${2:-../shared/bench/src4096.png}")
zip=$(ls -t dist/Vellumark-*-windows-x64.zip | head -1)
[ -f build-windows/vellumark-bench.exe ] || { echo "run scripts/windows.sh first" >&2; exit 2; }
bash scripts/install-packages.sh wine64 unzip bc
cmake --build build --target vellumark-bench >/dev/null
work=$(mktemp -d /tmp/vellumark-wine-bench-XXXXXX)
export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work/pkg"
exe_dir=$(dirname "$(ls "$work"/pkg/*/Vellumark.exe)")
cp build-windows/vellumark-bench.exe "$exe_dir/"
unset DISPLAY
# A new Wine folder finishes setting itself up in the background: wait for that, then keep one Wine
# session for every run (its start-up paid once), and run once untimed.
"$wine" wineboot --init >/dev/null 2>&1 || true
"$wineserver" -w
"$wineserver" -p
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wall() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
: >"$work/w"; : >"$work/l"
mkdir -p "$work/ow"
(cd "$exe_dir" && "$wine" ./vellumark-bench.exe "$(winpath "$src")" "$(winpath "$work/ow")" >/dev/null 2>&1)
for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/ow" "$work/ol"; mkdir -p "$work/ow" "$work/ol"
  (cd "$exe_dir" && wall "$wine" ./vellumark-bench.exe "$(winpath "$src")" "$(winpath "$work/ow")") >>"$work/w"
  wall ./build/vellumark-bench "$src" "$work/ol" >>"$work/l"
done
same=yes
for f in "$work"/ol/*.png; do cmp -s "$f" "$work/ow/$(basename "$f")" || same=no; done
echo "Wine  wall s: $(tr '\n' ' ' <"$work/w") median $(median <"$work/w")"
echo "Linux wall s: $(tr '\n' ' ' <"$work/l") median $(median <"$work/l")"
echo "Wine / Linux per pair, median: $(paste "$work/w" "$work/l" | awk '{printf "%.3f\n", $1 / $2}' | median)"
echo "same bytes in all $(ls "$work"/ol/*.png | wc -l) files: $same"
