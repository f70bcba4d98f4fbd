#!/usr/bin/env bash
# Tries the Windows package as far as this machine can: unzips dist/Vellumark-<version>-windows-x64.zip
# (made by scripts/windows.sh, which runs first when the zip is missing) into a fresh folder and runs
# Vellumark.exe under Wine beside the Linux build:
#   - --version and --help say what the Linux build says;
#   - a full --generate from a settings file with Windows paths (Z:\..., backslashes) writes the same 53
#     PNG files, byte for byte, as the Linux build from the same pictures and selections, and both
#     option-set files name the PNG files with Windows paths;
#   - without --settings, the settings file is Vellumark.ini beside Vellumark.exe, or in %APPDATA%\Vellumark
#     when that folder cannot be written;
#   - a missing picture and a bad selection give the Linux messages, with Windows paths;
#   - the installer (dist/Vellumark-<version>-windows-x64.msi) installs silently without an administrator,
#     the installed program runs (--version, a full --generate with its settings in %APPDATA%), its
#     Start-menu shortcut and "Apps" entry exist, an installer of a higher version upgrades it in place with
#     the settings kept, and a silent uninstall removes the program files and keeps the settings file;
#   - 20 kills of --generate at random moments leave every output the old or the new whole file, and the
#     next run removes what a kill left; two processes storing values in one settings file lose none; a
#     read-only output folder gives the Linux message with a Windows path;
#   - the window starts on an X server (Xvfb) and its Graphics tab, with pictures loaded, is saved as
#     docs/windows-graphics.png (the pictures lie in a folder of a fixed name, so the picture only changes
#     when the window does).
# Prints one line per check and exits non-zero at the first that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

bash scripts/install-packages.sh wine64 unzip xvfb xauth imagemagick xdotool
zip=$(ls -t dist/Vellumark-*-windows-x64.zip 2>/dev/null | head -1 || true)
if [ -z "$zip" ]; then
  bash scripts/windows.sh
  zip=$(ls -t dist/Vellumark-*-windows-x64.zip | head -1)
