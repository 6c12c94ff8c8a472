#!/usr/bin/env bash
# The ZARN benchmark: generates BNA files of 20, 100 and 200 MB and one of
# 600,000 five-point records (parcels), runs the parse floor, zarn-batch
# without and with the map and a window run on each, three times, and prints
# one table of medians, a table of every speed goal as a ratio measured in
# the same run with the goal beside it, the goals with their verdicts, the
# --jobs speed-up and zarn-batch --no-map --export in each format. See
# bench/README.md.
#
#   bench/run-bench.sh [BUILD_DIR] [--out FILE] [--sizes "20 100 200"]
#                      [--runs 3] [--seed 1] [--data DIR] [--no-jobs]
#                      [--export-sizes "100"] [--parcels 600000]
#                      [--wait-idle] [--clean]
#
# Builds nothing: BUILD_DIR (default: build/ in the source tree) must hold a
# Release build with the benchmarks (ZARN_BUILD_BENCH=ON). Needs
# /usr/bin/time (Debian package "time").
set -euo pipefail
export LC_ALL=C
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}"
export QT_QPA_PLATFORM=offscreen

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
out=""
sizes="20 100 200"
runs=3
seed=1
data="${ZARN_BENCH_DATA:-${TMPDIR:-/tmp}/zarn-bench}"
jobs=1
exportSizes="100"
parcels=600000
exportFormats="gpkg geojson shp fgb kml"
clean=0
waitIdle=0
busyRuns=0

usage() {
  sed -n '2,17p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
  exit 2
}

while [ $# -gt 0 ]; do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --sizes) sizes="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --data) data="$2"; shift 2 ;;
    --no-jobs) jobs=0; shift ;;
    --export-sizes) exportSizes="$2"; shift 2 ;;
    --parcels) parcels="$2"; shift 2 ;;
    --wait-idle) waitIdle=1; shift ;;
    --clean) clean=1; shift ;;
    -h|--help) usage ;;
    -*) echo "run-bench: unknown option $1" >&2; usage ;;
    *) build="$1"; shift ;;
  esac
done
build="$(cd "$build" && pwd)"

generate="$build/bench/bna-generate"
floor="$build/bench/bna-parse-floor"
window="$build/bench/bna-window-run"
batch="$build/shell/zarn-batch"
for exe in "$generate" "$floor" "$window" "$batch"; do
  if [ ! -x "$exe" ]; then
    echo "run-bench: $exe is missing; build first:" >&2
    echo "  cmake -S $root -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build $build" >&2
    exit 1
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "run-bench: /usr/bin/time is missing; install the Debian package \"time\"" >&2
  exit 1
fi
buildType="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)"
if [ "$buildType" != "Release" ]; then
  echo "run-bench: warning: $build is a '${buildType:-unknown}' build, not Release" >&2
fi

mkdir -p "$data" "$XDG_RUNTIME_DIR"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
started=$EPOCHREALTIME

# A generated file, made once per size and seed and kept in $data until the
# generator changes.
input() {
  local mb=$1 s=$2 name=${3:-gen}
  local dir="$data/$name-${mb}mb-s$s"
  local file="$dir/$name${mb}mb.bna"
  mkdir -p "$dir"
  if [ ! -f "$file" ] || [ "$generate" -nt "$file" ]; then
    "$generate" --size-mb "$mb" --seed "$s" "$file" 2>>"$work/generate.log"
  fi
  echo "$file"
}

# The file of many small polygons: N records of five points each (four
# corners and the first again), as census blocks and parcels come.
parcelsInput() {
  local n=$1 s=$2
  local dir="$data/parcels-$n-s$s"
  local file="$dir/parcels$n.bna"
  mkdir -p "$dir"
  if [ ! -f "$file" ] || [ "$generate" -nt "$file" ]; then
    "$generate" --records "$n" --points 5 --seed "$s" "$file" 2>>"$work/generate.log"
  fi
  echo "$file"
}

