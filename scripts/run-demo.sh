#!/bin/sh
# Installs what is missing, builds, starts the demo service on 127.0.0.1:8765
# (unless ZIMBREL_SERVICE_HOST names another service) and starts Zimbrel
# pointed at it. Arguments are passed to Zimbrel (for example a song's path).
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
# The program and the demo service only: the file managers' modules and the
# tests need what "install-deps.sh --test" installs.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZIMBREL_SHELLEXT=OFF -DZIMBREL_TESTS=OFF
cmake --build build -j"$(nproc)" --target zimbrel zimbrel-service

SERVICE_PID=
cleanup() { [ -n "$SERVICE_PID" ] && kill "$SERVICE_PID" 2>/dev/null || true; }
trap cleanup EXIT INT TERM
if [ -z "${ZIMBREL_SERVICE_HOST:-}" ]; then
  DATA="${XDG_DATA_HOME:-$HOME/.local/share}/zimbrel-service"
  mkdir -p "$DATA"
  build/bin/zimbrel-service --port 8765 --data "$DATA" &
  SERVICE_PID=$!
  export ZIMBREL_SERVICE_HOST=127.0.0.1:8765
  echo "zimbrel-service: delivered ringtones are listed at http://127.0.0.1:8765/phone/<number>"
fi
build/zimbrel "$@"
