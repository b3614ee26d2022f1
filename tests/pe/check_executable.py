#!/usr/bin/env python3
"""Checks the built 8140KUninstall.exe: a PE32 i386 console program that Windows 98 loads
(subsystem version at most 4.0), Terminal Server aware, importing only from KERNEL32,
USER32, ADVAPI32 and MSVCRT and only the functions of import_allowlist.txt, with the version
resource the program ships. With --timestamp, the header's time stamp must be that value
(the source's, not the link time). No absolute path of the build machine may stand in the
file: neither the directories given with --no-path nor any other that looks like one. The
file must stay within 64 KiB. With --map (ld's link map of the file), every executable
section is disassembled and each instruction must be one that the 80486 has, so that the
program runs on every processor that Windows 98, ME, 2000 and XP run on; the data that ld
lays into code sections (the constructor lists) is found in the map and not decoded; an
objdump that fails or is missing is one failed check.
Usage: check_executable.py [--timestamp SECONDS] [--no-path DIR]... [--map MAP] EXE
Prints one line per failed check and exits 1."""
import argparse
import os
import re
import subprocess
import sys

import pefile

ALLOWED_DLLS = {"KERNEL32", "USER32", "ADVAPI32", "MSVCRT"}
STRINGS = {
    "Comments": "",
    "FileDescription": "QLN-xx UnInstall Program",
    "FileVersion": "1, 0, 0, 1",
    "InternalName": "Kalvor",
    "LegalTrademarks": "",
    "OriginalFilename": "8140KUninstall",
    "PrivateBuild": "",
    "ProductName": "QLN-xx Uninstall Program",
    "ProductVersion": "1, 0, 0, 1",
    "SpecialBuild": "",
}
# Chosen by the program's authors; present, with any text.
OWN_STRINGS = {"CompanyName", "LegalCopyright"}


def read_allowlist(path):
    allowed, problems = set(), []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            entry, _, source = line.partition("--")
            fields = entry.split()
            if len(fields) != 2 or not source.strip():
                problems.append(f"allowlist line {number}: want 'DLL function -- source': {line}")
                continue
            allowed.add((fields[0].upper(), fields[1]))
    return allowed, problems


TERMINAL_SERVER_AWARE = pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"]


def check_headers(pe):
    problems = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        problems.append(f"machine 0x{pe.FILE_HEADER.Machine:x}, not i386")
    if pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE:
        problems.append(f"optional header magic 0x{pe.OPTIONAL_HEADER.Magic:x}, not PE32")
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        problems.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, not the console")
    version = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
    if version > (4, 0):
        problems.append("subsystem version %d.%d: Windows 98 loads at most 4.0" % version)
    if not pe.OPTIONAL_HEADER.DllCharacteristics & TERMINAL_SERVER_AWARE:
        problems.append("not Terminal Server aware (link with --tsaware): under Terminal Services "
                        "GetWindowsDirectoryA gives it a per-user folder, not the one with the INFs")
    return problems


def check_imports(pe, allowed):
    problems = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("ascii").upper()
        if dll.endswith(".DLL"):
            dll = dll[:-4]
        if dll not in ALLOWED_DLLS:
            problems.append(f"imports from {entry.dll.decode()}")
            continue
        for imported in entry.imports:
            name = imported.name.decode("ascii") if imported.name else f"#{imported.ordinal}"
            if (dll, name) not in allowed:
                problems.append(f"imports {dll}!{name}, which is not on the allowlist")
    if hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"):
        problems.append("has delay-load imports")
    return problems


def check_version(pe):
    problems = []
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return ["no version resource"]
    fixed = pe.VS_FIXEDFILEINFO[0]
    expect = {
        "FileVersionMS": 0x00010000, "FileVersionLS": 0x00000001,
        "ProductVersionMS": 0x00010000, "ProductVersionLS": 0x00000001,
        "FileOS": 0x00040004,  # VOS_NT_WINDOWS32
        "FileType": 0x1,  # VFT_APP
    }
    for field, value in expect.items():
        if getattr(fixed, field) != value:
            problems.append(f"{field} 0x{getattr(fixed, field):08x}, want 0x{value:08x}")

    tables, translations = [], []
    for info in pe.FileInfo[0] if pe.FileInfo and isinstance(pe.FileInfo[0], list) else pe.FileInfo:
        if info.Key == b"StringFileInfo":
            tables.extend(info.StringTable)
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                translations.extend(var.entry.values())
    if [t.LangID for t in tables] != [b"041104b0"]:
        problems.append(f"string blocks {[t.LangID for t in tables]}, want exactly 041104b0")
    else:
        entries = {k.decode("utf-8"): v.decode("utf-8") for k, v in tables[0].entries.items()}
        for key, value in STRINGS.items():
            if key not in entries:
                problems.append(f"no {key} entry")
            elif entries[key] != value:
                problems.append(f"{key} is {entries[key]!r}, want {value!r}")
        for key in OWN_STRINGS:
            if key not in entries:
                problems.append(f"no {key} entry")
        extra = set(entries) - set(STRINGS) - OWN_STRINGS
        if extra:
            problems.append(f"unexpected entries {sorted(extra)}")
    if translations != ["0x0411 0x04b0"]:
        problems.append(f"translations {translations}, want Japanese (0x0411) with Unicode (1200)")

    # The resource itself is stored under the language its string block names.
    languages = [language.id
                 for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries
                 if kind.id == pefile.RESOURCE_TYPE["RT_VERSION"]
                 for name in kind.directory.entries
                 for language in name.directory.entries]
    if languages != [0x411]:
        problems.append(f"version resource stored under languages {[hex(l) for l in languages]}, "
                        "want exactly 0x411")
    return problems


