#!/usr/bin/env python3
"""The demonstration behind scripts/demo: on a throwaway Wine machine the adapter is
installed by Wine's own Setup API, 8140KUninstall.exe runs, and the adapter is
installed again; it prints what a user and the machine saw and saves a picture of
every message box.

  demo.py --exe EXE --tool TOOL [--98] [--headless] [--auto-ok] [--keep] [--pictures DIR]

Without a display (or with --headless) the run gets its own X server and OK is pressed
on every box. With DISPLAY set, the boxes appear on that display for the user to press
OK (--auto-ok presses it there too).
"""

import argparse
import os
import shutil
import sys
import tempfile

# No __pycache__ in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402
import winemachine as wm  # noqa: E402
from cases import (  # noqa: E402
    CLASS_KEY, COPY_98, COPY_XP, DRIVERS_DIR, ENUM1, ENUM2, ID1, INF_DIR, OTHER_DIR,
    PORTS_KEY, REG_SZ, SERVICE_KEY, arrange_98, card, enum_device, install_xp, prepare_xp,
    regset,
)

DEMO_DEVICE_PREFIX = b"ROOT\\KALVORE2E\\"
FOLDERS = cases.FOLDERS + [DRIVERS_DIR]


def text(data):
    return data.decode("cp932", "replace")


def say(line=""):
    print(line, flush=True)


def arrange_w98(t):
    """What 98 writes when the adapter is installed there, planted: Wine cannot install
    a driver the 98 way. The card under each hardware ID in the ENUM key, each with its
    driver key of the Ports class, and the disk's INFs copied into inf\\other under the
    maker's name (the 2000/XP one read-only, as copied from a CD)."""
    commands = [regset(CLASS_KEY + "\\Ports", "@", REG_SZ, b"Ports (COM & LPT)\0")]
    for n, enum in ((1, ENUM1), (2, ENUM2)):
        driver = CLASS_KEY + "\\Ports\\000%d" % n
        commands += enum_device(enum, b"Ports\\000%d" % n)
        commands += [regset(enum + "\\0", name, REG_SZ, data + b"\0") for name, data in (
            ("DeviceDesc", b"QLN-8140K RS232C PC Card"), ("Mfg", b"TOVAK Systems,Inc."))]
        commands += [regset(driver, name, REG_SZ, data + b"\0") for name, data in (
            ("DriverDesc", b"QLN-8140K RS232C PC Card"), ("InfPath", COPY_98),
            ("InfSection", b"QLN8140K"), ("ProviderName", b"TOVAK Systems,Inc."))]
    t.machine.write_file(OTHER_DIR + "\\" + COPY_XP.decode(), cases.disk_file(cases.DISK_FILES[0]))
    commands.append(["attrib", OTHER_DIR + "\\" + COPY_XP.decode(), "21"])
    t.machine.write_file(OTHER_DIR + "\\" + COPY_98.decode(), cases.other_inf(8))
    return arrange_98(t, commands)


def show_devices(state):
    mine = [d for d in state.devices if d.instance_id.upper().startswith(DEMO_DEVICE_PREFIX)]
    for d in mine:
        ids = ", ".join(text(i) for i in d.hardware_ids) or "(no hardware IDs)"
        say("    %-22s %s" % (text(d.instance_id), ids))
        if d.driver:
            key = PORTS_KEY + "\\" + text(d.driver).rsplit("\\", 1)[-1]
            values = ["%s=%s" % (n, text((state.value("HKLM", key, n) or (0, 0, b"?"))[2]
                                          .rstrip(b"\0"))) for n in ("InfPath", "InfSection")]
            say("    %-22s driver key %s (%s)" % ("", text(d.driver), ", ".join(values)))
    if not mine:
        say("    (none)")
    say("    and %d devices of Wine's own" % (len(state.devices) - len(mine)))


def show_files(state, folder, only=None):
    names = [n for n in state.file_names(folder) if only is None or only(n)]
    if not names:
        say("    (none)")
    for n in names:
        entry = state.file(folder, n)
        say("    %s%s" % (text(n), "  (read-only)" if entry[1] & 1 else ""))


def show_keys(state, below):
    paths = [p for low, p in sorted(state.keys.get("HKLM", {}).items())
             if low.startswith(below.lower().encode())]
    if not paths:
        say("    (none)")
    for p in paths:
        values = [(name, kind, data) for (vpath, _), (name, kind, data)
                  in sorted(state.values.get("HKLM", {}).items()) if vpath == p.lower()]
        shown = ", ".join("%s=%s" % (text(n) or "@", int.from_bytes(d, "little") if k == 4
                                     else text(d.rstrip(b"\0"))) for n, k, d in values)
        say("    HKLM\\%s%s" % (text(p), "  [" + shown + "]" if shown else ""))


