#!/usr/bin/env bash
# Kills the program with SIGKILL at random moments and checks what it leaves on disk:
#   scripts/kill-test.sh [KILLS_DURING_GENERATION, default 50] [KILLS_DURING_START_UP, default 50]
#                        [KILLS_DURING_IN_PLACE_START_UP, default 50]
# Needs the build in build/ (scripts/build.sh), which includes bench/kill-target: the real window's
# start-up and generation run, offscreen.
#
# Generation: an earlier run wrote 53 PNG files and both option-set files from a red picture; each
# round restores those files, starts a run from a blue picture that overwrites them all (Yes to All),
# and kills it at a random moment of the run. Every PNG and option-set file must then be as before
# or as a complete run writes it, and the settings file as before or complete.
# Start-up: each round puts back a settings file that holds pictures but no selections (so every
# frame writes its selection while the window is built) and kills the start-up at a random moment.
# The settings file must then be the original or a complete stored file with only values that were
# meant. After every kill no temporary file may be left; the lock files a killed instance held (the
# lock beside the settings file and the one that guards taking over a stale lock) are counted apart:
# lock files are not removed between rounds, so each start must take over what the last kill left,
# and a final clean start must leave nothing but the settings file.
# In place: the same start-ups with the settings file in a read-only folder, where it is written in
# place (run as the user nobody when the script runs as root, whom permissions do not stop). After
# each kill the next start (here the check itself) rolls an interrupted write back: the file must
# then be as before or complete, and nothing may be left in the folder.
set -euo pipefail
cd "$(dirname "$0")/.."
generationKills=${1:-50}
startKills=${2:-50}
inPlaceKills=${3:-50}
driver=$PWD/build/kill-target
[[ -x $driver ]] || { echo "build/kill-target is missing: run scripts/build.sh first" >&2; exit 2; }
export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/xdg; mkdir -m 700 "$XDG_RUNTIME_DIR"
out=$work/out; cfg=$work/cfg; mkdir -p "$out" "$cfg" "$work/pics"
ini=$cfg/Vellumark.ini
"$driver" picture "$work/pics/red.png" '#c02020' 1600 1200
"$driver" picture "$work/pics/blue.png" '#2040c0' 1600 1200

# The size keys of the 13 frames, as a first start stores their selections.
printf '[settings]\r\nbase_filename=%s/MyApp.png\r\n\r\n' "$out" > "$ini"
"$driver" run "$ini" start > /dev/null
mapfile -t keys < <(tr -d '\r' < "$ini" | sed -n '/^\[selections\]/,/^$/s/=.*//p' | grep -v '^\[')
[[ ${#keys[@]} -eq 13 ]] || { echo "expected 13 frames, found ${#keys[@]}" >&2; exit 1; }

settingsWith() {  # $1 picture; LF line ends and a comment, so the first write rewrites the whole file
  printf '; settings of the kill test\n[settings]\nbase_filename=%s/MyApp.png\n[images]\n' "$out"
  for k in "${keys[@]}"; do printf '%s=%s\n' "$k" "$1"; done
}

# The earlier run (red) and a complete run (blue) over it.
settingsWith "$work/pics/red.png" > "$ini"
"$driver" run "$ini" generate > /dev/null
cp -a "$out" "$work/before"
settingsWith "$work/pics/blue.png" > "$work/blue.ini"
cp "$work/blue.ini" "$ini"
runMs=$("$driver" run "$ini" generate | sed -n 's/^done //p')
cp -a "$out" "$work/after"
cp "$ini" "$work/blue-final.ini"
pngs=$(ls "$work/after" | grep -c '\.png$'); optsets=$(ls "$work/after" | grep -c '\.optset$')
echo "complete run: $pngs PNG files, $optsets option-set files, ${runMs} ms from start to end"
first=$(ls "$work/after" | grep '\.png$' | head -1)
cmp -s "$work/before/$first" "$work/after/$first" &&
  { echo "the two runs wrote the same bytes: nothing to tell apart" >&2; exit 1; }

failures=0
leftovers=0
staleLocks=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Files of the output folder: each as before, or as the complete run wrote it; nothing else there.
checkOutput() {
  local f
  for f in "$work"/after/*; do
    f=${f##*/}
    if [[ ! -e $out/$f ]]; then
      [[ -e $work/before/$f ]] && fail "$f is gone"
    elif ! cmp -s "$out/$f" "$work/after/$f" && ! cmp -s "$out/$f" "$work/before/$f"; then
      fail "$f is neither as before nor complete"
    fi
  done
  for f in $(ls -A "$out"); do
    [[ -e $work/after/$f ]] || { fail "left in the output folder: $f"; leftovers=$((leftovers + 1)); }
  done
}
checkSettingsFolder() {  # $1 original settings file, $2 complete one
  "$driver" settings "$1" "$2" "$ini" || fail "settings file"
  local f
  for f in $(ls -A "$cfg"); do
    case $f in
      Vellumark.ini) ;;
      Vellumark.ini.lock | Vellumark.ini.lock.rmlock) staleLocks=$((staleLocks + 1)) ;;  # the lock and the
        # lock that guards its removal, as the killed instance held them
      *) fail "left beside the settings file: $f"; leftovers=$((leftovers + 1)) ;;
    esac
  done
}
randomDelay() { awk -v max="$1" -v seed="$RANDOM$RANDOM" 'BEGIN { srand(seed); printf "%.3f", rand() * max / 1000 }'; }

