#!/bin/sh
# Makes a ringtone and sends it, as a user does, with the installed Zimbrel:
# on an X display of its own (Xvfb) and in a D-Bus session of its own, the
# keys go to the real pages, and the pages' console lines
# (ZIMBREL_PAGE_CONSOLE) tell what they show. Runs as the user.
#
#   drive_flow.sh <display> <song> <name> <phone> <network> <barrier dir> [--thunar <probe>]
#
# With --thunar the song is sent from Thunar's context menu ("Send to Phone
# as Ringtone"), read through the GTK module <probe>; otherwise Zimbrel is
# started with the song. Before the ringtone is made, the driver writes
# <barrier dir>/ready-$USER and waits until every driver has (two users make
# their ringtones at the same moment). ZIMBREL_SERVICE_HOST names the
# service. Output: <one line per step>; exit 0 when the service answered
# "send done".
set -u
display=$1 song=$2 name=$3 phone=$4 network=$5 barrier=$6
shift 6
probe=""
if [ "${1:-}" = --thunar ]; then probe=$2; fi
me=$(id -un)
work=$(mktemp -d "${TMPDIR:-/tmp}/drive.XXXXXX")
log=$work/zimbrel.log
pids=""
cleanup() {
  for p in $pids; do kill "$p" 2>/dev/null; done
  sleep 1
  for p in $pids; do kill -9 "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
step() { echo "$me: $*"; }
die() {
  step "FAILED: $*"
  touch "$barrier/ready-$me"  # the others need not wait
  echo "--- $me: Zimbrel's output"; grep -v 'a11y bus' "$log" 2>/dev/null | tail -40
  exit 1
}

# Waits (at most $2 seconds) until the log has $1 after what was seen.
seen=0
await() {
  n=0
  while [ "$n" -lt $(($2 * 5)) ]; do
    line=$(grep -n "zimbrel-page: $1" "$log" 2>/dev/null | awk -F: -v s="$seen" '$1 > s {print; exit}')
    if [ -n "$line" ]; then
      seen=${line%%:*}
      return 0
    fi
    sleep 0.2
    n=$((n + 1))
  done
  die "no \"$1\" within $2 s"
}

export DISPLAY=":$display" NO_AT_BRIDGE=1 GTK_A11Y=none WEBKIT_DISABLE_COMPOSITING_MODE=1
export ZIMBREL_PAGE_CONSOLE=1 LANG=C.UTF-8
Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids="$pids $!"
i=0
until xdpyinfo >/dev/null 2>&1; do
  i=$((i + 1)); [ "$i" -lt 100 ] || die "Xvfb did not start"; sleep 0.1
done
xset r off 2>/dev/null  # no repeated keys on a loaded machine

# Gives the window the keyboard focus (there is no window manager) and
# presses keys.
keys() {
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key --delay 80 "$@"
}
type_text() {
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool type --delay 40 "$1"
}
find_window() {
  i=0
  while [ "$i" -lt $(($2 * 5)) ]; do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.2; i=$((i + 1))
  done
  return 1
}

if [ -n "$probe" ]; then
  # Thunar on the song's folder; the probe reports its windows and menus.
  mkdir -p "$work/probe"
  # Zimbrel, started by the entry, inherits Thunar's output: the log.
  GTK_MODULES=$probe ZB_PROBE_DIR=$work/probe \
    dbus-run-session -- thunar "$(dirname "$song")" >"$log" 2>&1 &
  pids="$pids $!"
  i=0
  until ls "$work/probe"/window-* >/dev/null 2>&1; do
    i=$((i + 1)); [ "$i" -lt 300 ] || die "Thunar showed no window"; sleep 0.1
  done
  win=$(head -1 "$(ls "$work/probe"/window-* | head -1)")
  step "Thunar shows $(dirname "$song")"
  entry=""
  for attempt in 1 2 3 4; do
    sleep 1.5
    before=$(ls "$work/probe" | grep -c '^menu-')
    keys ctrl+a shift+F10
    i=0
    while [ "$(ls "$work/probe" | grep -c '^menu-')" -le "$before" ] && [ "$i" -lt 50 ]; do
      sleep 0.2; i=$((i + 1))
    done
    menu=$(ls "$work/probe"/menu-* 2>/dev/null | sort -t- -k2 -n | tail -1)
    [ -n "$menu" ] || continue
    entry=$(grep "	Send to Phone as Ringtone$" "$menu")
    grep -q "	Copy$" "$menu" && break
    keys Escape
  done
  [ -n "$entry" ] || die "no \"Send to Phone as Ringtone\" in Thunar's menu: $(cat "$menu" 2>/dev/null)"
  step "Thunar's menu has \"Send to Phone as Ringtone\""
  x=$(echo "$entry" | cut -f1) y=$(echo "$entry" | cut -f2)
  xdotool mousemove --sync "$x" "$y" click 1
else
  dbus-run-session -- zimbrel "$song" >"$log" 2>&1 &
  pids="$pids $!"
fi

await "view viewSong" 90
win=$(find_window "^Zimbrel - The Ringtone Creator$" 30) || die "no Zimbrel window"
step "Zimbrel shows $(basename "$song")"

# Every driver ready: the ringtones are made at the same moment.
touch "$barrier/ready-$me"
i=0
while [ "$(ls "$barrier" | grep -c '^ready-')" -lt "$(cat "$barrier/drivers")" ]; do
  i=$((i + 1)); [ "$i" -lt 600 ] || die "the other users never got ready"; sleep 0.1
done

keys Return
# The part that rings: the loudest 30 s of the song; Return makes it.
await "part ready " 120
keys Return
await "view viewMake" 30
await "view viewReady" 180
await "ringtone " 30
# The page's player has loaded the ringtone from the user's work folder: it
# knows its length (the loudest 30 s of the 90 s songs).
await "labels .*player=0:00 / 0:30" 30
step "the ringtone is made and the page's player has loaded it"
keys Return
await "view viewProfile" 30
type_text "$name"
keys Tab
type_text "$phone"
keys Tab
type_text "$network"
keys Return
await "view viewSend" 30
keys Return
await "send done" 120
step "the ringtone was sent"
# SIGTERM ends the program as the title-bar close does.
pid=$(xdotool getwindowpid "$win")
kill -TERM "$pid"
i=0
while kill -0 "$pid" 2>/dev/null; do
  i=$((i + 1)); [ "$i" -lt 100 ] || die "Zimbrel did not end"; sleep 0.2
done
step "Zimbrel ended"
exit 0
