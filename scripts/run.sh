#!/usr/bin/env bash
# Fresh machine: installs the dependencies, builds the program (only what the window needs: the tests,
# benchmarks and fuzz replays are built by scripts/test.sh) and starts Vellumark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target Vellumark
exec ./build/Vellumark "$@"
