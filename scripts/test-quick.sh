#!/bin/sh
# The quick loop: builds (configuring the plain build first when its folder
# is missing), then runs what needs no window, no root and nothing beyond the
# packages of install-deps.sh --test already installed: the check of the
# folders' layers (scripts/check-layers.sh), the libraries' tests (labels
# unit and jobs, less e2e, root and display), the tests of the pages'
# helpers under Node when node is there, and the page linter when ESLint is
# already installed (it is never fetched here). Ends with one line: what
# ran, what failed, how long.
#
#   scripts/test-quick.sh [build folder]     (default: build)
#
# scripts/test-all.sh runs everything.
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build}
JOBS=$(nproc)
start=$(date +%s)

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  if [ "$BUILD" = build ]; then
    cmake --preset plain || exit 1
  else
    echo "test-quick: $BUILD is not a configured build folder" >&2
    exit 2
  fi
fi
cmake --build "$BUILD" -j"$JOBS" || exit 1

failed=""
summary=""
# step NAME COMMAND...: runs the command and notes NAME as passed or failed.
step() {
  name=$1
  shift
  if "$@"; then
    result="$name: passed"
  else
    result="$name: FAILED"
    failed="$failed $name"
  fi
  summary="${summary:+$summary; }$result"
}

step layers ./scripts/check-layers.sh "$BUILD"

# Unset so that a test needing a display fails here instead of using
# whatever display the caller has (such a test belongs under "display").
log=$(mktemp)
{
  env -u DISPLAY -u WAYLAND_DISPLAY ctest --test-dir "$BUILD" --output-on-failure -j2 \
    -L 'unit|jobs' -LE 'e2e|root|display' 2>&1
  echo $? >"$log.rc"
} | tee "$log"
rc=$(cat "$log.rc")
line=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
rm -f "$log" "$log.rc"
summary="$summary; ctest: ${line:-no result}"
[ $rc -eq 0 ] || failed="$failed ctest"

export ZIMBREL_MODULE_DIR="$BUILD"
if command -v node >/dev/null 2>&1; then
  step pages ./scripts/test-pages.sh
else
  summary="$summary; pages: skipped (no node)"
fi

if [ -x node_modules/.bin/eslint ] && ! [ package-lock.json -nt node_modules/.package-lock.json ]; then
  step lint ./scripts/lint-pages.sh
else
  summary="$summary; lint: skipped (ESLint not installed: npm ci)"
fi

seconds=$(($(date +%s) - start))
if [ -n "$failed" ]; then
  echo "test-quick: FAILED ($failed ) in ${seconds} s: $summary"
  exit 1
fi
echo "test-quick: passed in ${seconds} s: $summary"
