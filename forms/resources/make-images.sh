#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Redraws the control panel's pictures (committed beside lumora.qrc) from the panel's
# icon, org.telmar.Panel.svg, in three colourings. Needs rsvg-convert (librsvg2-bin)
# and ImageMagick; timestamps and other metadata are left out, so the same tools give
# the same bytes. Writes into the folder given, by default this one.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(cd "${1:-$here}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# draw TILE BARS LED OUT: the icon at 512 px with its colours replaced.
draw() {
    sed -e "s/#2878c8/$1/" -e "s/#ffffff/$2/" -e "s/#7fd34e/$3/" "$here/org.telmar.Panel.svg" \
        | rsvg-convert -w 512 -h 512 -o "$4"
}
draw '#1d4f91' '#ffffff' '#f39c12' "$tmp/telmar.png"
draw '#2878c8' '#ffffff' '#7fd34e' "$tmp/blue.png"
draw '#12344f' '#e8f1f8' '#e74c3c' "$tmp/logo2.png"

png() { # source size out
    convert "$1" -resize "$2x$2" -depth 8 -strip -define png:exclude-chunks=date,time,tIME "$out/$3"
}
jpg() { # source size out; JPEG has no transparency, so it sits on white
    convert "$1" -resize "$2x$2" -background white -flatten -strip -quality 90 "$out/$3"
}

png "$tmp/telmar.png" 256 telmar.png
png "$tmp/telmar.png" 64 telmar_64.png
png "$tmp/telmar.png" 32 telmar_32.png
png "$tmp/blue.png" 64 logoblue64.png
png "$tmp/logo2.png" 80 logo2_80.png
png "$tmp/logo2.png" 64 logo2_64.png
jpg "$tmp/logo2.png" 32 logo2-32.jpg
jpg "$tmp/logo2.png" 48 logo2-48.jpg
convert "$tmp/logo2.png" -strip -define icon:auto-resize=48,32,16 "$out/logo3.ico"
convert "$tmp/telmar.png" -strip -define icon:auto-resize=256 "$out/telmar_256.ico"
