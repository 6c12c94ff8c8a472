#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite in
# the Release build, the installation and the Debian package, the Windows
# build under Wine, the build and the suite on Debian 13 (its GDAL, Qt and
# GCC), the fuzz target for a minute, and the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
scripts/build.sh
ctest --test-dir build --output-on-failure -j2
scripts/check-install.sh
scripts/check-windows.sh
scripts/check-debian13.sh
scripts/fuzz.sh 60
scripts/test-sanitizers.sh
