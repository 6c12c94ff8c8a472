#!/usr/bin/env bash
# The Windows build under Wine. Cross-builds zarn.exe, zarn-batch.exe, the
# core's tests, the installer and the portable .zip
# (scripts/build-windows.sh --package; the first run builds Qt and
# GeographicLib for Windows, later ones take them from the cache), then:
#  - runs the core's tests;
#  - runs zarn-batch.exe in a folder named with non-ASCII characters: its
#    --help, the refusal of a result file that is the input itself, and the
#    real sample files with the map and the ellipsoid figures, whose result
#    files (the map included: the label font is built in) and progress lines
#    must match those of the Linux zarn-batch (build/, from scripts/build.sh)
#    byte for byte;
#  - uses zarn.exe under a virtual X display as a person would: Settings >
#    Ellipsoid areas, the button, the open-file dialog with a path typed in,
#    Enter, the result files (the three and Geodesic.csv) compared with
#    Linux's, each settings window and About opened and closed with Esc, and
#    a screenshot of the main window after the run (ZARN_WINDOWS_SHOT,
#    default /tmp/zarn-windows-window.png; with ZARN_WINDOWS_DIALOG_SHOTS=DIR
#    one of each window too);
#  - installs the installer silently, runs the installed zarn-batch.exe on
#    the example, uninstalls it silently and finds nothing left behind.
# Wine gets a prefix of its own in build-windows/wine (created on the first
# run, about ten seconds).
set -euo pipefail
cd "$(dirname "$0")/.."
exe=$(scripts/build-windows.sh --package | tail -n 1)
linux_batch=$PWD/build/shell/zarn-batch
samples=$(realpath ../shared/samples)
shot=${ZARN_WINDOWS_SHOT:-/tmp/zarn-windows-window.png}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-windows/CMakeCache.txt)
setup=$PWD/build-windows/package/zarn-$version-win64-setup.exe
portable=$PWD/build-windows/package/zarn-$version-win64.zip

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
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
  fi
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "check-windows: $*" >&2; exit 1; }
# The Windows spelling of a Unix path, through Wine's drive Z:.
winpath() { echo "Z:$(tr / '\\' <<<"$1")"; }

# Create or update the prefix first and wait for it, so that no run races
# with Wine's set-up.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || true
  "$wineserver" -w
fi

"$wine" build-windows/tests/core/core_tests.exe --gtest_brief=1

"$wine" "$exe" --help >"$scratch/help.txt"
if grep -q -e "draws no map" -e "geodesic *not in this build" "$scratch/help.txt"; then
  fail "--help says that this build lacks the map or the ellipsoid figures"
fi

