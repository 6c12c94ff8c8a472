#!/usr/bin/env bash
# Takes the screenshots of what the window tells a person, under a virtual X
# display, into FOLDER (default zarn-shots/):
#   menus-alt-s.png          Alt+S has opened the Settings menu, mnemonics underlined
#   export-dialog.png        Settings > Export… with what the files are
#   failure-show-details.png a run on a file cut short: the cause behind "Show Details…"
#   export-failure-*.png     a GeoJSON file that cannot be written (its name taken by a
#                            folder) after a good run: the warning with the cause, and the
#                            summary at the line naming it
#   status-*.png             the status bar through a run with two exports (reading,
#                            writing each export, drawing), one shot every ~0.3 s
#   scripts/xvfb-shots.sh [FOLDER]
# Needs xvfb, xdotool and imagemagick; run scripts/build.sh first (with the
# benchmarks, for bna-generate).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-zarn-shots}")
if [ -z "${ZARN_IN_XVFB:-}" ]; then
  ZARN_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$out"
fi
mkdir -p "$out"
rm -f "$out"/status-*.png

work=$(mktemp -d)
head -c 300 examples/islands.bna >"$work/cut.bna"
cp examples/islands.bna "$work/far.bna"
mkdir "$work/farPolygons.geojson"
build/bench/bna-generate --size-mb 60 --seed 5 "$work/long.bna" >/dev/null
build/shell/zarn &
app=$!
trap 'kill $app 2>/dev/null || true; rm -rf "$work"' EXIT

. scripts/xvfb-window.sh

main=$(wait_for_window "ZARN, a Center of Gravity programme")
sleep 1
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
sleep 0.3
xdotool key alt+s
sleep 0.7
import -window root "$out/menus-alt-s.png"
# x is Export… in the open menu; in the dialog, GeoPackage and GeoJSON ticked.
xdotool key x
sleep 1
import -window root "$out/export-dialog.png"
xdotool key space Tab space Return
sleep 0.5

choose_input "$main" "$work/cut.bna"
sleep 2
xdotool key Tab space   # "Show Details…"
sleep 0.8
import -window root "$out/failure-show-details.png"
xdotool key Escape
sleep 0.5

choose_input "$main" "$work/far.bna"
sleep 2
xdotool key Tab space
sleep 0.8
import -window root "$out/export-failure-details.png"
xdotool key Escape
sleep 0.8
import -window root "$out/export-failure-summary.png"

choose_input "$main" "$work/long.bna"
for i in $(seq -w 1 400); do
  import -window root "$out/status-$i.png"
  [ -f "$work/longMap.bmp" ] && break
done
echo "Screenshots in $out"