MAX_SIZE = 64 * 1024
# An absolute path of a Unix or Windows build machine, as "/home/x" or "C:\\x"; a slash
# inside a word, as in "Win2000/XP", is not one.
MACHINE_PATH = re.compile(rb"(?<![\w.+-])/[\w.+-]{2,}/[\w.+-]{2,}|(?<!\w)[A-Za-z]:[\\/][\w.+ -]{2,}")


def check_reproducible(pe, data, timestamp, paths):
    """The link time and the build's paths make two builds of one source differ."""
    problems = []
    if timestamp is not None and pe.FILE_HEADER.TimeDateStamp != timestamp:
        problems.append(f"header time stamp {pe.FILE_HEADER.TimeDateStamp}, want {timestamp} "
                        "from the source (a link time, or the windows build is older than the source)")
    if hasattr(pe, "DIRECTORY_ENTRY_DEBUG"):
        problems.append("has a debug directory (its own time stamp and a symbol file path)")
    for path in paths:
        path = os.path.abspath(path)
        for form in {path, path.replace("/", "\\")}:
            if form.encode() in data or form.encode("utf-16-le") in data:
                problems.append(f"holds the build path {form}")
    for found in sorted(set(MACHINE_PATH.findall(data))):
        problems.append(f"holds what looks like an absolute path: {found.decode('latin-1')}")
    return problems


def check_size(data):
    if len(data) > MAX_SIZE:
        return [f"{len(data)} bytes, more than {MAX_SIZE}"]
    return []


# Mnemonics as objdump prints them in Intel syntax: the 8086 to 80386 integer set, what the
# 80486 added, and the x87 set of the 387. CMOVcc, FCOMI, FUCOMI and FCMOVcc (Pentium Pro),
# CPUID, RDTSC and CMPXCHG8B (Pentium), multi-byte NOPs, MMX and SSE are not here.
I486 = set("""
aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbw cdq clc cld cli clts
cmc cmp cmps cmpsb cmpsw cmpsd cwd cwde daa das dec div enter hlt idiv imul in inc ins insb
insw insd int int3 into iret iretd iretw lahf lar lds lea leave les lfs lgdt lgs lidt lldt lmsw
lods lodsb lodsw lodsd loop loope loopne lsl lss ltr mov movs movsb movsw movsd movsx movzx
mul neg nop not or out outs outsb outsw outsd pop popa popad popf popfd popaw popfw push pusha
pushad pushf pushfd pushaw pushfw rcl rcr ret retf rol ror sahf sal sar sbb scas scasb scasw
scasd sgdt shl shld shr shrd sidt sldt smsw stc std sti stos stosb stosw stosd str sub test
verr verw wait fwait xchg xlat xlatb xor
ja jae jb jbe jc jcxz jecxz je jg jge jl jle jmp jna jnae jnb jnbe jnc jne jng jnge jnl jnle
jno jnp jns jnz jo jp jpe jpo js jz
seta setae setb setbe setc sete setg setge setl setle setna setnae setnb setnbe setnc setne
setng setnge setnl setnle setno setnp setns setnz seto setp setpe setpo sets setz
bswap cmpxchg xadd invd wbinvd invlpg
f2xm1 fabs fadd faddp fiadd fbld fbstp fchs fclex fnclex fcom fcomp fcompp fcos fdecstp fdiv
fdivp fidiv fdivr fdivrp fidivr ffree ficom ficomp fild fincstp finit fninit fist fistp fld
fld1 fldcw fldenv fldl2e fldl2t fldlg2 fldln2 fldpi fldz fmul fmulp fimul fnop fpatan fprem
fprem1 fptan frndint frstor fsave fnsave fscale fsin fsincos fsqrt fst fstp fstcw fnstcw
fstenv fnstenv fstsw fnstsw fsub fsubp fisub fsubr fsubrp fisubr ftst fucom fucomp fucompp
fxam fxch fxtract fyl2x fyl2xp1
""".split())
OBJDUMP = "i686-w64-mingw32-objdump"
PREFIXES = {"rep", "repz", "repnz", "repe", "repne", "lock", "data16", "addr16",
            "cs", "ds", "es", "fs", "gs", "ss"}

