#!/usr/bin/env bash
# Fresh Debian 12 machine: cross-builds Vellumark for 64-bit Windows with Debian's MinGW-w64 compiler and
# writes dist/Vellumark-<version>-windows-x64.zip (Vellumark.exe, the Qt DLLs and plugins it loads, the
# MinGW runtime and the licence texts of everything shipped) and dist/Vellumark-<version>-windows-x64.msi,
# the installer of the same files (scripts/windows-msi.sh).
#
# Qt and the libraries the decoder links are built from Debian's own source packages (apt-get source),
# Qt as shared libraries, into a cache outside the repository that later runs reuse:
#   VELLUMARK_WIN_CACHE (default ~/.cache/vellumark-windows)
# The first run takes about an hour on two cores (almost all of it Qt); with the cache filled, a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
cache=${VELLUMARK_WIN_CACHE:-$HOME/.cache/vellumark-windows}
jobs=${VELLUMARK_JOBS:-$(nproc)}
prefix=$cache/prefix         # zlib, libpng, libjpeg-turbo, libdeflate (static), Qt (shared)
src=$cache/src
mkdir -p "$src" "$prefix"

as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi

# --- the compiler, the host Qt (its tools run during the build) and the source packages ------------------
bash scripts/install-deps.sh
bash scripts/install-packages.sh g++-mingw-w64-x86-64-posix dpkg-dev zip