# With --wait-idle: waits up to 30 s for a second in which as many cores are
# idle as the next run uses ($cores: one, two for --jobs 2), so that other
# people's builds do not take them; counts the runs that started short of
# cores all the same.
cores=1
wait_idle() {
  [ "$waitIdle" -eq 1 ] || return 0
  local deadline=$((SECONDS + 30)) idle
  local need=$((cores * 90 / $(nproc)))
  while [ $SECONDS -lt $deadline ]; do
    idle=$(vmstat 1 2 | tail -n 1 | awk '{ print $15 }')
    [ "$idle" -ge "$need" ] && return 0
  done
  busyRuns=$((busyRuns + 1))
}

# measure KEY SINK COMMAND...: one run with its standard output to SINK;
# appends "wall_s peak_rss_kb cpu_s" to $work/KEY.
measure() {
  local key=$1 sink=$2
  shift 2
  local t0 t1 rss cpu
  wait_idle
  t0=$EPOCHREALTIME
  if ! /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >"$sink" 2>"$work/stderr"; then
    echo "run-bench: failed: $*" >&2
    tail -n 5 "$work/stderr" >&2
    exit 1
  fi
  t1=$EPOCHREALTIME
  rss=$(tail -n 1 "$work/time" | awk '{ print $2 }')
  cpu=$(tail -n 1 "$work/time" | awk '{ print $3 + $4 }')
  awk -v a="$t0" -v b="$t1" -v r="$rss" -v c="$cpu" 'BEGIN { printf "%.4f %d %.2f\n", b - a, r, c }' >>"$work/$key"
}

# median KEY COLUMN: the median of one column of $work/KEY.
median() {
  awk -v c="$2" '{ print $c }' "$work/$1" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# largest KEY COLUMN
largest() {
  awk -v c="$2" 'NR == 1 || $c > m { m = $c } END { print m }' "$work/$1"
}

# field KEY NAME: a name=value field of the last run's output.
field() {
  tr ' ' '\n' <"$work/$1.out" | sed -n "s/^$2=//p" | tail -n 1
}

calc() { awk "BEGIN { printf \"$1\", $2 }"; }

programs=(floor nomap geodesic map window)
declare -A label=(
  [floor]="parse floor"
  [nomap]="zarn-batch --no-map"
  [geodesic]="--no-map --geodesic"
  [map]="zarn-batch (map)"
  [window]="window run"
)

report="$work/report"
{
  echo "ZARN benchmark  $(date -u '+%Y-%m-%d %H:%M UTC')  $(nproc) cores  build: $build"
  echo "commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$root" diff --quiet HEAD 2>/dev/null || echo ' (with local changes)')"
  echo "medians of $runs runs; 1 MB = 10^6 bytes; MB/s = file MB / median wall; x floor = median wall / median wall of the parse floor"
  echo "load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
} >"$report"

# A window run on a tiny file: the fixed memory of the window, against which
# the memory per progress line is estimated.
tiny="$(input 0.01 "$seed" tiny)"
cat "$tiny" >/dev/null
for ((r = 1; r <= runs; r++)); do
  measure tinywindow /dev/null "$window" "$tiny"
done

declare -A mbOf
for mb in $sizes; do
  file="$(input "$mb" "$seed")"
  mbOf[$mb]=$(stat -c %s "$file" | awk '{ printf "%.3f", $1 / 1e6 }')
  cat "$file" >/dev/null  # from the page cache, like every later run
  for ((r = 1; r <= runs; r++)); do
    measure "floor$mb" /dev/null "$floor" "$file"
    measure "nomap$mb" /dev/null "$batch" --no-map "$file"
    measure "geodesic$mb" /dev/null "$batch" --no-map --geodesic "$file"
    measure "map$mb" /dev/null "$batch" "$file"
    measure "window$mb" "$work/window$mb.out" "$window" "$file"
  done
done