# In an executable section ld may lay data: the words of its own script (LONG, as in the
# constructor lists) and input sections that hold tables, not code.
MAP_DATA = re.compile(
    r"^ {16}0x([0-9a-f]+) +0x([0-9a-f]+) (?:BYTE|SHORT|LONG|QUAD|SQUAD) 0x[0-9a-f]+$"
    r"|^ (?:\.ctors|\.dtors|\.ctor|\.dtor|\.gcc_except_table)\S*\s+0x([0-9a-f]+) +0x([0-9a-f]+)",
    re.MULTILINE)


def code_ranges(pe, map_text):
    """The virtual address ranges of the executable sections, less the data in them."""
    data = []
    for m in MAP_DATA.finditer(map_text):
        start, size = (m.group(1), m.group(2)) if m.group(1) else (m.group(3), m.group(4))
        if int(size, 16):
            data.append((int(start, 16), int(start, 16) + int(size, 16)))
    ranges = []
    base = pe.OPTIONAL_HEADER.ImageBase
    for section in pe.sections:
        if not section.Characteristics & pefile.SECTION_CHARACTERISTICS["IMAGE_SCN_MEM_EXECUTE"]:
            continue
        start = base + section.VirtualAddress
        end = start + min(section.Misc_VirtualSize, section.SizeOfRawData)
        for data_start, data_end in sorted(data):
            if start <= data_start < end:
                if data_start > start:
                    ranges.append((start, data_start))
                start = max(start, data_end)
        if start < end:
            ranges.append((start, end))
    return ranges


def check_instructions(pe, exe, map_path):
    try:
        with open(map_path, encoding="utf-8", errors="replace") as f:
            map_text = f.read()
    except OSError as error:
        return [f"cannot read the link map: {error}"]
    problems, count = [], 0
    for start, end in code_ranges(pe, map_text):
        try:
            run = subprocess.run(
                [OBJDUMP, "-d", "-M", "intel", f"--start-address=0x{start:x}",
                 f"--stop-address=0x{end:x}", exe],
                capture_output=True, text=True)
        except FileNotFoundError:
            return problems + [f"{OBJDUMP} not found"]
        if run.returncode:
            last = (run.stderr.strip().splitlines() or ["no error output"])[-1]
            return problems + [f"{OBJDUMP} ended with exit status {run.returncode}: {last}"]
        for line in run.stdout.splitlines():
            fields = line.split("\t")
            if len(fields) < 3 or not fields[0].strip().endswith(":"):
                continue  # a heading, or the further bytes of a long instruction
            words = fields[2].split()
            while len(words) > 1 and words[0] in PREFIXES:
                words.pop(0)
            mnemonic = words[0] if words else "(none)"
            # The NOP that takes operands (0F 1F) came with the Pentium Pro.
            if mnemonic not in I486 or (mnemonic == "nop" and len(words) > 1):
                problems.append(f"0x{fields[0].strip().rstrip(':')}: {fields[2].strip()} "
                                f"({fields[1].strip()}) is not an 80486 instruction")
            count += 1
    if count == 0:
        problems.append("no instruction found in the executable sections")
    return problems


def main():
    parser = argparse.ArgumentParser(usage=__doc__)
    parser.add_argument("--timestamp", type=int)
    parser.add_argument("--no-path", action="append", default=[])
    parser.add_argument("--map", help="ld's link map of EXE: check every instruction")
    parser.add_argument("exe")
    args = parser.parse_args()
    exe = args.exe
    if not os.path.isfile(exe):
        print(f"{exe} does not exist: build the windows preset first")
        return 1
    with open(exe, "rb") as f:
        data = f.read()
    pe = pefile.PE(data=data)
    allowed, problems = read_allowlist(os.path.join(os.path.dirname(__file__), "import_allowlist.txt"))
    problems += check_headers(pe) + check_imports(pe, allowed) + check_version(pe)
    problems += check_reproducible(pe, data, args.timestamp, args.no_path) + check_size(data)
    if args.map:
        problems += check_instructions(pe, exe, args.map)
    for problem in problems:
        print(problem)
    if not problems:
        print(f"{exe}: PE32 i386 console program, subsystem 4.0, Terminal Server aware, "
              "imports and version resource as expected, "
              f"{len(data)} bytes" + ("" if args.timestamp is None else ", time stamp from the source")
              + ", no build paths" + (", 80486 instructions only" if args.map else ""))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
