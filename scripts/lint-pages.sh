#!/bin/sh
# Lints the page scripts (res/*.js) with ESLint, pinned in package.json and
# package-lock.json and installed into ./node_modules with npm (from the npm
# registry the first time; offline afterwards). Any warning fails.
set -e
cd "$(dirname "$0")/.."
if ! command -v npm >/dev/null 2>&1; then
  echo "lint-pages: npm is missing (scripts/install-deps.sh installs Node.js and npm)" >&2
  exit 2
fi
if [ ! -x node_modules/.bin/eslint ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  if [ -f package-lock.json ]; then
    npm ci --no-audit --no-fund --loglevel=error
  else
    npm install --no-audit --no-fund --loglevel=error
  fi
fi
# The generated res/status.js and res/members.js are linted where the build
# put them.
MODULE_DIR=${ZIMBREL_MODULE_DIR:-build}
for generated in status.js members.js; do
  if [ ! -f "$MODULE_DIR/res/$generated" ]; then
    echo "lint-pages: $MODULE_DIR/res/$generated is missing (build first)" >&2
    exit 2
  fi
done
exec node_modules/.bin/eslint --max-warnings 0 --no-ignore res tests/pages \
  "$MODULE_DIR/res/status.js" "$MODULE_DIR/res/members.js"
