#!/bin/sh
# Builds the Debian packages from the committed tree and the working copy's
# changes to tracked files: copies them into <out>/src, runs
# "dpkg-buildpackage -us -uc -b" there and leaves the .deb files in <out>
# (default: build-deb). With lintian installed, checks every package and
# prints its report (LINTIAN=0 skips that). Needs the build dependencies
# (scripts/install-deps.sh, or "apt-get build-dep ./" as root).
set -eu
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build-deb}")
rm -rf "$out"
mkdir -p "$out/src"
git ls-files -z | xargs -0 cp --parents -P -t "$out/src"
# ccache, when there is one, makes a second build quick.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$out/src" CCACHE_NOHASHDIR=1
fi
(cd "$out/src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
  dpkg-buildpackage -us -uc -b > "$out/build.log" 2>&1) || {
  tail -60 "$out/build.log"; echo "build-packages: dpkg-buildpackage failed ($out/build.log)" >&2
  exit 1
}
rm -rf "$out/src"
ls "$out"/*.deb
if [ "${LINTIAN:-1}" != 0 ] && command -v lintian >/dev/null 2>&1; then
  lintian --info --display-info --pedantic "$out"/*.changes | tee "$out/lintian.txt"
  ! grep -q '^[EW]: ' "$out/lintian.txt"
fi