# The parcels: the batch runs quiet (-q), as on a server, besides the map run
# that writes its progress lines, which the window run is measured against.
if [ "$parcels" -gt 0 ]; then
  pfile="$(parcelsInput "$parcels" "$seed")"
  pMb=$(stat -c %s "$pfile" | awk '{ printf "%.3f", $1 / 1e6 }')
  cat "$pfile" >/dev/null
  for ((r = 1; r <= runs; r++)); do
    measure floorP /dev/null "$floor" "$pfile"
    measure nomapP /dev/null "$batch" --no-map -q "$pfile"
    measure geodesicP /dev/null "$batch" --no-map -q --geodesic "$pfile"
    measure mapP /dev/null "$batch" -q "$pfile"
    measure maplinesP /dev/null "$batch" "$pfile"
    measure windowP "$work/windowP.out" "$window" "$pfile"
  done
fi
declare -A labelP=(
  [floorP]="parse floor"
  [nomapP]="--no-map -q"
  [geodesicP]="geodesic -q --no-map"
  [mapP]="zarn-batch -q (map)"
  [maplinesP]="zarn-batch (map)"
  [windowP]="window run"
)

{
  echo
  printf '%8s  %-20s %9s %8s %8s %12s %8s\n' "size MB" "program" "wall s" "MB/s" "x floor" "peak RSS MB" "cpu s"
  for mb in $sizes; do
    f=$(median "floor$mb" 1)
    for p in "${programs[@]}"; do
      w=$(median "$p$mb" 1)
      rss=$(largest "$p$mb" 2)
      printf '%8s  %-20s %9.3f %8.1f %8.2f %12.1f %8.2f\n' "${mbOf[$mb]}" "${label[$p]}" "$w" \
        "$(calc %.3f "${mbOf[$mb]} / $w")" "$(calc %.4f "$w / $f")" "$(calc %.1f "$rss / 1024")" "$(median "$p$mb" 3)"
    done
  done
  if [ "$parcels" -gt 0 ]; then
    echo "  parcels: $parcels records of five points, $pMb MB:"
    f=$(median floorP 1)
    for p in floorP nomapP geodesicP mapP maplinesP windowP; do
      w=$(median "$p" 1)
      printf '%8s  %-20s %9.3f %8.1f %8.2f %12.1f %8.2f\n' "$pMb" "${labelP[$p]}" "$w" \
        "$(calc %.3f "$pMb / $w")" "$(calc %.4f "$w / $f")" "$(calc %.1f "$(largest "$p" 2) / 1024")" "$(median "$p" 3)"
    done
  fi

  echo
  echo "Window run / zarn-batch (map), and the progress list:"
  printf '%8s  %9s %11s %14s %13s %13s %15s %15s\n' "size MB" "window/map" "lines" "text MB" "list B/line" "RSS B/line" "list gap ms" "indicator gap ms"
  tinyRss=$(median tinywindow 2)
  for mb in $sizes; do
    lines=$(field "window$mb" progress_lines)
    text=$(field "window$mb" progress_text_bytes)
    over=$(field "window$mb" progress_overhead_bytes)
    rss=$(median "window$mb" 2)
    printf '%8s  %9.2f %11d %14.1f %13.1f %13.1f %15s %15s\n' "${mbOf[$mb]}" \
      "$(calc %.4f "$(median "window$mb" 1) / $(median "map$mb" 1)")" "$lines" \
      "$(calc %.1f "$text / 1e6")" "$(calc %.2f "$over / $lines")" \
      "$(calc %.2f "(($rss - $tinyRss) * 1024 - $text) / $lines")" \
      "$(field "window$mb" list_max_gap_ms)" "$(field "window$mb" indicator_max_gap_ms)"
  done
  if [ "$parcels" -gt 0 ]; then
    lines=$(field windowP progress_lines)
    text=$(field windowP progress_text_bytes)
    over=$(field windowP progress_overhead_bytes)
    printf '%8s  %9.2f %11d %14.1f %13.1f %13.1f %15s %15s  (parcels)\n' "$pMb" \
      "$(calc %.4f "$(median windowP 1) / $(median maplinesP 1)")" "$lines" \
      "$(calc %.1f "$text / 1e6")" "$(calc %.2f "$over / $lines")" \
      "$(calc %.2f "(($(median windowP 2) - $tinyRss) * 1024 - $text) / $lines")" \
      "$(field windowP list_max_gap_ms)" "$(field windowP indicator_max_gap_ms)"
  fi
  echo "  list B/line: what the progress list model holds beyond the text, per line (LineListModel::OverheadBytes)"
  echo "  RSS B/line:  (peak RSS of the window run - that of a run on a 10 kB file - the text) / lines: the whole"
  echo "               process's growth per line beyond the text, the view's per-row layout included"
  echo "  gap ms:      the longest stretch of the last window run without a paint of the progress list / indicator"
} >>"$report"

