#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs telmarctl.exe of a Windows cross build under Wine, with the stand-in
SiUSBXp.dll beside it, and checks it against the Linux telmarctl on a simulated box:

1. `--json status` prints exactly what the Linux program prints for a fresh simulated
   box (both boxes start from the same model).
2. `set logo-led off` prints the panel's confirmation; a usage error exits with 2; the
   `sim` backend, which no Windows build has, finds no box (exit 3).
3. `--json update fpga2 --yes` ends with exit code 0 and the stand-in's flash equal to
   the image.

    wine_telmarctl_test.py --windows-build DIR --telmarctl PATH --telmar-sim PATH

Everything runs in a fresh temporary folder (Wine prefix included), under hard time
limits, and is removed afterwards (tests/windows/winetest.py). Exit code 77: skipped,
Wine cannot start here.
"""
import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "windows"))
from winetest import (WineSession, expect, image_of, log, run, run_test,  # noqa: E402
                      windows_path)


class Session(WineSession):
    sim = None

    def cleanup(self):
        if self.sim is not None:
            self.sim.terminate()
            try:
                self.sim.wait(10)
            except subprocess.TimeoutExpired:
                self.sim.kill()
        super().cleanup()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--telmarctl", required=True)
    parser.add_argument("--telmar-sim", required=True)
    args = parser.parse_args()

    # No overall limit: every step has its own.
    session = Session(args.windows_build, float("inf"))

    def steps():
        session.check_tools(display=False)
        session.copy_programs({"telmarctl.exe": "bin", "SiUSBXp.dll": "standin"})
        exe = os.path.join(session.app, "telmarctl.exe")
        tmp = session.tmp
        session.boot_wine(at_most=120)
        env = session.env

        # The Linux program on a fresh simulated box says what the Windows one must say.
        socket = os.path.join(tmp, "sim.sock")
        session.sim = subprocess.Popen([args.telmar_sim, "serve", "--socket", socket],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = session.sim.stdout.readline().decode()
        expect("serving on" in line, f"telmar-sim did not start: {line!r}")
        linux_env = dict(os.environ, TELMAR_SIM_SOCKET=socket)
        code, expected, err = run([args.telmarctl, "--backend", "sim", "--json", "status"],
                                  linux_env, 20, "Linux telmarctl status")
        expect(code == 0, f"Linux telmarctl status: exit code {code}: {err}")

        code, out, err = run(["wine", exe, "--json", "status"], env, 60, "status")
        expect(code == 0, f"status: exit code {code}: {err}")
        expect(out == expected, f"status differs:\n  Windows: {out}\n  Linux:   {expected}")
        log("status --json: as on Linux")

        code, out, err = run(["wine", exe, "set", "logo-led", "off"], env, 60, "set")
        expect((code, out) == (0, "Logo LED OFF\n"), f"set: exit code {code}, {out!r}, {err!r}")
        code, out, err = run(["wine", exe, "frobnicate"], env, 60, "usage error")
        expect(code == 2, f"a usage error: exit code {code}")
        code, out, err = run(["wine", exe, "--backend", "sim", "status"], env, 60, "sim")
        expect(code == 3, f"--backend sim: exit code {code}: {err}")
        log("set, usage error, missing backend: as documented")

        dump = os.path.join(tmp, "dump")
        os.makedirs(dump)
        update_env = dict(env, TELMAR_STANDIN_DUMP_DIR=windows_path(dump))
        started = time.monotonic()
        code, out, err = run(["wine", exe, "--json", "update", "fpga2", "--yes"], update_env, 120,
                             "update")
        expect(code == 0, f"update: exit code {code}: {err}")
        expect('{"event":"result","outcome":"completed","exit_code":0}' in out,
               f"update: no completed result in {out[-300:]!r}")
        with open(os.path.join(dump, "fpga2.bin"), "rb") as f:
            flash = f.read()
        expect(flash == image_of(args.windows_build, "FPGA2"),
               "update: the stand-in's FPGA2 flash differs from the image")
        log(f"update fpga2: flash equals the image ({time.monotonic() - started:.1f} s)")

    return run_test(session, steps, "telmarctl.exe under Wine: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
