#!/usr/bin/env bash
# Builds the Debian package from the Release build in build/ (cpack -G DEB,
# dependencies from dpkg-shlibdeps) into build/package/ and prints its path
# as the last line.
#   scripts/package.sh && sudo apt install ./build/package/zarn_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
rm -f build/package/zarn_*.deb
(cd build && cpack -G DEB >/dev/null)
ls build/package/zarn_*.deb | xargs realpath
