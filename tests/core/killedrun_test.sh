#!/usr/bin/env bash
# A zarn-batch killed (SIGKILL) in the middle of a 100 MB run leaves the
# results of the earlier run byte for byte, whatever it was writing: the
# classic files, the ellipsoid table and the exports (the map is saved after
# the reading and has tests of its own). The next run in the folder removes
# what the killed one left under its temporary names, whatever it writes.
#
#   killedrun_test.sh ZARN_BATCH BNA_GENERATE [EXPORTS]
#
# EXPORTS (0 or 1): whether this build has the GIS exports.
set -euo pipefail
batch=$1
generate=$2
exports=${3:-0}
scratch=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "killedrun_test: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen LC_ALL=C

options=(--geodesic)
if [ "$exports" = 1 ]; then
  options+=(--export gpkg --export shp --export geojson)
fi
cd "$scratch"

# The earlier run: complete, over a small file of the same name.
"$generate" --size-mb 1 --seed 2 big.bna >/dev/null
"$batch" "${options[@]}" big.bna >/dev/null || fail "the earlier run failed"
rm big.bna
sha256sum big* >earlier.sha256
[ "$(wc -l <earlier.sha256)" -ge 4 ] || fail "the earlier run wrote too few files"

"$generate" --size-mb 100 --seed 1 big.bna >/dev/null
"$batch" "${options[@]}" big.bna >progress.txt 2>&1 &
pid=$!
# Killed well inside the file: some ten thousand records are read.
for _ in $(seq 1 600); do
  [ "$(wc -l <progress.txt)" -ge 40000 ] && break
  kill -0 "$pid" 2>/dev/null || fail "the run ended before it could be killed"
  sleep 0.05
done
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
pid=
sha256sum --quiet -c earlier.sha256 || fail "the killed run changed the earlier results"
killed=$(ls | grep -E '\.zarn-[0-9]+-' || true)
# The exports' files have names while written (the result files none).
[ "$exports" = 0 ] || [ -n "$killed" ] || fail "the killed run left no temporary file to remove"

# The next run (the small file again, other outputs) leaves no temporary
# file behind.
rm big.bna
"$generate" --size-mb 1 --seed 2 big.bna >/dev/null
next=(--no-map)
if [ "$exports" = 1 ]; then
  next+=(--export fgb)
fi
"$batch" "${next[@]}" big.bna >/dev/null || fail "the run after the killed one failed"
# A GeoPackage holds the time it was made.
grep -v '\.gpkg$' earlier.sha256 | sha256sum --quiet -c - || fail "the same input gave other results"
rm progress.txt
left=$(ls | grep -E '\.zarn-[0-9]+-' || true)
[ -z "$left" ] || fail "temporary files left: $left"
echo "killedrun_test: passed"
