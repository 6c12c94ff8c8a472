#!/usr/bin/env bash
# Cross-builds ZARN for 64-bit Windows with MinGW-w64 into build-windows/:
# the window (zarn.exe), the batch command with its map (zarn-batch.exe), the
# analysis core's tests (core_tests.exe), each statically linked so that it
# runs alone, and with --package the installer
# build-windows/package/zarn-VERSION-win64-setup.exe and the portable
# zarn-VERSION-win64.zip. Qt and GeographicLib come from
# scripts/build-qt-windows.sh (built from Debian's sources on the first run,
# then cached); GoogleTest is built from Debian's sources in
# /usr/src/googletest. Prints the path of zarn-batch.exe as its last line.
#   scripts/build-windows.sh [--package] [SAMPLES_DIR_AS_THE_TESTS_SEE_IT]
# The tests name the sample folder as Windows (or Wine, where Z: is /) sees it.
set -euo pipefail
cd "$(dirname "$0")/.."
package=no
if [ "${1:-}" = --package ]; then
  package=yes
  shift
fi
samples=${1:-Z:$(realpath -m ../shared/samples)}

libs=$(scripts/build-qt-windows.sh)
qt=$(sed -n 's/^qt=//p' <<<"$libs")
geographiclib=$(sed -n 's/^geographiclib=//p' <<<"$libs")
toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake

# A build folder set up for another toolchain (another Qt) starts afresh;
# the Wine prefix in it stays.
if [ -f build-windows/CMakeCache.txt ] &&
  ! grep -qx "CMAKE_TOOLCHAIN_FILE:[A-Z]*=$toolchain" build-windows/CMakeCache.txt; then
  rm -rf build-windows/CMakeCache.txt build-windows/CMakeFiles
fi
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-windows -G Ninja --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DGeographicLib_DIR="$geographiclib/lib/cmake/GeographicLib" \
  -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" \
  -DZARN_BUILD_BENCH=OFF \
  -DZARN_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DZARN_SAMPLES_DIR="$samples" >/dev/null
cmake --build build-windows -j2 --target zarn zarn-batch core_tests
if [ "$package" = yes ]; then
  (cd build-windows && cpack -B "$PWD/package" >/dev/null)
fi
realpath build-windows/shell/zarn-batch.exe
