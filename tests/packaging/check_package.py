#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""What the build installs and packages, checked from outside as a user's system sees it.

  check_package.py install --build DIR --source DIR --version V --udev-dir DIR
  check_package.py deb     --build DIR --source DIR --version V --udev-dir DIR
  check_package.py zip     --windows-build DIR --version V
  check_package.py images  --source DIR

install: `cmake --install` under a temporary prefix (and DESTDIR), then the layout,
the desktop entries, the AppStream metadata, the man pages, the udev rule and every
program's --version and --help. deb: the Debian package made by CPack, unpacked with
dpkg-deb, with the same checks plus its control fields and maintainer scripts. zip: the
Windows build's zip. images: the committed pictures drawn again from their SVGs, byte
for byte. Exits 0 when all is well, 1 with one line per fault otherwise.
"""
import argparse
import fnmatch
import gzip
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zipfile

ICON_SIZES = (16, 32, 48, 64, 128, 256)
# Window programs and the id of their desktop entry and icon.
DESKTOP_IDS = {
    "LUMORA_GUI": "org.telmar.Panel",
    "Reflasher-FPGA1": "org.telmar.Reflasher.FPGA1",
    "Reflasher-FPGA2": "org.telmar.Reflasher.FPGA2",
}
METAINFO = "org.telmar.Panel.metainfo.xml"
RULES = "60-telmar.rules"

faults = []


def check(ok, message):
    if not ok:
        faults.append(message)
    return ok


def run(cmd, timeout=120, **kwargs):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, **kwargs)


def read_programs(build):
    with open(os.path.join(build, "installed-programs.txt")) as f:
        return [line.strip() for line in f if line.strip()]


def default_usb_id(source):
    """The backend's default id, read from its header on its own."""
    with open(os.path.join(source, "usb", "UsbIdList.h")) as f:
        m = re.search(r"kDefaultUsbId\{0x([0-9A-Fa-f]+),\s*0x([0-9A-Fa-f]+)\}", f.read())
    return m.group(1).lower().rjust(4, "0"), m.group(2).lower().rjust(4, "0")


# ---- layout ---------------------------------------------------------------------------

def expected_files(programs, prefix, udev_dir):
    files = {f"{udev_dir}/{RULES}"}
    for p in programs:
        files |= {f"{prefix}/bin/{p}", f"{prefix}/share/man/man1/{p}.1.gz"}
        if p in DESKTOP_IDS:
            ident = DESKTOP_IDS[p]
            files.add(f"{prefix}/share/applications/{ident}.desktop")
            files.add(f"{prefix}/share/icons/hicolor/scalable/apps/{ident}.svg")
            files |= {f"{prefix}/share/icons/hicolor/{s}x{s}/apps/{ident}.png" for s in ICON_SIZES}
    if "LUMORA_GUI" in programs:
        files.add(f"{prefix}/share/metainfo/{METAINFO}")
    if "telmarctl" in programs:
        files.add(f"{prefix}/share/bash-completion/completions/telmarctl")
    files |= {f"{prefix}/share/doc/telmar/copyright", f"{prefix}/share/doc/telmar/changelog.Debian.gz"}
    return {f.lstrip("/") for f in files}


def files_under(root):
    found = set()
    for folder, _dirs, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def check_layout(root, programs, prefix, udev_dir):
    expected = expected_files(programs, prefix, udev_dir)
    found = files_under(root)
    for f in sorted(expected - found):
        check(False, f"missing: /{f}")
    for f in sorted(found - expected):
        check(False, f"not expected (a test, a benchmark or a stand-in?): /{f}")
    for p in programs:
        path = os.path.join(root, prefix.lstrip("/"), "bin", p)
        check(not os.path.exists(path) or os.access(path, os.X_OK), f"{path} is not executable")


# ---- contents -------------------------------------------------------------------------

def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def desktop_entry(path):
    keys = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                keys[key] = value
    return keys


