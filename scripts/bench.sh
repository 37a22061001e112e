#!/usr/bin/env bash
# Builds the test tree and runs the benchmarks (CTest label "bench"), printing their figures.
#   bench.sh            every benchmark, one after the other (about 15 minutes)
#   bench.sh REGEX      only those whose name matches, e.g. bench.sh 'repair|startup'
#   bench.sh link       the repair on a player's line (link_bench: RTT 20-200 ms, about 5 minutes)
# Then the load benchmark of the caching edge (edge_bench: host Python and nginx, no Wine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PATCHER_BUILD_DIR:-$root/build}
bash "$root/scripts/setup.sh"
cmake -S "$root" -B "$build/win64" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
cmake --build "$build/win64"
ctest --test-dir "$build/win64" -L bench ${1:+-R "$1"} -V --timeout 3600
if [ -z "${1:-}" ] || [[ edge_bench =~ $1 ]]; then
  /usr/bin/python3 "$root/bench/edge/edge_bench.py" "$build/edge-bench"
fi