if [ "$jobs" -eq 1 ]; then
  files=()
  for k in 1 2 3 4; do
    files+=("$(input 20 $((seed + k)) jobs)")
  done
  cat "${files[@]}" >/dev/null
  for ((r = 1; r <= runs; r++)); do
    measure jobs1map /dev/null "$batch" --jobs 1 "${files[@]}"
    cores=2
    measure jobs2map /dev/null "$batch" --jobs 2 "${files[@]}"
    cores=1
    measure jobs1nomap /dev/null "$batch" --jobs 1 --no-map "${files[@]}"
    cores=2
    measure jobs2nomap /dev/null "$batch" --jobs 2 --no-map "${files[@]}"
    cores=1
  done
  {
    echo
    echo "zarn-batch --jobs on 4 files of 20 MB ($(nproc) cores):"
    printf '  %-10s %12s %12s %10s %12s %12s\n' "" "--jobs 1 s" "--jobs 2 s" "speed-up" "cores used" "peak RSS MB"
    for m in map nomap; do
      j1=$(median "jobs1$m" 1)
      j2=$(median "jobs2$m" 1)
      printf '  %-10s %12.3f %12.3f %10.2f %12.2f %12.1f\n' "$([ $m = map ] && echo "map" || echo "--no-map")" \
        "$j1" "$j2" "$(calc %.2f "$j1 / $j2")" "$(calc %.2f "$(median "jobs2$m" 3) / $j2")" \
        "$(calc %.1f "$(largest "jobs2$m" 2) / 1024")"
    done
    echo "  cores used: cpu s / wall s of --jobs 2; below 2 when other programs hold a core ($(cut -d ' ' -f 1-3 /proc/loadavg))"
  } >>"$report"
fi

# zarn-batch --no-map --export FORMAT on the sizes of --export-sizes that
# were measured above (empty without GDAL in the build).
exportMbs=()
if "$batch" --help | grep -q -- '--export FORMAT  also'; then
  for mb in $exportSizes; do
    case " $sizes " in *" $mb "*) exportMbs+=("$mb") ;; esac
  done
fi
for mb in "${exportMbs[@]}"; do
  file="$(input "$mb" "$seed")"
  base="${file%.bna}"
  for ((r = 1; r <= runs; r++)); do
    for fmt in $exportFormats; do
      measure "export$fmt$mb" /dev/null "$batch" --no-map --export "$fmt" "$file"
    done
  done
  for fmt in $exportFormats; do
    case $fmt in
      gpkg) outputs=("$base.gpkg") ;;
      shp) outputs=("$base"{Polygons,Centroids,Lines,Points}.{shp,shx,dbf,prj,cpg}) ;;
      *) outputs=("$base"{Polygons,Centroids,Lines,Points}."$fmt") ;;
    esac
    { du -cb "${outputs[@]}" 2>/dev/null || true; } | tail -n 1 | awk '{ printf "%.1f\n", $1 / 1e6 }' >"$work/export$fmt$mb.size"
  done
