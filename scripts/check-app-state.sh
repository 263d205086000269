#!/bin/sh
# Checks that the front end (app/) keeps no mutable state of its own: no
# variable of static storage (namespace scope, a class's static member, a
# function's static) in app/ that is not const. What such a variable would
# hold belongs to an object the application owns (app/zimbrel_app.h). Reads
# the compile commands of a configured build (default: build); prints each
# variable found and exits 1 when there is any.
#
#   scripts/check-app-state.sh [build folder]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
QUERY=$(command -v clang-query || command -v clang-query-14 || true)
if [ -z "$QUERY" ]; then
  echo "check-app-state: clang-query not found (Debian package clang-tools)" >&2
  exit 2
fi
if [ ! -f "$BUILD/compile_commands.json" ]; then
  echo "check-app-state: no $BUILD/compile_commands.json (configure the build first)" >&2
  exit 2
fi
out=$("$QUERY" -p "$BUILD" \
  -c 'set output diag' \
  -c 'match varDecl(hasGlobalStorage(), unless(hasType(isConstQualified())), unless(isConstexpr()), isExpansionInFileMatching("/app/"))' \
  app/*.cpp 2>&1) || {
  echo "$out" >&2
  exit 2
}
found=$(printf '%s\n' "$out" | grep -E '^[^ ]+:[0-9]+:[0-9]+: note: "root" binds here' |
  sed 's/: note: "root" binds here//' | sort -u)
if [ -n "$found" ]; then
  echo "check-app-state: mutable variables of static storage in app/:"
  printf '%s\n' "$found" | sed "s|^$(pwd)/||"
  exit 1
fi
echo "check-app-state: app/ keeps no mutable static state"
