#!/usr/bin/env bash
# Uses the window as a person would, under a virtual X display: clicks
# "Select input bna", types the input's full path into the open-file dialog,
# presses Enter, waits for the three result files and takes a screenshot.
#   scripts/xvfb-check.sh [INPUT.bna] [SCREENSHOT.png]
# Needs xvfb, xdotool and imagemagick; run scripts/build.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
input=$(realpath "${1:-examples/islands.bna}")
shot=$(realpath -m "${2:-zarn-window.png}")
if [ -z "${ZARN_IN_XVFB:-}" ]; then
  ZARN_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$input" "$shot"
fi

base="${input%????}"
rm -f "${base}Centroid.bna" "${base}Area.csv" "${base}Map.bmp"
build/shell/zarn &
app=$!
trap 'kill $app 2>/dev/null || true' EXIT

. scripts/xvfb-window.sh

main=$(wait_for_window "ZARN, a Center of Gravity programme")
sleep 0.5
choose_input "$main" "$input"

for _ in $(seq 1 300); do
  [ -f "${base}Map.bmp" ] && break
  sleep 0.1
done
sleep 1
import -window root "$shot"
for f in Centroid.bna Area.csv Map.bmp; do
  [ -s "${base}$f" ] || { echo "missing result: ${base}$f" >&2; exit 1; }
done
echo "Run complete; screenshot: $shot"
