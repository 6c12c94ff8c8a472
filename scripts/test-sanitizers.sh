#!/usr/bin/env bash
# Builds the whole project and every test with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan/ and runs the whole suite there,
# then the core and export tests with ThreadSanitizer in build-tsan/. Any sanitizer
# report ends the test that caused it with a failure.
# Expects what scripts/install-deps.sh installs (clang++ is preferred; g++
# serves when it is missing).
set -euo pipefail
cd "$(dirname "$0")/.."

if command -v clang++ >/dev/null; then
  compiler=clang++
  debug_info=-gline-tables-only
else
  compiler=g++
  debug_info=-g1
fi
# -O1 with line tables: quick to build, and every report names file and line.
cmake -S . -B build-asan -G Ninja \
  -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 $debug_info" \
  -DZARN_SANITIZE=ON \
  -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2

# The analysis core (which reads records ahead on a second thread), the
# exports and their tests with ThreadSanitizer, into build-tsan/.
cmake -S . -B build-tsan -G Ninja \
  -DCMAKE_CXX_COMPILER="$compiler" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 $debug_info" \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DZARN_BUILD_GUI=OFF \
  -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target core_tests
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/core/core_tests
# The exports, which write their rows on a thread of their own.
# (The target list read whole first: grep -q leaving early would fail the
# build tool's write and, with pipefail, skip the tests.)
if grep -q '^export_tests:' <<<"$(cmake --build build-tsan --target help)"; then
  cmake --build build-tsan --target export_tests
  TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan-gdal.supp" build-tsan/tests/export/export_tests
fi
