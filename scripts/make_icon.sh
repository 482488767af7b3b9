#!/usr/bin/env bash
# Draws the program's icon (src/app/res/quorvel.ico, 16, 32 and 48 pixels) with
# ImageMagick: a database cylinder with an arrow pointing up, on a blue tile. The icon is
# committed; run this again only to change it.
#
#   scripts/make_icon.sh [OUTPUT.ico]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-src/app/res/quorvel.ico}
# Debian's ImageMagick; another `convert` earlier on PATH may not be it.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-icon-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Drawn once at 256 pixels; every size is scaled down from it.
"$convert" -size 256x256 xc:none \
    -fill '#1f5fa8' -draw 'roundrectangle 8,8 247,247 40,40' \
    -fill '#f4f7fb' -stroke '#0e3768' -strokewidth 6 \
    -draw 'rectangle 40,78 160,200' \
    -draw 'ellipse 100,200 60,22 0,180' \
    -stroke none -draw 'rectangle 43,78 157,198' \
    -stroke '#0e3768' -fill none -draw 'ellipse 100,120 60,22 0,180' \
    -draw 'ellipse 100,160 60,22 0,180' \
    -fill '#f4f7fb' -draw 'ellipse 100,78 60,22 0,360' \
    -stroke none -fill '#3cc06a' \
    -draw 'polygon 196,40 240,100 212,100 212,200 180,200 180,100 152,100' \
    "$work/big.png"
for size in 16 32 48; do
    "$convert" "$work/big.png" -resize ${size}x${size} "$work/icon-$size.png"
done
"$convert" "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" "$out"
echo "wrote $out"
