#!/usr/bin/env python3
"""Runs the 80486 instruction check of check_executable.py on small executables built here
with MinGW-w64: one that must pass, with the decoded ranges covering its code and nothing
else, and some that each hold one later instruction. Also runs it with an objdump that
fails, one that prints nothing and one that is not there, and the header check on a build
without and with --tsaware.
Usage: check_instructions_test.py I686_GCC"""
import os
import re
import subprocess
import sys
import tempfile

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_executable as checker  # noqa: E402

# No startup files: MinGW-w64's come built for the Pentium Pro. The constructor puts a
# .ctors entry between the ld script's words, so the code section holds data as the
# program's does.
SOURCE = """
int pick(int a, int b, int c) { return a < b ? c : a; }
int ready;
__attribute__((constructor)) static void init(void) { ready = 1; }
void start(void) { %s }
"""
BAD = {  # name: (what the check must name, compiler flag, code)
    "cmov": (r"\bcmov\w+", "-march=pentiumpro", ""),
    "fcomi": (r"\bfcomi\b", "-march=i486", '__asm__(".byte 0xdb,0xf1");'),
    "fcomip": (r"\bfcomip\b", "-march=i486", '__asm__(".byte 0xdf,0xf1");'),
    "cpuid": (r"\bcpuid\b", "-march=i486", '__asm__(".byte 0x0f,0xa2");'),
    "long-nop": (r"\bnop\s+DWORD", "-march=i486", '__asm__(".byte 0x0f,0x1f,0x00");'),
}


def build(gcc, directory, name, march, code, *flags):
    path = os.path.join(directory, name)
    with open(path + ".c", "w", encoding="utf-8") as f:
        f.write(SOURCE % code)
    subprocess.run([gcc, "-O2", march, "-nostdlib", "-Wl,-e,_start", f"-Wl,-Map,{path}.map",
                    *flags, "-o", path + ".exe", path + ".c"], check=True)
    return path + ".exe", path + ".map"


def check(exe, map_path):
    return checker.check_instructions(pefile.PE(exe), exe, map_path)


def main():
    failures = []
    with tempfile.TemporaryDirectory() as directory:
        exe, map_path = build(sys.argv[1], directory, "good", "-march=i486", "")
        problems = check(exe, map_path)
        if problems:
            failures.append(f"an 80486 build fails the check: {problems[:3]}")

        # Decoded: the section from its start up to ld's constructor list; the rest is data.
        pe = pefile.PE(exe)
        with open(map_path, encoding="utf-8") as f:
            map_text = f.read()
        text = next(s for s in pe.sections if s.Name.rstrip(b"\0") == b".text")
        start = pe.OPTIONAL_HEADER.ImageBase + text.VirtualAddress
        data = int(re.search(r"^ +0x([0-9a-f]+) +__CTOR_LIST__ = \.", map_text, re.M).group(1), 16)
        ranges = checker.code_ranges(pe, map_text)
        if ranges != [(start, data)]:
            failures.append(f"decoded {[(hex(a), hex(b)) for a, b in ranges]}, want "
                            f"{hex(start)}-{hex(data)} of a .text of {text.Misc_VirtualSize:#x} bytes")

        aware, _ = build(sys.argv[1], directory, "aware", "-march=i486", "", "-Wl,--tsaware")
        named = [[p for p in checker.check_headers(pefile.PE(e)) if "--tsaware" in p]
                 for e in (exe, aware)]
        if len(named[0]) != 1 or named[1]:
            failures.append(f"the header check on a build without and with --tsaware: {named}")

        for name, (pattern, march, code) in BAD.items():
            problems = check(*build(sys.argv[1], directory, name, march, code))
            if not any(re.search(pattern, p) and "not an 80486 instruction" in p for p in problems):
                failures.append(f"{name}: the check does not name it: {problems}")

        real = checker.OBJDUMP
        for name, script, expect in [
                ("failing", f'{real} "$@"\necho early >&2\necho the last words >&2\nexit 1\n',
                 "{} ended with exit status 1: the last words"),
                ("silent", "exit 0\n", "no instruction found in the executable sections"),
                ("missing", None, "{} not found")]:
            checker.OBJDUMP = os.path.join(directory, name)
            if script:
                with open(checker.OBJDUMP, "w", encoding="utf-8") as f:
                    f.write("#!/bin/sh\n" + script)
                os.chmod(checker.OBJDUMP, 0o755)
            problems = check(exe, map_path)
            if problems != [expect.format(checker.OBJDUMP)]:
                failures.append(f"with a {name} objdump the check gives {problems}, "
                                f"want {expect.format(checker.OBJDUMP)!r}")
        checker.OBJDUMP = real

    for failure in failures:
        print(failure)
    if not failures:
        print(f"instruction check: passes an 80486 build decoding all its code and nothing else, "
              f"names {', '.join(BAD)}, fails on a failing, silent or missing objdump, "
              f"names a missing --tsaware")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
