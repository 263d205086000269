#!/bin/sh
# One synchronous window.external call from page script: a page makes 10,000
# calls in a tight loop; the UI process records when each request arrives, so
# the gap between two arrivals is the whole cost of one call (JavaScript glue,
# framing, the socket round trip and the dispatch). Prints
# "bridge_call_us <median> <p99>" in microseconds.
# Usage: bench/bridge/bridge_bench.sh <module dir>   (run under an X display)
set -eu
MOD=$(cd "$1" && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/m"
cp "$MOD/zimbrel" "$WORK/m/"
cp -a "$MOD/extensions" "$MOD/res" "$WORK/m/"
cat > "$WORK/m/res/selectSong.html" <<'HTML'
<!doctype html><script>
var x = window.external, f = x.ZBL_GetVersion;
setTimeout(function () {
  for (var i = 0; i < 10000; i++) f();
  x.ZBL_CloseWindow();
}, 300);
</script>
HTML
export ZIMBREL_REGISTRY_DIR="$WORK/reg" WEBKIT_DISABLE_COMPOSITING_MODE=1
ZIMBREL_BRIDGE_TIMING="$WORK/arrivals" timeout 120 "$WORK/m/zimbrel" > /dev/null
python3 - "$WORK/arrivals" <<'PY'
import sys
t = [int(l) for l in open(sys.argv[1])]
gaps = sorted((b - a) / 1000.0 for a, b in zip(t[-10001:], t[-10000:]))
med = gaps[len(gaps) // 2]
p99 = gaps[int(len(gaps) * 0.99)]
print("bridge_call_us %.1f %.1f" % (med, p99))
PY
