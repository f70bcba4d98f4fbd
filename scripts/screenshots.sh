#!/usr/bin/env bash
# Pictures of the main window as a person sees it: builds the program if needed, starts it under Xvfb
# with a prepared settings file and the test pictures, brings each tab to the front and saves a PNG of
# the window per tab into docs/ (tab-introduction.png, tab-graphics.png, tab-setup.png, tab-generate.png).
#
# The executable is copied into a temporary folder together with its settings file, so no settings
# file beside the built program is touched. Build folder: $VELLUMARK_BUILD_DIR, or build/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${VELLUMARK_BUILD_DIR:-build}
corpus="$root/tests/data"

# Xvfb, xauth (for xvfb-run), ImageMagick (import) and xdotool (the mouse over the window).
bash scripts/install-packages.sh xvfb xauth imagemagick xdotool

if [ ! -f "$build_dir/build.ninja" ] && [ ! -f "$build_dir/Makefile" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build_dir" --target Vellumark

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build_dir/Vellumark" "$work/Vellumark"
mkdir -p "$work/out" docs

# One picture per ratio group (keyed by the group's first size), the base file name in a folder that
# exists, so that the Generate tab shows a clean check.
source scripts/sample-pictures.sh
{
  printf '[settings]\r\nbase_filename=%s\r\n\r\n[images]\r\n' "$work/out/MyApp.png"
  for i in "${!keys[@]}"; do printf '%s=%s\r\n' "${keys[$i]}" "$corpus/${pictures[$i]}"; done
  printf '\r\n'
} >"$work/Vellumark.ini"

cat >"$work/shoot.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
work=$1
docs=$2
"$work/Vellumark" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Vellumark$' | head -n 1)
sleep 1
xdotool windowfocus --sync "$wid" 2>/dev/null || xdotool windowfocus "$wid"
for name in introduction graphics setup generate; do
  sleep 1
  import -window "$wid" "$docs/tab-$name.png"
  # One wheel step over the tab bar brings the next tab to the front. The bar starts at the tab
  # control's top left, 20 units below the menu bar (about 20 high), so this point lies on it.
  xdotool mousemove --window "$wid" 40 50 click 5
done
INNER
chmod +x "$work/shoot.sh"

xvfb-run -a -s "-screen 0 1280x1024x24" "$work/shoot.sh" "$work" "$root/docs"
ls -l docs/tab-*.png
