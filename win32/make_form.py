#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Turns the Designer form of the control panel into what the Win32 shell builds its
window from, so that geometry and texts have one source:

    make_form.py FORM.ui RESOURCES.qrc OUTPUT_DIR

writes into OUTPUT_DIR
  LumoraForm.table  the control table (UTF-8, one tab-separated record a line):
      window  NAME  WIDTH  HEIGHT  MAX_WIDTH  MAX_HEIGHT  TITLE
      font    FACE  POINTS                       (the dialog font, for controls with none)
      control ID  NAME  CLASS  STYLE  PARENT  X  Y  W  H  POINTS  WEIGHT  GROUP  CHECKED  TEXT
      page    INDEX  NAME  TITLE                  (a page of the tab control)
      status  ID  NAME                            (the status bar)
      action  ID  NAME                            (a menu command)
      connect SENDER  SIGNAL  SLOT                (what a click or a menu command runs)
    Controls come in creation order, which is also their tab order: the buttons of one
    group follow each other and the first carries WS_GROUP, as auto radio buttons need.
    POINTS 0 means the dialog font's size, WEIGHT 0 normal. An image label's TEXT is the
    image's resource path and its bitmap resource is named by image_resource_name().
  LumoraForm.rc     the menu, the window icon and the images, as resources
  *.bmp, *.ico      the images the form names, converted from the Qt build's PNG files
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET
import zlib

DIALOG_FONT = ("MS Shell Dlg 2", 8)
FIRST_CONTROL_ID = 1000
STATUS_BAR_ID = 999
# Menu commands; the shell's resource.h gives them the same numbers.
MENU_COMMANDS = {"actionExit": 40001, "actionAbout": 40002}

WS_CHILD, WS_VISIBLE, WS_TABSTOP, WS_GROUP = 0x40000000, 0x10000000, 0x00010000, 0x00020000
WS_CLIPSIBLINGS = 0x04000000
SS_LEFT, SS_RIGHT, SS_LEFTNOWORDWRAP, SS_BITMAP = 0x0, 0x2, 0xC, 0xE
SS_NOPREFIX, SS_CENTERIMAGE = 0x80, 0x200
BS_PUSHBUTTON, BS_AUTOCHECKBOX, BS_GROUPBOX, BS_AUTORADIOBUTTON = 0x0, 0x3, 0x7, 0x9
TCS_TABS = 0x0