# Non-ASCII folder and file names, in the Windows spelling of the path.
folder="$scratch/Wine été 東京"
mkdir -p "$folder" "$scratch/linux"
winfolder=$(winpath "$folder")
cp "$samples"/*.bna "$folder"/
cp "$samples"/*.bna "$scratch/linux"/
cp examples/islands.bna "$folder/Îles.bna"
cp examples/islands.bna "$scratch/linux/Îles.bna"

# A result name that is a hard link to the input is refused, the input kept.
cp examples/islands.bna "$scratch/same.bna"
ln "$scratch/same.bna" "$scratch/sameArea.csv"
status=0
"$wine" "$exe" "$(winpath "$scratch")\\same.bna" >"$scratch/same.out" 2>"$scratch/same.err" || status=$?
[ "$status" -eq 1 ] || fail "the same-file run exited with $status, not 1"
grep -q "is the input file itself" "$scratch/same.err" || fail "no same-file refusal: $(cat "$scratch/same.err")"
cmp -s examples/islands.bna "$scratch/same.bna" || fail "the same-file run changed its input"

# The samples, with the map and the ellipsoid figures: both runs go on past
# the broken files and exit 1.
names=()
for f in "$folder"/*.bna; do
  names+=("$(basename "$f")")
done
status=0
(cd "$scratch/linux" && "$linux_batch" --geodesic --jobs 2 "${names[@]}" >"$scratch/linux.out" 2>/dev/null) || status=$?
wine_args=()
for n in "${names[@]}"; do
  wine_args+=("$winfolder\\$n")
done
wstatus=0
"$wine" "$exe" --geodesic --jobs 2 "${wine_args[@]}" >"$scratch/wine.out" 2>"$scratch/wine.err" || wstatus=$?
[ "$status" -eq "$wstatus" ] || fail "exit status $wstatus under Wine, $status on Linux"
# A program that dies after its last line may still exit 0; Wine says so.
no_crash() {
  ! grep -q "^wine: Unhandled" "$1" || fail "$2 crashed: $(grep "^wine: Unhandled" "$1")"
}
no_crash "$scratch/wine.err" "zarn-batch.exe"

# The progress lines, less those that name the folder and Windows' CR LF.
normalise() { tr -d '\r' <"$1" | grep -v -e '^ Open ' -e '^ at the folder '; }
diff <(normalise "$scratch/linux.out") <(normalise "$scratch/wine.out") >&2 || fail "progress lines differ"

compared=0
maps=0
for f in "$scratch/linux"/*Centroid.bna "$scratch/linux"/*Area.csv "$scratch/linux"/*Geodesic.csv \
  "$scratch/linux"/*Map.bmp; do
  name=$(basename "$f")
  cmp "$f" "$folder/$name" || fail "$name differs from the Linux result"
  compared=$((compared + 1))
  case "$name" in *Map.bmp) maps=$((maps + 1)) ;; esac
done
[ "$maps" -ge 2 ] || fail "no maps to compare"
"$wineserver" -w

# The window, under a virtual X display of its own.
display_file=$scratch/display
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb=$!
for _ in $(seq 1 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
[ -s "$display_file" ] || fail "Xvfb did not start"
export DISPLAY=:$(cat "$display_file")
. scripts/xvfb-window.sh

# wait_gone ID: waits up to 10 s for the window ID to be hidden or gone.
wait_gone() {
  for _ in $(seq 1 100); do
    xdotool search --onlyvisible --name . 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  fail "window $1 did not close"
}

# The window's input sits in a folder named with a non-ASCII letter, typed
# into the dialog as a person would; Settings > Ellipsoid areas is ticked
# first, so the run writes Geodesic.csv as well.
window_folder="$scratch/fenêtre"
mkdir -p "$window_folder" "$scratch/window-linux"
cp examples/islands.bna "$window_folder/islands.bna"
cp examples/islands.bna "$scratch/window-linux/islands.bna"
(cd "$scratch/window-linux" && "$linux_batch" --geodesic islands.bna >/dev/null)
(cd "$(dirname "$exe")" && exec "$wine" zarn.exe >/dev/null 2>"$scratch/window.err") &
window_pid=$!
# Wine's first window in a fresh prefix can take longer than the helper's 10 s.
main=$(wait_for_window "ZARN, a Center of Gravity programme" 2>/dev/null ||
  wait_for_window "ZARN, a Center of Gravity programme" 2>/dev/null ||
  wait_for_window "ZARN, a Center of Gravity programme") || fail "the window did not appear"
sleep 1
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key alt+s
sleep 0.5
xdotool key e
sleep 0.5
# wait_for_map: waits up to 60 s for the window's map file.
wait_for_map() {
  for _ in $(seq 1 600); do
    [ -f "$window_folder/islandsMap.bmp" ] && return 0
    sleep 0.1
  done
  return 1
}
# Slowly: xdotool types a character beyond ASCII (the ê) by remapping a
# spare key, which a busy Wine can miss at full speed.
choose_input "$main" "$(winpath "$window_folder")\\islands.bna" 40
if ! wait_for_map && [ ! -e "$window_folder/islandsCentroid.bna" ]; then
  # Now and then, on a busy machine, the typed keys miss the dialog's name
  # field (there is no window manager to hand it the focus); once more.
  import -window root /tmp/zarn-windows-retry.png
  echo "check-windows: no run after the typed path (the screen: /tmp/zarn-windows-retry.png); typing it again" >&2
  # Closes what is open (the dialog, and a "Path does not exist" box over it)
  # until the main window is alone again.
  for _ in 1 2 3; do
    xdotool search --name "Open bna file." >/dev/null 2>&1 || break
    xdotool key Escape
    sleep 1
  done
  choose_input "$main" "$(winpath "$window_folder")\\islands.bna" 100
  wait_for_map || true
fi
sleep 1
for f in Centroid.bna Area.csv Map.bmp Geodesic.csv; do
  if ! cmp "$scratch/window-linux/islands$f" "$window_folder/islands$f"; then
    import -window root /tmp/zarn-windows-failure.png
    fail "the window's islands$f differs from Linux's (the screen: /tmp/zarn-windows-failure.png)"
  fi
done
import -window "$main" "$shot"

# Each settings window by its menu key, then About; Esc closes each.
for step in "s b:Select Color" "s f:Font Characteristics" "s l:LIne Characteristics" \
  "s c:Centroid Characteristics" "a:About ZARN"; do
  keys=${step%%:*}
  title=${step#*:}
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  sleep 0.3
  xdotool key "alt+${keys%% *}"
  if [ "$keys" != "${keys#* }" ]; then
    sleep 0.5
    xdotool key "${keys#* }"
  fi
  dialog=$(wait_for_window "$title") || fail "\"$title\" did not open"
  sleep 0.5
  if [ -n "${ZARN_WINDOWS_DIALOG_SHOTS:-}" ]; then
    import -window "$dialog" "$ZARN_WINDOWS_DIALOG_SHOTS/${title// /-}.png"
  fi
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  xdotool key Escape
  wait_gone "$dialog"
done
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key alt+F4
wait_gone "$main"
window_status=0
wait "$window_pid" || window_status=$?
[ "$window_status" -eq 0 ] || fail "zarn.exe ended with status $window_status"
no_crash "$scratch/window.err" "zarn.exe"
"$wineserver" -w
kill "$xvfb"
xvfb=
unset DISPLAY

# The installer: silently into Program Files, a run of the installed
# zarn-batch.exe, silently out again.
[ -f "$setup" ] || fail "no installer $setup"
program_files=$WINEPREFIX/drive_c/Program\ Files
"$wine" "$setup" /S
"$wineserver" -w
[ -f "$program_files/ZARN/zarn.exe" ] || fail "the installer put no zarn.exe into Program Files\\ZARN"
[ -f "$program_files/ZARN/zarn.txt" ] || fail "the installer put no zarn.txt beside zarn.exe"
start_menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/ZARN"
[ -f "$start_menu/ZARN.lnk" ] || fail "the installer made no Start-menu entry"
uninstall_key='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZARN]'
grep -qF "$uninstall_key" "$WINEPREFIX/system.reg" || fail "the installer listed no uninstaller"
# "Open with ZARN" for .bna files: the window with the file as its argument.
open_key='[Software\\Classes\\ZARN.bna\\shell\\open\\command]'
grep -A2 -F "$open_key" "$WINEPREFIX/system.reg" | grep -qF 'zarn.exe\" \"%1\"' ||
  fail "the installer offers no \"Open with ZARN\" for .bna files"
grep -A2 -F '[Software\\Classes\\.bna\\OpenWithProgids]' "$WINEPREFIX/system.reg" | grep -qF '"ZARN.bna"' ||
  fail "the installer does not offer ZARN among the programs for .bna files"
mkdir -p "$scratch/installed" "$scratch/installed-linux"
cp examples/islands.bna "$scratch/installed/"
cp examples/islands.bna "$scratch/installed-linux/"
(cd "$scratch/installed-linux" && "$linux_batch" islands.bna >/dev/null)
# Qt's messages go to standard error as in a console window: none may show.
QT_FORCE_STDERR_LOGGING=1 "$wine" 'C:\Program Files\ZARN\zarn-batch.exe' "$(winpath "$scratch/installed")\\islands.bna" \
  >/dev/null 2>"$scratch/installed.err"
[ ! -s "$scratch/installed.err" ] || fail "the installed zarn-batch.exe wrote to standard error: $(cat "$scratch/installed.err")"
for f in Centroid.bna Area.csv Map.bmp; do
  cmp "$scratch/installed-linux/islands$f" "$scratch/installed/islands$f" || fail "the installed zarn-batch.exe's islands$f differs"
done
"$wine" 'C:\Program Files\ZARN\Uninstall.exe' /S
"$wineserver" -w
if [ -e "$program_files/ZARN" ]; then
  fail "the uninstaller left $(find "$program_files/ZARN" | head -n 5)"
fi
[ ! -e "$start_menu" ] || fail "the uninstaller left the Start-menu entry"
! grep -qF "$uninstall_key" "$WINEPREFIX/system.reg" || fail "the uninstaller left its listing"
! grep -qF -e "$open_key" -e '[Software\\Classes\\.bna' "$WINEPREFIX/system.reg" || fail "the uninstaller left the .bna file type"

# The portable .zip holds the same programs.
unzip -l "$portable" >"$scratch/zip.txt"
for f in zarn.exe zarn-batch.exe zarn.txt; do
  grep -q "/$f\$" "$scratch/zip.txt" || fail "$f is missing from $(basename "$portable")"
done

echo "Windows build under Wine: core tests pass; $compared result files of ${#names[@]} inputs (with $maps maps)" \
  "byte-identical to Linux; the window's run, its settings windows and About; the installer in, run and out" \
  "(screenshot: $shot)"
