#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the placeholder flash images and the icons of both updater builds.

The output is byte-for-byte reproducible; run it from any directory:

    python3 updater/variants/make_placeholders.py

Placeholder image pattern (no real firmware, only good for the simulated box):
every 16-byte packet p (0..31) of block b is
    "PLACEHOLDER" + build digit ('1' or '2') + b + p + (0xFF ^ b) + (0xFF ^ p)
so a packet that lands in the wrong place, or is lost, shows up in a flash dump.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

BUILDS = {
    # folder: (digit, block count, large icon size, small icon size, colour RGB)
    "fpga1": ("1", 248, 48, 48, (0x1F, 0x4E, 0x9A)),
    "fpga2": ("2", 50, 64, 48, (0x1E, 0x7A, 0x3C)),
}


def placeholder_image(digit, blocks):
    out = bytearray()
    for b in range(blocks):
        for p in range(32):
            out += b"PLACEHOLDER" + digit.encode() + bytes([b, p, 0xFF ^ b, 0xFF ^ p])
    return bytes(out)


# 5 x 7 glyphs of the two digits the icons show.
GLYPHS = {
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
}


def icon_pixels(size, digit, colour):
    """A chip on a coloured tile with the build digit on it, as RGBA rows top down."""
    tile = colour + (0xFF,)
    chip = (0x30, 0x30, 0x30, 0xFF)
    pin = (0xC8, 0xC8, 0xC8, 0xFF)
    ink = (0xFF, 0xFF, 0xFF, 0xFF)
    clear = (0, 0, 0, 0)
    rows = [[tile] * size for _ in range(size)]
    # Transparent corners round the tile a little.
    r = size // 8
    for y in range(size):
        for x in range(size):
            dx = max(r - x, x - (size - 1 - r), 0)
            dy = max(r - y, y - (size - 1 - r), 0)
            if dx * dx + dy * dy > r * r:
                rows[y][x] = clear
    lo, hi = size // 4, size - size // 4
    for y in range(lo, hi):
        for x in range(lo, hi):
            rows[y][x] = chip
    step = max(size // 12, 2)
    for k in range(lo + step // 2, hi - 1, step):
        for t in range(size // 10):
            for (x, y) in ((k, lo - 1 - t), (k, hi + t), (lo - 1 - t, k), (hi + t, k)):
                rows[y][x] = pin
    scale = (hi - lo) // 9
    glyph = GLYPHS[digit]
    gx = lo + ((hi - lo) - 5 * scale) // 2
    gy = lo + ((hi - lo) - 7 * scale) // 2
    for j, line in enumerate(glyph):
        for i, c in enumerate(line):
            if c == "#":
                for y in range(gy + j * scale, gy + (j + 1) * scale):
                    for x in range(gx + i * scale, gx + (i + 1) * scale):
                        rows[y][x] = ink
    return rows


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
    with open(path, "wb") as f:
        f.write(data)
    print(f"{os.path.relpath(path, HERE)}: {len(data)} bytes")


def main():
    for folder, (digit, blocks, large, small, colour) in BUILDS.items():
        base = os.path.join(HERE, folder)
        write(os.path.join(base, f"placeholder-{folder}.bin"), placeholder_image(digit, blocks))
        write(os.path.join(base, "icon-large.ico"), ico_file(icon_pixels(large, digit, colour)))
        write(os.path.join(base, "icon-small.ico"), ico_file(icon_pixels(small, digit, colour)))


if __name__ == "__main__":
    main()
