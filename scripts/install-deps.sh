#!/usr/bin/env bash
# Installs what Vellumark needs to build, run and test on Debian 12 (apt-get, as root or through sudo).
set -euo pipefail
exec bash "$(dirname "$0")/install-packages.sh" \
  g++ cmake ninja-build pkg-config \
  qt6-base-dev qt6-image-formats-plugins libgl-dev \
  libpng-dev libjpeg62-turbo-dev zlib1g-dev libdeflate-dev libgtest-dev