done
if [ ${#exportMbs[@]} -gt 0 ]; then
  {
    echo
    echo "zarn-batch --no-map --export FORMAT (x no-map = wall s / wall s of zarn-batch --no-map):"
    printf '%8s  %-10s %9s %9s %12s %8s %10s\n' "size MB" "format" "wall s" "x no-map" "peak RSS MB" "cpu s" "output MB"
    for mb in "${exportMbs[@]}"; do
      n=$(median "nomap$mb" 1)
      for fmt in $exportFormats; do
        w=$(median "export$fmt$mb" 1)
        printf '%8s  %-10s %9.3f %9.2f %12.1f %8.2f %10s\n' "${mbOf[$mb]}" "$fmt" "$w" "$(calc %.4f "$w / $n")" \
          "$(calc %.1f "$(largest "export$fmt$mb" 2) / 1024")" "$(median "export$fmt$mb" 3)" "$(cat "$work/export$fmt$mb.size")"
      done
    done
  } >>"$report"
fi

# The speed goals as one table of ratios: each run against the one it is
# measured by, from this run's medians, with the goal beside it.
exportGoal() {
  case $1 in
    geojson | kml) echo 5 ;;
    gpkg | fgb) echo 3 ;;
    *) echo "" ;;
  esac
}
{
  echo
  echo "Ratios (medians of this run; goal: the ratio must not exceed it):"
  printf '%8s  %-28s %9s %-22s %8s %6s\n' "size MB" "run" "wall s" "measured against" "ratio" "goal"
  for mb in $sizes; do
    f=$(median "floor$mb" 1)
    n=$(median "nomap$mb" 1)
    row() {
      printf '%8s  %-28s %9.3f %-22s %8.2f %6s\n' "${mbOf[$mb]}" "$1" "$2" "$3" "$(calc %.4f "$2 / $4")" "$5"
    }
    row "parse floor" "$f" "floor" "$f" "1"
    row "zarn-batch --no-map" "$n" "floor" "$f" "1.2"
    row "zarn-batch (map)" "$(median "map$mb" 1)" "floor" "$f" "1.5"
    row "--no-map --geodesic" "$(median "geodesic$mb" 1)" "--no-map" "$n" "1.5"
    case " ${exportMbs[*]} " in *" $mb "*)
      for fmt in $exportFormats; do
        row "--no-map --export $fmt" "$(median "export$fmt$mb" 1)" "--no-map" "$n" "$(exportGoal "$fmt" | sed 's/^$/-/')"
      done
      case " $exportFormats " in *" geojson "*)
        printf '%8s  %-28s %9s %-22s %8.2f %6s\n' "${mbOf[$mb]}" "GeoJSON output size" \
          "$(cat "$work/exportgeojson$mb.size")MB" "the input's size" \
          "$(calc %.4f "$(cat "$work/exportgeojson$mb.size") / ${mbOf[$mb]}")" "1.15" ;;
      esac ;;
    esac
  done
  if [ "$parcels" -gt 0 ]; then
    f=$(median floorP 1)
    n=$(median nomapP 1)
    prow() {
      printf '%8s  %-28s %9.3f %-22s %8.2f %6s\n' "$pMb" "$1" "$2" "$3" "$(calc %.4f "$2 / $4")" "$5"
    }
    prow "parcels parse floor" "$f" "floor" "$f" "1"
    prow "parcels --no-map -q" "$n" "floor" "$f" "2"
    prow "parcels -q (map)" "$(median mapP 1)" "floor" "$f" "3"
    prow "parcels window run" "$(median windowP 1)" "zarn-batch (map)" "$(median maplinesP 1)" "1.2"
    prow "parcels --geodesic -q" "$(median geodesicP 1)" "--no-map -q" "$n" "1.5"
  fi
} >>"$report"

