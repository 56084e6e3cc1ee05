#!/usr/bin/env bash
# Draws the application icon (a parcel and an arrow) at 32x32 and 16x16, and puts the two
# images in ui/win32/winqor.ico, winqor.exe's icon group.
# The PNGs and the .ico are committed; run this again only to change the drawing. Needs
# ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

draw() {  # size in pixels; the drawing is on a 32-unit grid
    local size=$1
    convert -size 32x32 xc:none \
        -fill '#c8873a' -stroke '#6b4216' -strokewidth 1.5 -draw 'polygon 4,12 28,12 28,29 4,29' \
        -fill '#e0a75c' -draw 'polygon 4,12 9,6 23,6 28,12' \
        -stroke none -fill '#f3e0b5' -draw 'rectangle 14,12 18,29' \
        -fill '#2e8b3d' -stroke '#14501e' -strokewidth 1.2 \
        -draw 'polygon 12,1 20,1 20,9 24,9 16,17 8,9 12,9' \
        -resize "${size}x${size}" -depth 8 -define png:color-type=6 "icon-$size.png"
}

draw 32
draw 16
# Two 32-bit images, the same bytes on every run.
convert icon-32.png icon-16.png ../../win32/winqor.ico
