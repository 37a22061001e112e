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
# The same sources for 64-bit Windows: the test host's kernel may run no 32-bit
# code natively, so the full suite runs on this build under 64-bit Wine.
configure win64 x86_64
# The studio's manifest tool also builds natively (servers run Linux); its
# tests run there, with the nginx example of docs/deploying.md.
cmake -S "$root/tools/manifest" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/native"

status=0
ctest --test-dir "$build/native" --output-on-failure --timeout 300 || status=1
ctest --test-dir "$build/win64" --output-on-failure --timeout 900 -LE bench || status=1
# The shipped 32-bit build must run too: the unit tests of the shared helpers
# run on it (through emulation where the kernel needs it; slow, so only these).
ctest --test-dir "$build/win32" --output-on-failure --timeout 900 -R '^common_test$' || status=1
exit $status
