#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The layer and format checks must fail on a planted violation, not only pass."""
import pathlib
import subprocess
import sys
import tempfile

SCRIPTS = pathlib.Path(__file__).resolve().parents[2] / "scripts"


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, timeout=60)


def main():
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        files = {
            "status/Clean.cpp": '#include "protocol/Frames.h"\n#include "status/A.h"\n',
            "status/Up.cpp": '#include "qt/MainWindow.h"\n',
            "usb/Sideways.cpp": '#include <vector>\n#include "sim/SimDriver.h"\n',
            "tests/Any.cpp": '#include "qt/MainWindow.h"\n',
            "qt/main.cpp": '#include "backends/DriverFactory.h"\n',
            "qt/Window.cpp": '#include "backends/DriverFactory.h"\n',
            "updater/qt/Window.cpp": '#include "updater/A.h"\n#include "backends/DriverFactory.h"\n',
        }
        planted = ("status/Up.cpp:1", "usb/Sideways.cpp:2", "qt/Window.cpp:1",
                   "updater/qt/Window.cpp:2")
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        result = run(sys.executable, str(SCRIPTS / "check-layers.py"), str(root))
        if result.returncode == 0:
            failures.append("check-layers passed a tree with violations")
        for needle in planted:
            if needle not in result.stderr:
                failures.append(f"check-layers did not name {needle}: {result.stderr!r}")
        for clean in ("Clean.cpp", "Any.cpp", "qt/main.cpp", "updater/qt/Window.cpp:1"):
            if clean in result.stderr:
                failures.append(f"check-layers flagged an allowed include in {clean}")

        for needle in planted:
            (root / needle.split(":")[0]).unlink()
        result = run(sys.executable, str(SCRIPTS / "check-layers.py"), str(root))
        if result.returncode != 0:
            failures.append(f"check-layers failed a clean tree: {result.stderr!r}")

        bad = root / "Bad.cpp"
        bad.write_text("int  main( ) {return 0;}\n")
        if run(str(SCRIPTS / "check-format.sh"), str(bad)).returncode == 0:
            failures.append("check-format passed a badly formatted file")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
