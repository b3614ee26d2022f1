#!/usr/bin/env python3
"""Runs the end-to-end cases of 8140KUninstall.exe under Wine.

  e2e.py template PREFIX              boot the template prefix that the cases copy
  e2e.py run CASE... --template PREFIX --exe EXE --tool TOOL [--keep DIR]
  e2e.py all --exe EXE --tool TOOL [CASE...]   boot a template and run the cases
  e2e.py list
  e2e.py arch                         win32, or win64 where i386 programs cannot run

A case that fails prints what it saw: the console bytes, every message box with what
the console showed when it appeared, the exit status and the machine before and after.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time
import traceback

# No __pycache__ in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import cases  # noqa: E402
import winemachine as wm  # noqa: E402


def run_case(name, template, exe, tool, keep=None, show=False):
    func = cases.CASES[name]
    started = time.monotonic()
    workdir = tempfile.mkdtemp(prefix="kalvor-e2e-%s-" % name)
    machine = None
    t = None
    error = None
    try:
        machine = wm.Machine(template, tool, workdir=workdir, name="prefix")
        t = cases.Case(name, machine, exe)
        t.timeout = func.timeout
        func(t)
    except Exception:  # a harness or arrangement error fails the case with its trace
        error = traceback.format_exc()
    finally:
        if machine:
            failed = error is not None or (t is not None and bool(t.failures))
            machine.close(keep=bool(keep and failed))
            if keep and failed:
                dest = os.path.join(keep, name)
                shutil.rmtree(dest, ignore_errors=True)
                shutil.move(workdir, dest)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    seconds = time.monotonic() - started
    ok = error is None and not t.failures
    print("%s %s (%.1f s)" % ("PASS" if ok else "FAIL", name, seconds), flush=True)
    if not ok or show:
        if t is not None:
            print(t.report())
        if error:
            print(error)
        sys.stdout.flush()
    return ok


def check_inputs(exe, tool):
    for what, path in (("program", exe), ("helper", tool)):
        if not os.path.isfile(path):
            sys.exit("e2e: the %s is not built: %s (build the windows preset first)" % (what, path))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("template")
    p.add_argument("prefix")
    for command in ("run", "all"):
        p = sub.add_parser(command)
        p.add_argument("cases", nargs="*" if command == "all" else "+")
        if command == "run":
            p.add_argument("--template", required=True)
        p.add_argument("--exe", required=True)
        p.add_argument("--tool", required=True)
        p.add_argument("--keep", help="keep the machines of failed cases in this folder")
        p.add_argument("--show", action="store_true",
                       help="print what each case saw, also when it passed")
    sub.add_parser("list")
    sub.add_parser("arch", help="win32, or win64 where this kernel runs no i386 programs")
    args = parser.parse_args()

    if args.command == "arch":
        print(wm.ARCH)
        return 0
    if args.command == "list":
        print("\n".join(cases.CASES))
        return 0
    if args.command == "template":
        wm.boot_template(args.prefix)
        return 0

    check_inputs(args.exe, args.tool)
    names = args.cases or list(cases.CASES)
    unknown = [n for n in names if n not in cases.CASES]
    if unknown:
        sys.exit("e2e: no such case: %s" % ", ".join(unknown))
    scratch = None
    template = getattr(args, "template", None)
    if template is None:
        scratch = tempfile.mkdtemp(prefix="kalvor-e2e-template-")
        template = os.path.join(scratch, "template")
        wm.boot_template(template)
    elif not os.path.isfile(os.path.join(template, "system.reg")):
        sys.exit("e2e: no template prefix at %s" % template)
    try:
        passed = sum(run_case(n, template, args.exe, args.tool, args.keep, args.show) for n in names)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
    failed = len(names) - passed
    if len(names) > 1:
        print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
