#!/usr/bin/env bash
# Builds ZARN in Release and runs its tests inside a Debian 13 (trixie) root,
# against that release's compiler, Qt, GDAL and GeographicLib.
#
#   scripts/check-debian13.sh
#
# Needs root (chroot, mount) and debootstrap. The root is made once with
# debootstrap from the Debian mirror this machine's apt sources name, and
# kept under ZARN_DEBIAN13_CACHE (default /var/cache/zarn/debian13) with the
# build dependencies, a ccache and the build folder, so that later runs only
# copy the sources in and rebuild what changed. A root whose making was
# interrupted is made anew. Without root or debootstrap the check is skipped
# with a message, unless ZARN_DEBIAN13_REQUIRED=1.
set -euo pipefail
cd "$(dirname "$0")/.."
source_tree=$(pwd)

skip() {
  echo "check-debian13: skipped: $*" >&2
  if [ "${ZARN_DEBIAN13_REQUIRED:-0}" = 1 ]; then
    exit 1
  fi
  exit 0
}
[ "$(id -u)" -eq 0 ] || skip "needs root"
command -v debootstrap >/dev/null || skip "needs debootstrap"

cache=${ZARN_DEBIAN13_CACHE:-/var/cache/zarn/debian13}
root=$cache/root
# What the build and the tests need inside the root; a change here installs
# the difference on the next run.
packages=(
  cmake g++ ninja-build pkgconf ccache
  qt6-base-dev fontconfig fonts-dejavu-core
  libgtest-dev libgeographiclib-dev libgdal-dev rapidjson-dev
)

# The mirror is this machine's: the first Debian suite in its apt sources,
# one-line (*.list) or deb822 (*.sources) format.
mirror() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    case $f in
      *.sources)
        # deb822: blank-line separated stanzas of "Field: value".
        awk 'BEGIN { RS = ""; FS = "\n" }
          {
            types = ""; uris = ""; suites = ""; enabled = "yes"
            for (i = 1; i <= NF; i++) {
              line = $i
              if (line ~ /^#/) continue
              split(line, kv, ":[ \t]*")
              key = tolower(kv[1]); value = substr(line, index(line, ":") + 1)
              gsub(/^[ \t]+|[ \t]+$/, "", value)
              if (key == "types") types = value
              else if (key == "uris") uris = value
              else if (key == "suites") suites = value
              else if (key == "enabled") enabled = tolower(value)
            }
            if (enabled == "no" || (" " types " ") !~ / deb /) next
            n = split(suites, s, /[ \t]+/)
            for (j = 1; j <= n; j++)
              if (s[j] ~ /^(bookworm|trixie|forky|bullseye|stable|testing|unstable|sid)$/) {
                split(uris, u, /[ \t]+/); print u[1]; exit
              }
          }' "$f"
        ;;
      *)
        awk '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) ~ /^(bookworm|trixie|forky|bullseye|stable|testing|unstable|sid)$/) { print $i; exit }
          }' "$f"
        ;;
    esac
  done | head -n 1
}

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
}
trap unmount_all EXIT
mount_in_root() {
  local target=$1
  shift
  mkdir -p "$target"
  mount "$@" "$target"
  mounted+=("$target")
}
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

started=$SECONDS
if [ ! -f "$root/.zarn-root" ]; then
  url=${ZARN_DEBIAN_MIRROR:-$(mirror)}
  [ -n "$url" ] || skip "no Debian mirror in this machine's apt sources"
  echo "check-debian13: making the Debian 13 root in $root"
  rm -rf "$root" "$root.new"
  mkdir -p "$cache"
  debootstrap --variant=minbase trixie "$root.new" "$url" >"$cache/debootstrap.log" 2>&1 ||
    { tail -n 20 "$cache/debootstrap.log" >&2; echo "check-debian13: debootstrap failed" >&2; exit 1; }
  echo "deb $url trixie main" >"$root.new/etc/apt/sources.list"
  touch "$root.new/.zarn-root"
  mv "$root.new" "$root"
  echo "check-debian13: root made in $((SECONDS - started)) s"
fi

# The root keeps the device nodes debootstrap made: the machine's own /dev
# stays out of reach of the tests.
mount_in_root "$root/proc" -t proc proc
mount_in_root "$root/dev/shm" -t tmpfs tmpfs
mount_in_root "$root/tmp" -t tmpfs tmpfs
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

if [ "$(cat "$root/.zarn-packages" 2>/dev/null)" != "${packages[*]}" ]; then
  phase=$SECONDS
  in_root apt-get update -q >"$cache/apt.log" 2>&1 &&
    in_root apt-get install -y -q --no-install-recommends "${packages[@]}" >>"$cache/apt.log" 2>&1 ||
    { tail -n 20 "$cache/apt.log" >&2; echo "check-debian13: installing the build dependencies failed" >&2; exit 1; }
  in_root apt-get clean
  echo "${packages[*]}" >"$root/.zarn-packages"
  echo "check-debian13: build dependencies installed in $((SECONDS - phase)) s"
fi

# The sources as git knows them (tracked and new, not ignored), copied anew.
phase=$SECONDS
rm -rf "$root/zarn/src"
mkdir -p "$root/zarn/src" "$root/zarn/build" "$root/zarn/ccache"
if git -C "$source_tree" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$source_tree" ls-files -z --cached --others --exclude-standard |
    tar -C "$source_tree" --null -T - -cf - | tar -C "$root/zarn/src" -xf -
else
  tar -C "$source_tree" --exclude='./build*' -cf - . | tar -C "$root/zarn/src" -xf -
fi
# The shared sample files, where the tests look for them beside the sources.
rm -rf "$root/zarn/shared"
if [ -d "$source_tree/../shared/samples" ]; then
  mkdir -p "$root/zarn/shared"
  cp -r "$source_tree/../shared/samples" "$root/zarn/shared/"
fi
in_root dpkg-query -W -f='${Version}\n' libgdal-dev qt6-base-dev g++ | paste -sd' ' |
  sed 's/^/check-debian13: GDAL, Qt, g++: /'
in_root sh -c 'export CCACHE_DIR=/zarn/ccache CCACHE_BASEDIR=/zarn QT_QPA_PLATFORM=offscreen
  cmake -S /zarn/src -B /zarn/build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DZARN_BUILD_BENCH=ON >/zarn/configure.log &&
  cmake --build /zarn/build >/zarn/build.log 2>&1 ||
    { tail -n 40 /zarn/build.log; exit 1; }
  ctest --test-dir /zarn/build --output-on-failure -j2'
echo "check-debian13: built and tested in $((SECONDS - phase)) s ($((SECONDS - started)) s in all)"
