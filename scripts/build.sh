#!/usr/bin/env bash
# Configures and builds ZARN (Release) into build/, everything: the tests and
# benchmarks too, also where scripts/start.sh left them out.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARN_BUILD_TESTS=ON -DZARN_BUILD_BENCH=ON >/dev/null
cmake --build build
