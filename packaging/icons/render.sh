#!/usr/bin/env bash
# Draws the PNG sizes of the application icon from vek.svg; run by hand when
# the artwork changes (needs rsvg-convert, Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" vek.svg -o "vek-$size.png"
done
