#!/bin/sh
# Builds the Debian packages from the tracked files of the working copy:
# copies them into a folder of its own, runs "dpkg-buildpackage -us -uc -b"
# there and leaves the .deb files in <out> (default: build-deb). With
# lintian installed, checks every package and prints its report (LINTIAN=0
# skips that); an error or a warning fails the script. Needs the build
# dependencies (scripts/install-deps.sh --test, or "apt-get build-dep ./" as
# root).
set -eu
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-deb}")
rm -rf "$out"
mkdir -p "$out"
# The sources sit in the same place at every build, so that ccache (when
# there is one) finds what an earlier build compiled; one build at a time.
work=${TMPDIR:-/var/tmp}/zimbrel-deb-build
exec 9<"$0"
flock 9
rm -rf "$work"
mkdir -p "$work/src"
git ls-files -z | xargs -0 cp --parents -P -t "$work/src"
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  # debhelper points HOME into the build tree: name the user's cache.
  CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)}
  export CCACHE_DIR
fi
(cd "$work/src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
  dpkg-buildpackage -us -uc -b > "$out/build.log" 2>&1) || {
  tail -60 "$out/build.log"; echo "build-packages: dpkg-buildpackage failed ($out/build.log)" >&2
  rm -rf "$work"
  exit 1
}
mv "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out/"
rm -rf "$work"
ls "$out"/*.deb
if [ "${LINTIAN:-1}" != 0 ] && command -v lintian >/dev/null 2>&1; then
  lintian --info --display-info --pedantic "$out"/*.changes | tee "$out/lintian.txt"
  ! grep -q '^[EW]: ' "$out/lintian.txt"
fi
