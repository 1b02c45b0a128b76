#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Redraws the control panel's pictures (committed beside lumora.qrc) from plain
# shapes, so they can be remade on any machine with ImageMagick. Timestamps and
# other metadata are left out so the same ImageMagick gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# draw BODY BAR LED OUT: a rounded tile with three signal bars and a status dot, 512 px.
draw() {
    convert -size 512x512 xc:none \
        -fill "$1" -draw "roundrectangle 16,16 495,495 72,72" \
        -fill "$2" -draw "rectangle 96,150 416,190" \
        -draw "rectangle 96,236 352,276" \
        -draw "rectangle 96,322 288,362" \
        -fill "$3" -draw "circle 380,342 416,342" \
        "$4"
}
draw '#1d4f91' '#ffffff' '#f39c12' "$tmp/telmar.png"
draw '#2878c8' '#ffffff' '#7fd34e' "$tmp/blue.png"
draw '#12344f' '#e8f1f8' '#e74c3c' "$tmp/logo2.png"

png() { # source size out
    convert "$1" -resize "$2x$2" -depth 8 -strip -define png:exclude-chunks=date,time,tIME "$3"
}
jpg() { # source size out; JPEG has no transparency, so it sits on white
    convert "$1" -resize "$2x$2" -background white -flatten -strip -quality 90 "$3"
}

png "$tmp/telmar.png" 256 telmar.png
png "$tmp/telmar.png" 64 telmar_64.png
png "$tmp/telmar.png" 32 telmar_32.png
png "$tmp/blue.png" 64 logoblue64.png
png "$tmp/logo2.png" 80 logo2_80.png
png "$tmp/logo2.png" 64 logo2_64.png
jpg "$tmp/logo2.png" 32 logo2-32.jpg
jpg "$tmp/logo2.png" 48 logo2-48.jpg
convert "$tmp/logo2.png" -strip -define icon:auto-resize=48,32,16 logo3.ico
convert "$tmp/telmar.png" -strip -define icon:auto-resize=256 telmar_256.ico
