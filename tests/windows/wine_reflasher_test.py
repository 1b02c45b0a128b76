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
server, under hard time limits, and is removed afterwards. Exit code 77 means the
test was skipped because Wine cannot start here. TELMAR_TEST_WINEDEBUG, when set,
replaces WINEDEBUG=-all (for example "err+all" to see why a run failed).
"""
import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zlib

SKIP = 77
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


class Failure(Exception):
    pass


class Skip(Exception):
    pass


class Interrupted(Exception):
    pass


def log(text):
    print(text, flush=True)


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self, at_most=None):
        remaining = self.end - time.monotonic()
        if remaining <= 0:
            raise Failure("the test ran out of time")
        return remaining if at_most is None else min(remaining, at_most)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def read_state(dump):
    try:
        with open(os.path.join(dump, "state.txt"), encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return {}
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def read_ppm(data):
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not m:
        raise Failure("the screenshot is not a PPM image")
    width, height, top = map(int, m.groups())
    step = 1 if top < 256 else 2
    pixels = data[m.end():]

    def dark(x, y):
        at = (y * width + x) * 3 * step
        r, g, b = pixels[at], pixels[at + step], pixels[at + 2 * step]
        return r + g + b < 3 * 128
    return width, height, dark


class Session:
    def __init__(self, args):
        self.deadline = Deadline(args.deadline)
        self.build = os.path.abspath(args.windows_build)
        self.tmp = tempfile.mkdtemp(prefix="telmar-wine-")
        self.xvfb = None
        self.updaters = []
        self.env = None
        self.app = os.path.join(self.tmp, "app")

    # ---- set-up and clean-up -------------------------------------------------------

    def prepare(self):
        for tool in ("wine", "wineboot", "wineserver"):
            if shutil.which(tool) is None:
                raise Skip(f"{tool} is not installed")
        for tool in ("Xvfb", "import"):
            if shutil.which(tool) is None:
                raise Failure(f"{tool} is not installed (scripts/deps.sh lists it)")
        sources = {
            f"Reflasher-{BUILD}.exe": os.path.join(self.build, "bin"),
            "SiUSBXp.dll": os.path.join(self.build, "standin"),
            "reflasher-remote.exe": os.path.join(self.build, "standin"),
            "updater-guards-check.exe": os.path.join(self.build, "standin"),
        }
        os.makedirs(self.app)
        for name, folder in sources.items():
            path = os.path.join(folder, name)
            if not os.path.exists(path):
                raise Failure(f"{path} is missing: build the Windows programs first")
            shutil.copy(path, self.app)
        self.image = self.image_of(BUILD)

    def image_of(self, build):
        listing = os.path.join(self.build, "reflasher-images.txt")
        with open(listing, encoding="utf-8") as f:
            for line in f:
                name, _placeholder, path = line.rstrip("\n").split(" ", 2)
                if name == build:
                    with open(path, "rb") as image:
                        return image.read()
        raise Failure(f"{listing} names no image for {build}")

    def start_display(self):
        reader, writer = os.pipe()
        with open(os.path.join(self.tmp, "xvfb.log"), "w") as out:
            self.xvfb = subprocess.Popen(
                # -noreset: a server reset when the last client leaves (as after wineboot)
                # re-binds the display's sockets, and fails if another server took them.
                ["Xvfb", "-displayfd", str(writer), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp", "-noreset"],
                pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=out,
                start_new_session=True)
        os.close(writer)
        # Xvfb writes the number and the newline in two writes and dies if the pipe is
        # closed in between, so read up to the newline.
        data = b""
        limit = time.monotonic() + self.deadline.left(20)
        while b"\n" not in data and time.monotonic() < limit:
            ready, _, _ = select.select([reader], [], [], max(0.0, limit - time.monotonic()))
            chunk = os.read(reader, 32) if ready else b""
            if not chunk:
                break
            data += chunk
        os.close(reader)
        number = data.decode().strip()
        if not number.isdigit():
            raise Failure("Xvfb did not start")
        return ":" + number

    def boot_wine(self, display):
        home = os.path.join(self.tmp, "home")
        os.makedirs(home)
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("TELMAR_", "WINE"))}
        self.env.update(
            WINEPREFIX=os.path.join(self.tmp, "prefix"), WINEARCH="win64",
            # wineserver keeps its socket folder under TMPDIR: inside ours, it goes with it.
            TMPDIR=self.tmp,
            WINEDEBUG=os.environ.get("TELMAR_TEST_WINEDEBUG", "-all"),
            # No installer dialogs for the .NET and HTML engines the programs never use.
            WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=display, HOME=home,
            XDG_CACHE_HOME=os.path.join(home, ".cache"),
            XDG_CONFIG_HOME=os.path.join(home, ".config"),
            XDG_DATA_HOME=os.path.join(home, ".local", "share"))
        started = time.monotonic()
        with open(os.path.join(self.tmp, "wineboot.log"), "w") as out:
            try:
                result = subprocess.run(["wineboot", "--init"], env=self.env, stdout=out,
                                        stderr=subprocess.STDOUT,
                                        timeout=self.deadline.left(100))
            except subprocess.TimeoutExpired:
                raise Skip("Wine cannot start: wineboot did not finish in time")
        if result.returncode != 0 or not os.path.exists(
                os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "system32")):
            with open(os.path.join(self.tmp, "wineboot.log"), errors="replace") as f:
                tail = f.read()[-2000:]
            raise Skip(f"Wine cannot start (wineboot exit code {result.returncode}):\n{tail}")
        # One server for the whole test, so that the program and reflasher-remote never
        # race each other to start one.
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=self.deadline.left(30),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        log(f"Wine prefix ready in {time.monotonic() - started:.1f} s")

    def display_state(self):
        if self.xvfb.poll() is not None:
            with open(os.path.join(self.tmp, "xvfb.log"), errors="replace") as f:
                return f"Xvfb ended with exit code {self.xvfb.returncode}: {f.read()[-1500:]}"
        try:
            probe = subprocess.run(["xdpyinfo", "-display", self.env["DISPLAY"]],
                                   capture_output=True, text=True, timeout=10)
        except (OSError, subprocess.TimeoutExpired) as error:
            return f"not checked: {error}"
        return "answers" if probe.returncode == 0 else f"does not answer: {probe.stderr.strip()}"

    def cleanup(self):
        for process in self.updaters:
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait(timeout=10)
        if self.env is not None:
            try:
                subprocess.run(["wineserver", "-k"], env=self.env, timeout=20,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                subprocess.run(["wineserver", "-w"], env=self.env, timeout=20,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                log("wineserver did not end in time")
        if self.xvfb is not None and self.xvfb.poll() is None:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.xvfb.pid, signal.SIGKILL)
                self.xvfb.wait(timeout=10)
        shutil.rmtree(self.tmp, ignore_errors=True)

    # ---- driving the program ---------------------------------------------------------

    def remote(self, *args, at_most=30):
        result = subprocess.run(["wine", os.path.join(self.app, "reflasher-remote.exe"), *args],
                                env=self.env, capture_output=True, text=True,
                                timeout=self.deadline.left(at_most + 15))
        if result.returncode != 0:
            raise Failure(f"reflasher-remote {' '.join(args)}: exit code {result.returncode}: "
                          f"{result.stdout.strip()}")
        return result.stdout.splitlines()

    def answer_boxes(self, count, at_most):
        """Answers `count` boxes (0: until the window is gone): [(caption, text)]."""
        lines = self.remote("boxes", str(at_most), str(count), at_most=at_most)
        boxes = []
        for line in lines:
            parts = line.split("\t")
            if parts[0] == "box" and len(parts) == 3:
                boxes.append((parts[1], parts[2]))
        return boxes

    def start_updater(self, name, dump, **controls):
        os.makedirs(dump, exist_ok=True)
        env = dict(self.env, TELMAR_STANDIN_DUMP_DIR=windows_path(dump))
        env.update(controls)
        out = open(os.path.join(self.tmp, f"{name}.log"), "w")
        process = subprocess.Popen(["wine", os.path.join(self.app, f"Reflasher-{BUILD}.exe")],
                                   env=env, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        out.close()
        self.updaters.append(process)
        return process

    def wait_exit(self, process, at_most):
        try:
            return process.wait(timeout=self.deadline.left(at_most))
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {at_most} s")

    def wait_state(self, process, dump, what, predicate, at_most):
        stop = time.monotonic() + at_most
        while True:
            state = read_state(dump)
            if state and predicate(state):
                return state
            if process.poll() is not None:
                raise Failure(f"the program ended (exit code {process.returncode}) before "
                              f"{what}; box state {state}")
            if time.monotonic() > stop:
                raise Failure(f"no {what} within {at_most} s; box state {state}")
            self.deadline.left()
            time.sleep(0.1)

    def launch(self, name, dump, **controls):
        """Starts the program and waits for its window: (process, client area)."""
        process = self.start_updater(name, dump, **controls)
        stop = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < stop:
            try:
                lines = self.remote("find", "5", at_most=5)
            except (Failure, subprocess.TimeoutExpired):
                continue
            info = dict(line.split("=", 1) for line in lines if "=" in line)
            expect(info.get("class") == WINDOW_CLASS, f"window class {info.get('class')!r}")
            expect(info.get("title") == WINDOW_TITLE, f"window title {info.get('title')!r}")
            return process, tuple(int(v) for v in info["client"].split(","))
        if process.poll() is None:
            raise Failure("the program's window did not appear within 60 s")
        # It ends quietly only when it cannot make its window: usually no X server.
        raise Failure(f"the program ended with exit code {process.returncode} before its "
                      f"window appeared; display {self.env['DISPLAY']}: {self.display_state()}")

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

    def info_options(self, version):
        """--version and --help print to the redirected output and end without a window."""
        exe = os.path.join(self.app, f"Reflasher-{BUILD}.exe")
        for option, check in (("--version", lambda out: out == f"Reflasher-{BUILD} {version}\n"),
                              ("--help", lambda out: out.startswith("usage: ")
                               and out.endswith(f"Reflasher-{BUILD} {version}\n"))):
            result = subprocess.run(["wine", exe, option], env=self.env, capture_output=True,
                                    timeout=self.deadline.left(30))
            out = result.stdout.decode("latin-1").replace("\r\n", "\n")
            expect(result.returncode == 0 and check(out),
                   f"{option}: exit code {result.returncode}, output {out[-120:]!r}")

    def good_run(self):
        dump = os.path.join(self.tmp, "dump-good")
        release = os.path.join(self.tmp, "release")
        process, client = self.launch("good-run", dump,
                                      TELMAR_STANDIN_HOLD_FILE=windows_path(release))
        self.check_greeting(client)
        texts = [line.split("\t", 1)[1] for line in self.remote("about", "20")
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
        shutil.copy(os.path.join(self.app, f"Reflasher-{BUILD}.exe"), bare)
        out = open(os.path.join(self.tmp, "missing-library-run.log"), "w")
        process = subprocess.Popen(["wine", os.path.join(bare, f"Reflasher-{BUILD}.exe")],
                                   env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        out.close()
        self.updaters.append(process)
        lines = self.remote("lonebox", "40", at_most=40)
        boxes = [line.split("\t")[1:] for line in lines if line.startswith("box\t")]
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

    def show_logs(self):
        for name in sorted(os.listdir(self.tmp)):
            path = os.path.join(self.tmp, name)
            if name.endswith("-run.log"):
                with open(path, errors="replace") as f:
                    text = f.read().strip()
                if text:
                    log(f"--- {name} (tail)\n{text[-1500:]}")


def expect(condition, what):
    if not condition:
        raise Failure(what)


def interrupted(signum, _frame):
    raise Interrupted(f"signal {signum}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--version", required=True, help="the version every program answers")
    parser.add_argument("--deadline", type=float, default=150,
                        help="seconds for the whole test, clean-up not included")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)

    session = Session(args)
    try:
        session.prepare()
        display = session.start_display()
        session.boot_wine(display)
        session.info_options(args.version)
        session.good_run()
        session.refused_packet_run()
        session.missing_library_run()
        session.lock_check()
        log("Reflasher-FPGA2.exe under Wine: all checks passed")
        return 0
    except Skip as skip:
        log(f"SKIPPED: {skip}")
        return SKIP
    except (Failure, Interrupted, subprocess.TimeoutExpired) as failure:
        log(f"FAILED: {failure}")
        session.show_logs()
        return 1
    finally:
        session.cleanup()


if __name__ == "__main__":
    sys.exit(main())
