# SPDX-License-Identifier: MIT
"""What the Wine tests share: a fresh Wine prefix in a temporary folder, a private X
server, hard time limits, clean-up, and exit code 77 (skipped) only where Wine cannot
start. TELMAR_TEST_WINEDEBUG, when set, replaces WINEDEBUG=-all (for example "err+all"
to see why a run failed).

Booting a prefix costs each test several seconds of CPU, so CTest boots one first
(`winetest.py DIR`) and names it in TELMAR_WINE_TEMPLATE; each test then
clones it. Without a usable template a test boots its own.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

SKIP = 77


class Failure(Exception):
    pass


class Skip(Exception):
    pass


class Interrupted(Exception):
    pass


def log(text):
    print(text, flush=True)


def expect(condition, what):
    if not condition:
        raise Failure(what)


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self, at_most=None):
        remaining = self.end - time.monotonic()
        if remaining <= 0:
            raise Failure("the test ran out of time")
        return remaining if at_most is None else min(remaining, at_most)


def run(args, env, timeout, what):
    """A console program's exit code, output and errors, line ends made Linux ones."""
    try:
        result = subprocess.run(args, env=env, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure(f"{what}: still running after {timeout} s")
    decode = lambda b: b.decode("utf-8", "replace").replace("\r\n", "\n")  # noqa: E731
    return result.returncode, decode(result.stdout), decode(result.stderr)


def boxes_in(lines):
    """The helper's "box<TAB>caption<TAB>text" lines as (caption, text)."""
    return [tuple(line.split("\t")[1:]) for line in lines if line.startswith("box\t")]


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


def image_of(windows_build, build):
    listing = os.path.join(windows_build, "reflasher-images.txt")
    with open(listing, encoding="utf-8") as f:
        for line in f:
            name, _placeholder, path = line.rstrip("\n").split(" ", 2)
            if name == build:
                with open(path, "rb") as image:
                    return image.read()
    raise Failure(f"{listing} names no image for {build}")


def wine_env(prefix, tmp, home):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("TELMAR_", "WINE")) and k != "DISPLAY"}
    env.update(
        WINEPREFIX=prefix, WINEARCH="win64",
        # wineserver keeps its socket folder under TMPDIR: inside ours, it goes with it.
        TMPDIR=tmp,
        WINEDEBUG=os.environ.get("TELMAR_TEST_WINEDEBUG", "-all"),
        # No installer dialogs for the .NET and HTML engines the programs never use.
        WINEDLLOVERRIDES="mscoree,mshtml=", HOME=home,
        XDG_CACHE_HOME=os.path.join(home, ".cache"),
        XDG_CONFIG_HOME=os.path.join(home, ".config"),
        XDG_DATA_HOME=os.path.join(home, ".local", "share"))
    return env


def booted(prefix):
    return os.path.exists(os.path.join(prefix, "drive_c", "windows", "system32"))


def clone_prefix(template, prefix):
    """The DLL folders, which Wine only reads, are hard links where the file system
    allows; the registry and the rest, which it writes, are copies."""
    shared = tuple(os.path.join(template, "drive_c", "windows", folder) + os.sep
                   for folder in ("system32", "syswow64", "winsxs"))

    def place(source, target):
        if source.startswith(shared):
            try:
                return os.link(source, target)
            except OSError:
                pass
        return shutil.copy2(source, target)
    # "wineserver" names the template's server folder under its TMPDIR, not ours.
    shutil.copytree(template, prefix, symlinks=True, copy_function=place,
                    ignore=lambda folder, _names: ["wineserver"] if folder == template else [])


def clone_template(prefix):
    """Copies the booted prefix that TELMAR_WINE_TEMPLATE names, when there is one, to
    `prefix`: whether it did."""
    folder = os.environ.get("TELMAR_WINE_TEMPLATE", "")
    template = os.path.join(folder, "prefix")
    if not folder or not booted(template):
        return False
    clone_prefix(template, prefix)
    return True