fi
# The Linux build to compare with, and its kill-target (it makes the kill test's pictures).
if [ ! -f build/build.ninja ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build --target Vellumark kill-target >/dev/null
linux=$repo/build/Vellumark

# A folder of a fixed name: the paths the window shows in the screenshot are the same at every run.
work=/tmp/vellumark-wine
wineserver=$(ls /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver 2>/dev/null | head -1)
WINEPREFIX=$work/wineprefix "$wineserver" -k 2>/dev/null || true
chmod -R u+w "$work" 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"
trap 'WINEPREFIX=$work/wineprefix "$wineserver" -k 2>/dev/null || true; chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work/pkg"
exe_dir=$(dirname "$(ls "$work"/pkg/*/Vellumark.exe)")

export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
"$wine" wineboot --init >/dev/null 2>&1 || true
# The window-less runs use Qt's offscreen platform; nothing of Wine's own display is needed for them.
unset DISPLAY
win() { (cd "$exe_dir" && "$wine" ./Vellumark.exe "$@"); }
winpath() { printf 'Z:%s' "${1//\//\\}"; }   # /tmp/x/y.png -> Z:\tmp\x\y.png
nocr() { tr -d '\r'; }
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*" >&2; exit 1; }

# --- --version, --help -------------------------------------------------------------------------------------
[ "$(win --version | nocr)" = "$("$linux" --version)" ] && pass "--version: $(win --version | nocr)" \
  || fail "--version differs: $(win --version | nocr) / $("$linux" --version)"
[ "$(win --help | nocr)" = "$("$linux" --help)" ] && pass "--help is the Linux text" || fail "--help differs"

# --- a full run from Windows paths against the Linux build -------------------------------------------------
source scripts/sample-pictures.sh
mkdir -p "$work/pictures"
for i in "${!pictures[@]}"; do cp "tests/data/${pictures[$i]}" "$work/pictures/$i-$(basename "${pictures[$i]}")"; done
# settings FILE BASENAME PATHSTYLE [SELECTION-OF-THE-1:1-GROUP] [PICTURE-OF-THE-1:1-GROUP]
settings() {
  local file=$1 base=$2 style=$3 selection=${4:-4,4,28,28} first=${5:-}
  local conv=printf
  [ "$style" = windows ] && conv=winpath
  {
    printf '[settings]\r\nbase_filename=%s\r\n\r\n[images]\r\n' "$($conv "$base")"
    for i in "${!keys[@]}"; do
      local picture
      picture=$(ls "$work"/pictures/"$i"-*)
      [ "$i" = 0 ] && [ -n "$first" ] && picture=$first
      printf '%s=%s\r\n' "${keys[$i]}" "$($conv "$picture")"
    done
    printf '\r\n[selections]\r\n180_180=%s\r\n2688_1242=0,0,32,15\r\n\r\n' "$selection"
  } >"$file"
}
mkdir -p "$work/out-linux" "$work/out-windows"
settings "$work/linux.ini" "$work/out-linux/MyApp.png" unix
settings "$work/windows.ini" "$work/out-windows/MyApp.png" windows
"$linux" --generate --settings "$work/linux.ini" --overwrite=all >"$work/linux.log"
win --generate --settings "$(winpath "$work/windows.ini")" --overwrite=all >"$work/windows.log"
count=$(ls "$work/out-windows"/*.png | wc -l)
[ "$count" = 53 ] || fail "the Windows run wrote $count PNG files, not 53"
for f in "$work/out-linux"/*.png; do
  cmp -s "$f" "$work/out-windows/$(basename "$f")" || fail "$(basename "$f") differs from the Linux build's"
done
[ "$(ls "$work/out-linux"/*.png | wc -l)" = 53 ] || fail "the Linux run did not write 53 files"
pass "--generate with Windows paths: 53 PNG files, byte-identical to the Linux build's"
for optset in MyApp.android.optset MyApp.ios.optset; do
  grep -qF "$(winpath "$work/out-windows/MyApp")" "$work/out-windows/$optset" \
    || fail "$optset does not name the PNG files with Windows paths"
  # Apart from the paths, the option sets are the Linux build's.
  sed "s|$(winpath "$work/out-windows/" | sed 's/\\/\\\\/g')|@|g" "$work/out-windows/$optset" >"$work/w.optset"
  sed "s|$work/out-linux/|@|g" "$work/out-linux/$optset" >"$work/l.optset"
  cmp -s "$work/w.optset" "$work/l.optset" || fail "$optset differs from the Linux build's beyond the paths"
done
pass "both option-set files name the PNG files as $(winpath "$work/out-windows")\\MyApp...png, otherwise as on Linux"
# The output folder stands alone on one line and starts each file's path on the others.
[ "$(nocr <"$work/windows.log" | sed "s|$(winpath "$work/out-windows" | sed 's/\\/\\\\/g')|@|g; s|@\\\\|@/|g")" \
  = "$(sed "s|$work/out-linux|@|g" "$work/linux.log")" ] && pass "the run's log is the Linux log, with Windows paths" \
  || fail "the run's log differs from the Linux log"

# --- the settings file beside Vellumark.exe ----------------------------------------------------------------
mkdir -p "$work/out-beside"
settings "$exe_dir/Vellumark.ini" "$work/out-beside/MyApp.png" windows
win --generate --overwrite=all >/dev/null
[ "$(ls "$work/out-beside"/*.png | wc -l)" = 53 ] && pass "without --settings: Vellumark.ini beside Vellumark.exe" \
  || fail "without --settings the run did not use Vellumark.ini beside Vellumark.exe"
# A folder the program cannot write (as under C:\Program Files): the settings file is the user's.
appdata=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming | grep -v /Public/ | head -1)
mkdir -p "$appdata/Vellumark" "$work/out-appdata"
settings "$appdata/Vellumark/Vellumark.ini" "$work/out-appdata/MyApp.png" windows
rm -f "$exe_dir/Vellumark.ini"
chmod a-w "$exe_dir"
win --generate --overwrite=all >/dev/null
chmod u+w "$exe_dir"
[ "$(ls "$work/out-appdata"/*.png 2>/dev/null | wc -l)" = 53 ] \
  && pass "in a folder it cannot write: %APPDATA%\\Vellumark\\Vellumark.ini" \
  || fail "in a read-only folder the run did not use %APPDATA%\\Vellumark\\Vellumark.ini"

# --- a missing picture and a bad selection -----------------------------------------------------------------
check_messages() {   # check_messages WHAT SELECTION FIRST-PICTURE
  local what=$1 status_l=0 status_w=0
  settings "$work/bad-linux.ini" "$work/out-linux/MyApp.png" unix "$2" "$3"
  settings "$work/bad-windows.ini" "$work/out-windows/MyApp.png" windows "$2" "$3"
  "$linux" --generate --settings "$work/bad-linux.ini" --overwrite=all >"$work/l.out" 2>"$work/l.err" || status_l=$?
  win --generate --settings "$(winpath "$work/bad-windows.ini")" --overwrite=all >"$work/w.out" 2>"$work/w.err" \
    || status_w=$?
  [ "$status_l" != 0 ] && [ "$status_l" = "$status_w" ] || fail "$what: exit status $status_w, Linux $status_l"
  local shown
  shown=$(nocr <"$work/w.err" | sed "s|Z:\\\\|/|g; s|\\\\|/|g")
  [ "$shown" = "$(cat "$work/l.err")" ] || fail "$what: the message differs: $(nocr <"$work/w.err") / $(cat "$work/l.err")"
  grep -qF 'Z:\' "$work/w.err" || [ "$what" != "missing picture" ] || fail "$what: no Windows path in the message"
  pass "$what: exit status $status_w, $(nocr <"$work/w.err" | grep -m1 -E 'INVALID|File' || true)"
}
check_messages "missing picture" "4,4,28,28" "$work/pictures/missing.png"
check_messages "bad selection" "0,0,0,0" ""

source scripts/windows-test-install.sh
source scripts/windows-test-reliability.sh

# --- the window on an X server -----------------------------------------------------------------------------
cat >"$work/shoot.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
exe_dir=$1 shot=$2 wine=$3
(cd "$exe_dir" && "$wine" ./Vellumark.exe) &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
wid=$(timeout 120 xdotool search --sync --onlyvisible --name '^Vellumark$' | head -n 1)
sleep 3
import -window root "$shot-introduction.png"
# The Graphics tab: one wheel step over the tab bar (under the menu bar) brings the next tab to the front.
xdotool mousemove --window "$wid" 40 50 click 5
sleep 3
import -window root "$shot"
INNER
chmod +x "$work/shoot.sh"
settings "$exe_dir/Vellumark.ini" "$work/out-beside/MyApp.png" windows
# Under Wine the toolkit's GDI and DirectWrite font engines draw no text in line edits and editable
# drop-down lists (both go through Wine's font services; the FreeType engine does not). Wine does not pass QT_ variables on,
# so a qt.conf beside the exe, for this run only and not in the package, picks the FreeType engine.
printf '[Platforms]\r\nWindowsArguments = fontengine=freetype\r\n' >"$exe_dir/qt.conf"
# Wine's desktop process was started without a display by the runs above: end it, so the window's run
# starts a new one on the X server.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
xvfb-run -a -s "-screen 0 1024x900x24" "$work/shoot.sh" "$exe_dir" "$work/graphics.png" "$wine"
mkdir -p docs
convert "$work/graphics.png" -trim +repage -define png:exclude-chunks=date,time docs/windows-graphics.png
convert "$work/graphics.png-introduction.png" -trim +repage "${TMPDIR:-/tmp}/vellumark-wine-introduction.png"
pass "the window started under Wine; its Graphics tab is in docs/windows-graphics.png"