# The deb-src entries apt-get source needs, made from this machine's own deb entries (the same
# archives, suites, components and keys), so the sources come from wherever its packages come from,
# a mirror included: each deb822 stanza of Types "deb" in sources.list.d/*.sources becomes a "deb-src"
# stanza (written to $1), and each one-line "deb" entry of sources.list and sources.list.d/*.list a
# "deb-src" line (written to $2). Entries that are deb-src already are not copied.
deb_src_entries() {
  local stanzas=() lines=() f
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && stanzas+=("$f"); done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && lines+=("$f"); done
  : >"$1"
  : >"$2"
  if [ ${#stanzas[@]} -gt 0 ]; then
    awk 'BEGIN { RS = "" }
         { n = split($0, line, "\n"); deb = 0
           for (i = 1; i <= n; i++) if (line[i] ~ /^Types:/ && line[i] ~ /[: ]deb( |$)/) deb = 1
           if (!deb) next
           for (i = 1; i <= n; i++)
             if (line[i] ~ /^Types:/) print "Types: deb-src"
             else if (line[i] !~ /^#/) print line[i]
           print "" }' "${stanzas[@]}" >"$1"
  fi
  if [ ${#lines[@]} -gt 0 ]; then
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "${lines[@]}" >"$2"
  fi
}

if ! apt-get source --print-uris qt6-base >/dev/null 2>&1 \
   || [ -z "$(apt-get source --print-uris qt6-base 2>/dev/null | grep -F .dsc)" ]; then
  made=$(mktemp -d)
  deb_src_entries "$made/stanzas" "$made/lines"
  if [ ! -s "$made/stanzas" ] && [ ! -s "$made/lines" ]; then
    echo "No deb entry in /etc/apt/sources.list or /etc/apt/sources.list.d to take the source packages from" >&2
    exit 1
  fi
  [ -s "$made/stanzas" ] && "${as_root[@]}" cp "$made/stanzas" /etc/apt/sources.list.d/vellumark-deb-src.sources
  [ -s "$made/lines" ] && "${as_root[@]}" cp "$made/lines" /etc/apt/sources.list.d/vellumark-deb-src.list
  rm -rf "$made"
  "${as_root[@]}" apt-get update
fi

# Downloads Debian's source package $1 into the current folder: the newest version the sources list
# names whose files the archive serves (a mirror may list an update's sources without serving them).
download_source() {
  local pkg=$1 version
  for version in $(apt-cache showsrc --only-source "$pkg" | awk '/^Version:/ { print $2 }' | sort -rV); do
    apt-get source --download-only "$pkg=$version" && return 0
    echo "Source package $pkg $version could not be downloaded; trying an older version" >&2
  done
  echo "No version of source package $pkg could be downloaded" >&2
  return 1
}

# Unpacks Debian's source package $1 (with Debian's patches) into $src/$2 once.
unpack() {
  local pkg=$1 dir=$2
  [ -d "$src/$dir" ] && return 0
  (cd "$src" && rm -rf "$dir.tmp" && download_source "$pkg" \
     && dpkg-source -x "$(ls -t "$pkg"_*.dsc | head -1)" "$dir.tmp" && mv "$dir.tmp" "$dir")
}

toolchain=$cache/mingw-toolchain.cmake
cat >"$toolchain" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $prefix)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

cmake_lib() {   # cmake_lib NAME SOURCEDIR [cmake args...]: static, into the prefix, once
  local name=$1 dir=$2; shift 2
  [ -f "$cache/stamp-$name" ] && return 0
  rm -rf "$cache/build-$name"
  cmake -S "$dir" -B "$cache/build-$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  cmake --build "$cache/build-$name" -j "$jobs"
  cmake --install "$cache/build-$name"
  touch "$cache/stamp-$name"
}

# --- the libraries the decoder and the PNG writer link -----------------------------------------------------
unpack zlib zlib
unpack libpng1.6 libpng
unpack libjpeg-turbo libjpeg-turbo
unpack libdeflate libdeflate
# Debian's zlib source leaves out the Windows resource file the DLL needs: only the static library is built.
if [ ! -f "$cache/stamp-zlib" ]; then
  cmake -S "$src/zlib" -B "$cache/build-zlib" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
  cmake --build "$cache/build-zlib" -j "$jobs" --target zlibstatic
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$src/zlib/zlib.h" "$cache/build-zlib/zconf.h" "$prefix/include/"
  cp "$cache/build-zlib/libzlibstatic.a" "$prefix/lib/libz.a"
  touch "$cache/stamp-zlib"
fi
cmake_lib libpng "$src/libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DZLIB_ROOT="$prefix"
cmake_lib libjpeg-turbo "$src/libjpeg-turbo" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
  -DWITH_SIMD="$(command -v nasm >/dev/null && echo ON || echo OFF)"
# libdeflate 1.14 builds with its own Makefile; the project finds it through pkg-config.
if [ ! -f "$cache/stamp-libdeflate" ]; then
  make -C "$src/libdeflate" -j "$jobs" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar libdeflatestatic.lib
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig"
  cp "$src/libdeflate/libdeflate.h" "$prefix/include/"
  cp "$src/libdeflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
  printf '%s\n' "prefix=$prefix" 'Name: libdeflate' 'Description: fast DEFLATE' \
    "Version: $(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[^"]*"\(.*\)"/\1/p' "$src/libdeflate/libdeflate.h")" \
    'Libs: -L${prefix}/lib -ldeflate' 'Cflags: -I${prefix}/include' >"$prefix/lib/pkgconfig/libdeflate.pc"
  touch "$cache/stamp-libdeflate"
fi

# --- Qt: only the modules and plugins Vellumark uses, as DLLs -------------------------------------------------
# Debian's source leaves out the WinTab header the tablet support of the Windows plugin needs: no tablets.
# The Windows platform plugin of Qt 6.4 does not build without OpenGL: it stays on (loaded at run time).
host_cmake=$(dirname "$(dpkg -L qt6-base-dev | grep '/cmake/Qt6HostInfo$' | head -1)")
unpack qt6-base qtbase
if [ ! -f "$cache/stamp-qtbase" ]; then
  cmake -S "$src/qtbase" -B "$cache/build-qtbase" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix/qt" -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" -DQt6HostInfo_DIR="$host_cmake/Qt6HostInfo" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_icu=OFF -DFEATURE_fontconfig=OFF \
    -DFEATURE_tabletevent=OFF
  cmake --build "$cache/build-qtbase" -j "$jobs"
  cmake --install "$cache/build-qtbase"
  touch "$cache/stamp-qtbase"
fi

# TIFF, WebP and the other formats the Linux build reads through Debian's qt6-image-formats-plugins:
# the same plugins from Debian's qt6-imageformats source, with the copies of libtiff and libwebp it bundles.
unpack qt6-imageformats qtimageformats
if [ ! -f "$cache/stamp-qtimageformats" ]; then
  "$prefix/qt/bin/qt-cmake" -S "$src/qtimageformats" -B "$cache/build-qtimageformats" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix/qt" \
    -DFEATURE_system_tiff=OFF -DFEATURE_system_webp=OFF -DFEATURE_jasper=OFF -DFEATURE_mng=OFF
  cmake --build "$cache/build-qtimageformats" -j "$jobs"
  cmake --install "$cache/build-qtimageformats"
  touch "$cache/stamp-qtimageformats"
fi

# --- Vellumark itself: the program and the benchmark (no tests: they run on Linux and under Wine) ----------
build=build-windows
PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" "$prefix/qt/bin/qt-cmake" -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DVELLUMARK_TESTS=OFF -DVELLUMARK_BENCH=ON \
  -DPNG_PNG_INCLUDE_DIR="$prefix/include" -DPNG_LIBRARY="$prefix/lib/libpng16.a" \
  -DJPEG_INCLUDE_DIR="$prefix/include" -DJPEG_LIBRARY="$prefix/lib/libjpeg.a" \
  -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a"
PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" cmake --build "$build" -j "$jobs" --target Vellumark vellumark-bench kill-target

# --- the package ------------------------------------------------------------------------------------------
version=$(sed -n 's/^project(Vellumark VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=Vellumark-$version-windows-x64
stage=$build/$name
rm -rf "$stage"
mkdir -p "$stage/platforms" "$stage/imageformats" "$stage/styles" "$stage/licenses"
cp "$build/Vellumark.exe" "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets; do cp "$prefix/qt/bin/$dll.dll" "$stage/"; done
# qwindows for the window; qoffscreen for --generate, which needs no display on any system.
cp "$prefix/qt/plugins/platforms/qwindows.dll" "$prefix/qt/plugins/platforms/qoffscreen.dll" "$stage/platforms/"
cp "$prefix/qt/plugins/styles/"*.dll "$stage/styles/" 2>/dev/null || true
for plugin in "$prefix/qt/plugins/imageformats/"*.dll; do cp "$plugin" "$stage/imageformats/"; done
# The MinGW runtime that the exe and the Qt DLLs share (one C++ runtime for all, so exceptions and
# allocations cross between them safely); winpthread comes with the posix thread model.
mingw_gcc=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
for dll in "$mingw_gcc/libstdc++-6.dll" "$mingw_gcc/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll; do
  cp "$dll" "$stage/"
done
# Licence texts: Vellumark's notice, and Debian's copyright file of every source package something
# shipped was built from (Qt with the libraries it bundles, the decoder's libraries, the MinGW runtime).
cp packaging/windows/README.txt "$stage/README.txt"
cp "$src/qtbase/debian/copyright" "$stage/licenses/qt6-base.txt"
cp -r "$src/qtbase/LICENSES" "$stage/licenses/qt6-base-texts"
cp "$src/qtimageformats/debian/copyright" "$stage/licenses/qt6-imageformats.txt"
cp "$src/zlib/debian/copyright" "$stage/licenses/zlib.txt"
cp "$src/libpng/debian/copyright" "$stage/licenses/libpng.txt"
cp "$src/libjpeg-turbo/debian/copyright" "$stage/licenses/libjpeg-turbo.txt"
cp "$src/libdeflate/debian/copyright" "$stage/licenses/libdeflate.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-mingw-w64-runtime.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licenses/mingw-w64-winpthreads.txt"
# Symbols stay in the build folder; the package carries stripped copies.
find "$stage" \( -name '*.dll' -o -name '*.exe' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
mkdir -p dist
rm -f "dist/$name.zip"
(cd "$build" && zip -qr -X "$repo/dist/$name.zip" "$name")
echo "dist/$name.zip: $(stat -c %s "dist/$name.zip") bytes"
# The installer of the same files.
bash scripts/windows-msi.sh "$stage" "$version" "dist/$name.msi"
