#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the unmodified LUMORA_GUI.exe under Wine, headless, with the stand-in SiUSBXp.dll
beside it, and drives it from outside with panel-remote.exe:

0. --version and --help print the project's version and end without a window.
1. The window of class "LUMORA_GUI" opens, titled "TELMAR GUI", with the firmware
   version and the seven status lines of the 4k60-hdr input; a screenshot shows ink on
   each of the seven lines. Every text fits its control (measured by panel-remote).
2. Every button and check box of the form is clicked; after each click the box's
   settings (the stand-in's state dump) hold the value the control stands for, the
   status bar shows its confirmation, and the radio button's partners are unchecked.
   View > Signal Details opens its window: the four sections, the HDR mastering data of
   4k60-hdr and the hex of the five blocks.
3. The poll picks up a change of input (Latin-1 bytes of the source name shown as such).
4. The box is unplugged: "TELMAR disconnected", blank lines, controls disabled, the
   details window says so and keeps the last values; plugged in again: found without a
   restart.
   The window has the form's size and stops at its maximum size; Help > About shows
   its box and the window stays usable meanwhile.
5. File > Exit ends the program with exit code 0 and the device closed.
6. A second run starts with no box: "CONNECT TELMAR AND RESTART GUI" (and it fits); the
   box is attached and found; the close box ends the program with exit code 0.
7. A third run is closed while the link's box waits for the user: exit code 0.

    wine_panel_test.py --windows-build DIR --version VERSION [--deadline SECONDS]
                       [--screenshot PNG] [--details-screenshot PNG]

Set-up, clean-up, time limits and the skip rule (exit code 77 only where Wine cannot
start) are those of winetest.py.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import (Failure, WineSession, boxes_in, expect, log, read_ppm,  # noqa: E402
                      read_state, run_test, windows_path)

WINDOW_CLASS = "LUMORA_GUI"
WINDOW_TITLE = "TELMAR GUI"
IDM_EXIT, IDM_ABOUT, IDM_NEXT_PAGE, IDM_SIGNAL_DETAILS = 40001, 40002, 40003, 40005
DETAILS_SECTIONS = [(title, "") for title in ("Video", "HDR", "Source", "Audio")]
HDR_MAX_LUMINANCE = ("Max mastering luminance", "1000 cd/m2")
WINE_FONTS = "/usr/share/wine/fonts"

STATUS_LABELS = ("lblVideoSource", "label_video_format", "lblColor", "lblDeepC", "lblHdcp",
                 "lblHdr", "lblAudio")
# What the 4k60-hdr input of the simulated box shows.
HDR_LINES = {
    "lblVideoSource": "Source: Kestrel UHD Player 7",
    "label_video_format": "Input : 3840x2160p60",
    "lblColor": "Color: YCbCr 4:2:0 Extended ITU-R BT.2020",
    "lblDeepC": "Input Deep Color: 10-bit",
    "lblHdcp": "Encryption: HDCP 2.2",
    "lblHdr": "HDR:  SMPTE ST 2084",
    "lblAudio": "Audio: HBR bitstream",
}
VERSION = "ver: 2.104.18"
FORM_HEIGHT = 400
# Rows of the seven lines in the window's client area (the form's geometry).
STATUS_ROWS = (35, 50, 65, 80, 95, 110, 125)
MODE_BUTTONS = ("rbEdidUp", "rbEdidMid", "rbEdidDn", "rbAudioUp", "rbAudioMid", "rbAudioDn")

# Every click, in order, from the box's starting settings (LED on, 1080p60 frame, HDCP
# follow, GUI control off, EDID up, AUDIO mid, HTPC and mute off): the control, the
# settings byte it must set and the value, the status-bar text, and the buttons that
# must be unchecked afterwards. Each click changes its byte, so a click that wrote
# nothing, or wrote another register, shows.
PAGE_EDID, PAGE_CONTROL = 0, 1
CLICKS = [
    (PAGE_EDID, "cbEnableGui", 4, 1, None, ()),
    (PAGE_EDID, "rbEdidDn", 5, 2, "EDID 4k60 SDR selected", ("rbEdidUp", "rbEdidMid")),
    (PAGE_EDID, "rbEdidMid", 5, 1, "EDID AUTOMIX selected", ("rbEdidUp", "rbEdidDn")),
    (PAGE_EDID, "rbEdidUp", 5, 3, "EDID 4k60 HDR selected", ("rbEdidMid", "rbEdidDn")),
    (PAGE_EDID, "rbAudioUp", 6, 3, "AUDIO FULL selected", ("rbAudioMid", "rbAudioDn")),
    (PAGE_EDID, "rbAudioDn", 6, 2, "AUDIO STEREO selected", ("rbAudioUp", "rbAudioMid")),
    (PAGE_EDID, "rbAudioMid", 6, 1, "AUDIO AUTOMIX selected", ("rbAudioUp", "rbAudioDn")),
    (PAGE_CONTROL, "rbLedDisable", 0, 0, "Logo LED OFF", ("rbLedEnable",)),
    (PAGE_CONTROL, "rbLedEnable", 0, 1, "Logo LED ON", ("rbLedDisable",)),
    (PAGE_CONTROL, "rbFrame720", 1, 0, "Audio Frame 720p", ("rbFrame1080",)),
    (PAGE_CONTROL, "rbFrame1080", 1, 1, "Audio Frame 1080p", ("rbFrame720",)),
    (PAGE_CONTROL, "rbEnc14", 2, 1, "HDCP 1.4", ("rbEncFollow",)),
    (PAGE_CONTROL, "rbEncFollow", 2, 0, "HDCP Follow", ("rbEnc14",)),
    (PAGE_CONTROL, "rbHtpcEnable", 10, 1, "HTPC Enabled", ("rbHtpcDisable",)),
    (PAGE_CONTROL, "rbHtpcDisable", 10, 0, "HTPC Disabled", ("rbHtpcEnable",)),
    (PAGE_CONTROL, "rbHdmiAudioEnable", 11, 1, "HDMI AUDIO MUTE Enabled",
     ("rbHdmiAudioDisable",)),
    (PAGE_CONTROL, "rbHdmiAudioDisable", 11, 0, "HDMI AUDIO MUTE Disabled",
     ("rbHdmiAudioEnable",)),
    (PAGE_CONTROL, "pbHpd", "hpd", 1, None, ()),
    (PAGE_EDID, "cbEnableGui", 4, 0, None, ()),
]


class PanelSession(WineSession):
    remote_exe = "panel-remote.exe"

    def __init__(self, args):
        super().__init__(args.windows_build, args.deadline)
        self.screenshot = args.screenshot
        self.details_screenshot = args.details_screenshot
        self.version = args.version
        self.exe = os.path.join(self.app, "LUMORA_GUI.exe")
        self.page = PAGE_EDID

    def prepare(self):
        self.check_tools()
        if not os.path.exists(os.path.join(WINE_FONTS, "tahoma.ttf")):
            raise Failure(f"{WINE_FONTS}/tahoma.ttf is missing (fonts-wine, scripts/deps.sh)")
        self.copy_programs({
            "LUMORA_GUI.exe": "bin",
            "SiUSBXp.dll": "standin",
            "panel-remote.exe": "standin",
        })

    def install_fonts(self):
        """Wine's own dialog fonts, where Windows keeps its fonts: this Wine build does
        not find them in its data folder, and the fit check must measure the same font
        a Windows system uses."""
        fonts = os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "Fonts")
        os.makedirs(fonts, exist_ok=True)
        for name in os.listdir(WINE_FONTS):
            if name.endswith(".ttf"):
                shutil.copy(os.path.join(WINE_FONTS, name), fonts)

    # ---- driving the program ---------------------------------------------------------

    def controls(self):
        """name -> (class, checked, enabled, visible, text)."""
        _, lines = self.remote("controls", windows_path(self.exe))
        out = {}
        for line in lines:
            parts = line.split("\t")
            if len(parts) == 6:
                out[parts[0]] = (parts[1], parts[2] == "1", parts[3] == "1", parts[4] == "1",
                                 parts[5])
        return out

    def status_bar(self):
        _, lines = self.remote("status")
        return lines[0].split("=", 1)[1] if lines and lines[0].startswith("status=") else None

    def command(self, text):
        with open(self.commands + ".tmp", "w") as f:
            f.write(text + "\n")
        os.replace(self.commands + ".tmp", self.commands)

    def wait_for(self, process, what, predicate, at_most):
        """Polls the window's controls until predicate(controls) holds."""
        stop = time.monotonic() + at_most
        while True:
            controls = self.controls()
            if predicate(controls):
                return controls
            if process.poll() is not None:
                raise Failure(f"the program ended (exit code {process.returncode}) before "
                              f"{what}")
            if time.monotonic() > stop:
                shown = {k: v[4] for k, v in controls.items() if k.startswith("lbl")
                         or k == "label_video_format"}
                raise Failure(f"no {what} within {at_most} s; labels {shown}")
            self.deadline.left()
            time.sleep(0.2)

    def launch_panel(self, name, dump):
        os.makedirs(dump, exist_ok=True)
        process = self.start_program(self.exe, name,
                                     TELMAR_STANDIN_DUMP_DIR=windows_path(dump),
                                     TELMAR_STANDIN_COMMAND_FILE=windows_path(self.commands))
        info = self.wait_window(process, WINDOW_CLASS, WINDOW_TITLE)
        expect(info.get("form-size") == "350,400",
               f"window size {info.get('form-size')} (client area and menu bar), "
               "expected the form's 350,400")
        return process, tuple(int(v) for v in info["client"].split(","))

    def check_fit(self, when):
        code, lines = self.remote("fit", windows_path(self.exe), allow=(0, 1))
        clipped = [line for line in lines if line.startswith("CLIPPED")]
        expect(code == 0 and not clipped, f"{when}: texts that do not fit: {clipped or lines}")
        log(f"{when}: all {len(lines)} texts fit their controls")

    def check_screen(self, client):
        """Ink on each of the seven status lines, from x 100 on, read back from the
        screen; the window's picture is kept for the docs when asked."""
        left, top, width, height = client
        shot = subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root",
                               "ppm:-"], capture_output=True, timeout=self.deadline.left(30))
        if shot.returncode != 0:
            raise Failure(f"import could not take a screenshot: {shot.stderr[-300:]}")
        screen_w, screen_h, dark = read_ppm(shot.stdout)
        missing = []
        for row in STATUS_ROWS:
            if not any(dark(left + x, top + y) for y in range(row + 2, row + 14)
                       for x in range(100, 341) if left + x < screen_w and top + y < screen_h):
                missing.append(row)
        expect(not missing, f"no text on screen at the status rows {missing}")
        if self.screenshot:
            # The window with its menu bar, as large as the form says (the menu bar is
            # part of its height); Xvfb has no window manager, so no frame.
            crop = f"{width}x{FORM_HEIGHT}+{left}+{max(0, top + height - FORM_HEIGHT)}"
            subprocess.run(["convert", "ppm:-", "-crop", crop, "+repage", self.screenshot],
                           input=shot.stdout, check=True, timeout=30)
            log(f"screenshot saved to {self.screenshot}")

    def wait_details(self, what, predicate, at_most=10):
        """Reads the details window until predicate(notice, rows, raw lines) holds."""
        stop = time.monotonic() + at_most
        while True:
            _, lines = self.remote("details", "10", at_most=10)
            info = dict(line.split("=", 1) for line in lines if "=" in line and "\t" not in line)
            rows = [tuple(line.split("\t")[1:3]) for line in lines if line.startswith("row\t")]
            raw = [line.split("\t", 1)[1] for line in lines if line.startswith("raw\t")]
            if predicate(info.get("notice"), rows, raw):
                return info, rows, raw
            if time.monotonic() > stop:
                raise Failure(f"signal details: no {what} within {at_most} s: notice "
                              f"{info.get('notice')!r}, rows {rows[:20]}, raw {raw}")
            time.sleep(0.2)

    def check_details(self):
        self.remote("command", str(IDM_SIGNAL_DETAILS))
        info, rows, raw = self.wait_details(
            "HDR mastering data of 4k60-hdr",
            lambda notice, rows, _: notice == "" and HDR_MAX_LUMINANCE in rows)
        expect([r for r in rows if r in DETAILS_SECTIONS] == DETAILS_SECTIONS,
               f"signal details sections {rows}")
        expect([line[:13] for line in raw] == [f"Block {n}:  E0" for n in range(11, 16)],
               f"signal details raw hex {raw}")
        log(f"View > Signal Details: {len(rows)} lines, {HDR_MAX_LUMINANCE}, blocks 11-15")
        if self.details_screenshot:
            left, top, width, height = info["client"].split(",")  # no frame without a WM
            shot = subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root",
                                   "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                                   self.details_screenshot], timeout=self.deadline.left(30))
            expect(shot.returncode == 0, "import could not take the details window's picture")

    def window_info(self):
        _, lines = self.remote("find", "5", at_most=5)
        return dict(line.split("=", 1) for line in lines if "=" in line)

    def check_maximum_size(self):
        """Asked to grow past the form's maximum size, the window stops at it; asked for
        its first size again, it has the form's size."""
        first = self.window_info()["outer"].split(",")
        self.remote("resize", "5000", "5000")
        grown = self.window_info().get("form-size")
        expect(grown == "3500,3700", f"window grown to {grown}, expected the maximum 3500,3700")
        self.remote("resize", *first)
        back = self.window_info().get("form-size")
        expect(back == "350,400", f"window back at {back}, expected 350,400")
        log("the window stops at its maximum size 3500x3700")

    def select_page(self, page):
        if page != self.page:
            self.remote("command", str(IDM_NEXT_PAGE))
            self.page = page

    # ---- the runs ----------------------------------------------------------------------

    def main_run(self):
        dump = os.path.join(self.tmp, "dump-main")
        self.command("scenario 4k60-hdr")
        process, client = self.launch_panel("main-run", dump)
        controls = self.wait_for(process, "status lines",
                                 lambda c: c["lblAudio"][4] == HDR_LINES["lblAudio"], 20)
        lines = {name: controls[name][4] for name in STATUS_LABELS}
        expect(lines == HDR_LINES, f"status lines {lines}, expected {HDR_LINES}")
        expect(controls["labelFw"][4] == VERSION, f"version {controls['labelFw'][4]!r}")
        expect(controls["lblWarning"][4] == "", f"warning {controls['lblWarning'][4]!r}")
        expect(not any(controls[b][2] for b in MODE_BUTTONS),
               "mode buttons enabled while GUI control is off")
        log("window, version and the seven status lines of 4k60-hdr shown")
        self.check_screen(client)
        self.check_fit("4k60-hdr")
        self.check_maximum_size()
        self.check_details()

        # Help > About: a box of its own that leaves the window working (a click lands).
        self.remote("command", str(IDM_ABOUT))
        self.remote("click", windows_path(self.exe), "cbEnableGui")
        self.wait_state(process, dump, "the click under the About box",
                        lambda s: s["settings"].split()[4] == "1", at_most=5)
        self.remote("click", windows_path(self.exe), "cbEnableGui")
        self.wait_state(process, dump, "the second click under the About box",
                        lambda s: s["settings"].split()[4] == "0", at_most=5)
        _, lines = self.remote("boxes", "10", "1", at_most=10)
        boxes = boxes_in(lines)
        expect(len(boxes) == 1 and boxes[0][0] == "About LUMORA_GUI"
               and boxes[0][1].startswith("LUMORA_GUI version "), f"About box {boxes}")
        log("Help > About shows its box; the window stays usable meanwhile")

        self.click_everything(process, dump, controls)

        self.command("scenario spd-markup")
        controls = self.wait_for(process, "the new input after a poll",
                                 lambda c: "Über" in c["lblVideoSource"][4], 8)
        source = controls["lblVideoSource"][4]
        expect("Café" in source, f"source line {source!r} does not show Latin-1 as such")
        log(f"poll picked up the new input: {source!r}")
        self.check_fit("spd-markup")
        _, kept, _ = self.wait_details("new source", lambda _n, rows, _r: any(
            "Caf\u00e9" in value for _, value in rows))

        # The window is read from outside while it may be half-way through an update,
        # so each wait asks for the whole picture at once.
        self.command("unplug")
        self.wait_for(process, "TELMAR disconnected with blank lines and disabled controls",
                      lambda c: c["lblWarning"][4] == "TELMAR disconnected"
                      and all(c[name][4] == "" for name in STATUS_LABELS)
                      and not c["rbLedEnable"][2] and not c["cbEnableGui"][2], 10)
        self.check_fit("disconnected")
        _, rows, _ = self.wait_details("notice of the box gone",
                                       lambda notice, _, _r: notice == "TELMAR disconnected")
        expect(rows == kept, f"signal details without the box: {rows}, expected the last {kept}")
        self.command("plug")
        self.wait_for(process, "the box found again, lines and controls back",
                      lambda c: c["lblWarning"][4] == "" and c["lblAudio"][4]
                      and c["rbLedEnable"][2] and c["cbEnableGui"][2], 12)
        state = read_state(dump)
        expect(state.get("opens") == "2", f"opens={state.get('opens')} after the plug")
        log("unplug shows TELMAR disconnected; plug finds the box again")

        self.remote("command", str(IDM_EXIT))
        code = self.wait_exit(process, at_most=10)
        expect(code == 0, f"exit code {code} after File > Exit, expected 0")
        state = read_state(dump)
        expect(state.get("open") == "0", f"open={state.get('open')} after File > Exit")
        log("File > Exit: exit code 0, device closed")

    def click_everything(self, process, dump, controls):
        buttons = {name for name, c in controls.items() if c[0] == "Button"}
        planned = {click[1] for click in CLICKS}
        expect(buttons == planned, f"buttons of the form {sorted(buttons)} are not the ones "
                                   f"clicked {sorted(planned)}")
        for page, name, byte, value, text, partners in CLICKS:
            self.select_page(page)
            before = read_state(dump)
            self.remote("click", windows_path(self.exe), name)

            def landed(state):
                if byte == "hpd":
                    return int(state["hpd"]) == int(before["hpd"]) + value
                return int(state["settings"].split()[byte]) == value
            self.wait_state(process, dump, f"write of {name}", landed, at_most=5)
            if text is not None:
                shown = self.status_bar()
                expect(shown == text, f"{name}: status bar {shown!r}, expected {text!r}")
            controls = self.controls()
            if byte != "hpd":
                expect(controls[name][1] == bool(value) or name != "cbEnableGui",
                       f"{name}: check state does not follow the click")
            for other in partners:
                expect(not controls[other][1], f"{name}: {other} is still checked")
            if name == "cbEnableGui":
                expect(all(controls[b][2] == bool(value) for b in MODE_BUTTONS),
                       f"mode buttons enabled={[controls[b][2] for b in MODE_BUTTONS]} after "
                       f"GUI control {value}")
        log(f"{len(CLICKS)} clicks on {len(planned)} controls: each landed in the box's "
            "settings with its status-bar text")

    def no_box_run(self):
        dump = os.path.join(self.tmp, "dump-no-box")
        self.command("unplug")
        process, _ = self.launch_panel("no-box-run", dump)
        # The link's box comes first, with no owner: the window is usable meanwhile.
        expect(self.controls()["tabWidget"][2], "the window is disabled under the link box")
        self.remote("boxes", "15", "0", at_most=15)
        # Nothing read from a box yet: no setting claimed, none clickable.
        claimed = [n for n, c in self.controls().items() if c[0] == "Button" and (c[1] or c[2])]
        expect(claimed == [], f"settings controls checked or enabled before any box: {claimed}")
        _, lines = self.remote("boxes", "15", "1", at_most=15)
        boxes = boxes_in(lines)
        expect(boxes == [(" ", "Connect USB cable to TELMAR")],
               f"boxes {boxes}, expected the link's not-found box")
        self.wait_for(process, "the not-found text",
                      lambda c: c["lblWarning"][4] == "CONNECT TELMAR AND RESTART GUI", 10)
        self.check_fit("no box")
        self.command("plug")
        self.wait_for(process, "the box found after start-up",
                      lambda c: c["lblWarning"][4] == "" and c["labelFw"][4] == VERSION, 12)
        self.remote("close")
        started = time.monotonic()
        code = self.wait_exit(process, at_most=10)
        expect(code == 0, f"exit code {code} after the close box, expected 0")
        log("no box at start: not-found text; box attached: found; close: exit code 0 after "
            f"{time.monotonic() - started:.1f} s")

    def close_under_box_run(self):
        """The close box works while a link box waits for the user: the box goes with
        the program, which ends at once with exit code 0."""
        dump = os.path.join(self.tmp, "dump-close-under-box")
        self.command("unplug")
        process, _ = self.launch_panel("close-under-box-run", dump)
        _, lines = self.remote("boxes", "15", "0", at_most=15)
        expect(any(line.endswith("Connect USB cable to TELMAR") for line in lines),
               f"no link box open: {lines}")
        self.remote("close")
        started = time.monotonic()
        code = self.wait_exit(process, at_most=10)
        expect(code == 0, f"exit code {code} after closing under the link box, expected 0")
        log(f"closed under the link box: exit code 0 after {time.monotonic() - started:.1f} s")

    def run(self):
        self.commands = os.path.join(self.tmp, "commands.txt")
        self.prepare()
        display = self.start_display()
        self.boot_wine(display)
        self.install_fonts()
        self.check_info_options(self.exe, "usage: LUMORA_GUI", f"LUMORA_GUI {self.version}\n")
        self.main_run()
        self.no_box_run()
        self.close_under_box_run()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--version", required=True, help="the version every program answers")
    parser.add_argument("--deadline", type=float, default=150,
                        help="seconds for the whole test, clean-up not included")
    parser.add_argument("--screenshot", help="where to keep a picture of the window")
    parser.add_argument("--details-screenshot", help="where to keep one of Signal Details")
    args = parser.parse_args()
    session = PanelSession(args)
    return run_test(session, session.run, "LUMORA_GUI.exe under Wine: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
