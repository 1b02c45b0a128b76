#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Fails when a C++ file includes a folder that its own folder may not depend on.

The allowed direction is the one in docs/ARCHITECTURE.md. Usage:
    check-layers.py [ROOT]    (ROOT defaults to the repository)
"""
import pathlib
import re
import sys

# What each folder may include besides itself. Programs sit on top and may use the
# composition root; tests and benchmarks may use anything.
ALLOWED = {
    "app": set(),
    "usb": set(),
    "link": {"usb"},
    "protocol": {"link", "usb"},
    "status": {"protocol", "link", "usb"},
    "sim": {"usb", "app"},
    "backends": {"usb", "sim"},
    "panel": {"status", "protocol", "link", "usb"},
    "qt": {"panel", "status", "protocol", "link", "usb", "backends", "app"},
    "updater": {"link", "usb", "backends", "app"},
    "win32": {"panel", "status", "protocol", "link", "usb", "backends", "app"},
    "cli": {"updater", "panel", "status", "protocol", "link", "usb", "backends", "app"},
}
ANYTHING = {"tests", "bench"}
NOT_CODE = {"build", "docs", "packaging", "scripts", "cmake", "man"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z0-9_]+)/')
SUFFIXES = {".h", ".hpp", ".c", ".cpp", ".cc", ".rc"}


def main(argv):
    root = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).parent.parent)
    folders = set(ALLOWED) | ANYTHING
    problems = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in SUFFIXES or not path.is_file():
            continue
        parts = path.relative_to(root).parts
        top = parts[0]
        if len(parts) == 1 or top in ANYTHING or top.startswith(("build", ".")):
            continue
        if top not in ALLOWED:
            if top not in NOT_CODE:
                problems.append(f"{path.relative_to(root)}: folder {top}/ has no place in "
                                "the layer table of scripts/check-layers.py")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target == top or target not in folders:
                continue
            if target not in ALLOWED[top]:
                problems.append(f"{path.relative_to(root)}:{number}: {top}/ may not include "
                                f"{target}/ ({line.strip()})")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"check-layers: {len(problems)} include(s) against the allowed direction "
              "(docs/ARCHITECTURE.md)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
