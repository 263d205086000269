#!/bin/sh
# Renders the application icon (res/images/zimbrel.svg, the phone pictogram)
# into the PNG sizes of the hicolor theme under data/icons/ and the small
# PNG the help pages use. Run after changing the SVG; the PNGs are committed.
# Needs rsvg-convert (Debian package librsvg2-bin).
set -e
cd "$(dirname "$0")/.."
svg=res/images/zimbrel.svg
for n in 16 22 24 32 48 64 128 256 512; do
  dir=data/icons/hicolor/${n}x${n}/apps
  mkdir -p "$dir"
  rsvg-convert -w "$n" -h "$n" "$svg" -o "$dir/org.zimbrel.Zimbrel.png"
done
rsvg-convert -w 48 -h 48 "$svg" -o res/images/zimbrel-48.png
