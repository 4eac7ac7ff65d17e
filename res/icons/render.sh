#!/bin/sh
# Renders the program icon's PNG sizes from vellsetting.svg (ImageMagick).
set -e
cd "$(dirname "$0")"
for s in 16 24 32 48 64 128 256; do
    convert -background none -density 384 vellsetting.svg -resize "${s}x${s}" "vellsetting-$s.png"
done