def check_desktop_and_icons(share, programs):
    for p in programs:
        if p not in DESKTOP_IDS:
            continue
        ident = DESKTOP_IDS[p]
        for s in ICON_SIZES:
            png = os.path.join(share, f"icons/hicolor/{s}x{s}/apps/{ident}.png")
            if os.path.exists(png):
                check(png_size(png) == (s, s), f"{png}: {png_size(png)}, expected {s}x{s}")
        entry_path = os.path.join(share, "applications", f"{ident}.desktop")
        if not os.path.exists(entry_path):
            continue
        entry = desktop_entry(entry_path)
        check(entry.get("Exec", "").split(" ")[0] == p, f"{entry_path}: Exec={entry.get('Exec')}, expected {p}")
        check(entry.get("Icon") == ident, f"{entry_path}: Icon={entry.get('Icon')}, expected {ident}")
        # Qt names the window class after the program: docks group its windows by it.
        check(entry.get("StartupWMClass") == p,
              f"{entry_path}: StartupWMClass={entry.get('StartupWMClass')}, expected {p}")
        check(entry.get("Type") == "Application" and entry.get("Name") and entry.get("Comment")
              and entry.get("Categories"), f"{entry_path}: Type, Name, Comment or Categories missing")
        v = run(["desktop-file-validate", entry_path], timeout=30)
        check(v.returncode == 0 and not v.stdout.strip(),
              f"desktop-file-validate {entry_path}: {v.stdout.strip()} {v.stderr.strip()}")


def check_metainfo(share, programs, version, usb_id):
    path = os.path.join(share, "metainfo", METAINFO)
    if not os.path.exists(path):
        return
    root = ET.parse(path).getroot()
    launchables = {e.text for e in root.findall("launchable[@type='desktop-id']")}
    installed = set(os.listdir(os.path.join(share, "applications")))
    check(launchables == installed, f"{METAINFO}: launchables {sorted(launchables)}, "
          f"installed entries {sorted(installed)}")
    binaries = [e.text for e in root.findall("provides/binary")]
    check(sorted(binaries) == sorted(programs), f"{METAINFO}: binaries {binaries}, installed {programs}")
    modalias = [e.text for e in root.findall("provides/modalias")]
    want = f"usb:v{usb_id[0].upper()}p{usb_id[1].upper()}d*"
    check(modalias == [want], f"{METAINFO}: modalias {modalias}, expected [{want}]")
    releases = [e.get("version") for e in root.findall("releases/release")]
    check(releases[:1] == [version], f"{METAINFO}: newest release {releases[:1]}, expected {version}")
    check(root.findtext("project_license") == "MIT", f"{METAINFO}: project_license")
    check(root.find("screenshots/screenshot/image") is not None, f"{METAINFO}: no screenshot")
    v = run(["appstreamcli", "validate", "--no-net", "--no-color", path], timeout=60)
    issues = [l for l in v.stdout.splitlines() if re.match(r"^[EW]: ", l)]
    check(v.returncode == 0 and not issues, f"appstreamcli validate: rc {v.returncode}: {issues or v.stdout}")


def check_man_pages(share, programs, version):
    groff = shutil.which("groff")
    for p in programs:
        path = os.path.join(share, "man", "man1", f"{p}.1.gz")
        if not os.path.exists(path):
            continue
        with gzip.open(path, "rt", encoding="utf-8") as f:
            text = f.read()
        th = re.search(r"^\.TH (\S+) 1 ", text, re.M)
        check(th is not None and th.group(1).replace("\\-", "-").lower() == p.lower(),
              f"{path}: .TH line {th.group(0) if th else None}, expected it to name {p}")
        # The pages filled in by the build name the release they belong to.
        source = re.search(r"^\.TH \S+ 1 \"[^\"]*\" \"telmar ([^\"]+)\"", text, re.M)
        check(source is None or source.group(1) == version,
              f"{path}: made for telmar {source.group(1) if source else None}, not {version}")
        check("@" not in text.replace("\\@", ""), f"{path}: an unreplaced @VARIABLE@")
        for named in re.findall(r"^\.BR (\S+) \(1\)", text, re.M):
            named = named.replace("\\-", "-")
            check(named in programs, f"{path}: SEE ALSO names {named}, which is not installed")
        if groff:
            g = run([groff, "-man", "-ww", "-z", "-t"], input=text, timeout=30)
            check(g.returncode == 0 and not g.stderr.strip(), f"{path}: groff says {g.stderr.strip()}")


