#!/usr/bin/env bash
# Fresh machine: installs the dependencies, builds and starts Vellumark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec ./build/Vellumark
