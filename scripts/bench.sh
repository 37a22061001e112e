#!/usr/bin/env bash
# Builds the test tree and runs the benchmarks (CTest label "bench"), printing their figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PATCHER_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
cmake --build "$build/win64"
ctest --test-dir "$build/win64" -L bench -V --timeout 1800
