#!/usr/bin/env bash
# Makes the Windows installer from the staged package folder:
#   bash scripts/windows-msi.sh STAGE VERSION OUT.msi
# STAGE holds what the zip holds (Vellumark.exe, the DLLs, plugins and licences); every file under it is
# installed, plus the marker that keeps the settings in %APPDATA%. VERSION is the product version
# (x.y.z): an installer of a higher version upgrades an installed one in place.
set -euo pipefail
cd "$(dirname "$0")/.."
stage=${1:?stage folder}
version=${2:?version}
out=${3:?output file}
bash scripts/install-packages.sh wixl msitools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One component per file, under INSTALLDIR, in a group the product installs.
(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) \
  | wixl-heat --prefix "" --directory-ref INSTALLDIR --component-group ProgramFiles --var var.SourceDir \
  >"$work/files.wxs"
# wixl takes source paths relative to the folder it runs in: the files are linked into the work folder.
ln -s "$(cd "$stage" && pwd)" "$work/stage"
cp packaging/windows/Vellumark.ico packaging/windows/Vellumark.installed packaging/windows/Vellumark.wxs "$work/"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
(cd "$work" && wixl -a x64 -D Version="$version" -D SourceDir=stage -D IconFile=Vellumark.ico \
   -D MarkerFile=Vellumark.installed -o "$out" Vellumark.wxs files.wxs)
echo "$out: $(stat -c %s "$out") bytes"
