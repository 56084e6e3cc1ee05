#!/usr/bin/env bash
# Draws the icons of the desktop: winqor's own (the parcel and the arrow of the window's icon)
# and the .aze file type's (the parcel on a sheet), at every size of the hicolor theme that
# the install puts in place. The PNGs are committed; run this again only to change the
# drawing. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")"

sizes=(16 22 24 32 48 64 128 256)

# The window's icon, on a 32-unit grid (ui/gtk/resources/draw_icons.sh draws the same at 16
# and 32).
# Folders are named as the hicolor theme names them: SIZExSIZE/apps, SIZExSIZE/mimetypes.
parcel_and_arrow=(
    -fill '#c8873a' -stroke '#6b4216' -strokewidth 1.5 -draw 'polygon 4,12 28,12 28,29 4,29'
    -fill '#e0a75c' -draw 'polygon 4,12 9,6 23,6 28,12'
    -stroke none -fill '#f3e0b5' -draw 'rectangle 14,12 18,29'
    -fill '#2e8b3d' -stroke '#14501e' -strokewidth 1.2
    -draw 'polygon 12,1 20,1 20,9 24,9 16,17 8,9 12,9'
)

# A sheet with a folded corner, and a small parcel on it.
sheet_and_parcel=(
    -fill '#fbfbf8' -stroke '#5a5a5a' -strokewidth 1.2 -draw 'polygon 6,1 20,1 27,8 27,31 6,31'
    -fill '#d9d9d4' -draw 'polygon 20,1 20,8 27,8'
    -fill '#c8873a' -stroke '#6b4216' -strokewidth 1.2 -draw 'polygon 9,17 24,17 24,28 9,28'
    -fill '#e0a75c' -draw 'polygon 9,17 12,13 21,13 24,17'
    -stroke none -fill '#f3e0b5' -draw 'rectangle 15,17 18,28'
)

# Draws on a 256-pixel canvas (the grid scaled by 8) and scales down, so every size is
# smoothed from the same drawing.
draw() {  # folder, name, size, drawing...
    local folder=$1 name=$2 size=$3
    shift 3
    mkdir -p "${size}x$size/$folder"
    convert -size 256x256 xc:none -affine 8,0,0,8,0,0 "$@" \
        -resize "${size}x${size}" -depth 8 -define png:color-type=6 -strip \
        "${size}x$size/$folder/$name.png"
}

for size in "${sizes[@]}"; do
    draw apps winqor "$size" "${parcel_and_arrow[@]}"
    draw mimetypes application-x-aze "$size" "${sheet_and_parcel[@]}"
done
