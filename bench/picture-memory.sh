#!/usr/bin/env bash
# Peak memory (the process's resident high-water mark, /usr/bin/time) of big and hostile pictures:
#   bench/picture-memory.sh [build folder, default build] [work folder, default build/picture-memory]
# Makes the pictures with BUILD/big-pictures in WORK/pictures (once; they are kept), then:
#   - one picture in one frame: each of interlaced.png (11585 x 11585 RGBA, Adam7), interlaced16.png
#     (8192 x 8192, 16 bits, Adam7), bomb.tif (11000 x 11000 deflate strips of zeros) and huge.gif
#     (11000 x 11000 with all its data) in the first frame, small.png (64 x 64) in the other 12:
#     the peak of `Vellumark --settings INI --generate --overwrite=all` and of the window's start-up
#     (`kill-target run INI start`, offscreen), and whether the run made its files or refused the
#     picture;
#   - thirteen frames, each holding its own 8192 x 8192 PNG (big8192-N.png): the same two peaks, and
#     the window's start-up with its Generate run (`kill-target run INI generate`, writing into
#     WORK/out-<case>-window), whose files must be those of --generate byte for byte;
#   - normal4096.png and normal16-4096.png in all 13 frames: the same three peaks; their 53 files are
#     kept in WORK/out-<name> so that two builds' files can be compared byte for byte
#     (`cmp` each file, or `diff -r`).
# Each run's output files are kept in WORK/out-<case>. Needs BUILD/Vellumark, kill-target,
# generate-bench and big-pictures (scripts/build.sh builds them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(realpath -m "${2:-build/picture-memory}")
for b in Vellumark kill-target generate-bench big-pictures; do
  [ -x "$build/$b" ] || { echo "bench/picture-memory.sh: $build/$b is missing: build first" >&2; exit 2; }
done
pictures=$work/pictures
mkdir -p "$pictures"
"$build/big-pictures" "$pictures" >/dev/null
export QT_QPA_PLATFORM=offscreen

# A settings file with small.png in every frame, as the window writes it; its [selections] are
# dropped so that each frame takes its default selection on whatever picture it gets.
template=$work/template.ini
if [ ! -f "$template" ]; then
  rm -rf "$work/template-out"
  "$build/generate-bench" "$pictures/small.png" "$work/template-out" --write-settings "$template"
fi

# settings NAME OUTDIR PICTURE... : a settings file whose N-th frame shows the N-th picture (the
# last one for the frames after it), writing into OUTDIR.
settings() {
  local ini=$work/$1.ini out=$2
  shift 2
  awk -v out="$out/MyApp.png" -v pics="$*" '
    BEGIN { n = split(pics, p, " ") }
    { sub(/\r$/, "") }
    /^\[/ { section = $0 }
    section == "[selections]" && !/^\[/ { next }
    section == "[settings]" && /^base_filename=/ { print "base_filename=" out; next }
    section == "[images]" && /=/ { ++i; sub(/=.*/, "=" p[i <= n ? i : n]) }
    { print }' "$template" >"$ini"
  echo "$ini"
}

# peak LABEL COMMAND... : runs the command, prints its peak in KB, seconds and exit status.
peak() {
  local label=$1
  shift
  local status=0
  /usr/bin/time -f "%M %e" -o "$work/time.txt" "$@" >"$work/last.log" 2>&1 || status=$?
  local kb seconds  # the last line: time puts a note on the exit status before it
  kb=$(tail -1 "$work/time.txt" | cut -d' ' -f1)
  seconds=$(tail -1 "$work/time.txt" | cut -d' ' -f2)
  printf '%-34s %9s KB %7s s  exit %s' "$label" "$kb" "$seconds" "$status"
  if grep -q "Loading bitmap failed" "$work/last.log"; then
    printf '  %s' "$(grep -o 'Loading bitmap failed.*' "$work/last.log" | head -1 | sed "s|$pictures/||")"
  fi
  printf '\n'
}

run() {  # run CASE PICTURE... : the run's and the start-up's peaks for that setup
  local name=$1
  shift
  local out=$work/out-$name
  rm -rf "$out"
  mkdir -p "$out"
  local ini
  ini=$(settings "$name" "$out" "$@")
  peak "$name --generate" "$build/Vellumark" --settings "$ini" --generate --overwrite=all
  printf '%-34s %s PNG files\n' "" "$(find "$out" -name '*.png' | wc -l)"
  peak "$name start-up" "$build/kill-target" run "$ini" start
}

window_run() {  # window_run CASE PICTURE... : the window's start-up and Generate run, its files compared
  local name=$1
  shift
  local out=$work/out-$name-window
  rm -rf "$out"
  mkdir -p "$out"
  local ini
  ini=$(settings "$name-window" "$out" "$@")
  peak "$name window generate" "$build/kill-target" run "$ini" generate
  # The PNG files only: the option sets name the folder they were written for.
  local same=yes png
  for png in "$work/out-$name"/*.png; do
    cmp -s "$png" "$out/$(basename "$png")" || same=no
  done
  if [ "$same" = yes ] && [ "$(find "$out" -name '*.png' | wc -l)" = "$(find "$work/out-$name" -name '*.png' | wc -l)" ]; then
    printf '%-34s %s PNG files, the same bytes as --generate\n' "" "$(find "$out" -name '*.png' | wc -l)"
  else
    printf '%-34s files differ from those of --generate\n' ""
  fi
}

small=$pictures/small.png
for picture in interlaced.png interlaced16.png bomb.tif huge.gif; do
  run "${picture%.*}-${picture##*.}" "$pictures/$picture" "$small"
done
thirteen=()
for i in $(seq 1 13); do thirteen+=("$pictures/big8192-$i.png"); done
run thirteen-8192 "${thirteen[@]}"
window_run thirteen-8192 "${thirteen[@]}"
for picture in normal4096.png normal16-4096.png; do
  run "${picture%.png}" "$pictures/$picture"
  window_run "${picture%.png}" "$pictures/$picture"
done
