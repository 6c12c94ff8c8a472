#!/usr/bin/env bash
# Builds, from Debian's own source packages, the static MinGW-w64 libraries
# the Windows build of ZARN links: GeographicLib (the figures on the
# ellipsoid) and Qt 6 (Core, Gui, Widgets, the windows and offscreen platform
# plugins and the styles) of the same versions as the host's, Qt's so that
# the host's moc, rcc and uic fit. Each library goes into a cache folder named by its version and a
# hash of its build options, under ZARN_WINDOWS_CACHE (default
# /var/cache/zarn), e.g. /var/cache/zarn/qt6-mingw-6.4.2-0123456789ab; a later
# run finds it there and builds nothing. A build happens in a staging folder
# beside it and is moved into place only when complete, so that an
# interrupted build is never taken for the cache. Its log is the folder's
# name with .log.
#   scripts/build-qt-windows.sh
# Prints the folders as its last two lines, geographiclib=DIR and qt=DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cache=${ZARN_WINDOWS_CACHE:-/var/cache/zarn}
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  sudo install -d -o "$(id -u)" -g "$(id -g)" "$cache"
fi
toolchain=$root/cmake/mingw-w64-x86_64.cmake
compiler=$(x86_64-w64-mingw32-g++-posix --version | head -n 1)

# The source package PACKAGE of version VERSION, unpacked with Debian's
# patches into DEST. apt reads a private list of the Debian archives of the
# machine's own sources, as deb-src, and keeps its lists in a private folder,
# so the machine's apt state stays untouched; apt checks the archive's
# signature and the files' checksums.
fetch_debian_source() {
  local package=$1 version=$2 dest=$3
  local apt=$dest.apt f
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/download" "$apt/sources.list.d"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'BEGIN { RS = "" } /debian-archive-keyring/ { sub(/Types: deb\n/, "Types: deb-src\n"); print; print "" }' "$f"
  done >"$apt/sources.list.d/debian.sources"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' "$f"
  done >"$apt/sources.list"
  local opts=(
    -o Dir::Etc::sourcelist="$apt/sources.list"
    -o Dir::Etc::sourceparts="$apt/sources.list.d"
    -o Dir::State::Lists="$apt/lists"
    -o Dir::Cache="$apt/cache"
    -o APT::Sandbox::User=root
    -q
  )
  apt-get "${opts[@]}" update >/dev/null
  (cd "$apt/download" && apt-get "${opts[@]}" source --download-only "$package=$version" >/dev/null)
  dpkg-source -x "$apt/download/${package}_${version#*:}.dsc" "$dest" >/dev/null
  rm -rf "$apt"
}

# Builds into CACHE/NAME-HASH unless it is there; HASH covers the version,
# the options, the toolchain file and the compiler. The build steps are the
# function BUILDER, called with the staging folder's source folder, build
# folder and the final prefix (which it installs under DESTDIR=$stage/root).
cached_build() {
  local name=$1 options=$2 builder=$3
  local hash
  hash=$(printf '%s\n' "$name" "$options" "$compiler" "$(cat "$toolchain")" | sha256sum | cut -c1-12)
  local prefix=$cache/$name-$hash
  if [ -d "$prefix" ]; then
    built=$prefix
    return
  fi
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -d "$prefix" ]; then
    local stage=$cache/.staging-$name-$hash
    rm -rf "$stage"
    mkdir -p "$stage"
    local log=$prefix.log
    echo "Building $name into $prefix (log: $log)" >&2
    local start=$SECONDS
    if ! "$builder" "$stage/src" "$stage/build" "$prefix" "$stage/root" >"$log" 2>&1; then
      echo "build of $name failed; the end of $log:" >&2
      tail -n 40 "$log" >&2
      exit 1
    fi
    echo "$name built in $((SECONDS - start)) s" | tee -a "$log" >&2
    mv "$stage/root$prefix" "$prefix"
    echo "$((SECONDS - start))" >"$prefix/build-seconds"
    rm -rf "$stage"
  fi
  exec 9>&-
  built=$prefix
}

geographiclib_version=$(dpkg-query -W -f='${Version}' libgeographiclib-dev)
# Debian's own flags for it, without its hardening, which changes no figure.
geographiclib_options=(
  -DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O2 -ffp-contract=off"
  -DBUILD_SHARED_LIBS=OFF -DBUILD_DOCUMENTATION=OFF -DBUILD_MANPAGES=OFF
)
build_geographiclib() {
  local src=$1 build=$2 prefix=$3 destdir=$4
  fetch_debian_source geographiclib "$geographiclib_version" "$src"
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${geographiclib_options[@]}"
  nice -n 19 cmake --build "$build" -j2
  DESTDIR=$destdir cmake --install "$build"
}
geographiclib_upstream=${geographiclib_version%%-*}
cached_build "geographiclib-mingw-$geographiclib_upstream" "$geographiclib_version ${geographiclib_options[*]}" build_geographiclib
echo "geographiclib=$built"

qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)
# Only what ZARN uses. The dfsg tarball lacks wintab, so no tablet events;
# 6.4.2's windows platform plugin needs OpenGL (dynamic by default).
qt_options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
  -DFEATURE_tabletevent=OFF -DFEATURE_opengl=ON
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
)
build_qt() {
  local src=$1 build=$2 prefix=$3 destdir=$4
  fetch_debian_source qt6-base "$qt_version" "$src"
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${qt_options[@]}"
  nice -n 19 cmake --build "$build" -j2
  DESTDIR=$destdir cmake --install "$build"
}
qt_upstream=${qt_version%%+*}
cached_build "qt6-mingw-$qt_upstream" "$qt_version ${qt_options[*]}" build_qt
echo "qt=$built"
