#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks what the Windows cross build put into Reflasher-FPGA1.exe, Reflasher-FPGA2.exe and
LUMORA_GUI.exe (resources, read with wrestool; imported DLLs, read with objdump) and the
exports of the stand-in SiUSBXp.dll. LUMORA_GUI.exe's form table is compared with the
Designer file, read here on its own.

    check_resources.py --windows-build DIR --about-line-probe PROGRAM

Prints one line per failed check and exits 1 if there was any.
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

LANGUAGE = 1033
RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_GROUP_ICON, RT_MANIFEST = (
    3, 4, 5, 6, 9, 14, 24)

WS_CHILD, WS_VISIBLE, WS_GROUP, WS_TABSTOP = 0x40000000, 0x10000000, 0x00020000, 0x00010000
WS_POPUP, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x00C00000, 0x00080000
DS_MODALFRAME, DS_SETFONT, DS_FIXEDSYS = 0x80, 0x40, 0x08
SS_LEFT, SS_ICON, SS_NOPREFIX, BS_DEFPUSHBUTTON = 0x0, 0x3, 0x80, 0x1
STATIC, BUTTON = 0x0082, 0x0080
FALT, FVIRTKEY, LAST_ENTRY = 0x10, 0x01, 0x80
MF_POPUP, MF_END = 0x10, 0x80

# Icon sizes per build: (large group 107, small group 108).
ICONS = {"FPGA1": (48, 48), "FPGA2": (64, 48)}
# DLLs Windows itself provides; anything else would have to be shipped beside the program.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll",
               "shell32.dll", "comctl32.dll", "ws2_32.dll", "ucrtbase.dll"}
# The vendor library's ten, and the stand-in's own name-only export that tells the
# programs the box behind it is simulated.
STANDIN_ORDINALS = [1, 2, 3, 4, 6, 7, 9, 10, 11, 12, 100]
RT_BITMAP, RT_RCDATA = 2, 10
PANEL_FORM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "forms",
                          "LumoraForm.ui")
# Native class and button type of each Qt class of the form.
NATIVE = {"QLabel": ("STATIC", None), "QTabWidget": ("SysTabControl32", None),
          "QRadioButton": ("BUTTON", 0x9), "QCheckBox": ("BUTTON", 0x3),
          "QPushButton": ("BUTTON", 0x0)}
DIALOG_FONT = ("MS Shell Dlg 2", "8")

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


