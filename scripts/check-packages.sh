#!/bin/sh
# Builds the Debian packages (scripts/build-packages.sh, with lintian) into
# build-deb/ and checks them in a clean Debian 12 root
# (tests/install/check_packages.sh): installed with apt, used by two ordinary
# users at once through the whole flow (one of them from Thunar's context
# menu), removed and purged. Needs the build of build/ for the test's GTK
# module that reads Thunar's menus (scripts/test-all.sh makes it first).
set -eu
cd "$(dirname "$0")/.."
probe=build/tests/libzb_menu_probe.so
[ -f "$probe" ] || { echo "check-packages: $probe is missing (build with the tests first)" >&2; exit 2; }
start=$(date +%s)
./scripts/build-packages.sh build-deb
echo "(packages built in $(($(date +%s) - start)) s)"
sh tests/install/check_packages.sh build-deb "$probe"
