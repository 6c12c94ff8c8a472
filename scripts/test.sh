#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite in
# the Release build, again under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the fuzz target for a minute.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
ctest --test-dir build --output-on-failure -j2
scripts/test-sanitizers.sh
scripts/fuzz.sh 60
