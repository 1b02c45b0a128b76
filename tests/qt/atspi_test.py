#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The real LUMORA_GUI on a private simulator, Xvfb and session bus, read over AT-SPI as a
screen reader would: its input line reads "Input : 1920x1080p60", and a new input is
announced (accessible-name change) and read. Exit code 77 when a tool is missing.

    atspi_test.py --gui LUMORA_GUI --sim telmar-sim [--deadline SECONDS]
"""
import argparse
import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def start(command, env):
    return subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)


def stop(process):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()


def wait_for(what, deadline, probe, pump=lambda: None):
    while time.monotonic() < deadline:
        pump()
        if found := probe():
            return found
        time.sleep(0.05)
    raise TimeoutError(f"timed out waiting for {what}")


def walk(node, depth=0):
    if node is not None and depth < 12:
        yield node
        for i in range(node.get_child_count()):
            yield from walk(node.get_child_at_index(i), depth + 1)


def inner(args, deadline):
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib
    announced = []
    listener = Atspi.EventListener.new(lambda event: announced.append(event.source.get_name()))
    listener.register("object:property-change:accessible-name")
    pump = lambda: GLib.MainContext.default().iteration(False)  # noqa: E731
    gui = start([args.gui], dict(os.environ, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                                 QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", TELMAR_USB_BACKEND="sim"))
    try:
        desktop = Atspi.get_desktop(0)
        app = wait_for("LUMORA_GUI on the accessibility bus", deadline, lambda: next(
            (a for a in map(desktop.get_child_at_index, range(desktop.get_child_count()))
             if a is not None and a.get_process_id() == gui.pid), None), pump)
        line = wait_for("the input line", deadline, lambda: next(
            (n for n in walk(app) if n.get_description() == "Video format"), None), pump)
        wait_for(f"'Input : 1920x1080p60', not {line.get_name()!r}", deadline,
                 lambda: line.get_name() == "Input : 1920x1080p60", pump)
        print("the input line reads", repr(line.get_name()), flush=True)
        subprocess.run([args.sim, "scenario", "4k60-hdr"], check=True, timeout=10)
        wait_for(f"the new line announced (got {announced})", deadline,
                 lambda: "Input : 3840x2160p60" in announced, pump)
        if line.get_name() != "Input : 3840x2160p60":
            raise RuntimeError(f"the input line reads {line.get_name()!r} after the change")
        print("announced and read: 'Input : 3840x2160p60'", flush=True)
    finally:
        stop(gui)
    return 0


def outer(args, deadline):
    if not all(os.access(t, os.X_OK) for t in ("/usr/bin/Xvfb", "/usr/bin/dbus-run-session",
                                                "/usr/libexec/at-spi-bus-launcher")) or \
            subprocess.run([sys.executable, "-c", "import gi; gi.require_version('Atspi', "
                            "'2.0')"], capture_output=True).returncode != 0:
        print("skipped: Xvfb, dbus-run-session, at-spi2-core or gir1.2-atspi-2.0 is missing")
        return 77
    folder = tempfile.mkdtemp(prefix="telmar-atspi-")
    xvfb = server = None
    try:
        runtime = os.path.join(folder, "run")
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY")}
        env.update(XDG_RUNTIME_DIR=runtime, HOME=folder,
                   TELMAR_SIM_SOCKET=os.path.join(runtime, "sim.sock"))
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["/usr/bin/Xvfb", "-displayfd", str(write_end), "-nolisten",
                                 "tcp"], pass_fds=(write_end,), stderr=subprocess.DEVNULL,
                                preexec_fn=die_with_parent)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            env["DISPLAY"] = ":" + display.readline().strip()
        server = start([args.sim, "serve", "--scenario", "1080p60"], env)
        wait_for("the simulator", deadline, lambda: subprocess.run(
            [args.sim, "status"], env=env, capture_output=True).returncode == 0)
        return subprocess.run(["/usr/bin/dbus-run-session", "--", sys.executable, __file__,
                               "--inner", "--gui", args.gui, "--sim", args.sim, "--deadline",
                               str(deadline - time.monotonic())], env=env,
                              timeout=deadline - time.monotonic() + 10,
                              preexec_fn=die_with_parent).returncode
    finally:
        stop(server)
        stop(xvfb)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gui", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--deadline", type=float, default=60)
    parser.add_argument("--inner", action="store_true")
    args = parser.parse_args()
    deadline = time.monotonic() + args.deadline
    try:
        return (inner if args.inner else outer)(args, deadline)
    except (RuntimeError, TimeoutError, subprocess.SubprocessError) as error:
        print(f"FAIL: {error}", flush=True)
        return 1


if __name__ == "__main__":
    sys.exit(main())
