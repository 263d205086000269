#!/bin/sh
# Checks the naming rule of docs/style.md (.clang-tidy: clang-tidy's
# readability-identifier-naming) over every C++ source file of our folders
# that the given builds compile, two at a time. Prints each finding once
# (a header's finding comes from every file that includes it) and fails when
# there is any. With --fix, applies the renames instead (declarations and
# every use the builds see; uses in code no build compiles are left, and a
# second run shows them).
#
#   scripts/check-names.sh [--fix] [build folder ...]    (default: build)
#
# A file is checked with the first build folder whose compile_commands.json
# has it (add build-fuzz for the fuzz targets).
set -eu
cd "$(dirname "$0")/.."
ROOT=$(pwd)
FIX=
if [ "${1:-}" = --fix ]; then
  FIX=1
  shift
fi
[ $# -gt 0 ] || set -- build
TIDY=${CLANG_TIDY:-clang-tidy-14}
APPLY=${CLANG_APPLY_REPLACEMENTS:-clang-apply-replacements-14}
FOLDERS='app|bench|bridge|core|fuzz|jobs|media|net|platform|service|settings|shellext|tests|webext'
JOBS=${JOBS:-2}

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# "build folder<TAB>file" for each file, from the first build that has it.
for build in "$@"; do
  if [ ! -f "$build/compile_commands.json" ]; then
    echo "check-names: $build/compile_commands.json is missing (configure the build first)" >&2
    exit 2
  fi
done
python3 - "$ROOT" "$FOLDERS" "$@" >"$WORK/files" <<'EOF'
import json, os, re, sys
root, folders, builds = sys.argv[1], sys.argv[2], sys.argv[3:]
ours = re.compile(re.escape(root) + "/(" + folders + r")/.*\.(cpp|cc)$")
seen = set()
for build in builds:
    for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
        path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
        if ours.match(path) and path not in seen:
            seen.add(path)
            print(build + "\t" + path)
EOF
count=$(wc -l <"$WORK/files")
if [ "$count" -eq 0 ]; then
  echo "check-names: no source files of ours in $*" >&2
  exit 2
fi

# One clang-tidy per file; its output (and fixes) go to files of their own.
export TIDY WORK FIX
# The header filter names our folders under this checkout only, so that the
# build folder's generated headers are left out.
# Headers are reached through the layers' include roots
# (<build>/layers/<target>/<folder>/..., cmake/Layers.cmake) as well.
export HEADERS="^$ROOT/(.*/layers/[^/]+/)?($FOLDERS)/"
i=0
while IFS="$(printf '\t')" read -r build file; do
  i=$((i + 1))
  printf '%s\t%s\t%s\n' "$i" "$build" "$file"
done <"$WORK/files" | xargs -d '\n' -P"$JOBS" -n1 sh -c '
  IFS=$(printf "\t")
  set -- $1
  n=$1 build=$2 file=$3
  export_fixes=
  [ -z "$FIX" ] || export_fixes="--export-fixes=$WORK/$n.yaml"
  "$TIDY" -p "$build" --quiet --header-filter="$HEADERS" \
    --extra-arg=-Wno-unknown-warning-option $export_fixes "$file" >"$WORK/$n.log" 2>&1 || true
' sh

# Findings, each once; a file clang cannot parse counts as one.
# A header reached through a layer's include root is named by its own path,
# so that each finding and each rename counts once.
UNLAYER="s#$ROOT/[^ ]*/layers/[^/ ]*/#$ROOT/#g"
cat "$WORK"/*.log | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' | sed -E "$UNLAYER" |
  sort -u >"$WORK/findings" || true
found=$(wc -l <"$WORK/findings")

if [ -n "$FIX" ]; then
  if ls "$WORK"/*.yaml >/dev/null 2>&1; then
    mkdir "$WORK/fixes"
    for f in "$WORK"/*.yaml; do sed -E "$UNLAYER" "$f" >"$WORK/fixes/${f##*/}"; done
    rm -f "$WORK"/*.yaml
    "$APPLY" --remove-change-desc-files "$WORK/fixes"
  fi
  echo "check-names: $found finding(s) in $count files; renames applied (run again to check)"
  exit 0
fi
if [ "$found" -gt 0 ]; then
  cat "$WORK/findings"
  echo "check-names: FAILED: $found name(s) break the rule of docs/style.md in $count files" \
    "(scripts/check-names.sh --fix renames them)"
  exit 1
fi
echo "check-names: passed ($count files)"
