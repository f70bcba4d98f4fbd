#!/usr/bin/env bash
# Installs what Vellumark needs to build, run and test on Debian 12 (apt-get, as root or through sudo).
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-image-formats-plugins libgl-dev
  libpng-dev zlib1g-dev libgtest-dev
)
as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}" \
    || { "${as_root[@]}" apt-get update && "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; }
fi
