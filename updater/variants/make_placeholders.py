#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the placeholder flash images and the icons of both updater builds.

The icons are drawn from each build's org.telmar.Reflasher.<BUILD>.svg (rsvg-convert
from librsvg2-bin, and ImageMagick). The output is byte-for-byte reproducible; run it
from any directory, optionally with the folder to write into (default: beside it):

    python3 updater/variants/make_placeholders.py [OUT]

Placeholder image pattern (no real firmware, only good for the simulated box):
every 16-byte packet p (0..31) of block b is
    "PLACEHOLDER" + build digit ('1' or '2') + b + p + (0xFF ^ b) + (0xFF ^ p)
so a packet that lands in the wrong place, or is lost, shows up in a flash dump.
"""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

BUILDS = {
    # folder: (digit, block count, large icon size, small icon size)
    "fpga1": ("1", 248, 48, 48),
    "fpga2": ("2", 50, 64, 48),
}


def placeholder_image(digit, blocks):
    out = bytearray()
    for b in range(blocks):
        for p in range(32):
            out += b"PLACEHOLDER" + digit.encode() + bytes([b, p, 0xFF ^ b, 0xFF ^ p])
    return bytes(out)


def icon_pixels(svg, size):
    """The build's icon drawn at size x size, as RGBA rows top down."""
    png = subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), svg],
                         check=True, capture_output=True).stdout
    raw = subprocess.run(["convert", "png:-", "-depth", "8", "rgba:-"], input=png,
                         check=True, capture_output=True).stdout
    if len(raw) != size * size * 4:
        sys.exit(f"{svg}: expected {size * size * 4} bytes of pixels, got {len(raw)}")
    return [[tuple(raw[(y * size + x) * 4:(y * size + x) * 4 + 4]) for x in range(size)]
            for y in range(size)]


def ico_file(rows):
    """One 32-bit image in the classic icon container (bitmap, bottom-up, empty AND mask)."""
    size = len(rows)
    xor = bytearray()
    for row in reversed(rows):
        for (r, g, b, a) in row:
            xor += bytes([b, g, r, a])
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + image


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print(f"{path}: {len(data)} bytes")


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else HERE
    for folder, (digit, blocks, large, small) in BUILDS.items():
        svg = os.path.join(HERE, folder, f"org.telmar.Reflasher.FPGA{digit}.svg")
        base = os.path.join(out, folder)
        write(os.path.join(base, f"placeholder-{folder}.bin"), placeholder_image(digit, blocks))
        write(os.path.join(base, "icon-large.ico"), ico_file(icon_pixels(svg, large)))
        write(os.path.join(base, "icon-small.ico"), ico_file(icon_pixels(svg, small)))


if __name__ == "__main__":
    main()