def make_template(folder):
    """Boots the prefix the tests clone. Always exits 0: without it a test boots its own
    and says why Wine cannot start."""
    shutil.rmtree(folder, ignore_errors=True)
    env = wine_env(os.path.join(folder, "prefix"), folder, os.path.join(folder, "home"))
    os.makedirs(env["HOME"])
    try:
        subprocess.run(["wineboot", "--init"], env=env, timeout=150,
                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        # The registry is on disk only once the server has ended.
        subprocess.run(["wineserver", "-w"], env=env, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as error:
        shutil.rmtree(env["WINEPREFIX"], ignore_errors=True)
        log(f"no template: {error}")
    return 0


class WineSession:
    def __init__(self, windows_build, deadline):
        self.deadline = Deadline(deadline)
        self.build = os.path.abspath(windows_build)
        self.tmp = tempfile.mkdtemp(prefix="telmar-wine-")
        self.xvfb = None
        self.programs = []
        self.env = None
        self.app = os.path.join(self.tmp, "app")

    # ---- set-up and clean-up -------------------------------------------------------

    def check_tools(self, display=True):
        for tool in ("wine", "wineboot", "wineserver"):
            if shutil.which(tool) is None:
                raise Skip(f"{tool} is not installed")
        for tool in ("Xvfb", "import") if display else ():
            if shutil.which(tool) is None:
                raise Failure(f"{tool} is not installed (scripts/deps.sh lists it)")

    def copy_programs(self, sources):
        """Copies each program named in `sources` from its folder of the build."""
        os.makedirs(self.app)
        for name, folder in sources.items():
            path = os.path.join(self.build, folder, name)
            if not os.path.exists(path):
                raise Failure(f"{path} is missing: build the Windows programs first")
            shutil.copy(path, self.app)

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

    def boot_wine(self, display=None, at_most=100):
        """Without a display, DISPLAY is left out: programs that need none get none."""
        home = os.path.join(self.tmp, "home")
        os.makedirs(home)
        self.env = wine_env(os.path.join(self.tmp, "prefix"), self.tmp, home)
        if display is not None:
            self.env["DISPLAY"] = display
        started = time.monotonic()
        cloned = clone_template(self.env["WINEPREFIX"])
        # Even a clone needs its session's services started here, with their output in
        # the log: started by the first program, they would hold its pipes open.
        self.wineboot(at_most, [] if cloned else ["--init"])
        # One server for the whole test, so that the program and its remote control never
        # race each other to start one.
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=self.deadline.left(30),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        log(f"Wine prefix ready in {time.monotonic() - started:.1f} s")

    def wineboot(self, at_most, options):
        with open(os.path.join(self.tmp, "wineboot.log"), "w") as out:
            try:
                result = subprocess.run(["wineboot", *options], env=self.env, stdout=out,
                                        stderr=subprocess.STDOUT,
                                        timeout=self.deadline.left(at_most))
            except subprocess.TimeoutExpired:
                raise Skip("Wine cannot start: wineboot did not finish in time")
        if result.returncode != 0 or not booted(self.env["WINEPREFIX"]):
            with open(os.path.join(self.tmp, "wineboot.log"), errors="replace") as f:
                tail = f.read()[-2000:]
            raise Skip(f"Wine cannot start (wineboot exit code {result.returncode}):\n{tail}")

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
        for process in self.programs:
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

    # ---- driving the program ----------------------------------------------------------

    def remote(self, *args, at_most=30, allow=(0,)):
        """Runs the test's helper program (`remote_exe`): (exit code, output lines)."""
        result = subprocess.run(["wine", os.path.join(self.app, self.remote_exe), *args],
                                env=self.env, capture_output=True, text=True,
                                encoding="utf-8", errors="replace",
                                timeout=self.deadline.left(at_most + 15))
        if result.returncode not in allow:
            raise Failure(f"{self.remote_exe} {' '.join(args)}: exit code {result.returncode}: "
                          f"{result.stdout.strip()}")
        return result.returncode, [line.rstrip("\r") for line in result.stdout.splitlines()]

    def start_program(self, exe, name, **env):
        """Starts `exe` with `env` added, its output kept in NAME.log."""
        with open(os.path.join(self.tmp, f"{name}.log"), "w") as out:
            process = subprocess.Popen(["wine", exe], env=dict(self.env, **env), stdout=out,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        self.programs.append(process)
        return process

    def wait_window(self, process, window_class, title):
        """The helper's `find` lines of the program's window, once it shows, as a dict."""
        stop = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < stop:
            try:
                code, lines = self.remote("find", "5", at_most=5, allow=(0, 2))
            except subprocess.TimeoutExpired:
                continue
            if code != 0:
                continue
            info = dict(line.split("=", 1) for line in lines if "=" in line)
            expect(info.get("class") == window_class, f"window class {info.get('class')!r}")
            expect(info.get("title") == title, f"window title {info.get('title')!r}")
            return info
        if process.poll() is None:
            raise Failure("the program's window did not appear within 60 s")
        # It ends quietly only when it cannot make its window: usually no X server.
        raise Failure(f"the program ended with exit code {process.returncode} before its "
                      f"window appeared; display {self.env['DISPLAY']}: {self.display_state()}")

    def check_info_options(self, exe, usage, last_line):
        """--version and --help print to the redirected output and end without a window."""
        for option, check in (("--version", lambda out: out == last_line),
                              ("--help", lambda out: out.startswith(usage)
                               and out.endswith(last_line))):
            result = subprocess.run(["wine", exe, option], env=self.env, capture_output=True,
                                    timeout=self.deadline.left(30))
            out = result.stdout.decode("latin-1").replace("\r\n", "\n")
            expect(result.returncode == 0 and check(out),
                   f"{option}: exit code {result.returncode}, output {out[-120:]!r}")
        log("--version and --help answered without a window")

    # ---- waiting on the program ------------------------------------------------------

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

    def show_logs(self):
        for name in sorted(os.listdir(self.tmp)):
            path = os.path.join(self.tmp, name)
            if name.endswith("-run.log"):
                with open(path, errors="replace") as f:
                    text = f.read().strip()
                if text:
                    log(f"--- {name} (tail)\n{text[-1500:]}")


def interrupted(signum, _frame):
    raise Interrupted(f"signal {signum}")


def run_test(session, steps, passed):
    """Runs `steps`, then always the clean-up: the test's exit code."""
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)
    try:
        steps()
        log(passed)
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
    import sys
    # winetest.py FOLDER boots the template into FOLDER; winetest.py --clone PREFIX copies
    # it, for a test that is not written in Python.
    if sys.argv[1] == "--clone":
        sys.exit(0 if clone_template(sys.argv[2]) else 1)
    sys.exit(make_template(sys.argv[1]))