def check_programs(bindir, programs, version):
    """--version and --help end at once without a display: no window is opened."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    for p in programs:
        exe = os.path.join(bindir, p)
        if not os.path.exists(exe):
            continue
        v = run([exe, "--version"], timeout=20, env=env)
        check(v.returncode == 0 and v.stdout == f"{p} {version}\n",
              f"{p} --version: rc {v.returncode}, {v.stdout!r}, expected {p} {version}; "
              f"{v.stderr.strip()[:200]}")
        h = run([exe, "--help"], timeout=20, env=env)
        check(h.returncode == 0 and "usage" in h.stdout.lower(),
              f"{p} --help: rc {h.returncode}, {h.stdout[:80]!r} {h.stderr.strip()[:200]}")
        # An updater with a placeholder image can only update the simulated box.
        check(not (p.startswith("Reflasher") and "placeholder" in h.stdout),
              f"{p} carries a placeholder image and must not be installed")


# ---- the udev rule --------------------------------------------------------------------

RULE_TERM = re.compile(r'\s*([A-Z_]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(?:,|$)')


def parse_rules(text):
    """Each rule as a list of (key, attribute, operator, value); None for a line udev would reject."""
    rules = []
    for line in text.splitlines():
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        terms, at = [], 0
        while at < len(line):
            m = RULE_TERM.match(line, at)
            if not m:
                return None
            terms.append(m.groups())
            at = m.end()
        rules.append(terms)
    return rules


def tags_for(rules, device):
    """The tags these rules give a device: {ACTION, SUBSYSTEM, ENV: {}, ATTR: {}, PARENT_ATTR: {}}."""
    def value_of(key, attr):
        if key in ("ACTION", "SUBSYSTEM"):
            return device.get(key)
        if key == "ENV":
            return device["ENV"].get(attr)
        if key == "ATTR":
            return device["ATTR"].get(attr)
        if key == "ATTRS":  # the device or any parent
            return device["ATTR"].get(attr) or device["PARENT_ATTR"].get(attr)
        raise ValueError(key)

    tags = set()
    for rule in rules:
        matched = True
        for key, attr, op, value in rule:
            if op in ("==", "!="):
                actual = value_of(key, attr)
                hit = actual is not None and any(fnmatch.fnmatchcase(actual, alt) for alt in value.split("|"))
                matched &= hit if op == "==" else not hit
        if matched:
            for key, _attr, op, value in rule:
                if key == "TAG" and op in ("+=", "="):
                    tags.add(value)
    return tags


def check_udev_rule(path, usb_id):
    name = os.path.basename(path)
    # uaccess is turned into an ACL by 73-seat-late.rules: a later file comes too late.
    check(int(name.split("-")[0]) < 73, f"{name}: must sort before 73-seat-late.rules")
    with open(path) as f:
        rules = parse_rules(f.read())
    if not check(rules, f"{path}: a line udev cannot parse, or no rule"):
        return
    vendor, product = usb_id
    box = {"ACTION": "add", "SUBSYSTEM": "usb", "ENV": {"DEVTYPE": "usb_device"},
           "ATTR": {"idVendor": vendor, "idProduct": product}, "PARENT_ATTR": {}}
    interface = {"ACTION": "add", "SUBSYSTEM": "usb", "ENV": {"DEVTYPE": "usb_interface"},
                 "ATTR": {}, "PARENT_ATTR": {"idVendor": vendor, "idProduct": product}}
    cases = [
        ("the box, added", box, True),
        ("the box, changed", dict(box, ACTION="change"), True),
        ("the box, removed", dict(box, ACTION="remove"), False),
        ("the box's interface", interface, False),
        ("another product of the vendor", dict(box, ATTR={"idVendor": vendor, "idProduct": "0001"}), False),
        ("another vendor", dict(box, ATTR={"idVendor": "1d6b", "idProduct": product}), False),
        ("a tty with the box's ids", dict(box, SUBSYSTEM="tty"), False),
    ]
    for what, device, tagged in cases:
        check(("uaccess" in tags_for(rules, device)) == tagged,
              f"{name}: {what}: uaccess {'missing' if tagged else 'given'}")


def check_installed_tree(root, prefix, udev_dir, programs, version, source):
    usb_id = default_usb_id(source)
    share = os.path.join(root, prefix.lstrip("/"), "share")
    check_layout(root, programs, prefix, udev_dir)
    check_desktop_and_icons(share, programs)
    check_metainfo(share, programs, version, usb_id)
    check_man_pages(share, programs, version)
    check_programs(os.path.join(root, prefix.lstrip("/"), "bin"), programs, version)
    rule = os.path.join(root, udev_dir.lstrip("/"), RULES)
    if os.path.exists(rule):
        check_udev_rule(rule, usb_id)


# ---- the three commands ---------------------------------------------------------------

def cmd_install(args, tmp):
    # A private prefix, and DESTDIR so that the rule, which goes where udev reads rules
    # whatever the prefix, lands in the temporary folder too.
    prefix = os.path.join(tmp, "prefix")
    dest = os.path.join(tmp, "dest")
    env = dict(os.environ, DESTDIR=dest)
    r = run(["cmake", "--install", args.build, "--prefix", prefix], env=env)
    if not check(r.returncode == 0, f"cmake --install: {r.stderr.strip()}"):
        return
    programs = read_programs(args.build)
    check_installed_tree(dest, prefix, args.udev_dir, programs, args.version, args.source)


def fake_udevadm(folder, exit_code):
    os.makedirs(folder, exist_ok=True)
    log = os.path.join(folder, "calls")
    script = os.path.join(folder, "udevadm")
    with open(script, "w") as f:
        f.write(f'#!/bin/sh\necho "$*" >> "{log}"\nexit {exit_code}\n')
    os.chmod(script, 0o755)
    return log


def check_maintainer_scripts(control, tmp):
    for name in ("postinst", "postrm"):
        path = os.path.join(control, name)
        if not check(os.path.exists(path), f"control archive: no {name}"):
            return
        mode = stat.S_IMODE(os.stat(path).st_mode)
        check(mode == 0o755, f"{name}: mode {mode:o}, expected 755")
        with open(path) as f:
            check(f.readline().startswith("#!/bin/sh"), f"{name}: not a /bin/sh script")
        check(run(["sh", "-n", path]).returncode == 0, f"{name}: shell syntax error")

    # (script, arguments, udevadm's exit code or None for no udevadm, calls expected)
    cases = [
        ("postinst", ["configure", ""], 0, ["control --reload-rules", "trigger --subsystem-match=usb --action=change"]),
        ("postinst", ["configure", ""], 1, ["control --reload-rules", "trigger --subsystem-match=usb --action=change"]),
        ("postinst", ["configure", ""], None, []),
        ("postinst", ["abort-upgrade", "1.0"], 0, []),
        ("postrm", ["remove"], 0, ["control --reload-rules"]),
        ("postrm", ["purge"], 1, ["control --reload-rules"]),
        ("postrm", ["upgrade", "1.0"], 0, []),
    ]
    for i, (script, argv, udevadm_rc, calls) in enumerate(cases):
        folder = os.path.join(tmp, f"path{i}")
        os.makedirs(folder)
        log = fake_udevadm(folder, udevadm_rc) if udevadm_rc is not None else os.path.join(folder, "calls")
        # Only the fake on PATH: a system udevadm must not be reached.
        r = run(["/bin/sh", os.path.join(control, script)] + argv, env={"PATH": folder}, timeout=30)
        made = open(log).read().splitlines() if os.path.exists(log) else []
        what = f"{script} {' '.join(argv).strip()} (udevadm {'absent' if udevadm_rc is None else f'exits {udevadm_rc}'})"
        check(r.returncode == 0, f"{what}: exit {r.returncode} {r.stderr.strip()}")
        check(made == calls, f"{what}: udevadm calls {made}, expected {calls}")


def cmd_deb(args, tmp):
    out = os.path.join(tmp, "out")
    r = run(["cpack", "--config", os.path.join(args.build, "CPackConfig.cmake"), "-G", "DEB", "-B", out],
            timeout=300)
    if not check(r.returncode == 0, f"cpack -G DEB: {r.stdout[-400:]} {r.stderr[-400:]}"):
        return
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    deb = os.path.join(out, f"telmar_{args.version}-1_{arch}.deb")
    if not check(os.path.exists(deb), f"no {os.path.basename(deb)} in {os.listdir(out)}"):
        return
    programs = read_programs(args.build)

    fields = {}
    for name in ("Package", "Version", "Section", "Priority", "Architecture", "Maintainer", "Depends",
                 "Description"):
        fields[name] = run(["dpkg-deb", "-f", deb, name]).stdout.strip()
    for name, want in (("Package", "telmar"), ("Version", f"{args.version}-1"), ("Section", "utils"),
                       ("Priority", "optional"), ("Architecture", arch)):
        check(fields[name] == want, f"control: {name}: {fields[name]!r}, expected {want!r}")
    check(re.fullmatch(r".+ <[^@\s]+@[^@\s]+>", fields["Maintainer"]) is not None,
          f"control: Maintainer {fields['Maintainer']!r} has no address")
    depends = {d.strip().split(" ")[0] for d in fields["Depends"].replace("|", ",").split(",")}
    needed = {"libc6", "libusb-1.0-0"}
    if any(p in DESKTOP_IDS for p in programs):
        needed |= {"libqt6widgets6", "qt6-qpa-plugins"}
    check(needed <= depends, f"control: Depends lacks {sorted(needed - depends)}: {fields['Depends']}")
    check(len(fields["Description"].splitlines()) > 1, "control: Description has no extended text")

    root = os.path.join(tmp, "root")
    control = os.path.join(tmp, "control")
    check(run(["dpkg-deb", "-x", deb, root]).returncode == 0, "dpkg-deb -x failed")
    check(run(["dpkg-deb", "-e", deb, control]).returncode == 0, "dpkg-deb -e failed")
    check_installed_tree(root, "/usr", args.udev_dir, programs, args.version, args.source)
    with open(os.path.join(control, "md5sums")) as f:
        summed = {line.split(None, 1)[1].strip() for line in f if line.strip()}
    check(summed == files_under(root), "md5sums does not list exactly the package's files")
    check_maintainer_scripts(control, tmp)

    lintian = shutil.which("lintian")
    if lintian:
        lr = run([lintian, "--fail-on", "error", deb], timeout=300)
        check(lr.returncode == 0, f"lintian: {lr.stdout.strip()}")
    else:
        print("lintian is not installed: its check was left out")


def cmd_zip(args, tmp):
    out = os.path.join(tmp, "out")
    r = run(["cpack", "--config", os.path.join(args.windows_build, "CPackConfig.cmake"), "-G", "ZIP",
             "-B", out], timeout=300)
    if not check(r.returncode == 0, f"cpack -G ZIP: {r.stdout[-400:]} {r.stderr[-400:]}"):
        return
    top = f"telmar-{args.version}-windows-x64"
    path = os.path.join(out, f"{top}.zip")
    if not check(os.path.exists(path), f"no {top}.zip in {os.listdir(out)}"):
        return
    programs = read_programs(args.windows_build)
    # "BUILD PLACEHOLDER(0|1) PATH" per updater the build made.
    with open(os.path.join(args.windows_build, "reflasher-images.txt")) as f:
        images = dict(line.split()[:2] for line in f if line.strip())
    real = {f"Reflasher-{b}" for b, placeholder in images.items() if placeholder == "0"}
    updaters = {p for p in programs if p.startswith("Reflasher")}
    check(updaters == real, f"the Windows build installs the updaters {sorted(updaters)}, "
          f"expected those with real images {sorted(real)}")
    with zipfile.ZipFile(path) as z:
        names = {n for n in z.namelist() if not n.endswith("/")}
        expected = {f"{top}/{p}.exe" for p in programs} | {f"{top}/README.txt", f"{top}/LICENSE.txt"}
        for n in sorted(expected - names):
            check(False, f"zip: missing {n}")
        for n in sorted(names - expected):
            check(False, f"zip: not expected {n}")
        # The programs are static; a DLL in the zip could only be the stand-in.
        check(not any(n.lower().endswith(".dll") for n in names), "zip: holds a DLL")
        for n in names & expected:
            if n.endswith(".exe"):
                check(z.read(n)[:2] == b"MZ", f"zip: {n} is not a Windows program")
        if f"{top}/README.txt" in names:
            readme = z.read(f"{top}/README.txt").decode("latin-1")
            check("SiUSBXp.dll" in readme and "\r\n" in readme and "\n" not in readme.replace("\r\n", ""),
                  "zip: README.txt must name SiUSBXp.dll and use Windows line ends")
            for p in programs:
                check(f"{p}.exe" in readme, f"zip: README.txt does not name {p}.exe")
            if not updaters:
                check("--image FILE" in readme, "zip: README.txt does not say how to write an image file")


def cmd_images(args, tmp):
    """The resource bundle's pictures and the updaters' icons are remade from the SVGs."""
    panel = os.path.join(args.source, "forms", "resources")
    variants = os.path.join(args.source, "updater", "variants")
    r = run(["bash", os.path.join(panel, "make-images.sh"), tmp])
    check(r.returncode == 0, f"make-images.sh: {r.stderr.strip()}")
    r = run([sys.executable, os.path.join(variants, "make_placeholders.py"), tmp])
    check(r.returncode == 0, f"make_placeholders.py: {r.stderr.strip()}")
    for made in sorted(files_under(tmp)):
        committed = os.path.join(variants if "/" in made else panel, made)
        with open(os.path.join(tmp, made), "rb") as a, open(committed, "rb") as b:
            check(a.read() == b.read(), f"{committed} differs from what its script draws now: "
                  "run the script and commit the result")
    check(len(files_under(tmp)) == 16, f"the scripts made {sorted(files_under(tmp))}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("install", "deb", "zip", "images"))
    parser.add_argument("--build")
    parser.add_argument("--windows-build")
    parser.add_argument("--source")
    parser.add_argument("--version")
    parser.add_argument("--udev-dir")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="telmar-package-") as tmp:
        {"install": cmd_install, "deb": cmd_deb, "zip": cmd_zip, "images": cmd_images}[args.command](args, tmp)
    for fault in faults:
        print("FAULT:", fault)
    print(f"{args.command}: {'ok' if not faults else f'{len(faults)} faults'}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
