#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Reads the control panel the way a screen reader does: the real LUMORA_GUI on a private
simulator, under a private Xvfb and session bus with the accessibility bus, found on that
bus by its process id. The input line reads "Input : 1920x1080p60"; when the simulator's
input changes, the window announces the new line (object:property-change:accessible-name)
and the line reads "Input : 3840x2160p60".

    atspi_test.py --gui LUMORA_GUI --sim telmar-sim [--deadline SECONDS]

Exit code 77 (skipped) when Xvfb, dbus-run-session, the accessibility bus or the Python
bindings of libatspi are missing.
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

SKIP = 77
FIRST_LINE = "Input : 1920x1080p60"
SECOND_LINE = "Input : 3840x2160p60"


def log(text):
    print(text, flush=True)


def die_with_parent():
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def stop(process):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def sim(args, *command):
    return subprocess.run([args.sim, *command], capture_output=True, text=True, timeout=10)


def wait_for(what, deadline, probe, pump=None):
    while time.monotonic() < deadline:
        if pump:
            pump()
        found = probe()
        if found:
            return found
        time.sleep(0.05)
    raise TimeoutError(f"timed out waiting for {what}")


def walk(node, depth=0):
    if node is None or depth > 12:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def inner(args):
    """Runs inside the private session bus."""
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi, GLib

    deadline = time.monotonic() + args.deadline
    announced = []
    listener = Atspi.EventListener.new(
        lambda event: announced.append(event.source.get_name() if event.source else ""))
    listener.register("object:property-change:accessible-name")
    context = GLib.MainContext.default()

    def pump():
        while context.iteration(False):
            pass

    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1", TELMAR_USB_BACKEND="sim")
    gui = subprocess.Popen([args.gui], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
    try:
        def application():
            desktop = Atspi.get_desktop(0)
            for i in range(desktop.get_child_count()):
                app = desktop.get_child_at_index(i)
                if app is not None and app.get_process_id() == gui.pid:
                    return app
            if gui.poll() is not None:
                raise RuntimeError(f"LUMORA_GUI ended with exit code {gui.returncode}")

        app = wait_for("LUMORA_GUI on the accessibility bus", deadline, application, pump)
        log(f"found {app.get_name()!r} (pid {gui.pid}) on the accessibility bus")

        line = wait_for("the input line", deadline, lambda: next(
            (n for n in walk(app) if n.get_description() == "Video format"), None), pump)
        wait_for(f"{FIRST_LINE!r} (it reads {line.get_name()!r})", deadline,
                 lambda: line.get_name() == FIRST_LINE, pump)
        log(f"the input line reads {line.get_name()!r}")

        announced.clear()
        reply = sim(args, "scenario", "4k60-hdr")
        if reply.returncode != 0:
            raise RuntimeError(f"telmar-sim scenario: {reply.stderr.strip()}")
        wait_for(f"the announcement of {SECOND_LINE!r} (announced: {announced})", deadline,
                 lambda: SECOND_LINE in announced, pump)
        if line.get_name() != SECOND_LINE:
            raise RuntimeError(f"the input line reads {line.get_name()!r} after the change")
        log(f"announced and read: {SECOND_LINE!r}")
    finally:
        listener.deregister("object:property-change:accessible-name")
        stop(gui)
    return 0


def outer(args):
    tools = ["/usr/bin/Xvfb", "/usr/bin/dbus-run-session", "/usr/libexec/at-spi-bus-launcher"]
    missing = [t for t in tools if not os.access(t, os.X_OK)]
    probe = subprocess.run([sys.executable, "-c", "import gi; gi.require_version('Atspi', "
                            "'2.0'); from gi.repository import Atspi"], capture_output=True)
    if missing or probe.returncode != 0:
        log(f"skipped: missing {missing or 'the Atspi bindings (gir1.2-atspi-2.0)'}")
        return SKIP

    folder = tempfile.mkdtemp(prefix="telmar-atspi-")
    xvfb = server = None
    try:
        runtime = os.path.join(folder, "run")
        home = os.path.join(folder, "home")
        os.mkdir(runtime, 0o700)
        os.mkdir(home, 0o700)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime, HOME=home,
                   XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_CACHE_HOME=os.path.join(home, ".cache"),
                   TELMAR_SIM_SOCKET=os.path.join(runtime, "sim.sock"))
        for name in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        os.environ.update(env)

        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["/usr/bin/Xvfb", "-displayfd", str(write_end), "-nolisten",
                                 "tcp", "-screen", "0", "1024x768x24"],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            raise RuntimeError("Xvfb gave no display")
        env["DISPLAY"] = ":" + number

        server = subprocess.Popen([args.sim, "serve", "--scenario", "1080p60"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  preexec_fn=die_with_parent)
        wait_for("the simulator", time.monotonic() + 10,
                 lambda: sim(args, "status").returncode == 0)

        run = subprocess.run(["/usr/bin/dbus-run-session", "--", sys.executable,
                              os.path.abspath(__file__), "--inner", "--gui", args.gui,
                              "--sim", args.sim, "--deadline", str(args.deadline)],
                             env=env, timeout=args.deadline + 30, preexec_fn=die_with_parent)
        return run.returncode
    finally:
        if server is not None and server.poll() is None:
            sim(args, "stop")
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
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        return inner(args) if args.inner else outer(args)
    except (RuntimeError, TimeoutError, subprocess.TimeoutExpired) as error:
        log(f"FAIL: {error}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
