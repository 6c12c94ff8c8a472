#!/usr/bin/env bash
# Screenshots of the window as it fits its screen and opens files, under
# virtual X displays, into FOLDER (default zarn-window-shots/):
#   islands-argument.png  `zarn examples/islands.bna` after its run (1280 x 800)
#   about.png             the About window over the main window
#   export-warning.png    a GeoPackage that cannot be written (its name taken
#                         by a folder) after a good run: the warning box
#   export-warning-summary.png  the summary shown at its "not written" line
#   resized-1600x1000.png the window resized to 1600 x 1000 after a run
#   scale-1.5.png         the window at a scale factor of 1.5 on 1280 x 800,
#                         during a run (status bar and Stop in view)
#   scale-2.png, scale-2-map.png  the window at a scale factor of 2 on
#                         2560 x 1600, and its map at the screen's pixels
#   scripts/xvfb-window-shots.sh [FOLDER]
# Needs xvfb, xdotool and imagemagick; run scripts/build.sh first (with the
# benchmarks, for bna-generate).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-zarn-window-shots}")
mkdir -p "$out"

if [ -z "${ZARN_SHOTS:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp examples/islands.bna "$work/"
  build/bench/bna-generate --size-mb 60 --seed 5 "$work/long.bna" >/dev/null
  for shots in ${ZARN_SHOTS_ONLY:-plain scaled sharp}; do
    screen="1920x1200x24"
    [ "$shots" = scaled ] && screen="1280x800x24"
    [ "$shots" = sharp ] && screen="2560x1600x24"
    ZARN_SHOTS=$shots ZARN_WORK=$work xvfb-run -a -s "-screen 0 $screen" "$0" "$out"
  done
  echo "Screenshots in $out"
  exit 0
fi
work=$ZARN_WORK
. scripts/xvfb-window.sh
start() {
  build/shell/zarn "$@" 2>/dev/null &
  app=$!
  main=$(wait_for_window "ZARN, a Center of Gravity programme")
  sleep 0.5
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
}
finish() { kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; }

case $ZARN_SHOTS in
plain)
  start "$work/islands.bna"
  sleep 2
  import -window root "$out/islands-argument.png"
  xdotool key alt+a
  sleep 1
  import -window root "$out/about.png"
  xdotool key Escape
  sleep 0.5
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  sleep 0.5
  # Export…: GeoPackage ticked; its name taken by a folder.
  mkdir "$work/islands.gpkg"
  xdotool key alt+s
  sleep 0.5
  xdotool key x
  sleep 0.8
  xdotool key space Return
  sleep 0.5
  choose_input "$main" "$work/islands.bna"
  sleep 2
  xdotool key Tab space   # "Show Details…"
  sleep 0.8
  import -window root "$out/export-warning.png"
  xdotool key Escape
  sleep 0.8
  xdotool windowsize --sync "$main" 1600 1000 2>/dev/null || xdotool windowsize "$main" 1600 1000
  sleep 1
  import -window root "$out/resized-1600x1000.png"
  import -window "$main" "$out/export-warning-summary.png"
  finish
  ;;
scaled)
  QT_SCALE_FACTOR=1.5 start "$work/long.bna"
  for _ in $(seq 1 100); do
    [ -n "$(find "$work" -name '*.zarn-part')" ] && break
    sleep 0.05
  done
  sleep 0.4
  import -window root "$out/scale-1.5.png"
  finish
  ;;
sharp)
  QT_SCALE_FACTOR=2 start "$work/islands.bna"
  sleep 3
  import -window root "$out/scale-2.png"
  # The canvas: 545 logical pixels from (392, 8) of the client area, below
  # the menu bar (22 logical pixels at this style).
  eval "$(xdotool getwindowgeometry --shell "$main")"
  import -window root -crop "1090x1090+$((X + 784))+$((Y + 60))" +repage "$out/scale-2-map.png"
  finish
  ;;
esac