# The goals, judged on this run's medians.
verdict() { awk "BEGIN { print ($1) ? \"met   \" : \"MISSED\" }"; }
{
  echo
  echo "Goals:"
  for mb in $sizes; do
    f=$(median "floor$mb" 1)
    n=$(median "nomap$mb" 1)
    m=$(median "map$mb" 1)
    w=$(median "window$mb" 1)
    printf '  %s  zarn-batch --no-map <= 1.2 x floor at %s MB: %.2f x (%.0f MB/s)\n' \
      "$(verdict "$n / $f <= 1.2")" "${mbOf[$mb]}" "$(calc %.4f "$n / $f")" "$(calc %.1f "${mbOf[$mb]} / $n")"
    printf '  %s  zarn-batch with the map <= 1.5 x floor at %s MB: %.2f x\n' \
      "$(verdict "$m / $f <= 1.5")" "${mbOf[$mb]}" "$(calc %.4f "$m / $f")"
    printf '  %s  window run <= 1.5 x batch run with the map at %s MB: %.2f x\n' \
      "$(verdict "$w / $m <= 1.5")" "${mbOf[$mb]}" "$(calc %.4f "$w / $m")"
    g=$(median "geodesic$mb" 1)
    printf '  %s  ellipsoid figures (--no-map --geodesic) <= 1.5 x --no-map at %s MB: %.2f x\n' \
      "$(verdict "$g / $n <= 1.5")" "${mbOf[$mb]}" "$(calc %.4f "$g / $n")"
  done
  if [ "$parcels" -gt 0 ]; then
    f=$(median floorP 1)
    n=$(median nomapP 1)
    m=$(median mapP 1)
    printf '  %s  parcels: zarn-batch --no-map -q <= 2 x floor: %.2f x\n' "$(verdict "$n / $f <= 2")" "$(calc %.4f "$n / $f")"
    printf '  %s  parcels: zarn-batch -q with the map <= 3 x floor: %.2f x\n' "$(verdict "$m / $f <= 3")" "$(calc %.4f "$m / $f")"
    w=$(median windowP 1)
    l=$(median maplinesP 1)
    printf '  %s  parcels: window run <= 1.2 x batch run with the map: %.2f x\n' "$(verdict "$w / $l <= 1.2")" "$(calc %.4f "$w / $l")"
    g=$(median geodesicP 1)
    printf '  %s  parcels: --no-map -q --geodesic <= 1.5 x --no-map -q: %.2f x\n' "$(verdict "$g / $n <= 1.5")" "$(calc %.4f "$g / $n")"
    text=$(field windowP progress_text_bytes)
    over=$(field windowP progress_overhead_bytes)
    printf '  %s  parcels: progress list <= 1.5 x its text: %.2f x (model), %.2f x (window RSS growth over a 10 kB run)\n' \
      "$(verdict "($text + $over) / $text <= 1.5")" "$(calc %.4f "($text + $over) / $text")" \
      "$(calc %.4f "($(median windowP 2) - $tinyRss) * 1024 / $text")"
  fi
  small=$(printf '%s\n' $sizes | sort -g | head -n 1)
  large=$(printf '%s\n' $sizes | sort -g | tail -n 1)
  if [ "$small" != "$large" ]; then
    for p in "${programs[@]}"; do
      ps=$(calc %.6f "$(median "$p$small" 1) / ${mbOf[$small]}")
      pl=$(calc %.6f "$(median "$p$large" 1) / ${mbOf[$large]}")
      printf '  %s  linear: s/MB of %s at %s MB within 15 %% of that at %s MB: %+.1f %%\n' \
        "$(verdict "$pl / $ps <= 1.15 && $pl / $ps >= 0.85")" "${label[$p]}" "$large" "$small" \
        "$(calc %.4f "($pl / $ps - 1) * 100")"
    done
    for p in nomap map; do
      rs=$(largest "$p$small" 2)
      rl=$(largest "$p$large" 2)
      printf '  %s  peak RSS of %s independent of size (within 5 MB): %.1f MB at %s MB, %.1f MB at %s MB\n' \
        "$(verdict "$rl - $rs <= 5 * 1024")" "${label[$p]}" "$(calc %.4f "$rs / 1024")" "$small" \
        "$(calc %.4f "$rl / 1024")" "$large"
    done
  fi
  for mb in $sizes; do
    lines=$(field "window$mb" progress_lines)
    over=$(field "window$mb" progress_overhead_bytes)
    printf '  %s  progress list <= 48 B per line beyond the text at %s MB: %.1f B (model), %.1f B (RSS estimate)\n' \
      "$(verdict "$over / $lines <= 48")" "${mbOf[$mb]}" "$(calc %.4f "$over / $lines")" \
      "$(calc %.4f "(($(median "window$mb" 2) - $tinyRss) * 1024 - $(field "window$mb" progress_text_bytes)) / $lines")"
  done
  for mb in "${exportMbs[@]}"; do
    n=$(median "nomap$mb" 1)
    for fmt in $exportFormats; do
      goal=$(exportGoal "$fmt")
      [ -n "$goal" ] || continue
      w=$(median "export$fmt$mb" 1)
      printf '  %s  --export %s <= %s x zarn-batch --no-map at %s MB: %.2f x\n' \
        "$(verdict "$w / $n <= $goal")" "$fmt" "$goal" "${mbOf[$mb]}" "$(calc %.4f "$w / $n")"
    done
    case " $exportFormats " in *" geojson "*)
      printf '  %s  GeoJSON output <= 1.15 x the input at %s MB: %.2f x\n' \
        "$(verdict "$(cat "$work/exportgeojson$mb.size") / ${mbOf[$mb]} <= 1.15")" "${mbOf[$mb]}" \
        "$(calc %.4f "$(cat "$work/exportgeojson$mb.size") / ${mbOf[$mb]}")" ;;
    esac
  done
  if [ ${#exportMbs[@]} -gt 1 ]; then
    es=$(printf '%s\n' "${exportMbs[@]}" | sort -g | head -n 1)
    el=$(printf '%s\n' "${exportMbs[@]}" | sort -g | tail -n 1)
    for fmt in $exportFormats; do
      rs=$(largest "export$fmt$es" 2)
      rl=$(largest "export$fmt$el" 2)
      # Within 10 MB: the rows in flight and the buffers the export keeps
      # fill up to their bounds over the first tens of megabytes.
      printf '  %s  peak RSS of --export %s independent of size (within 10 MB): %.1f MB at %s MB, %.1f MB at %s MB\n' \
        "$(verdict "$rl - $rs <= 10 * 1024")" "$fmt" "$(calc %.4f "$rs / 1024")" "$es" "$(calc %.4f "$rl / 1024")" "$el"
    done
  fi
  printf '  %s  window run on the largest file under 1 GB: %.1f MB\n' \
    "$(verdict "$(largest "window$large" 2) < 1024 * 1024")" "$(calc %.4f "$(largest "window$large" 2) / 1024")"
  for mb in $sizes; do
    gl=$(field "window$mb" list_max_gap_ms)
    gi=$(field "window$mb" indicator_max_gap_ms)
    printf '  %s  list and indicator repainted at least every 250 ms at %s MB: longest gaps %s / %s ms\n' \
      "$(verdict "$gl <= 250 && $gi <= 250")" "${mbOf[$mb]}" "$gl" "$gi"
  done
  echo
  printf 'benchmark time: %.0f s; load average at the end: %s\n' "$(calc %.1f "$EPOCHREALTIME - $started")" \
    "$(cut -d ' ' -f 1-3 /proc/loadavg)"
  if [ "$waitIdle" -eq 1 ]; then
    echo "runs started without the cores they use idle (after 30 s of waiting): $busyRuns"
  fi
} >>"$report"

cat "$report"
if [ -n "$out" ]; then
  cp "$report" "$out"
fi
if [ "$clean" -eq 1 ]; then
  rm -rf "$data"
fi
