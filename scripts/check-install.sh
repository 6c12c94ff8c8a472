#!/usr/bin/env bash
# Installs the Release build (build/) into a temporary prefix and runs what
# was installed: zarn-batch on the example (also with an export), the window's start, and the About
# window's lookup of the installed zarn.txt, the menu entry and the BNA file
# type it declares (desktop-file-validate, update-mime-database, xdg-mime).
# Then builds the Debian package
# and checks with dpkg-deb that it holds every installed file, and with
# lintian that it has no errors.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

installed=(
  bin/zarn
  bin/zarn-batch
  share/zarn/zarn.txt
  share/applications/zarn.desktop
  share/mime/packages/zarn.xml
  share/icons/hicolor/scalable/apps/zarn.svg
  share/metainfo/zarn.metainfo.xml
  share/man/man1/zarn.1.gz
  share/man/man1/zarn-batch.1.gz
  share/doc/zarn/copyright
  share/doc/zarn/changelog.gz
)
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' build/CMakeCache.txt)
installed+=("$libdir/zarn/zarn-export.so")

prefix="$scratch/prefix"
cmake --install build --prefix "$prefix" >/dev/null
for f in "${installed[@]}"; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done

# The installed batch command gives the build tree's results.
mkdir "$scratch/installed" "$scratch/built"
cp examples/islands.bna "$scratch/installed/"
cp examples/islands.bna "$scratch/built/"
export QT_QPA_PLATFORM=offscreen LC_ALL=C
"$prefix/bin/zarn-batch" "$scratch/installed/islands.bna" >/dev/null
build/shell/zarn-batch "$scratch/built/islands.bna" >/dev/null
for f in islandsCentroid.bna islandsArea.csv islandsMap.bmp; do
  cmp "$scratch/built/$f" "$scratch/installed/$f" || fail "installed zarn-batch wrote another $f"
done
# The installed batch command finds the installed export module.
"$prefix/bin/zarn-batch" --no-map --export gpkg "$scratch/installed/islands.bna" >/dev/null ||
  fail "installed zarn-batch --export gpkg failed"
[ -s "$scratch/installed/islands.gpkg" ] || fail "installed zarn-batch --export gpkg wrote no islands.gpkg"
"$prefix/bin/zarn-batch" --version | grep -q "^zarn-batch " || fail "installed zarn-batch --version"
# It loads no module but its own: without it, or with one of another version
# in its place, the export fails with the cause (the build tree's module is
# not taken instead).
module="$prefix/$libdir/zarn/zarn-export.so"
refused() {
  rm -f "$scratch/installed/islands.gpkg"
  if "$prefix/bin/zarn-batch" --no-map --export gpkg "$scratch/installed/islands.bna" >/dev/null 2>"$scratch/refused.txt"; then
    fail "installed zarn-batch --export gpkg succeeded $1"
  fi
  grep -q "$2" "$scratch/refused.txt" || fail "installed zarn-batch $1 gave another cause: $(cat "$scratch/refused.txt")"
  [ ! -e "$scratch/installed/islands.gpkg" ] || fail "installed zarn-batch $1 wrote islands.gpkg"
}
rm "$module"
refused "without its module" "is not installed at $module"
cp build/tests/export/zarn-export-other.so "$module"
refused "with a module of another version" "is the export module of ZARN 0.0.0"

# The installed window starts (and keeps running until stopped).
export XDG_RUNTIME_DIR="$scratch/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
status=0
timeout 3 "$prefix/bin/zarn" 2>"$scratch/zarn.err" || status=$?
[ "$status" -eq 124 ] || fail "the installed window ended with $status instead of running: $(cat "$scratch/zarn.err")"
ZARN_INSTALLED_BIN="$prefix/bin" build/tests/settings/about_window_test anInstallationFindsItsInstalledText >"$scratch/about.txt" ||
  { cat "$scratch/about.txt" >&2; fail "the About window does not find the installed zarn.txt"; }

# The menu entry is valid and opens BNA files: with the installation's data
# folder first, the file type of a .bna is ZARN's and its default program
# the installed entry.
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/zarn.desktop" || fail "the installed zarn.desktop is not valid"
fi
grep -q "^MimeType=application/x-bna;" "$prefix/share/applications/zarn.desktop" || fail "zarn.desktop declares no BNA type"
grep -q "^Exec=zarn %f" "$prefix/share/applications/zarn.desktop" || fail "zarn.desktop does not pass the file on"
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime"
  grep -q "^50:application/x-bna:\*\.bna$" "$prefix/share/mime/globs2" || fail "the MIME database has no *.bna"
  if command -v xdg-mime >/dev/null && command -v update-desktop-database >/dev/null; then
    update-desktop-database "$prefix/share/applications"
    if command -v gio >/dev/null; then
      # (xdg-mime asks file(1), which knows no BNA, outside a desktop.)
      type=$(XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_DATA_HOME="$scratch/home" \
        gio info -a standard::content-type examples/islands.bna | sed -n 's/^ *standard::content-type: //p')
      [ "$type" = application/x-bna ] || fail "the file type of a .bna is $type"
    fi
    app=$(XDG_DATA_DIRS="$prefix/share:/usr/share" XDG_DATA_HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/config" \
      xdg-mime query default application/x-bna)
    [ "$app" = zarn.desktop ] || fail "xdg-mime names '$app' for a .bna rather than zarn.desktop"
  fi
fi
# --help and --version answer without a display.
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/zarn" --version | grep -q "^ZARN " ||
  fail "installed zarn --version"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$prefix/bin/zarn" --help | grep -q "FILE.bna" ||
  fail "installed zarn --help"

# The package holds the same files under /usr, and depends on what the
# programs link.
deb=$(scripts/package.sh | tail -n 1)
dpkg-deb -c "$deb" >"$scratch/contents.txt"
for f in "${installed[@]}"; do
  grep -q " \./usr/$f\$" "$scratch/contents.txt" || fail "not in the package: /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q "libqt6widgets6" <<<"$depends" || fail "Depends lacks Qt: $depends"
grep -q "fonts-dejavu-core" <<<"$depends" || fail "Depends lacks the font: $depends"
grep -q "libgdal" <<<"$depends" || fail "Depends lacks GDAL (the export module): $depends"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
fi
echo "Installed and packaged: $deb"
