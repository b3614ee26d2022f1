#!/usr/bin/env python3
"""The demonstration behind scripts/demo: a throwaway Wine machine with the adapter
installed, 8140KUninstall.exe run on it, and what a user and the machine saw.

  demo.py --exe EXE --tool TOOL [--98] [--headless] [--auto-ok] [--keep]

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
    CLASS_KEY, COPY_98, COPY_XP, ENUM1, ENUM2, ID1, ID2, INF_DIR, OTHER_DIR, REG_SZ,
    arrange_98, arrange_installed_xp, class_keys, devadd, enum_device, regset,
)

DEMO_DEVICE_PREFIX = b"ROOT\\KALVORE2E\\"


def text(data):
    return data.decode("cp932", "replace")


def say(line=""):
    print(line, flush=True)


def arrange_xp(t):
    """A device under each hardware ID (the second one second in its device's list),
    the signed INF as oem2.inf with its PNF among other oem INFs, and two devices of
    other kinds."""
    return arrange_installed_xp(t, devices=[devadd(ID1), devadd(b"MF\\PCMCIA_SERIAL", ID2)])


def arrange_w98(t):
    """Both IDs in the ENUM key with their driver keys, both INF copies in inf\\other
    (the 2000/XP one read-only) beside another vendor's."""
    commands = class_keys()
    commands += enum_device(ENUM1, b"Ports\\0001") + enum_device(ENUM2, b"Ports\\0002")
    commands.append(regset(CLASS_KEY + "\\Ports\\0002", "DriverDesc", REG_SZ, b"QLN-8140K\0"))
    for name in (COPY_98, COPY_XP):
        path = OTHER_DIR + "\\" + name.decode()
        t.machine.write_file(path, cases.other_inf(8))
        if name == COPY_XP:
            commands.append(["attrib", path, "21"])
    return arrange_98(t, commands)


def show_devices(state):
    mine = [d for d in state.devices if d.instance_id.upper().startswith(DEMO_DEVICE_PREFIX)]
    for d in mine:
        ids = ", ".join(text(i) for i in d.hardware_ids) or "(no hardware IDs)"
        say("    %-22s %s" % (text(d.instance_id), ids))
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
        values = [(name, data) for (vpath, _), (name, _, data)
                  in sorted(state.values.get("HKLM", {}).items()) if vpath == p.lower()]
        shown = ", ".join("%s=%s" % (text(n) or "@", text(d.rstrip(b"\0"))) for n, d in values)
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
        show_files(state, INF_DIR, lambda n: n.lower().startswith(b"oem"))


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
    args = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8")

    display = None if args.headless else os.environ.get("DISPLAY") or None
    scratch = tempfile.mkdtemp(prefix="kalvor-demo-")
    say("Booting a throwaway Wine machine in %s ..." % scratch)
    wm.boot_template(os.path.join(scratch, "template"), headless=display is None,
                     log=lambda line: None)
    machine = wm.Machine(os.path.join(scratch, "template"), args.tool,
                         workdir=os.path.join(scratch, "machine"), display=display)
    ok = False
    try:
        t = cases.Case("demo", machine, args.exe)
        before = arrange_w98(t) if args.w98 else arrange_xp(t)
        kind = "Windows 98" if args.w98 else "Windows 2000/XP"
        say()
        say("== %s machine with the QLN-8140K adapter installed" % kind)
        show_machine(before, args.w98)
        say()
        say("== Running 8140KUninstall.exe (no arguments)")
        if display and not args.auto_ok:
            say("  (press OK on each box on your display)")
        result = machine.run(args.exe, timeout=600 if display and not args.auto_ok else 60,
                             dismiss=display is None or args.auto_ok)
        show_run(result)
        after = machine.snapshot(cases.REGISTRY, cases.FOLDERS)
        say()
        say("== The machine after the run")
        show_machine(after, args.w98)
        say()
        say("== Gone")
        for line in gone(before, after):
            say("    " + line)
        ok = not result.timed_out
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
