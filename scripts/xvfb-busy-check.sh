#!/usr/bin/env bash
# Uses the window under a virtual X display while a long run holds it: starts
# a run on a generated file of about 300 MB, clicks "Select input bna" and
# presses Space during the run, and checks that once the run is over no
# second run starts (no open-file dialog, the summary list kept); takes a
# screenshot at the end.
#   scripts/xvfb-busy-check.sh [SCREENSHOT.png]
# Needs xvfb, xdotool and imagemagick; run scripts/build.sh first (with the
# benchmarks, for bna-generate).
set -euo pipefail
cd "$(dirname "$0")/.."
shot=$(realpath -m "${1:-zarn-busy-window.png}")
if [ -z "${ZARN_IN_XVFB:-}" ]; then
  ZARN_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$shot"
fi

work=$(mktemp -d)
build/bench/bna-generate --size-mb 300 --seed 3 "$work/long.bna" >/dev/null
build/shell/zarn &
app=$!
trap 'kill $app 2>/dev/null || true; rm -rf "$work"' EXIT

. scripts/xvfb-window.sh

main=$(wait_for_window "ZARN, a Center of Gravity programme")
sleep 0.5
choose_input "$main" "$work/long.bna"

# During the run: a click on the button and Space on it.
sleep 0.5
[ ! -f "$work/longMap.bmp" ] || { echo "the run ended before the clicks; use a larger file" >&2; exit 1; }
xdotool mousemove --window "$main" 190 52 click 1
xdotool key space
for _ in $(seq 1 600); do
  [ -f "$work/longMap.bmp" ] && break
  sleep 0.1
done
sleep 2
import -window root "$shot"
if xdotool search --onlyvisible --name "Open bna file." >/dev/null 2>&1; then
  echo "input given during the run started another run" >&2
  exit 1
fi
echo "Input during the run was dropped; screenshot: $shot"
