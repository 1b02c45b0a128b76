#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Fails when a C++ file includes a folder that its own folder may not depend on.

The allowed direction is the one in docs/ARCHITECTURE.md. A file belongs to the deepest
folder of the table that holds it, and an include names the deepest folder of the table
it reaches, so updater/qt/ has a row of its own beside updater/. The composition root
(backends/) may be included only by the files that build a program. Usage:
    check-layers.py [ROOT]    (ROOT defaults to the repository)
"""
import pathlib
import re
import sys

BASICS = {"base"}
CORE = {"status", "protocol", "link", "usb"} | BASICS
# What each folder may include besides itself.
ALLOWED = {
    "app": set(),
    "base": set(),
    "usb": BASICS,
    "link": {"usb"} | BASICS,
    "protocol": {"link", "usb"} | BASICS,
    "status": CORE,
    "sim": {"usb", "app"} | BASICS,
    "backends": {"usb", "sim"} | BASICS,
    "backends/qt": {"backends", "usb"} | BASICS,
    "panel": CORE,
    "qt": {"panel", "app"} | CORE,
    "win32": {"panel", "app"} | CORE,
    "updater": {"link", "usb", "app"} | BASICS,
    "updater/qtcore": {"updater", "link", "usb"} | BASICS,
    "updater/qt": {"updater", "updater/qtcore", "link", "usb", "app"} | BASICS,
    "updater/win32": {"updater", "link", "usb", "app"} | BASICS,
    "doctor": {"usb", "sim"} | BASICS,
    "cli": {"updater", "updater/qtcore", "updater/win32", "panel", "doctor", "app"} | CORE,
}
# The files that build a program: the only ones that choose a driver.
COMPOSITION_ROOT = {"backends", "backends/qt"}
PROGRAM_FILES = {
    "qt/main.cpp",
    "win32/WinMain.cpp",
    "updater/qt/main.cpp",
    "updater/qt/ReflasherMain.cpp",
    "updater/win32/WinMain.cpp",
    "cli/main.cpp",
    "cli/Options.cpp",  # --backend names the table's entries
}
ANYTHING = {"tests", "bench"}
NOT_CODE = {"build", "docs", "packaging", "scripts", "cmake", "man", "forms"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z0-9_/.]+)"')
SUFFIXES = {".h", ".hpp", ".c", ".cpp", ".cc", ".rc"}


def folder_of(parts):
    """The deepest folder of the table that holds a path given as its parts."""
    for depth in range(len(parts), 0, -1):
        name = "/".join(parts[:depth])
        if name in ALLOWED or name in ANYTHING:
            return name
    return None


def problems_in(root):
    problems = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in SUFFIXES or not path.is_file():
            continue
        relative = path.relative_to(root)
        parts = relative.parts
        top = parts[0]
        if len(parts) == 1 or top in ANYTHING or top.startswith(("build", ".")):
            continue
        own = folder_of(parts[:-1])
        if own is None:
            if top not in NOT_CODE:
                problems.append(f"{relative}: folder {top}/ has no place in "
                                "the layer table of scripts/check-layers.py")
            continue
        allowed = ALLOWED[own] | ({own} | (COMPOSITION_ROOT if relative.as_posix() in
                                            PROGRAM_FILES else set()))
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or "/" not in match.group(1):
                continue
            target = folder_of(match.group(1).split("/")[:-1])
            if target is None or target in allowed:
                continue
            problems.append(f"{relative}:{number}: {own}/ may not include {target}/ "
                            f"({line.strip()})")
    return problems


def main(argv):
    root = pathlib.Path(argv[1] if len(argv) > 1 else pathlib.Path(__file__).parent.parent)
    problems = problems_in(root)
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"check-layers: {len(problems)} include(s) against the allowed direction "
              "(docs/ARCHITECTURE.md)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
