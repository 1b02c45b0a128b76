#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The Linux updater's boxes wait for their user on a real X server.

  boxes_stay_test.py HARNESS TELMAR_SIM

For each desktop (Xvfb alone, Xvfb with openbox) and each way a write fails (the box
unplugged, a packet refused): the updater program (reflasher-harness --watch, which
answers nothing) writes to a private simulated box, the write fails, and 5 s later the
first box of the failure is still mapped on the X server, alone, and the process still
waits for it. Exit 77 when Xvfb or openbox is missing.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HOLD_S = 5


class Failure(Exception):
    pass


def wait_until(what, test, limit_s):
    deadline = time.monotonic() + limit_s
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(0.05)
    raise Failure(f"timed out waiting for {what}")


def start(argv, env, log):
    return subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=log,
                            stderr=subprocess.STDOUT, start_new_session=True)


def stop(process):
    if process is not None and process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(timeout=10)


def start_display(tmp):
    reader, writer = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(writer,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(writer)
    number = b""
    with os.fdopen(reader, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                stop(xvfb)
                raise Failure("Xvfb did not start")
            number += chunk
    return xvfb, f":{number.decode().strip()}"


def mapped_windows(env):
    """Names of the viewable top-level windows of the harness."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=env, capture_output=True,
                          text=True, timeout=10).stdout
    names = []
    for line in tree.splitlines():
        line = line.strip()
        if not line.startswith("0x") or '"reflasher-harness"' not in line:
            continue
        window = line.split()[0]
        info = subprocess.run(["xwininfo", "-id", window], env=env, capture_output=True,
                              text=True, timeout=10).stdout
        if "IsViewable" in info:
            names.append(line.split('"')[1])
    return names


def one_run(harness, sim, env, tmp, failure):
    socket = os.path.join(tmp, "sim.sock")
    run_env = dict(env, TELMAR_SIM_SOCKET=socket, TELMAR_USB_BACKEND="sim",
                   XDG_RUNTIME_DIR=os.path.join(tmp, "runtime"))
    os.makedirs(run_env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    out_path = os.path.join(tmp, "harness.out")
    daemon = updater = None
    try:
        with open(os.path.join(tmp, "sim.log"), "w") as log:
            daemon = start([sim, "--socket", socket, "serve", "--delay-ms", "2"], run_env, log)
        control = lambda *args: subprocess.run([sim, "--socket", socket, *args], env=run_env,
                                               capture_output=True, text=True, timeout=10)
        wait_until("the simulated box", lambda: control("status").returncode == 0, 10)
        with open(out_path, "w") as log:
            updater = start([harness, "fpga2", "--watch"], run_env, log)

        def writes():
            for word in control("status").stdout.split():
                if word.startswith("writes="):
                    return int(word[len("writes="):]) >= 100
            return False
        wait_until("the write to begin", writes, 30)
        control(*failure)
        output = lambda: open(out_path).read()
        wait_until("the failure's first box", lambda: "shown:" in output(), 15)
        time.sleep(HOLD_S)

        text = output()
        shown = [l for l in text.splitlines() if l.startswith("shown:")]
        if updater.poll() is not None:
            raise Failure(f"the updater ended (exit {updater.returncode}) before its box was "
                          f"answered:\n{text}")
        if "gone:" in text or len(shown) != 1:
            raise Failure(f"a box went without an answer, or the next came before it:\n{text}")
        boxes = [n for n in mapped_windows(run_env) if n != "TELMAR Reflasher"]
        if len(boxes) != 1:
            raise Failure(f"{HOLD_S} s after the failure the X server maps the boxes {boxes}")
    finally:
        stop(updater)
        stop(daemon)


def main():
    harness, sim = sys.argv[1:3]
    for tool in ("Xvfb", "xwininfo", "openbox"):
        if shutil.which(tool) is None:
            print(f"{tool} is not installed: skipped")
            return 77
    failures = []
    for desktop in ("no window manager", "openbox"):
        for failure in (["unplug"], ["fault", "reject-packet", "100"]):
            what = f"{desktop}, {' '.join(failure)}"
            with tempfile.TemporaryDirectory(prefix="telmar-boxes-") as tmp:
                xvfb = wm = None
                try:
                    xvfb, display = start_display(tmp)
                    env = {k: v for k, v in os.environ.items()
                           if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
                    env["DISPLAY"] = display
                    if desktop == "openbox":
                        with open(os.path.join(tmp, "openbox.log"), "w") as log:
                            wm = start(["openbox", "--sm-disable"], env, log)
                    one_run(harness, sim, env, tmp, failure)
                    print(f"ok: {what}")
                except (Failure, subprocess.TimeoutExpired) as e:
                    failures.append(f"{what}: {e}")
                finally:
                    stop(wm)
                    stop(xvfb)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
