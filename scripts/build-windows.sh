#!/usr/bin/env bash
# Cross-builds for 64-bit Windows with MinGW-w64 into build-windows/: the
# batch command without Qt (zarn-batch.exe, which then draws no map) and the
# analysis core's tests (core_tests.exe), statically linked so that each .exe
# runs alone. GoogleTest is built from Debian's sources in /usr/src/googletest.
# Prints the path of zarn-batch.exe as its last line.
#   scripts/build-windows.sh [SAMPLES_DIR_AS_THE_TESTS_SEE_IT]
# The tests name the sample folder as Windows (or Wine, where Z: is /) sees it.
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-Z:$(realpath -m ../shared/samples)}

cmake -S . -B build-windows -G Ninja --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release \
  -DZARN_BUILD_GUI=OFF -DZARN_BUILD_BENCH=OFF \
  -DZARN_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DZARN_SAMPLES_DIR="$samples" >/dev/null
cmake --build build-windows -j2 --target zarn-batch core_tests
realpath build-windows/shell/zarn-batch.exe
