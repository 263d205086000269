#!/bin/sh
# Checks the folders' layers against a configured build (default: build):
# every include names a header of the file's own folder or of one its target
# links directly, a library's public headers only those of folders it links
# PUBLIC, no folder links more than cmake/layers.txt allows, and
# docs/architecture.md shows the folder graph the build makes. One line per
# fault; exit 1 when there is any.
#
#   scripts/check-layers.sh [build folder] [--write]   (--write: rewrite the page's graph)
#   scripts/check-layers.sh [build folder] --graph     (print the graph)
set -eu
cd "$(dirname "$0")/.."
exec python3 cmake/check_layers.py "$@"
