#!/usr/bin/env bash
# The Windows build under Wine: cross-builds zarn-batch.exe (without Qt, so
# without the map) and the core's tests (scripts/build-windows.sh), runs the
# tests, then zarn-batch.exe in a folder named with non-ASCII characters:
# its --help, the refusal of a result file that is the input itself, and the
# real sample files, whose result files and progress lines must match those
# of the Linux zarn-batch (build/, from scripts/build.sh) byte for byte.
# Wine gets a prefix of its own in build-windows/wine (created on the first
# run, about ten seconds) and needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(scripts/build-windows.sh | tail -n 1)
linux_batch=$PWD/build/shell/zarn-batch
samples=$(realpath ../shared/samples)

export WINEPREFIX=$PWD/build-windows/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine turns Unix file names into Windows ones through the locale's encoding.
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
wine=wine
if [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-windows: $*" >&2; exit 1; }

# Create or update the prefix first and wait for it, so that no run races
# with Wine's set-up.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w
fi

"$wine" build-windows/tests/core/core_tests.exe --gtest_brief=1

"$wine" "$exe" --help >"$scratch/help.txt"
grep -q "this build draws no map" "$scratch/help.txt" || fail "--help does not say that this build draws no map"

# Non-ASCII folder and file names, in the Windows spelling of the path.
folder="$scratch/Wine été 東京"
mkdir -p "$folder" "$scratch/linux"
winfolder="Z:$(tr / '\\' <<<"$folder")"
cp "$samples"/*.bna "$folder"/
cp "$samples"/*.bna "$scratch/linux"/
cp examples/islands.bna "$folder/Îles.bna"
cp examples/islands.bna "$scratch/linux/Îles.bna"

# A result name that is a hard link to the input is refused, the input kept.
cp examples/islands.bna "$scratch/same.bna"
ln "$scratch/same.bna" "$scratch/sameArea.csv"
status=0
"$wine" "$exe" "Z:$(tr / '\\' <<<"$scratch")\\same.bna" >"$scratch/same.out" 2>"$scratch/same.err" || status=$?
[ "$status" -eq 1 ] || fail "the same-file run exited with $status, not 1"
grep -q "is the input file itself" "$scratch/same.err" || fail "no same-file refusal: $(cat "$scratch/same.err")"
cmp -s examples/islands.bna "$scratch/same.bna" || fail "the same-file run changed its input"

# The samples: both runs go on past the broken files and exit 1.
names=()
for f in "$folder"/*.bna; do
  names+=("$(basename "$f")")
done
status=0
(cd "$scratch/linux" && "$linux_batch" --no-map --jobs 2 "${names[@]}" >"$scratch/linux.out" 2>/dev/null) || status=$?
wine_args=()
for n in "${names[@]}"; do
  wine_args+=("$winfolder\\$n")
done
wstatus=0
"$wine" "$exe" --jobs 2 "${wine_args[@]}" >"$scratch/wine.out" 2>/dev/null || wstatus=$?
[ "$status" -eq "$wstatus" ] || fail "exit status $wstatus under Wine, $status on Linux"

# The progress lines, less those that name the folder and Windows' CR LF.
normalise() { tr -d '\r' <"$1" | grep -v -e '^ Open ' -e '^ at the folder '; }
diff <(normalise "$scratch/linux.out") <(normalise "$scratch/wine.out") >&2 || fail "progress lines differ"

compared=0
for f in "$scratch/linux"/*Centroid.bna "$scratch/linux"/*Area.csv; do
  name=$(basename "$f")
  cmp "$f" "$folder/$name" || fail "$name differs from the Linux result"
  compared=$((compared + 1))
done
[ "$compared" -ge 2 ] || fail "no result files to compare"
"$wineserver" -w
echo "Windows build under Wine: core tests pass; $compared result files of ${#names[@]} inputs byte-identical to Linux"
