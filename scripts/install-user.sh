#!/bin/sh
# Builds Zimbrel and installs it for the current user: the program's folder
# in ~/.local/lib/zimbrel, the launcher, icons and metainfo under
# ~/.local/share, and ~/.local/bin/zimbrel. (The Debian packages install it
# for every user: see the README.)
#   BUILD_DIR (default build) and PREFIX (default ~/.local) change the places.
# The file-manager entry is a separate system step (as root):
#   cmake --install build --component shellext
set -e
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
prefix=${PREFIX:-$HOME/.local}
[ -f "$build/CMakeCache.txt" ] ||
  cmake -S . -B "$build" -DZIMBREL_SHELLEXT=OFF -DZIMBREL_TESTS=OFF
cmake --build "$build" -j"$(nproc)" --target zimbrel
cmake --install "$build" --component zimbrel --prefix "$prefix"
echo "Zimbrel is installed: start it from the applications menu, or run $prefix/bin/zimbrel"
