#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZARN. Without a display (a
# server, CI) it says so and runs zarn-batch on the bundled example instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/shell/zarn
fi
example="$PWD/examples/islands.bna"
echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running zarn-batch on $example instead."
build/shell/zarn-batch "$example"
echo "The result files are in $(dirname "$example")/: islandsCentroid.bna, islandsArea.csv, islandsMap.bmp"
