#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the unmodified Reflasher-FPGA2.exe under Wine, headless, with the stand-in
SiUSBXp.dll beside it, and drives it from outside with reflasher-remote.exe:

0. --version and --help print the project's version to the redirected output and end
   with exit code 0, without a window.
1. The window of class "TELMAR REFLASHER" opens, titled "TELMAR Reflasher", and shows
   its four greeting lines (read back from the screen); its About box names the image
   with the image's CRC-32.
2. Update Firmware (WM_COMMAND 110), sent twice, starts exactly one run.
3. While the image is written, the close box and the Exit command are refused with a
   box; the write goes on.
4. The simulated flash then equals the image, the box has left programming mode and
   was reset, and after WM_CLOSE the program ends with exit code 0.
5. A second run whose 40th flash packet the box refuses shows the two fatal boxes and
   the box that tells the user how to recover, takes the box out of programming mode
   and ends with exit code 1.
6. Without SiUSBXp.dll beside it, the program shows one box naming the library and
   where to put it, and ends with exit code 2 before its window opens.
7. The update lock (updater-guards-check.exe): one update of the user at a time.

    wine_reflasher_test.py --windows-build DIR --version VERSION [--deadline SECONDS]

Everything runs in a fresh temporary folder (Wine prefix included) on a private X
server, under hard time limits, and is removed afterwards (winetest.py). Exit code 77
means the test was skipped because Wine cannot start here.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import (Failure, WineSession, boxes_in, expect, image_of, log,  # noqa: E402
                      read_ppm, read_state, run_test, windows_path)

BUILD = "FPGA2"
WINDOW_CLASS = "TELMAR REFLASHER"
WINDOW_TITLE = "TELMAR Reflasher"
UPDATE_FIRMWARE, EXIT = 110, 105
REFUSED_PACKET = 40  # block 1, packet 7
PACKET_SIZE = 16
CRITICAL = "Critical Error!!! "
RECOVERY = "The firmware was NOT updated."
GREETING_YS = (10, 30, 80, 100)
LINE_X = 10


