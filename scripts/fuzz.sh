#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one after the other for a given time.
#   scripts/fuzz.sh [seconds per target, default 600] [build folder, default build-fuzz] [target...]
# Inputs that crash, hang or break a round trip are saved as <build folder>/artifacts/<target>-*;
# the growing corpus stays in <build folder>/corpus/<target>. Not part of CI; the normal build replays
# the seeds of fuzz/seeds/<target> as tests (FuzzSeeds.*).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
build=${2:-build-fuzz}
shift $(( $# > 2 ? 2 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_settings_ini fuzz_rect_list fuzz_deflate fuzz_picture)

bash scripts/install-deps.sh
bash scripts/install-packages.sh clang-14 libclang-rt-14-dev

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DVELLUMARK_FUZZ=ON -DVELLUMARK_TESTS=OFF
cmake --build "$build" --target "${targets[@]}" -j2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus" "$build/artifacts"
  echo "== $target: $seconds s"
  "$build/$target" "$corpus" "fuzz/seeds/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" || status=1
done
exit $status
