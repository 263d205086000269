#!/bin/sh
# Runs a command in a headless Wayland session of its own, as the user this
# runs as (sway refuses root): GNOME's mutter, nested in an X server of its
# own, or sway on wlroots' headless backend. The command gets WAYLAND_DISPLAY,
# XDG_RUNTIME_DIR (a private 0700 folder) and GDK_BACKEND=wayland, and no
# DISPLAY. The session ends with the command; its exit status is the
# command's.
#
#   scripts/wayland-session.sh mutter|sway COMMAND [ARG...]
set -eu
KIND=$1
shift
DIR=$(mktemp -d "${TMPDIR:-/tmp}/zimbrel-session-XXXXXX")
RUNTIME=$DIR/run
mkdir -m 700 "$RUNTIME"
PIDS=
cleanup() {
  for p in $PIDS; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$DIR"
}
trap cleanup EXIT INT TERM
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS

case $KIND in
  sway)
    printf 'output HEADLESS-1 resolution 1280x1024\nxwayland disable\n' >"$DIR/sway.conf"
    XDG_RUNTIME_DIR=$RUNTIME WLR_BACKENDS=headless WLR_RENDERER=pixman \
      WLR_LIBINPUT_NO_DEVICES=1 sway -c "$DIR/sway.conf" >"$DIR/log" 2>&1 &
    PIDS=$!
    ;;
  mutter)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$DIR/display" >"$DIR/log" 2>&1 &
    PIDS=$!
    i=0
    while [ ! -s "$DIR/display" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
    # A session bus of its own (mutter owns names on it), ended with it.
    dbus-daemon --session --nofork --print-address=3 3>"$DIR/bus" >>"$DIR/log" 2>&1 &
    PIDS="$! $PIDS"
    i=0
    while [ ! -s "$DIR/bus" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    DISPLAY=:$(cat "$DIR/display") XDG_RUNTIME_DIR=$RUNTIME \
      DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$DIR/bus") \
      MUTTER_DEBUG_DUMMY_MODE_SPECS=1280x1024 \
      mutter --nested --wayland --no-x11 --wayland-display wayland-1 >>"$DIR/log" 2>&1 &
    PIDS="$! $PIDS"
    ;;
  *)
    echo "usage: $0 mutter|sway COMMAND [ARG...]" >&2
    exit 2
    ;;
esac
i=0
SOCKET=
while [ -z "$SOCKET" ]; do
  for s in "$RUNTIME"/wayland-*; do
    if [ -S "$s" ]; then SOCKET=$(basename "$s"); fi
  done
  i=$((i + 1))
  if [ $i -gt 300 ]; then
    echo "wayland-session: $KIND did not start" >&2
    cat "$DIR/log" >&2
    exit 1
  fi
  sleep 0.1
done
XDG_RUNTIME_DIR=$RUNTIME WAYLAND_DISPLAY=$SOCKET GDK_BACKEND=wayland "$@"
