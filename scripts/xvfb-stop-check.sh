#!/usr/bin/env bash
# Stops a long run of the window under a virtual X display as a person would:
# analyses a generated file of about 100 MB once with zarn-batch (the earlier
# results), starts a run on it in the window, presses Esc while it reads, and
# checks that the run ends within half a second (its temporary files gone),
# that the earlier result files are byte for byte as they were, and that no
# temporary file is left; takes a screenshot of the stopped run.
#   scripts/xvfb-stop-check.sh [SCREENSHOT.png]
# Needs xvfb, xdotool and imagemagick; run scripts/build.sh first (with the
# benchmarks, for bna-generate).
set -euo pipefail
cd "$(dirname "$0")/.."
shot=$(realpath -m "${1:-zarn-stopped-window.png}")
if [ -z "${ZARN_IN_XVFB:-}" ]; then
  ZARN_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$shot"
fi

work=$(mktemp -d)
build/bench/bna-generate --size-mb 100 --seed 7 "$work/long.bna" >/dev/null
build/shell/zarn-batch "$work/long.bna" >/dev/null
(cd "$work" && sha256sum longCentroid.bna longArea.csv longMap.bmp) >"$work/before.sha256"

build/shell/zarn &
app=$!
trap 'kill $app 2>/dev/null || true; rm -rf "$work"' EXIT

. scripts/xvfb-window.sh

# The run's files under way: named temporaries, and on Linux the unnamed
# ones it holds open in the folder.
temporaries() {
  { find "$work" -name '*.zarn-[0-9]*'; ls -l "/proc/$app/fd" 2>/dev/null | grep -F "$work/#"; } | wc -l
}

main=$(wait_for_window "ZARN, a Center of Gravity programme")
sleep 0.5
choose_input "$main" "$work/long.bna"
for _ in $(seq 1 100); do
  [ "$(temporaries)" -gt 0 ] && break
  sleep 0.05
done
[ "$(temporaries)" -gt 0 ] || { echo "the run did not start" >&2; exit 1; }
sleep 0.2
[ "$(temporaries)" -gt 0 ] || { echo "the run ended before Esc; use a larger file" >&2; exit 1; }

xdotool key Escape
pressed=$EPOCHREALTIME
while [ "$(temporaries)" -gt 0 ]; do
  sleep 0.01
done
took=$(echo "$EPOCHREALTIME - $pressed" | bc)
sleep 1
import -window root "$shot"

(cd "$work" && sha256sum --quiet -c before.sha256) || { echo "a stopped run changed the earlier results" >&2; exit 1; }
if [ "$(echo "$took > 0.5" | bc)" -eq 1 ]; then
  echo "the run took ${took} s to stop after Esc" >&2
  exit 1
fi
echo "Esc stopped the run in ${took} s; the earlier results are as they were; screenshot: $shot"
