#!/usr/bin/env bash
# Installs the Debian 12 packages of one set, skipped quickly when they are
# all there:
#   run   what building and running the programs needs (scripts/start.sh)
#   test  that and what the tests, the Debian package and the Windows build
#         need (scripts/test.sh); the default
set -euo pipefail

set_name=${1:-test}
run=(
  cmake g++ ninja-build pkgconf  # the build (pkg-config finds GeographicLib)
  qt6-base-dev                   # Qt 6 Widgets (Core, Gui, Widgets, Test)
  fontconfig fonts-dejavu-core   # the map's label font, also off screen
  libgeographiclib-dev           # figures on the ellipsoid (--geodesic)
  libgdal-dev                    # the GIS exports (GeoPackage, GeoJSON, ...)
  rapidjson-dev                  # the GeoJSON export's writer (shortest exact numbers at disk speed)
)
test=(
  libgtest-dev                   # tests of the analysis core
  gdal-bin                       # ogrinfo, to look at the exports
  clang libclang-rt-14-dev       # the fuzz target (libFuzzer) and sanitizer runtime
  xvfb xauth xdotool imagemagick # the window under a virtual display, screenshots
  time                           # peak memory in the benchmarks
  debootstrap                    # the Debian 13 root of scripts/check-debian13.sh
  dpkg-dev file lintian          # the Debian package: dpkg-shlibdeps, its checks
  desktop-file-utils xdg-utils shared-mime-info libglib2.0-bin  # the desktop entry and the BNA file type: desktop-file-validate, xdg-mime, gio
  g++-mingw-w64-x86-64 wine64 wine  # the Windows build and its run under Wine
  fonts-wine nsis unzip          # Wine's own fonts for the window, the Windows installer, the .zip
)
case "$set_name" in
  run) packages=("${run[@]}") ;;
  test) packages=("${run[@]}" "${test[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
