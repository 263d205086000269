#!/bin/sh
# Runs the program's end-to-end tests under headless Wayland compositors,
# GNOME's mutter, sway and KDE's KWin, as an ordinary user (sway refuses to
# run as root; our users are not root either). Run as root (CI), it makes the user
# zimbrel-test and a copy of the built program and test binary that user can
# read, wherever the build folder is.
#
#   scripts/test-wayland.sh [build folder] [gtest filter]
#
# The screenshots the tests take land in <build>/screenshots/wayland.
set -eu
cd "$(dirname "$0")/.."
BUILD=$(cd "${1:-build}" && pwd)
FILTER=${2:-'Desktops/*/mutter:Desktops/*/sway:Desktops/*/kwin:DolphinOnKWin.*'}
TEST_USER=zimbrel-test

WORK=$(mktemp -d "${TMPDIR:-/tmp}/zimbrel-wayland-XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM
mkdir -p "$WORK/tests" "$WORK/bin" "$WORK/screenshots" "$WORK/home"
cp -a "$BUILD/zimbrel" "$BUILD/extensions" "$BUILD/res" "$WORK/"
if [ -e "$BUILD/help.chm" ]; then cp -a "$BUILD/help.chm" "$WORK/"; fi
cp -a "$BUILD/bin/zimbrel-service" "$WORK/bin/"
cp -a "$BUILD/tests/app_e2e_tests" "$WORK/tests/"
# KWin's keys; Dolphin's entry (the plugin, the component, its registration
# and the menu reader), when the build made them.
for f in tests/zimbrel-fake-input tests/dolphin_ui_probe bin/dovetril-regsvr lib/dovetril.so plugins; do
  if [ -e "$BUILD/$f" ]; then mkdir -p "$WORK/$(dirname "$f")" && cp -a "$BUILD/$f" "$WORK/$f"; fi
done
RUN=
if [ "$(id -u)" -eq 0 ]; then
  id -u "$TEST_USER" >/dev/null 2>&1 || useradd --no-create-home --shell /bin/sh "$TEST_USER"
  chown -R "$TEST_USER" "$WORK"
  chmod 755 "$WORK"
  RUN="runuser -u $TEST_USER --"
fi

status=0
$RUN env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR -u DBUS_SESSION_BUS_ADDRESS \
  HOME="$WORK/home" ZIMBREL_WAYLAND_TESTS=1 ZIMBREL_TEST_BUILD_DIR="$WORK" \
  ZIMBREL_SCREENSHOT_DIR="$WORK/screenshots" \
  "$WORK/tests/app_e2e_tests" --gtest_filter="$FILTER" || status=$?
mkdir -p "$BUILD/screenshots/wayland"
cp "$WORK"/screenshots/*.png "$BUILD/screenshots/wayland/" 2>/dev/null || true
exit $status
