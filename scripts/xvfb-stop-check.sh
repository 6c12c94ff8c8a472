#!/usr/bin/env bash
# Stops a long run of the window under a virtual X display as a person would:
# analyses a generated file of about 100 MB once with zarn-batch (the earlier
# results), starts a run on it in the window, presses Esc while it reads, and
# checks that the run ends within half a second (its temporary files gone),
# that the earlier result files are byte for byte as they were, and that no
# temporary file is left; takes a screenshot of the stopped run.
# With --while-writing, the run (and the earlier one) also writes a
# GeoPackage, and Esc comes while the status bar says "Writing GeoPackage…"
# (the run's own threads have ended, the main thread completes the
# GeoPackage): the run must end within 2 s, the earlier GeoPackage and map
# left as they were.
#   scripts/xvfb-stop-check.sh [--while-writing] [SCREENSHOT.png]
# Needs xvfb, xdotool and imagemagick; run scripts/build.sh first (with the
# benchmarks, for bna-generate).
set -euo pipefail
cd "$(dirname "$0")/.."
writing=
if [ "${1:-}" = --while-writing ]; then
  writing=1
  shift
fi
shot=$(realpath -m "${1:-zarn-stopped-window.png}")
if [ -z "${ZARN_IN_XVFB:-}" ]; then
  ZARN_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" ${writing:+--while-writing} "$shot"
fi

work=$(mktemp -d)
build/bench/bna-generate --size-mb 100 --seed 7 "$work/long.bna" >/dev/null
results=(longCentroid.bna longArea.csv longMap.bmp)
if [ -n "$writing" ]; then
  build/shell/zarn-batch --export gpkg "$work/long.bna" >/dev/null || true  # (it warns of a polygon too large)
  results+=(long.gpkg)
else
  build/shell/zarn-batch "$work/long.bna" >/dev/null
fi
(cd "$work" && sha256sum "${results[@]}") >"$work/before.sha256"

build/shell/zarn &
app=$!
trap 'kill $app 2>/dev/null || true; rm -rf "$work"' EXIT

. scripts/xvfb-window.sh

# The run's files under way: named temporaries, and on Linux the unnamed
# ones it holds open in the folder.
temporaries() {
  { find "$work" -name '*.zarn-[0-9]*'; ls -l "/proc/$app/fd" 2>/dev/null | grep -F "$work/#"; } | wc -l
}
# The program's own threads (the main one, the reading thread, the export's
# writing thread, the drawing's second thread), not Qt's.
own_threads() { grep -lx zarn /proc/$app/task/*/comm 2>/dev/null | wc -l; }

main=$(wait_for_window "ZARN, a Center of Gravity programme")
sleep 0.5
if [ -n "$writing" ]; then
  xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
  sleep 0.3
  xdotool key alt+s
  sleep 0.5
  xdotool key x     # Export…: GeoPackage, the first tick
  sleep 0.8
  xdotool key space Return
  sleep 0.5
fi
choose_input "$main" "$work/long.bna"
for _ in $(seq 1 100); do
  [ "$(temporaries)" -gt 0 ] && break
  sleep 0.05
done
[ "$(temporaries)" -gt 0 ] || { echo "the run did not start" >&2; exit 1; }
if [ -n "$writing" ]; then
  # The reading and the export's writing thread have ended: the GeoPackage
  # is being completed.
  for _ in $(seq 1 1000); do
    [ "$(own_threads)" -le 1 ] && break
    sleep 0.01
  done
  [ "$(own_threads)" -le 1 ] || { echo "the run never came to writing the GeoPackage" >&2; exit 1; }
else
  sleep 0.2
fi
[ "$(temporaries)" -gt 0 ] || { echo "the run ended before Esc; use a larger file" >&2; exit 1; }

xdotool key Escape
pressed=$EPOCHREALTIME
if [ -n "$writing" ]; then
  import -window root "${shot%.png}-stopping.png"
fi
while [ "$(temporaries)" -gt 0 ]; do
  sleep 0.01
done
took=$(echo "$EPOCHREALTIME - $pressed" | bc)
sleep 1
import -window root "$shot"

(cd "$work" && sha256sum --quiet -c before.sha256) || { echo "a stopped run changed the earlier results" >&2; exit 1; }
limit=0.5
[ -n "$writing" ] && limit=2
if [ "$(echo "$took > $limit" | bc)" -eq 1 ]; then
  echo "the run took ${took} s to stop after Esc" >&2
  exit 1
fi
echo "Esc stopped the run in ${took} s; the earlier results ($(echo "${results[@]}")) are as they were; screenshot: $shot"
