#!/bin/sh
# Runs the tests of the pages' pure helpers (tests/pages/*.test.js) with
# Node's built-in test runner. Node 18 (Debian 12) needs the files named.
set -e
cd "$(dirname "$0")/.."
if ! command -v node >/dev/null 2>&1; then
  echo "test-pages: node is missing (scripts/install-deps.sh installs Node.js)" >&2
  exit 2
fi
exec node --test tests/pages/*.test.js