class Session(WineSession):
    remote_exe = "reflasher-remote.exe"

    def prepare(self):
        self.check_tools()
        self.copy_programs({
            f"Reflasher-{BUILD}.exe": "bin",
            "SiUSBXp.dll": "standin",
            "reflasher-remote.exe": "standin",
            "updater-guards-check.exe": "standin",
        })
        self.image = image_of(self.build, BUILD)
        self.exe = os.path.join(self.app, f"Reflasher-{BUILD}.exe")

    # ---- driving the program ---------------------------------------------------------

    def answer_boxes(self, count, at_most):
        """Answers `count` boxes (0: until the window is gone): [(caption, text)]."""
        return boxes_in(self.remote("boxes", str(at_most), str(count), at_most=at_most)[1])

    def launch(self, name, dump, **controls):
        """Starts the program and waits for its window: (process, client area)."""
        os.makedirs(dump, exist_ok=True)
        process = self.start_program(self.exe, name, TELMAR_STANDIN_DUMP_DIR=windows_path(dump),
                                     **controls)
        info = self.wait_window(process, WINDOW_CLASS, WINDOW_TITLE)
        return process, tuple(int(v) for v in info["client"].split(","))

    def check_greeting(self, client):
        """The four lines, read back from the screen: ink at y 10, 30, 80 and 100 from
        x 10 on, none between or below them, and the lines as long as their texts say."""
        left, top, width, height = client
        problem = None
        for _ in range(50):
            shot = subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root",
                                   "ppm:-"], capture_output=True, timeout=self.deadline.left(30))
            if shot.returncode != 0:
                raise Failure(f"import could not take a screenshot: {shot.stderr[-300:]}")
            screen_w, screen_h, dark = read_ppm(shot.stdout)

            def ink(rows):
                xs = [x for y in rows for x in range(width)
                      if 0 <= left + x < screen_w and 0 <= top + y < screen_h
                      and dark(left + x, top + y)]
                return (min(xs), max(xs)) if xs else None

            lines = [ink(range(y, y + 16)) for y in GREETING_YS]
            gaps = [ink(range(50, 76)), ink(range(122, height))]
            if any(line is None for line in lines):
                problem = f"missing greeting lines: ink at {dict(zip(GREETING_YS, lines))}"
            elif any(line[0] not in range(LINE_X, LINE_X + 4) for line in lines):
                problem = f"greeting lines do not start at x {LINE_X}: {lines}"
            elif any(gaps):
                problem = f"ink where no line was drawn: {gaps}"
            else:
                widths = {y: line[1] - line[0] for y, line in zip(GREETING_YS, lines)}
                # "Version: 2.18" < "TELMAR FPGA2 Update" < "Connect USB cable to TELMAR"
                # < "Close other software (e.g. GUI)"
                expect(widths[30] < widths[10] < widths[80] < widths[100],
                       f"greeting line widths {widths} do not fit their texts")
                log(f"greeting lines on screen, widths {widths}")
                return
            time.sleep(0.1)
        raise Failure(problem)

    # ---- the two runs ------------------------------------------------------------------

    def good_run(self):
        dump = os.path.join(self.tmp, "dump-good")
        release = os.path.join(self.tmp, "release")
        process, client = self.launch("good-run", dump,
                                      TELMAR_STANDIN_HOLD_FILE=windows_path(release))
        self.check_greeting(client)
        texts = [line.split("\t", 1)[1] for line in self.remote("about", "20")[1]
                 if line.startswith("about\t")]
        wanted = f"{BUILD} image, {len(self.image)} bytes, CRC-32 {zlib.crc32(self.image):08X}"
        expect(any(t.startswith(wanted) for t in texts),
               f"About box texts {texts}, expected a line starting {wanted!r}")

        # Two commands in a row: the second must not start a second worker, which
        # would try to open the box once more when its 10 s wait is over.
        self.remote("command", str(UPDATE_FIRMWARE))
        self.remote("command", str(UPDATE_FIRMWARE))
        state = self.wait_state(process, dump, "first flash packet", lambda s: s["held"] == "1",
                                at_most=40)
        expect(state["open-attempts"] == "1",
               f"{state['open-attempts']} attempts to open the box: a second run started")

        # The image is being written: closing and Exit are refused with a box.
        for how, args in (("close box", ("close",)), ("Exit", ("command", str(EXIT)))):
            self.remote(*args)
            boxes = self.answer_boxes(1, at_most=15)
            expect(len(boxes) == 1 and boxes[0][0] == WINDOW_TITLE
                   and "disconnect" in boxes[0][1],
                   f"{how} while writing: boxes {boxes}, expected the refusal")
            expect(process.poll() is None, f"{how} while writing ended the program")
        log("close box and Exit refused while writing")

        with open(release, "w"):
            pass
        state = self.wait_state(process, dump, "device closed after the write",
                                lambda s: s["closes"] == "1", at_most=30)
        expect(process.poll() is None, "the program ended by itself after the update")
        self.remote("close")
        code = self.wait_exit(process, at_most=20)
        expect(code == 0, f"exit code {code} after closing, expected 0")

        state = read_state(dump)
        with open(os.path.join(dump, "fpga2.bin"), "rb") as f:
            flash = f.read()
        expect(flash == self.image, "the simulated FPGA2 flash differs from the image")
        blocks = len(self.image) // 512
        for key, want in (("isp", "0"), ("resets", "1"), ("open", "0"), ("opens", "1"),
                          ("flash", "fpga2"), ("writes", str(blocks * 32)), ("misuse", "0")):
            expect(state.get(key) == want, f"after the update {key}={state.get(key)}, "
                                           f"expected {want}")
        log(f"good run: {len(self.image)} bytes written and verified, exit code 0")

    def refused_packet_run(self):
        dump = os.path.join(self.tmp, "dump-refused")
        process, _ = self.launch("refused-run", dump,
                                 TELMAR_STANDIN_REFUSE_PACKET=str(REFUSED_PACKET))
        self.remote("command", str(UPDATE_FIRMWARE))
        boxes = self.answer_boxes(0, at_most=60)
        expected = [(CRITICAL, "ERROR exit ISP mode !"), (CRITICAL, " ")]
        expect(boxes[:2] == expected and len(boxes) == 3,
               f"boxes {boxes}, expected {expected} and the way back")
        expect(boxes[2][0] == WINDOW_TITLE and boxes[2][1].startswith(RECOVERY),
               f"last box {boxes[2]}, expected the way back after a failed write")
        code = self.wait_exit(process, at_most=20)
        expect(code == 1, f"exit code {code} after a refused packet, expected 1")

        state = read_state(dump)
        for key, want in (("refuse-packet", str(REFUSED_PACKET)), ("isp", "0"), ("open", "0"),
                          ("resets", "0"), ("writes", str(REFUSED_PACKET - 1))):
            expect(state.get(key) == want, f"after the refused packet {key}={state.get(key)}, "
                                           f"expected {want}")
        with open(os.path.join(dump, "fpga2.bin"), "rb") as f:
            flash = f.read()
        written = (REFUSED_PACKET - 1) * PACKET_SIZE
        expect(flash[:written] == self.image[:written], "the packets before the refused one "
                                                        "are not in the flash")
        expect(flash[written:written + PACKET_SIZE] != self.image[written:written + PACKET_SIZE],
               "the refused packet landed in the flash")
        log("refused-packet run: two fatal boxes and the way back, programming mode left, "
            "exit code 1")

    def missing_library_run(self):
        bare = os.path.join(self.tmp, "bare")
        os.makedirs(bare)
        shutil.copy(self.exe, bare)
        process = self.start_program(os.path.join(bare, f"Reflasher-{BUILD}.exe"),
                                     "missing-library-run")
        _, lines = self.remote("lonebox", "40", at_most=40)
        boxes = boxes_in(lines)
        expect("window=none" in lines, f"the main window opened before the box: {lines}")
        expect(len(boxes) == 1 and boxes[0][0] == WINDOW_TITLE and "SiUSBXp.dll" in boxes[0][1]
               and "same folder as this program" in boxes[0][1],
               f"boxes {boxes}, expected one naming SiUSBXp.dll and where to put it")
        code = self.wait_exit(process, at_most=20)
        expect(code == 2, f"exit code {code} without the library, expected 2")
        log("missing library: one box naming SiUSBXp.dll, no window, exit code 2")

    def lock_check(self):
        result = subprocess.run(["wine", os.path.join(self.app, "updater-guards-check.exe")],
                                env=self.env, capture_output=True, text=True,
                                timeout=self.deadline.left(30))
        expect(result.returncode == 0 and result.stdout.strip() == "ok",
               f"update lock: {result.stdout.strip()} (exit code {result.returncode})")
        log("update lock: one update at a time")

def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--version", required=True, help="the version every program answers")
    parser.add_argument("--deadline", type=float, default=150,
                        help="seconds for the whole test, clean-up not included")
    args = parser.parse_args()

    session = Session(args.windows_build, args.deadline)

    def steps():
        session.prepare()
        session.boot_wine(session.start_display())
        session.check_info_options(session.exe, "usage: ", f"Reflasher-{BUILD} {args.version}\n")
        session.good_run()
        session.refused_packet_run()
        session.missing_library_run()
        session.lock_check()
    return run_test(session, steps, "Reflasher-FPGA2.exe under Wine: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
