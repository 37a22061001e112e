#!/usr/bin/env bash
# Installs what is missing, builds the patcher and every test, and runs them all
# under Wine. Safe to run again; build trees and Wine prefixes live under build/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PATCHER_BUILD_DIR:-$root/build}

bash "$root/scripts/setup.sh"

configure() {  # configure TREE TOOLCHAIN
  cmake -S "$root" -B "$build/$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$2.cmake" >/dev/null
  cmake --build "$build/$1"
}

# The shipped program: 32-bit Windows.
configure win32 i686
# The same sources for 64-bit Windows, under 64-bit Wine.
configure win64 x86_64
# The studio's manifest tool also builds natively (servers run Linux); its
# tests run there, with the nginx example of docs/deploying.md and the release command.
cmake -S "$root/tools/manifest" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native"

status=0
# Every tree runs its whole suite but the benchmarks, on either kind of kernel:
# where the kernel runs no 32-bit code, setup.sh has registered qemu for it and
# the 32-bit tree runs through the emulator, more slowly but in full.
# --no-tests=error: a filter that matches nothing fails rather than passes.
run_tree() {
  ctest --test-dir "$build/$1" --output-on-failure --no-tests=error --timeout "$2" -LE bench || status=1
}
run_tree native 1200
run_tree win64 900
run_tree win32 900
exit $status
