#!/bin/sh
# Installs what is missing, builds and runs every test: the plain build with
# warnings as errors (unit, integration and end-to-end tests under Xvfb, then
# under headless mutter and sway as an ordinary user), the
# library tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# the job tests under ThreadSanitizer, then the fuzz targets, the naming
# rule (clang-tidy), the page linter and the tests of the pages' helpers
# under Node, and the check of the folders' layers (scripts/check-layers.sh)
# and that app/ keeps no mutable static state (scripts/check-app-state.sh).
# The builds are the
# presets of CMakePresets.json (plain, asan, tsan). Ends with a table of each
# stage's time, also when a stage fails.
set -eu
cd "$(dirname "$0")/.."

# Stage times: "name seconds result" lines, printed as a table on exit.
TIMES=$(mktemp)
STAGE=
stage() {
  stage_done
  STAGE=$1
  STAGE_START=$(date +%s)
}
stage_done() {
  if [ -n "$STAGE" ]; then
    echo "$STAGE $(($(date +%s) - STAGE_START)) ${1:-ok}" >>"$TIMES"
  fi
  STAGE=
}
report() {
  status=$?
  [ $status -eq 0 ] || stage_done FAILED
  echo
  printf '%-16s %8s  %s\n' stage seconds result
  total=0
  while read -r name seconds result; do
    printf '%-16s %8s  %s\n' "$name" "$seconds" "$result"
    total=$((total + seconds))
  done <"$TIMES"
  printf '%-16s %8s\n' total "$total"
  rm -f "$TIMES"
  exit $status
}
trap report EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

stage deps
./scripts/install-deps.sh --test
JOBS=$(nproc)
export WEBKIT_DISABLE_COMPOSITING_MODE=1

# Every file manager's module is built and tested (a missing -dev package
# stops the configure instead of leaving a module out).
stage build
cmake --preset plain
cmake --build --preset plain -j"$JOBS"
stage tests
# -noreset on every Xvfb of the suite: an X server that resets when its last
# client leaves drops any client that connected meanwhile and is not yet
# answered, and that client's program reports that it cannot open the display
# (4 processes opening and closing the display 600 times: 42 failures without
# it, 0 with it).
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --preset plain
# The program's end-to-end tests again under GNOME's mutter and sway
# (headless Wayland), as an ordinary user.
stage wayland
./scripts/test-wayland.sh build

stage asan-build
cmake --preset asan
cmake --build --preset asan -j"$JOBS"
stage asan-tests
xvfb-run -a -s "-noreset" ctest --preset asan

stage tsan-build
cmake --preset tsan
cmake --build --preset tsan -j"$JOBS"
stage tsan-tests
ctest --preset tsan

stage fuzz
./scripts/fuzz.sh
# The naming rule (docs/style.md) over every file the plain and fuzz builds
# compile.
stage names
./scripts/check-names.sh build build-fuzz
stage lint-pages
./scripts/lint-pages.sh
stage test-pages
./scripts/test-pages.sh
stage packages
./scripts/check-packages.sh
# The folders' layers against the plain build (its configure is all it reads).
stage layers
./scripts/check-layers.sh build
# No mutable static state in app/ (the plain build's compile commands).
stage app-state
./scripts/check-app-state.sh build
stage_done
