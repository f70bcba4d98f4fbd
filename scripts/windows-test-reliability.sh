# Part of scripts/windows-test.sh (sourced; uses its helpers): the reliability rules under Wine.
# --- kills of --generate -----------------------------------------------------------------------------------
kills=${VELLUMARK_WINE_KILLS:-20}
kout=$work/out-kill
mkdir -p "$kout" "$work/kpics"
"$repo/build/kill-target" picture "$work/kpics/red.png" '#c02020' 1600 1200 2>/dev/null
"$repo/build/kill-target" picture "$work/kpics/blue.png" '#2040c0' 1600 1200 2>/dev/null
kill_settings() {   # kill_settings FILE PICTURE: every group from the picture, into $kout
  {
    printf '[settings]\r\nbase_filename=%s\r\n\r\n[images]\r\n' "$(winpath "$kout/MyApp.png")"
    for k in "${keys[@]}"; do printf '%s=%s\r\n' "$k" "$(winpath "$2")"; done
  } >"$1"
}
kill_settings "$work/red.ini" "$work/kpics/red.png"
kill_settings "$work/blue.ini" "$work/kpics/blue.png"
win --generate --settings "$(winpath "$work/red.ini")" --overwrite=all >/dev/null 2>&1
cp -a "$kout" "$work/k-before"
started=$(date +%s%N)
win --generate --settings "$(winpath "$work/blue.ini")" --overwrite=all >/dev/null 2>&1
run_ms=$(( ($(date +%s%N) - started) / 1000000 ))
cp -a "$kout" "$work/k-after"
old_or_new() {   # every output is the old or the new whole file
  local f name
  for f in "$work/k-after"/*; do
    name=$(basename "$f")
    cmp -s "$kout/$name" "$f" || cmp -s "$kout/$name" "$work/k-before/$name" \
      || fail "after a kill $name is neither the old nor the new file"
  done
}
left_total=0 old_files=0 new_files=0
for round in $(seq 1 "$kills"); do
  # The old files back, whatever the last kill left beside them (the next run must remove it).
  cp -a "$work/k-before/." "$kout/"
  (cd "$exe_dir" && exec "$wine" ./Vellumark.exe --generate --settings "$(winpath "$work/blue.ini")" \
     --overwrite=all >/dev/null 2>&1) &
  pid=$!
  sleep "$(awk -v ms="$run_ms" -v seed="$round$RANDOM" 'BEGIN { srand(seed); printf "%.3f", (200 + rand() * ms) / 1000 }')"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  old_or_new
  left_total=$(( left_total + $(find "$kout" -name '*.vellumark-tmp' | wc -l) ))
  for f in "$work/k-after"/*.png; do
    if cmp -s "$kout/$(basename "$f")" "$f"; then new_files=$((new_files + 1)); else old_files=$((old_files + 1)); fi
  done
done
win --generate --settings "$(winpath "$work/blue.ini")" --overwrite=all >/dev/null 2>&1
[ -z "$(find "$kout" -name '*.vellumark-tmp')" ] || fail "a run left the temporary files of killed runs: $(ls "$kout" | grep tmp | head -3)"
diff -rq "$kout" "$work/k-after" >/dev/null || fail "the run after the kills did not write the new files"
pass "$kills kills of --generate (a run takes ${run_ms} ms): every output the old ($old_files) or the new ($new_files) whole file; $left_total temporary files left by kills, all removed by the next run"

# --- two processes on one settings file --------------------------------------------------------------------
cp "$repo/build-windows/kill-target.exe" "$exe_dir/kill-target.exe"
rm -f "$work/two.ini"
(cd "$exe_dir" && "$wine" ./kill-target.exe write "$(winpath "$work/two.ini")" a 100 >/dev/null 2>&1) &
first=$!
(cd "$exe_dir" && "$wine" ./kill-target.exe write "$(winpath "$work/two.ini")" b 100 >/dev/null 2>&1) &
second=$!
wait "$first" || fail "the first writer failed"
wait "$second" || fail "the second writer failed"
rm -f "$exe_dir/kill-target.exe"
stored=$(nocr <"$work/two.ini" | grep -cE '^[ab][0-9]+=')
[ "$stored" = 200 ] && pass "two processes storing 100 values each in one settings file: all 200 kept" \
  || fail "two processes storing 100 values each in one settings file: $stored of 200 kept"

# --- a read-only output folder -----------------------------------------------------------------------------
# Permissions do not stop root, on Linux or under Wine: a read-only folder is tried as the user nobody, with
# a Wine prefix of that user's own.
as_user=()
if [ "$(id -u)" = 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/nobody")
  mkdir -p "$work/nobody"
  chown 65534:65534 "$work/nobody"
fi
mkdir -p "$work/ro/out"
settings "$work/ro/linux.ini" "$work/ro/out/MyApp.png" unix
settings "$work/ro/windows.ini" "$work/ro/out/MyApp.png" windows
chmod a+r "$work/ro"/*.ini
chmod 555 "$work/ro/out"
chmod o+x "$work" "$work/ro"
ro_status_l=0 ro_status_w=0
"${as_user[@]}" "$linux" --generate --settings "$work/ro/linux.ini" --overwrite=all >/dev/null 2>"$work/ro/l.err" || ro_status_l=$?
"${as_user[@]}" env WINEPREFIX="$work/nobody/wineprefix" "$wine" wineboot --init >/dev/null 2>&1 || true
"${as_user[@]}" env WINEPREFIX="$work/nobody/wineprefix" sh -c "cd '$exe_dir' && '$wine' ./Vellumark.exe --generate \
  --settings '$(winpath "$work/ro/windows.ini")' --overwrite=all" >/dev/null 2>"$work/ro/w.err" || ro_status_w=$?
"${as_user[@]}" env WINEPREFIX="$work/nobody/wineprefix" "$wineserver" -k 2>/dev/null || true
chmod 755 "$work/ro/out"
[ "$ro_status_l" != 0 ] && [ "$ro_status_w" = "$ro_status_l" ] \
  || fail "read-only output folder: exit status $ro_status_w, Linux $ro_status_l ($(nocr <"$work/ro/w.err"))"
[ "$(nocr <"$work/ro/w.err" | grep -v '^Warning (' | sed "s|Z:\\\\|/|g; s|\\\\|/|g")" = "$(grep -v '^Warning (' "$work/ro/l.err")" ] \
  || fail "read-only output folder: $(nocr <"$work/ro/w.err" | tail -1) / $(tail -1 "$work/ro/l.err")"
pass "read-only output folder: $(nocr <"$work/ro/w.err" | tail -1)"