def show_machine(state, w98):
    if w98:
        say("  Registry below HKLM\\ENUM:")
        show_keys(state, "ENUM\\")
        say("  Registry below HKLM\\%s:" % CLASS_KEY)
        show_keys(state, CLASS_KEY + "\\")
        say("  Files in C:\\windows\\inf\\other:")
        show_files(state, OTHER_DIR)
    else:
        say("  Devices (all classes, present or not):")
        show_devices(state)
        say("  OEM INF files in C:\\windows\\inf:")
        show_files(state, INF_DIR, lambda n: n.lower().startswith((b"oem", b"qln")))
        say("  The adapter's service:")
        show_keys(state, SERVICE_KEY)
        say("  The driver file in %s:" % DRIVERS_DIR)
        show_files(state, DRIVERS_DIR, lambda n: n.lower() == b"qln8140k.sys")


def gone(before, after):
    """What the run took away, of everything the demo looks at."""
    lines = []
    for d in before.devices:
        if after.device(d.instance_id) is None:
            lines.append("device %s" % text(d.instance_id))
    for low, path in sorted(before.keys.get("HKLM", {}).items()):
        if not after.has_key("HKLM", low):
            lines.append("key HKLM\\%s" % text(path))
    for folder in cases.FOLDERS:
        for name in before.file_names(folder):
            if after.file(folder, name) is None:
                lines.append("file %s\\%s" % (folder, text(name)))
    return lines or ["nothing"]


def show_run(result):
    say("  Console:")
    for line in result.console_lines.split(b"\n")[:-1] if result.console_lines else []:
        say("    | " + text(line))
    for n, box in enumerate(result.boxes, 1):
        say("  Message box %d, caption %s:" % (n, text(box.caption or b"")))
        for line in (box.text or b"").replace(b"\r\n", b"\n").rstrip(b"\n").split(b"\n"):
            say("    | " + text(line))
        say("    picture: %s" % (os.path.abspath(box.picture) if box.picture else "(none)"))
    if result.timed_out:
        say("  The program did not end within the time limit.")
    else:
        say("  Exit status: %s" % result.exit_status)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--98", dest="w98", action="store_true",
                        help="a Windows 98 machine: ENUM registry keys and inf\\other copies")
    parser.add_argument("--headless", action="store_true",
                        help="an X server of its own even when DISPLAY is set")
    parser.add_argument("--auto-ok", action="store_true",
                        help="press OK on the boxes also on a desktop")
    parser.add_argument("--keep", action="store_true", help="keep the Wine machine")
    parser.add_argument("--pictures", help="folder for the pictures of the boxes")
    args = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8")

    display = None if args.headless else os.environ.get("DISPLAY") or None
    scratch = tempfile.mkdtemp(prefix="kalvor-demo-")
    say("Booting a throwaway Wine machine in %s ..." % scratch)
    wm.boot_template(os.path.join(scratch, "template"), headless=display is None,
                     log=lambda line: None)
    machine = wm.Machine(os.path.join(scratch, "template"), args.tool,
                         workdir=os.path.join(scratch, "machine"), display=display)
    pictures = args.pictures or tempfile.mkdtemp(prefix="kalvor-demo-pictures-")
    os.makedirs(pictures, exist_ok=True)
    ok = False
    try:
        t = cases.Case("demo", machine, args.exe)
        if args.w98:
            say()
            say("== Windows 98 machine with the QLN-8140K adapter installed (as 98 writes it)")
            before = arrange_w98(t)
        else:
            machine.tool(*prepare_xp(t) + cases.OTHER_DEVICES)
            say()
            say("== Windows XP machine: installing the QLN-8140K adapter from its disk")
            say("   (SetupCopyOEMInfA, then a device record registered and its driver installed)")
            before = machine.snapshot(cases.REGISTRY, FOLDERS, before=install_xp([card(ID1)]))
        show_machine(before, args.w98)
        say()
        say("== Running 8140KUninstall.exe (no arguments)")
        if display and not args.auto_ok:
            say("  (press OK on each box on your display)")
        result = machine.run(args.exe, timeout=600 if display and not args.auto_ok else 60,
                             dismiss=display is None or args.auto_ok, pictures=pictures)
        show_run(result)
        after = machine.snapshot(cases.REGISTRY, FOLDERS)
        say()
        say("== The machine after the run")
        show_machine(after, args.w98)
        say()
        say("== Gone")
        for line in gone(before, after):
            say("    " + line)
        ok = not result.timed_out
        if not args.w98:
            say()
            say("== Installing the adapter again")
            again = machine.snapshot(cases.REGISTRY, FOLDERS, before=install_xp([card(ID1)]))
            show_machine(again, False)
            same = again.copied_infs[-1:] == before.copied_infs[-1:]
            drivers = [d for d in again.devices if d.driver and ID1 in d.hardware_ids]
            say("  The INF copy is %s again: %s; device records with a driver: %d" % (
                text(again.copied_infs[-1]), "yes" if same else "NO", len(drivers)))
            ok = ok and same and len(drivers) == 1
    finally:
        machine.close(keep=args.keep)
        if args.keep:
            say("\nThe Wine machine is kept: WINEPREFIX=%s" % machine.prefix)
            shutil.rmtree(os.path.join(scratch, "template"), ignore_errors=True)
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
