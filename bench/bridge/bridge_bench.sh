#!/bin/sh
# One synchronous window.external call from page script: a page makes 20,000
# calls in a tight loop, alternating runs of 1,000 method calls
# (ZBL_GetVersion) and 1,000 status-property reads (ZBL_tsStatus); the UI
# process records when each request arrives, so the gap between two arrivals
# is the whole cost of one call (JavaScript glue, framing, the socket round
# trip and the dispatch). Prints "bridge_call_us <median> <p99> <mean>" in
# microseconds, and, when the floor program is given, "socket_floor_us
# <mean>": a one-byte request and reply between two processes, measured
# right before and after the page (the mean of the two).
# Usage: bench/bridge/bridge_bench.sh <module dir> [socket_floor]
#        (run under an X display)
set -eu
MOD=$(cd "$1" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/m"
cp "$MOD/zimbrel" "$WORK/m/"
cp -a "$MOD/extensions" "$MOD/res" "$WORK/m/"
cat > "$WORK/m/res/selectSong.html" <<'HTML'
<!doctype html><script>
var x = window.external, f = x.ZBL_GetVersion, s = 0;
setTimeout(function () {
  for (var r = 0; r < 10; r++) {
    for (var i = 0; i < 1000; i++) f();
    for (var j = 0; j < 1000; j++) s += x.ZBL_tsStatus;
  }
  x.ZBL_CloseWindow();
}, 300);
</script>
HTML
export ZIMBREL_REGISTRY_DIR="$WORK/reg" WEBKIT_DISABLE_COMPOSITING_MODE=1
FLOOR=${2:-}
[ -z "$FLOOR" ] || "$FLOOR" 20000 > "$WORK/floor"
ZIMBREL_BRIDGE_TIMING="$WORK/arrivals" timeout 120 "$WORK/m/zimbrel" > /dev/null
[ -z "$FLOOR" ] || "$FLOOR" 20000 >> "$WORK/floor"
python3 - "$WORK/arrivals" "$WORK/floor" <<'PY'
import sys
t = [int(l) for l in open(sys.argv[1])]
calls = t[-20001:-1]  # the last arrival is ZBL_CloseWindow
gaps = sorted((b - a) / 1000.0 for a, b in zip(calls, calls[1:]))
med = gaps[len(gaps) // 2]
p99 = gaps[int(len(gaps) * 0.99)]
mean = (calls[-1] - calls[0]) / 1000.0 / (len(calls) - 1)
print("bridge_call_us %.1f %.1f %.2f" % (med, p99, mean))
try:
    floors = [float(l.split()[1]) for l in open(sys.argv[2]) if l.startswith("socket_floor_us")]
    if floors:
        print("socket_floor_us %.2f" % (sum(floors) / len(floors)))
except OSError:
    pass
PY
