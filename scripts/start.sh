#!/usr/bin/env bash
# Installs what running needs, builds the two programs and the export module
# (no tests, no benchmarks: scripts/test.sh builds those), and starts ZARN.
# Without a display (a server, CI) it says so and runs zarn-batch on the
# bundled example instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
targets=(zarn zarn-batch)
# The export module exists where GDAL was found.
if grep -q '^zarn_exportmodule:' <<<"$(cmake --build build --target help)"; then
  targets+=(zarn_exportmodule)
fi
cmake --build build --target "${targets[@]}"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/shell/zarn
fi
example="$PWD/examples/islands.bna"
echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running zarn-batch on $example instead."
build/shell/zarn-batch "$example"
echo "The result files are in $(dirname "$example")/: islandsCentroid.bna, islandsArea.csv, islandsMap.bmp"
