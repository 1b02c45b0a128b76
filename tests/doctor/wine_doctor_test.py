#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs telmarctl.exe and LUMORA_GUI.exe of a Windows cross build under Wine without
SiUSBXp.dll beside them:

1. `telmarctl.exe --json doctor` names the library as missing, where it was looked for,
   and exits with 1; `telmarctl.exe status` names the missing file and where to put it,
   and exits with 1: without the library the devices cannot even be counted, which is a
   failure, not "no box".
2. LUMORA_GUI.exe shows one box naming SiUSBXp.dll and where to put it, before its
   window opens, and ends with exit code 2.

    wine_doctor_test.py --windows-build DIR

Everything runs in a fresh temporary folder (Wine prefix included), under hard time
limits, and is removed afterwards (tests/windows/winetest.py). Exit code 77: skipped,
Wine cannot start here.
"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
from winetest import WineSession, boxes_in, expect, log, run, run_test  # noqa: E402

PUT_IT = "in the same folder as this program"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    args = parser.parse_args()
    session = WineSession(args.windows_build, 200)
    session.remote_exe = "reflasher-remote.exe"

    def steps():
        session.check_tools()
        # The remote's "lonebox" answers the first box of any program.
        session.copy_programs({"telmarctl.exe": "bin", "LUMORA_GUI.exe": "bin",
                               "reflasher-remote.exe": "standin"})
        session.boot_wine(session.start_display())
        env = session.env
        exe = os.path.join(session.app, "telmarctl.exe")

        code, out, err = run(["wine", exe, "--json", "doctor"], env, 60, "doctor")
        expect(code == 1, f"doctor: exit code {code}: {out} {err}")
        checks = {c["id"]: c for c in json.loads(out)["checks"]}
        library = checks.get("windows.library", {})
        expect(library.get("verdict") == "problem" and "SiUSBXp.dll" in library.get("found", "")
               and PUT_IT in library["found"] and "looked in" in library["found"],
               f"doctor: the library check is {library}")
        code, out, err = run(["wine", exe, "status"], env, 60, "status")
        expect(code == 1 and "SiUSBXp.dll could not be loaded" in err and PUT_IT in err,
               f"status: exit code {code}, {err!r}")
        log("telmarctl.exe: doctor and status name the missing library")

        panel = session.start_program(os.path.join(session.app, "LUMORA_GUI.exe"), "panel-run")
        _, lines = session.remote("lonebox", "40", at_most=40)
        boxes = boxes_in(lines)
        expect(len(boxes) == 1 and "SiUSBXp.dll" in boxes[0][1] and PUT_IT in boxes[0][1]
               and "The control panel reaches" in boxes[0][1],
               f"LUMORA_GUI.exe: boxes {boxes}, expected one naming SiUSBXp.dll")
        code = session.wait_exit(panel, at_most=20)
        expect(code == 2, f"LUMORA_GUI.exe: exit code {code} without the library, expected 2")
        log("LUMORA_GUI.exe: one box naming SiUSBXp.dll, exit code 2")

    return run_test(session, steps, "doctor under Wine without the library: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