class Reader:
    """Little-endian fields of one resource, in order."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0:
            self.at += 2
            return ""
        if first == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self, n):
        self.at = (self.at + n - 1) // n * n


def resource(wrestool, exe, rtype, name):
    result = subprocess.run(
        [wrestool, "-x", "--raw", f"--type={rtype}", f"--name={name}", f"--language={LANGUAGE}",
         exe], capture_output=True, timeout=30)
    if result.returncode != 0 or not result.stdout:
        failures.append(f"{exe}: no resource type {rtype} name {name} language {LANGUAGE}")
        return None
    return result.stdout


def strings(data):
    """Block 7 of the string table holds ids 96 to 111."""
    r, table = Reader(data), {}
    for k in range(16):
        length = r.take("H")
        table[96 + k] = r.data[r.at:r.at + 2 * length].decode("utf-16-le")
        r.at += 2 * length
    return table


def menu(data):
    r = Reader(data)
    check(r.take("HH") == (0, 0), "menu 109: not a plain menu template")

    def items():
        out = []
        while True:
            flags = r.take("H")
            if flags & MF_POPUP:
                out.append((r.text(), items()))
            else:
                command = r.take("H")
                out.append((r.text(), command))
            if flags & MF_END:
                return out
    return items()


def accelerators(data):
    entries = []
    for offset in range(0, len(data), 8):
        flags, key, command, _ = struct.unpack_from("<HHHH", data, offset)
        entries.append((flags & ~LAST_ENTRY, key, command))
        if flags & LAST_ENTRY:
            break
    return entries


def dialog(data):
    r = Reader(data)
    version, signature, _help, ex_style, style, count, x, y, cx, cy = r.take("HHIIIHhhhh")
    head = dict(version=version, signature=signature, ex_style=ex_style, style=style,
                rect=(x, y, cx, cy), menu=r.name_or_ordinal(), cls=r.name_or_ordinal(),
                caption=r.text())
    if style & DS_SETFONT:
        head["font"] = r.take("HHBB") + (r.text(),)
    controls = []
    for _ in range(count):
        r.align(4)
        _help, ex, cstyle, x, y, cx, cy, ident = r.take("IIIhhhhi")
        cls, title = r.name_or_ordinal(), r.name_or_ordinal()
        extra = r.take("H")
        r.at += extra
        if isinstance(cls, str):
            cls = {"STATIC": STATIC, "BUTTON": BUTTON}.get(cls.upper(), cls)
        controls.append((cls, ident, (x, y, cx, cy), cstyle, title))
    return head, controls


def icon_group(data):
    r = Reader(data)
    _reserved, kind, count = r.take("HHH")
    images = []
    for _ in range(count):
        width, height, _colours, _res, _planes, bits, _size, _ident = r.take("BBBBHHIH")
        images.append((width or 256, height or 256, bits))
    return kind, images


def check_program(exe, build, about_line, wrestool, objdump):
    listing = subprocess.run([wrestool, "-l", exe], capture_output=True, text=True, timeout=30)
    if not check(listing.returncode == 0, f"{exe}: wrestool cannot read it"):
        return
    found = set()
    for line in listing.stdout.splitlines():
        m = re.match(r"--type=(\d+) --name=(\d+) --language=(\d+)", line)
        if check(m is not None, f"{exe}: unexpected resource entry {line!r}"):
            rtype, name, lang = map(int, m.groups())
            check(lang == LANGUAGE, f"{exe}: resource {rtype}/{name} has language {lang}")
            if rtype != RT_ICON:
                found.add((rtype, name))
    wanted = {(RT_STRING, 7), (RT_MENU, 109), (RT_ACCELERATOR, 109), (RT_DIALOG, 103),
              (RT_GROUP_ICON, 107), (RT_GROUP_ICON, 108), (RT_MANIFEST, 1)}
    check(found == wanted, f"{exe}: resources {sorted(found)}, expected {sorted(wanted)}")

    data = resource(wrestool, exe, RT_STRING, 7)
    if data:
        table = strings(data)
        check(table[103] == "TELMAR Reflasher", f"{exe}: string 103 is {table[103]!r}")
        check(table[109] == "TELMAR REFLASHER", f"{exe}: string 109 is {table[109]!r}")

    data = resource(wrestool, exe, RT_MENU, 109)
    if data:
        got = menu(data)
        expected = [("&Update", [("U&pdate Firmware", 110), ("E&xit", 105)]),
                    ("&Help", [("&About ...", 104)])]
        check(got == expected, f"{exe}: menu 109 is {got}")

    data = resource(wrestool, exe, RT_ACCELERATOR, 109)
    if data:
        got = accelerators(data)
        expected = [(FALT, ord("?"), 104), (FALT, ord("/"), 104)]
        check(got == expected, f"{exe}: accelerators 109 are {got}, expected ALT character "
                               f"entries '?' and '/' for 104")

    data = resource(wrestool, exe, RT_DIALOG, 103)
    if data:
        head, controls = dialog(data)
        check((head["version"], head["signature"]) == (1, 0xFFFF),
              f"{exe}: dialog 103 is not an extended template")
        check(head["style"] == WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
              | DS_FIXEDSYS, f"{exe}: dialog 103 style {head['style']:#x}")
        check(head["ex_style"] == 0, f"{exe}: dialog 103 extended style {head['ex_style']:#x}")
        check(head["rect"] == (0, 0, 170, 62), f"{exe}: dialog 103 at {head['rect']}")
        check(head["caption"] == "About TELMAR Reflasher",
              f"{exe}: dialog 103 caption {head['caption']!r}")
        check(head.get("font") == (8, 0, 0, 1, "MS Shell Dlg"),
              f"{exe}: dialog 103 font {head.get('font')}")
        base = WS_CHILD | WS_VISIBLE
        expected = [
            (STATIC, -1, (14, 14, 21, 20), base | SS_ICON, 128),
            (STATIC, -1, (42, 14, 114, 8), base | SS_LEFT | WS_GROUP, "TELMAR Reflasher"),
            (STATIC, -1, (42, 26, 114, 8), base | SS_LEFT | SS_NOPREFIX | WS_GROUP,
             "Loader Version 1.0_120_xp"),
            (STATIC, -1, (14, 38, 94, 24), base | SS_LEFT | SS_NOPREFIX | WS_GROUP, about_line),
            (BUTTON, 1, (113, 41, 50, 14), base | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, "OK"),
        ]
        check(len(controls) == len(expected), f"{exe}: dialog 103 has {len(controls)} controls")
        for k, (got, want) in enumerate(zip(controls, expected), start=1):
            check(got == want, f"{exe}: dialog 103 control {k} is {got}, expected {want}")

    large, small = ICONS[build]
    for name, size in ((107, large), (108, small)):
        data = resource(wrestool, exe, RT_GROUP_ICON, name)
        if data:
            kind, images = icon_group(data)
            check(kind == 1 and images == [(size, size, 32)],
                  f"{exe}: icon group {name} holds {images}, expected one {size}x{size} 32-bit")

    data = resource(wrestool, exe, RT_MANIFEST, 1)
    if data:
        text = data.decode("utf-8", "replace")
        check(re.search(r'level="asInvoker"', text) and re.search(r'uiAccess="false"', text),
              f"{exe}: manifest does not ask for asInvoker without uiAccess")

    if objdump:
        dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=30)
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump.stdout)}
        check(dlls and dlls <= SYSTEM_DLLS, f"{exe}: needs DLLs {sorted(dlls - SYSTEM_DLLS)}")


def ui_controls(path):
    """name -> (class, (x, y, w, h), point size or 0, bold) for each control of the form."""
    out = {}
    for w in ET.parse(path).getroot().iter("widget"):
        rect = w.find("property[@name='geometry']/rect")
        if w.get("class") not in NATIVE or rect is None:
            continue
        size = w.find("property[@name='font']/font/pointsize")
        bold = w.find("property[@name='font']/font/bold")
        out[w.get("name")] = (w.get("class"),
                              tuple(int(rect.find(k).text) for k in ("x", "y", "width", "height")),
                              int(size.text) if size is not None else 0,
                              bold is not None and bold.text == "true")
    return out


def check_panel(exe, wrestool, objdump):
    listing = subprocess.run([wrestool, "-l", exe], capture_output=True, text=True, timeout=30)
    if not check(listing.returncode == 0, f"{exe}: wrestool cannot read it"):
        return
    found = set(re.findall(r"--type=(\d+) --name='?([^' ]+)'?", listing.stdout))
    wanted = {("2", "LOGO2_80_PNG"), ("4", "MAINMENU"), ("9", "101"), ("10", "FORMTABLE"),
              ("14", "IDI_MAINICON"), ("14", "WINDOWICON"), ("24", "1")}
    check(wanted <= found, f"{exe}: resources {sorted(found)} lack {sorted(wanted - found)}")

    data = resource(wrestool, exe, RT_MENU, "MAINMENU")
    if data:
        got = menu(data)
        expected = [("&File", [("&Exit", 40001)]), ("&Help", [("&About", 40002)])]
        check(got == expected, f"{exe}: menu is {got}")
    for name, size in (("WINDOWICON", 64), ("IDI_MAINICON", 256)):
        data = resource(wrestool, exe, RT_GROUP_ICON, name)
        if data:
            kind, images = icon_group(data)
            check(kind == 1 and (size, size, 32) in images,
                  f"{exe}: icon group {name} holds {images}, expected a {size}x{size} image")
    data = resource(wrestool, exe, RT_MANIFEST, 1)
    if data:
        check(re.search(r'level="asInvoker"', data.decode("utf-8", "replace")),
              f"{exe}: manifest does not ask for asInvoker")

    data = resource(wrestool, exe, RT_RCDATA, "FORMTABLE")
    if data:
        rows = [line.split("\t") for line in data.decode("utf-8").splitlines()]
        fonts = [tuple(r[1:]) for r in rows if r[0] == "font"]
        check(fonts == [DIALOG_FONT], f"{exe}: form font {fonts}, expected {DIALOG_FONT}")
        table = {r[2]: r for r in rows if r[0] == "control"}
        form = ui_controls(PANEL_FORM)
        check(len(table) == len(form) and set(table) == set(form),
              f"{exe}: form table has {sorted(table)}, the form {sorted(form)}")
        for name, (qt_class, rect, points, bold) in form.items():
            row = table.get(name)
            if row is None:
                continue
            native, button_type = NATIVE[qt_class]
            style = int(row[4], 16)
            got = (row[3], style & 0x1F if button_type is not None else None,
                   tuple(map(int, row[6:10])), int(row[10]), int(row[11]) >= 700)
            check(got == (native, button_type, rect, points, bold),
                  f"{exe}: form table row {name} is {got}, expected "
                  f"{(native, button_type, rect, points, bold)}")

    if objdump:
        dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=30)
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump.stdout)}
        check(dlls and dlls <= SYSTEM_DLLS, f"{exe}: needs DLLs {sorted(dlls - SYSTEM_DLLS)}")


def check_standin(dll, objdump):
    dump = subprocess.run([objdump, "-p", dll], capture_output=True, text=True, timeout=30)
    ordinals = sorted(int(n) for n in re.findall(r"\+base\[\s*(\d+)\]", dump.stdout))
    check(ordinals == STANDIN_ORDINALS, f"{dll}: exports ordinals {ordinals}")
    check("TelmarStandinSimulatedBox" in dump.stdout,
          f"{dll}: does not say by name that its box is simulated")
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", dump.stdout)}
    check(dlls <= SYSTEM_DLLS, f"{dll}: needs DLLs {sorted(dlls - SYSTEM_DLLS)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True)
    parser.add_argument("--about-line-probe", required=True)
    args = parser.parse_args()

    wrestool = shutil.which("wrestool")
    objdump = shutil.which("x86_64-w64-mingw32-objdump")
    if not wrestool:
        sys.exit("wrestool (icoutils) is not installed")
    listing = os.path.join(args.windows_build, "reflasher-images.txt")
    if not os.path.exists(listing):
        sys.exit(f"{listing} is missing: build the Windows programs first")

    with open(listing, encoding="utf-8") as f:
        builds = [line.rstrip("\n").split(" ", 2) for line in f if line.strip()]
    check(sorted(b[0] for b in builds) == ["FPGA1", "FPGA2"], f"{listing}: builds {builds}")
    for build, placeholder, image in builds:
        exe = os.path.join(args.windows_build, "bin", f"Reflasher-{build}.exe")
        if not check(os.path.exists(exe), f"{exe} is missing"):
            continue
        probe = subprocess.run([args.about_line_probe, build, image, placeholder],
                               capture_output=True, text=True, timeout=30)
        if check(probe.returncode == 0, f"about-line-probe failed: {probe.stderr.strip()}"):
            # The resource leaves the CRC-32 out; the program fills it in at run time.
            about_line = re.sub(r", CRC-32 [0-9A-F]{8}", "", probe.stdout.rstrip("\n"))
            check_program(exe, build, about_line, wrestool, objdump)

    panel = os.path.join(args.windows_build, "bin", "LUMORA_GUI.exe")
    if check(os.path.exists(panel), f"{panel} is missing"):
        check_panel(panel, wrestool, objdump)

    dll = os.path.join(args.windows_build, "standin", "SiUSBXp.dll")
    if check(os.path.exists(dll), f"{dll} is missing") and objdump:
        check_standin(dll, objdump)
    if not objdump:
        print("x86_64-w64-mingw32-objdump not found: imports and exports not checked")

    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print("resources of the three programs and the stand-in library's exports are as expected")


if __name__ == "__main__":
    main()