# Runs the driver in the background, waits for the line $2 (or the start when empty), sleeps a random
# part of $3 ms and kills it. Returns 0 when the kill hit the stage (the driver had not printed $4).
killDuring() {  # $1 mode, $2 line to wait for, $3 stage length in ms, $4 line that ends the stage
  local log=$work/log pid
  : > "$log"
  "$driver" run "$ini" "$1" > "$log" 2>/dev/null &
  pid=$!
  if [[ -n $2 ]]; then
    until grep -q "^$2" "$log" || ! kill -0 "$pid" 2>/dev/null; do sleep 0.005; done
  fi
  sleep "$(randomDelay "$3")"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  ! grep -q "^$4" "$log"
}

kills=0; tries=0
genMs=$((runMs * 3 / 4))  # the run after the start-up, roughly
while ((kills < generationKills)); do
  rm -rf "$out"; cp -a "$work/before" "$out"; cp "$work/blue.ini" "$ini"; rm -f "$ini.lock"
  tries=$((tries + 1))
  killDuring generate generating "$genMs" done || continue
  kills=$((kills + 1))
  checkOutput
  checkSettingsFolder "$work/blue.ini" "$work/blue-final.ini"
done
echo "generation: $kills kills in $tries rounds; lock files left: $staleLocks"
staleLocks=0

startMs=$( { time -p "$driver" run "$ini" start > /dev/null; } 2>&1 | awk '/^real/ { print int($2 * 1000) }')
kills=0; tries=0; original=0; rewritten=0
while ((kills < startKills)); do
  cp "$work/blue.ini" "$ini"
  tries=$((tries + 1))
  killDuring start "" "$startMs" started || continue
  kills=$((kills + 1))
  if cmp -s "$ini" "$work/blue.ini"; then original=$((original + 1)); else rewritten=$((rewritten + 1)); fi
  checkSettingsFolder "$work/blue.ini" "$work/blue-final.ini"
done
echo "start-up: $kills kills in $tries rounds; settings file found as before $original times, rewritten $rewritten times; lock files left: $staleLocks"

# A lock left by a killed instance does not hold up the next start, which takes it over and removes it.
"$driver" run "$ini" start > /dev/null || fail "start after the kills"
for f in $(ls -A "$cfg"); do
  [[ $f == Vellumark.ini ]] || fail "left beside the settings file after a clean start: $f"
done
echo "temporary files left: $leftovers; a clean start afterwards left nothing beside the settings file"
# In place: a read-only folder, as an unprivileged user.
if ((inPlaceKills > 0)); then
  as=()
  xdg=$work/xdg-in-place; mkdir -m 700 "$xdg"  # the runtime folder: the lock and the copy of the old bytes
  if [[ $(id -u) -eq 0 ]]; then
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups env XDG_RUNTIME_DIR="$xdg" HOME=/tmp)
    chmod 711 "$work"; chmod -R a+rX "$work/pics"; chown nobody:nogroup "$xdg"
  else
    as=(env XDG_RUNTIME_DIR="$xdg")
  fi
  ro=$work/ro; mkdir "$ro"; [[ $(id -u) -eq 0 ]] && chown nobody:nogroup "$ro"
  roIni=$ro/Vellumark.ini
  kills=0; tries=0; original=0; rewritten=0; interrupted=0
  while ((kills < inPlaceKills)); do
    chmod u+w "$ro"; cp "$work/blue.ini" "$roIni"; [[ $(id -u) -eq 0 ]] && chown nobody:nogroup "$roIni"; chmod a-w "$ro"
    tries=$((tries + 1))
    log=$work/log; : > "$log"
    "${as[@]}" "$driver" run "$roIni" start > "$log" 2>/dev/null &
    pid=$!
    sleep "$(randomDelay "$startMs")"
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    grep -q '^started' "$log" && continue
    kills=$((kills + 1))
    compgen -G "$xdg/vellumark-*.journal" > /dev/null && interrupted=$((interrupted + 1))
    # The check starts the program, which first rolls back what the kill interrupted.
    "${as[@]}" "$driver" settings "$work/blue.ini" "$work/blue-final.ini" "$roIni" || fail "settings file written in place"
    if cmp -s "$roIni" "$work/blue.ini"; then original=$((original + 1)); else rewritten=$((rewritten + 1)); fi
    compgen -G "$xdg/vellumark-*.journal" > /dev/null && fail "a copy of old bytes is left"
    for f in $(ls -A "$ro"); do
      [[ $f == Vellumark.ini ]] || { fail "left in the read-only folder: $f"; leftovers=$((leftovers + 1)); }
    done
  done
  chmod u+w "$ro"
  echo "in place: $kills kills in $tries rounds, $interrupted of them in the middle of a write (rolled back by the next start); settings file then as before $original times, complete $rewritten times"
fi

if ((failures > 0)); then
  echo "$failures failures" >&2
  exit 1
fi
echo "all files as before or complete"
