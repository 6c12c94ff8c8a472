#!/usr/bin/env bash
# Fuzzes the whole analysis run and the map arithmetic for SECONDS (default
# 60): builds the libFuzzer target into build-fuzz/ (clang++ with
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs one fuzzing
# process from the seed corpus and the kept regression inputs.
#
#   scripts/fuzz.sh [SECONDS] [CORPUS_DIR]
#
# CORPUS_DIR (optional) is a folder that keeps what the fuzzer learns from
# one campaign to the next; without it a scratch copy is used and dropped.
# An input that crashes, hangs (10 s), grows past 2 GB or fails one of the
# target's checks is written to build-fuzz/artifacts/ and the script fails.
# Once the fault is fixed, keep that input in tests/fuzz/regressions/ under a
# name that says what it shows; the test bna_fuzz_replay runs it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

cmake -S . -B build-fuzz -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARN_SANITIZE=ON -DZARN_FUZZ=ON \
  -DZARN_BUILD_GUI=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz --target bna_fuzz

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
corpus=${2:-$scratch/corpus}
mkdir -p "$corpus" "$scratch/tmp" build-fuzz/artifacts
seeds=(tests/fuzz/corpus)
if [ -d tests/fuzz/regressions ]; then
  seeds+=(tests/fuzz/regressions)
fi

export TMPDIR=$scratch/tmp
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The first folder receives what the fuzzer finds; the seeds are only read.
build-fuzz/tests/fuzz/bna_fuzz "$corpus" "${seeds[@]}" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -dict=tests/fuzz/bna.dict -artifact_prefix=build-fuzz/artifacts/ -print_final_stats=1