# Qt class -> native class and style (a label's comes from its text and alignment).
NATIVE_CLASSES = {"QLabel": ("STATIC", None),
                  "QRadioButton": ("BUTTON", BS_AUTORADIOBUTTON | WS_TABSTOP),
                  "QCheckBox": ("BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP),
                  "QPushButton": ("BUTTON", BS_PUSHBUTTON | WS_TABSTOP),
                  "QGroupBox": ("BUTTON", BS_GROUPBOX),
                  "QTabWidget": ("SysTabControl32", TCS_TABS | WS_TABSTOP | WS_CLIPSIBLINGS)}
IMAGE_SOURCE = re.compile(r'<img src="([^"]+)"\s*/?>')


def image_resource_name(path):
    """":/logo2_80.png" -> "LOGO2_80_PNG"."""
    return re.sub(r"[^A-Za-z0-9]", "_", path.lstrip(":/")).upper()


# ---- reading the form ---------------------------------------------------------------

def prop(widget, name):
    return widget.find(f"property[@name='{name}']")


def text_of(widget, name="text"):
    p = prop(widget, name)
    if p is None or p.find("string") is None:
        return ""
    return p.find("string").text or ""


def geometry(widget):
    rect = prop(widget, "geometry").find("rect")
    return tuple(int(rect.find(k).text) for k in ("x", "y", "width", "height"))


def font_of(widget):
    p = prop(widget, "font")
    if p is None:
        return 0, 0
    font = p.find("font")
    size = font.find("pointsize")
    bold = font.find("bold")
    weight = font.find("weight")
    points = int(size.text) if size is not None else 0
    if bold is not None and bold.text == "true":
        return points, 700
    return points, (int(weight.text) * 10 if weight is not None else 0)


def label_style(widget):
    if IMAGE_SOURCE.search(text_of(widget)):
        return SS_BITMAP | SS_CENTERIMAGE
    align = prop(widget, "alignment")
    flags = align.find("set").text if align is not None else ""
    # Qt draws a label's text on one line; SS_CENTERIMAGE does the same and centres it
    # vertically, as Qt's default alignment does.
    if "AlignTop" in flags:
        return SS_LEFTNOWORDWRAP | SS_NOPREFIX
    if "AlignRight" in flags:
        return SS_RIGHT | SS_CENTERIMAGE | SS_NOPREFIX
    return SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX


class Control:
    def __init__(self, widget, parent, order):
        self.name = widget.get("name")
        self.qt_class = widget.get("class")
        self.parent = parent
        self.order = order
        self.geometry = geometry(widget)
        self.points, self.weight = font_of(widget)
        group = widget.find("attribute[@name='buttonGroup']")
        self.group = group.find("string").text if group is not None else ""
        checked = prop(widget, "checked")
        self.checked = int(checked is not None and checked.find("bool").text == "true")
        text = text_of(widget, "title" if self.qt_class == "QGroupBox" else "text")
        image = IMAGE_SOURCE.search(text)
        self.text = image.group(1) if image else text
        if self.qt_class not in NATIVE_CLASSES:
            raise ValueError(f"{self.name}: no native control for {self.qt_class}")
        self.win_class, style = NATIVE_CLASSES[self.qt_class]
        self.style = (label_style(widget) if style is None else style) | WS_CHILD | WS_VISIBLE
        if any(c in self.text for c in "\t\n\r"):
            raise ValueError(f"{self.name}: text {self.text!r} cannot go into the table")


def focus_chain(window, tabstops):
    """Qt's focus chain, a ring: creation order, then each tab stop moved right after
    the one before it, as setTabOrder does; read from the first tab stop on."""
    chain = [w.get("name") for w in window.iter("widget")]
    for before, after in zip(tabstops, tabstops[1:]):
        chain.remove(after)
        chain.insert(chain.index(before) + 1, after)
    start = chain.index(tabstops[0]) if tabstops else 0
    return chain[start:] + chain[:start]


def creation_order(controls, chain):
    """Qt's focus order, except that the buttons of one group sit side by side (Win32
    radio buttons exclude each other from one WS_GROUP control to the next): a group
    comes where the chain first reaches it. WS_GROUP goes on each group's first button
    and on every control outside a group."""
    # Radio buttons in no group exclude each other within their parent, as in Qt.
    for c in controls:
        if c.qt_class == "QRadioButton" and not c.group:
            c.group = f"({c.parent})"
    groups = {}
    for c in controls:
        groups.setdefault(c.group or id(c), []).append(c)
    units = sorted((sorted(unit, key=lambda c: chain.index(c.name)) for unit in groups.values()),
                   key=lambda unit: chain.index(unit[0].name))
    for unit in units:
        unit[0].style |= WS_GROUP
    return [c for unit in units for c in unit]


def read_form(ui_path):
    root = ET.parse(ui_path).getroot()
    window = root.find("widget")
    chain = focus_chain(window, [t.text for t in root.findall("tabstops/tabstop")])
    width, height = geometry(window)[2:]
    size = prop(window, "maximumSize").find("size")
    maximum = (int(size.find("width").text), int(size.find("height").text))
    icon = prop(window, "windowIcon").find("iconset/normaloff").text
    central = window.find("widget[@class='QWidget']")

    records, pages, counter = [], [], [0]

    def walk(parent_widget, parent_name):
        children = []
        for w in parent_widget.findall("widget"):
            counter[0] += 1
            if w.get("class") == "QWidget":  # a tab page
                pages.append((w.get("name"), text_of_attribute(w, "title")))
                walk(w, w.get("name"))
                continue
            children.append(Control(w, parent_name, counter[0]))
            if w.get("class") == "QTabWidget":
                walk(w, w.get("name"))
        records.extend(creation_order(children, chain))

    walk(central, central.get("name"))
    menus = []
    for menu in window.findall("widget[@class='QMenuBar']/widget[@class='QMenu']"):
        items = [(action_text(window, a.get("name")), a.get("name"))
                 for a in menu.findall("addaction")]
        menus.append((text_of(menu, "title"), items))
    status = window.find("widget[@class='QStatusBar']")
    connections = [tuple(c.find(k).text for k in ("sender", "signal", "slot"))
                   for c in root.findall("connections/connection")]
    return dict(connections=connections, name=window.get("name"), size=(width, height), maximum=maximum,
                title=text_of(window, "windowTitle"), icon=icon, controls=records,
                pages=pages, menus=menus, status=status.get("name") if status is not None
                else None)


def text_of_attribute(widget, name):
    a = widget.find(f"attribute[@name='{name}']/string")
    return a.text or "" if a is not None else ""


def action_text(window, name):
    return text_of(window.find(f"action[@name='{name}']"))


# ---- images -------------------------------------------------------------------------

def decode_png(path):
    """8-bit non-interlaced PNG -> (width, height, RGBA rows)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG file")
    at, chunks = 8, {}
    idat = b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b"IDAT":
            idat += body
        else:
            chunks[kind] = body
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"])
    if depth != 8 or interlace != 0 or colour not in (0, 2, 3, 4, 6):
        raise ValueError(f"{path}: only 8-bit non-interlaced PNG files are read")
    palette = chunks.get(b"PLTE", b"")
    alpha = chunks.get(b"tRNS", b"")
    # Per colour type: bytes per pixel, and one pixel's bytes as RGBA.
    channels, rgba = {
        0: (1, lambda px: bytes([px[0]] * 3 + [255])),
        2: (3, lambda px: px + b"\xff"),
        3: (1, lambda px: palette[3 * px[0]:3 * px[0] + 3]
            + bytes([alpha[px[0]] if px[0] < len(alpha) else 255])),
        4: (2, lambda px: bytes([px[0]] * 3 + [px[1]])),
        6: (4, lambda px: px),
    }[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        if kind > 4:
            raise ValueError(f"{path}: unknown PNG filter {kind}")
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            # The filter's prediction: none, left, up, average, Paeth.
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            paeth = a if pa <= pb and pa <= pc else b if pb <= pc else c
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[kind]) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, [b"".join(rgba(line[x * channels:(x + 1) * channels])
                                    for x in range(width)) for line in rows]


def dib(width, height, rows, icon):
    """A 32-bit bottom-up DIB (header and pixels); an icon's doubles its height and
    carries an all-zero AND mask after the colours."""
    header = struct.pack("<IiiHHIIiiII", 40, width, height * (2 if icon else 1), 1, 32, 0,
                         0, 0, 0, 0, 0)
    pixels = bytearray()
    for line in reversed(rows):
        for x in range(width):
            r, g, b, a = line[4 * x:4 * x + 4]
            pixels += bytes([b, g, r, a])
    if icon:
        pixels += bytes(((width + 31) // 32 * 4) * height)
    return header + bytes(pixels)


def write_image(png, out):
    """A PNG file as a 32-bit BMP file, or as an ICO file of one image (by OUT's extension)."""
    width, height, rows = decode_png(png)
    icon = out.endswith(".ico")
    body = dib(width, height, rows, icon)
    if icon:
        head = struct.pack("<HHHBBBBHHII", 0, 1, 1, width % 256, height % 256, 0, 0, 1, 32,
                           len(body), 22)
    else:
        head = struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 54)
    with open(out, "wb") as f:
        f.write(head + body)


# ---- writing ------------------------------------------------------------------------

def rc_string(text):
    if any(c in text for c in "\\\n\r"):
        raise ValueError(f"cannot place {text!r} in a resource string")
    return '"' + text.replace('"', '""') + '"'


def qrc_files(qrc_path):
    """Resource path -> file, from the Qt build's resource collection."""
    root = ET.parse(qrc_path).getroot()
    folder = os.path.dirname(os.path.abspath(qrc_path))
    files = {}
    for resource in root.findall("qresource"):
        prefix = resource.get("prefix", "/").rstrip("/")
        for f in resource.findall("file"):
            files[":" + prefix + "/" + f.get("alias", f.text)] = os.path.join(folder, f.text)
    return files


def write_if_changed(path, text):
    data = text.encode("utf-8")
    if os.path.exists(path):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    with open(path, "wb") as f:
        f.write(data)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    ui_path, qrc_path, out_dir = argv[1:]
    form = read_form(ui_path)
    images = qrc_files(qrc_path)
    os.makedirs(out_dir, exist_ok=True)

    records = [["window", form["name"], *form["size"], *form["maximum"], form["title"]],
               ["font", *DIALOG_FONT]]
    records += [["page", k, name, title] for k, (name, title) in enumerate(form["pages"])]
    rc = ["// Generated from the Designer form; do not edit.",
          "#include <windows.h>",
          "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US",
          ""]
    bitmaps = []
    for k, c in enumerate(form["controls"]):
        records.append(["control", FIRST_CONTROL_ID + k, c.name, c.win_class, f"0x{c.style:08X}",
                        c.parent, *c.geometry, c.points, c.weight, c.group, c.checked, c.text])
        if c.style & 0x1F == SS_BITMAP and c.win_class == "STATIC":
            bitmaps.append(c.text)
    if form["status"]:
        records.append(["status", STATUS_BAR_ID, form["status"]])
    records += [["action", command, name] for name, command in MENU_COMMANDS.items()]
    records += [["connect", *connection] for connection in form["connections"]]
    table = os.path.join(out_dir, "LumoraForm.table")
    write_if_changed(table, "".join("\t".join(map(str, r)) + "\n" for r in records))

    def converted(path, ext):
        out = os.path.join(out_dir, os.path.splitext(os.path.basename(images[path]))[0] + ext)
        write_image(images[path], out)
        return out

    rc += ["MAINMENU MENU", "BEGIN"]
    for title, items in form["menus"]:
        rc += [f"    POPUP {rc_string('&' + title)}", "    BEGIN"]
        rc += [f"        MENUITEM {rc_string('&' + text)}, {MENU_COMMANDS[action]}"
               for text, action in items]
        rc.append("    END")
    rc += ["END", "", f"WINDOWICON ICON {rc_string(converted(form['icon'], '.ico'))}"]
    for path in bitmaps:
        rc.append(f"{image_resource_name(path)} BITMAP "
                  f"{rc_string(converted(path, '.bmp'))}")
    rc.append(f"FORMTABLE RCDATA {rc_string(table)}")
    write_if_changed(os.path.join(out_dir, "LumoraForm.rc"), "\n".join(rc) + "\n")


if __name__ == "__main__":
    main(sys.argv)
