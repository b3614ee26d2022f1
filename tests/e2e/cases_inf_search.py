"""End-to-end cases of the 2000/XP INF search as the real C runtime reads the files:
lines taken in 79-byte pieces, a signature line across the reader's 64 KiB block, the
lowest number first and oem255.inf never taken. cases.py imports this module, which
registers its cases there.
"""

import os
import re

import winemachine as wm
from cases import INF_DIR, NOT_FOUND, SIGNATURE, SIGNED_INF, case, inf_file

BLOCK = 64 * 1024


def _short_lines(size):
    """CR LF lines of exactly `size` bytes in all, none longer than a 79-byte piece, so that
    the line after them starts a piece."""
    out = bytearray()
    n = 0
    while size - len(out) > 80:
        out += b"; filler %d " % n + b"-" * (n % 50) + b"\r\n"
        n += 1
    out += b";" * (size - len(out) - 2) + b"\r\n"
    return bytes(out)


def _long_lines(size):
    """CR LF lines of about `size` bytes, many longer than 79 bytes."""
    line = b"HKR,,PortSubClass,1,01 ; " + b"=" * 120 + b"\r\n"
    return line * (size // len(line) + 1)


# oemN.inf name -> contents, and the run (1, 2) that deletes it; None: no run does.
INFS = {
    # The signature 80 bytes into a line: the pieces start at 0, 79 and 158.
    "oem0.inf": (b"x" * 80 + SIGNATURE + b"\r\n" + _long_lines(20000), None),
    # After a leading blank, in another letter case, one byte short.
    "oem1.inf": (b" " + SIGNATURE + b"\r\n" + SIGNATURE.replace(b"QLN", b"qln") + b"\r\n"
                 + SIGNATURE[:-1] + b"\r\n", None),
    # The second piece of a long line begins with it.
    "oem3.inf": (b"[Version]\r\n" + b"x" * 79 + SIGNATURE + b"\r\n", 1),
    # Its one signature line starts 10 bytes before the 64 KiB mark.
    "oem6.inf": (_short_lines(BLOCK - 10) + SIGNATURE + b"\r\n" + _long_lines(80000), 2),
    "oem255.inf": (SIGNED_INF, None),
}


@case("xp-inf-search-pieces-and-order", timeout=90)
def xp_inf_search(t):
    commands = []
    for name, (data, _) in INFS.items():
        commands += inf_file(t, name, data)
        commands += inf_file(t, name[:-3] + "pnf", b"PNF\0")
    before = t.arrange(commands)
    present = {n.lower() for n in before.file_names(INF_DIR) if n.lower().startswith(b"oem")}
    t.equal(len(present), 2 * len(INFS), "arranged: the oem INF files and their PNFs")
    # Each run deletes the lowest signed INF left; the third finds none it may take.
    for run in (1, 2, 3):
        result = t.run()
        t.expect_removal_run(result, [NOT_FOUND], 0)
        for name, (_, deleted_by) in INFS.items():
            if deleted_by == run:
                present -= {name.encode(), name[:-3].encode() + b"pnf"}
        after = t.inspect()
        left = {n.lower() for n in after.file_names(INF_DIR) if n.lower().startswith(b"oem")}
        t.equal(sorted(left), sorted(present), "oem files left after run %d" % run)


@case("xp-inf-search-line-reader-matches-runtime", timeout=60)
def line_reader_matches_runtime(t):
    """The program's own line reader, read for read against the C runtime's fgets, on
    sample files with line feeds at every word alignment, block edge and piece edge."""
    folder = r"C:\linecheck"
    os.makedirs(t.machine.unix_path(folder))
    try:
        out = t.machine.tool(["linecheck", folder])
    except wm.WineError as error:
        t.check(False, "the readers differ: %s" % error)
        return
    found = re.search(r"LINECHECK (\d+) files (\d+) reads (\d+) differences", out)
    if t.check(found, "linecheck printed no summary: %r" % out):
        t.equal(int(found.group(3)), 0, "differences")
        t.check(int(found.group(2)) > 100000, "reads compared: %s" % found.group(2))
