#!/usr/bin/env bash
# Fuzzes the analysis core for SECONDS (default 60): builds the libFuzzer
# targets into build-fuzz/ (clang++ with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs one fuzzing process from the seed
# corpus and the kept regression inputs. Before it, the geometry step is
# tried against GEOS on random rings from a fresh seed for GEOMETRY_SECONDS
# (default 20; 0 for none) by geometry_fuzz, where the export is built; a
# ring it fails on is printed with the seed, to be kept as a named case in
# tests/export/export_test.cpp.
#
#   scripts/fuzz.sh [SECONDS] [CORPUS_DIR] [TARGET]
#
# TARGET: core (default; the reader, the figures and the result files in
# memory, tens of times more inputs a second) or bna (the whole run with the
# map arithmetic, its files and its reading thread).
# CORPUS_DIR (optional, "" for none) is a folder that keeps what the fuzzer
# learns from one campaign to the next; without it a scratch copy is used
# and dropped.
# An input that crashes, hangs (10 s), grows past 2 GB or fails one of the
# target's checks is written to build-fuzz/artifacts/ and the script fails.
# Once the fault is fixed, keep that input in tests/fuzz/regressions/ under a
# name that says what it shows; the tests bna_fuzz_replay and
# core_fuzz_replay run it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=${3:-core}
case $target in
  core | bna) ;;
  *) echo "fuzz.sh: TARGET is core or bna, not $target" >&2; exit 2 ;;
esac

cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARN_SANITIZE=ON -DZARN_FUZZ=ON \
  -DZARN_BUILD_GUI=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target "${target}_fuzz"

geometry_seconds=${GEOMETRY_SECONDS:-20}
if [ "$geometry_seconds" != 0 ]; then
  # grep reads all (not -q), so that ninja is not cut off under pipefail.
  if ninja -C build-fuzz -t targets all | grep '^geometry_fuzz:' >/dev/null; then
    cmake --build build-fuzz --target geometry_fuzz
    seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      build-fuzz/tests/fuzz/geometry_fuzz --seed="$seed" --seconds="$geometry_seconds"
  else
    echo "fuzz.sh: no export in this build, geometry_fuzz skipped"
  fi
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
corpus=${2:-}
corpus=${corpus:-$scratch/corpus}
mkdir -p "$corpus" "$scratch/tmp" build-fuzz/artifacts
seeds=(tests/fuzz/corpus)
if [ -d tests/fuzz/regressions ]; then
  seeds+=(tests/fuzz/regressions)
fi

export TMPDIR=$scratch/tmp
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The first folder receives what the fuzzer finds; the seeds are only read.
build-fuzz/tests/fuzz/"${target}_fuzz" "$corpus" "${seeds[@]}" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -dict=tests/fuzz/bna.dict -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1
