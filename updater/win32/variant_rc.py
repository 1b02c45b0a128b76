#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes one updater build's resource script: the build-specific parts (the About box
line naming the image inside, and the two icon files), then the common Reflasher.rc.

    variant_rc.py BUILD IMAGE PLACEHOLDER(0|1) LARGE_ICON SMALL_ICON OUTPUT

The About line reads like the one the other shells show, without the CRC-32, for
example "FPGA2 image, 25600 bytes (placeholder)": the program fills in the CRC-32 it
recorded at build time when it opens the About box, so that one function computes it.
"""
import os
import sys


def rc_string(text):
    # A resource string literal: quotes are doubled, nothing else is special to us.
    if any(c in text for c in "\\\n\r"):
        raise ValueError(f"cannot place {text!r} in a resource string")
    return '"' + text.replace('"', '""') + '"'


def main(argv):
    if len(argv) != 7:
        sys.exit(__doc__)
    build, image, placeholder, large, small, output = argv[1:]
    with open(image, "rb") as f:
        data = f.read()
    line = f"{build} image, {len(data)} bytes"
    if placeholder == "1":
        line += " (placeholder)"
    text = (
        f"// Generated for the {build} build from {os.path.basename(image)}; do not edit.\n"
        f"#define TELMAR_ABOUT_IMAGE_LINE {rc_string(line)}\n"
        f"#define TELMAR_LARGE_ICON_FILE {rc_string(large)}\n"
        f"#define TELMAR_SMALL_ICON_FILE {rc_string(small)}\n"
        '#include "Reflasher.rc"\n'
    )
    old = None
    if os.path.exists(output):
        with open(output, encoding="utf-8") as f:
            old = f.read()
    if old != text:
        with open(output, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv)
