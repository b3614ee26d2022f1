"""The end-to-end cases: 8140KUninstall.exe run under Wine on arranged machines.

Each case is a function taking a `Case` and registered with @case. It arranges its
machine, runs the program and states what a user and the machine must see. Checks
collect, so one run reports every difference at once, with the run and the machine
state before and after.
"""

import winemachine as wm

# What the program shows and looks for, in code page 932.
START_LINE = "プログラム実行中・・・\n".encode("cp932")
END_LINE = "プログラム終了\n".encode("cp932")
RULE = b"=" * 66
HELP_TEXT = (b"\n" + RULE + b"\n"
             + "本プログラムは、デバイス情報の削除、infファイルの削除を行います。\n".encode("cp932")
             + "本プログラム実行後、再インストールを行ってください。\n".encode("cp932")
             + RULE + b"\n")
REMOVED = "指定デバイス情報を削除しました。".encode("cp932")
NOT_FOUND = "指定デバイス情報が見つかりません。".encode("cp932")
CAPTION = b"Kalvor"
MB_OK = 0
IDOK = 1

ID1 = b"PCMCIA\\TOVAK-QLN8140K_RS232C_PC_Card-A7E5"
ID2 = b"PCMCIA\\TOVAK_System_Inc.-QLN8140K_RS232C_PC_Card-5B1C"
SIGNATURE = ";   QLN-8140K Win2000/XP対策用INF(override)".encode("cp932")
COPY_98 = b"TOVAK Systems,Inc.Qln8140k_w9xme.inf"
COPY_XP = b"TOVAK Systems,Inc.QLN8140K_w2kxp.inf"

INF_DIR = r"C:\windows\inf"
OTHER_DIR = r"C:\windows\inf\other"
CLASS_KEY = r"System\CurrentControlSet\Services\Class"
REGISTRY = [("HKLM", "ENUM"), ("HKLM", CLASS_KEY)]
FOLDERS = [INF_DIR, OTHER_DIR]

ERROR_FILE_NOT_FOUND = 2
ERROR_ACCESS_DENIED = 5
ERROR_INVALID_DATA = 13

# The adapter's 2000/XP INF, as a text with CR LF line ends; the signature is not on
# the first line.
SIGNED_INF = b"\r\n".join([
    b"; QLN8140K.inf",
    b";",
    SIGNATURE,
    b";",
    b"[Version]",
    b'Signature="$Windows NT$"',
    b"Class=Ports",
    b"ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}",
    b"Provider=%TOVAK%",
    b"",
])


def other_inf(n):
    return b"\r\n".join([
        b"; oem%d.inf: some other vendor's driver" % n,
        b"[Version]",
        b'Signature="$Windows NT$"',
        b"Class=Net",
        b"",
    ])


def text_of(data):
    return data.decode("cp932", "replace")


class CaseFailed(AssertionError):
    pass


class Case:
    """One case on one machine: arranging, running, checking."""

    def __init__(self, name, machine, exe):
        self.name = name
        self.machine = machine
        self.exe = exe
        self.runs = []
        self.before = None
        self.after = None
        self.failures = []
        self.errtexts = {}

    # -- checks ------------------------------------------------------------
    def check(self, condition, what):
        if not condition:
            self.failures.append(what)
        return condition

    def equal(self, actual, expected, what):
        if actual != expected:
            self.failures.append("%s:\n      expected %r\n      actual   %r" % (
                what, expected, actual))
            return False
        return True

    def report(self):
        lines = ["case %s" % self.name]
        lines += ["  FAILED: " + f for f in self.failures]
        for r in self.runs:
            lines.append(r.describe())
        if self.before:
            lines.append("machine before the run:\n" + _indent(self.before.describe()))
        if self.after:
            lines.append("machine after the run:\n" + _indent(self.after.describe()))
        return "\n".join(lines)

    # -- machine -----------------------------------------------------------
    def arrange(self, commands=(), codes=()):
        """Runs the arranging helper commands and reads the machine's state, together
        with the system texts of `codes` for the expected failure boxes."""
        self.before = self.machine.snapshot(REGISTRY, FOLDERS, codes, before=commands)
        self.errtexts.update(self.before.errtexts)
        return self.before

    def inspect(self):
        self.after = self.machine.snapshot(REGISTRY, FOLDERS)
        return self.after

    def errtext(self, code):
        if code not in self.errtexts:
            out = self.machine.tool(["errtext", str(code)])
            self.errtexts.update(wm.parse_tool_output(out).errtexts)
        return self.errtexts[code]

    def failure_text(self, label, code):
        """The failure box text, with the system's own text for `code` on this machine."""
        text = self.errtext(code)
        return label + b" FAILURE: (0x%08x)" % code + (text or b"") + b"\n"

    def run(self, args=(), **kw):
        result = self.machine.run(self.exe, args, **kw)
        self.runs.append(result)
        if result.timed_out:
            self.failures.append("the program did not end within its time limit")
        return result

    # -- expectations shared by the cases -----------------------------------
    def expect_removal_run(self, result, box_texts, exit_status):
        """A run without the help: the start line, the boxes in order (each shown after
        the start line reached the console), the end line, and the exit status."""
        self.equal(result.console_lines, START_LINE + END_LINE, "console output")
        self.equal(result.exit_status, exit_status, "exit status")
        self.equal([text_of(b.text or b"") for b in result.boxes],
                   [text_of(t) for t in box_texts], "message box texts, in order")
        for n, box in enumerate(result.boxes, 1):
            if n <= len(box_texts) and box.text is not None:
                self.check(box.text_is(box_texts[n - 1]),
                           "box %d text bytes: expected %s, got %s" % (
                               n, box_texts[n - 1].hex(), box.text.hex()))
            self.expect_plain_box(box, n)
            self.equal(box.console.replace(b"\r\n", b"\n"), START_LINE,
                       "console when box %d appeared" % n)

    def expect_plain_box(self, box, n):
        self.equal(box.owner, 0, "box %d owner window" % n)
        self.equal(box.caption, CAPTION, "box %d caption" % n)
        self.equal(box.type, MB_OK, "box %d type" % n)
        self.equal(box.returned, IDOK, "box %d dismissed with OK" % n)

    def expect_unchanged(self):
        self.equal(_comparable(self.after), _comparable(self.before),
                   "machine state after the run against before it")


def _indent(text):
    return "\n".join("  " + line for line in text.splitlines())


def _comparable(state):
    return {
        "devices": sorted((d.instance_id.lower(), d.hwid_bytes, d.error) for d in state.devices),
        "keys": {r: sorted(k) for r, k in state.keys.items()},
        "values": {r: sorted(v.items()) for r, v in state.values.items()},
        "files": {d: sorted(l.values()) if l is not None else None
                  for d, l in state.files.items()},
    }


CASES = {}


def case(name, timeout=45):
    def register(func):
        assert name not in CASES, name
        func.timeout = timeout
        CASES[name] = func
        return func
    return register


# ---------------------------------------------------------------------------
# Arrangements.


def devadd(*ids, nul_less=False):
    return ["devadd"] + (["--nul-less"] if nul_less else []) + [i.decode("latin-1") for i in ids]


def inf_file(t, n, data, read_only=False):
    """oemN.inf written into the machine's INF folder; returns helper commands that
    finish arranging it (the read-only attribute is set through Windows)."""
    path = INF_DIR + "\\" + n
    t.machine.write_file(path, data)
    return [["attrib", path, "21"]] if read_only else []


def arrange_installed_xp(t, extra=(), codes=(), read_only_pnf=False, devices=None):
    """The adapter installed on 2000/XP: a device under the first hardware ID, the
    signed INF as oem2.inf with its PNF among other oem INFs (with a gap at oem4), a
    device without hardware IDs and one of another make."""
    commands = []
    for n in (0, 1, 3, 5):
        commands += inf_file(t, "oem%d.inf" % n, other_inf(n))
        commands += inf_file(t, "oem%d.pnf" % n, b"PNF\0other")
    commands += inf_file(t, "oem2.inf", SIGNED_INF)
    commands += inf_file(t, "oem2.pnf", b"PNF\0" + SIGNED_INF[:40], read_only=read_only_pnf)
    if devices is None:
        devices = [devadd(ID1)]
    commands += devices
    commands += [devadd(), devadd(b"PCI\\VEN_8086&DEV_1234", b"PCI\\VEN_8086")]
    commands += list(extra)
    return t.arrange(commands, codes)


def arrange_98(t, commands=(), codes=()):
    """A 98 machine: Windows version win98 and an inf\\other folder with a copy of
    some other INF in it."""
    t.machine.write_file(OTHER_DIR + "\\Other Vendor.inf", other_inf(9))
    t.machine.set_windows_version(wm.W98_VERSION)
    state = t.arrange(commands, codes)
    t.equal(state.version[0], 1, "arranged machine reports the 9x platform")
    return state


def regset(path, name, kind, data):
    return ["regset", "HKLM", path, name, str(kind), data.hex() or "-"]


REG_SZ = 1
REG_BINARY = 3

ENUM1 = "ENUM\\" + ID1.decode()
ENUM2 = "ENUM\\" + ID2.decode()


def enum_device(enum_path, driver, kind=REG_SZ):
    """A 98 device: its ENUM instance key 0 with the Driver value, and the driver
    key below the Class key when `driver` names one (as text without its NUL)."""
    commands = [
        regset(enum_path + "\\0", "HardwareID", REG_SZ, enum_path[5:].encode() + b"\0"),
        regset(enum_path + "\\0", "Class", REG_SZ, b"Ports\0"),
    ]
    if driver is not None:
        data = driver + b"\0" if kind == REG_SZ else driver
        commands.append(regset(enum_path + "\\0", "Driver", kind, data))
    return commands


def class_keys():
    """The Class key with the Ports class and two driver keys, and another class."""
    return [
        regset(CLASS_KEY + "\\Ports", "@", REG_SZ, b"Ports (COM & LPT)\0"),
        regset(CLASS_KEY + "\\Ports\\0000", "DriverDesc", REG_SZ, b"Communications Port\0"),
        regset(CLASS_KEY + "\\Ports\\0001", "DriverDesc", REG_SZ, b"QLN-8140K\0"),
        regset(CLASS_KEY + "\\Ports\\0001", "InfPath", REG_SZ, COPY_98 + b"\0"),
        regset(CLASS_KEY + "\\Net\\0000", "DriverDesc", REG_SZ, b"Other\0"),
    ]


# ---------------------------------------------------------------------------
# The help.

HELP_FORMS = {"slash-question": ["/?"], "hyphen-question": ["-?"], "slash-h": ["/h"],
              "slash-capital-h": ["/H"], "hyphen-help": ["-help"],
              "after-other-arguments": ["/x", "/?"]}


def _help_case(args):
    def run(t):
        arrange_installed_xp(t)
        result = t.run(args, key_after=3.0)
        t.check(result.alive_before_key, "still waiting for a key 3 s after the help appeared")
        t.equal((result.console_before_key or b"").replace(b"\r\n", b"\n"), HELP_TEXT,
                "console while waiting for the key")
        t.equal(result.console_lines, HELP_TEXT, "console output")
        t.equal(result.exit_status, 255, "exit status (-1)")
        t.equal(len(result.boxes), 0, "message boxes")
        t.inspect()
        t.expect_unchanged()
    return run


for _name, _args in HELP_FORMS.items():
    case("help-" + _name)(_help_case(_args))


# ---------------------------------------------------------------------------
# Clean machines and ignored arguments.


@case("clean-xp")
def clean_xp(t):
    t.arrange()
    result = t.run()
    t.expect_removal_run(result, [NOT_FOUND], 0)
    t.inspect()
    t.expect_unchanged()


@case("clean-98")
def clean_98(t):
    arrange_98(t, class_keys())
    result = t.run()
    t.expect_removal_run(result, [NOT_FOUND], 0)
    t.inspect()
    t.expect_unchanged()


IGNORED = {"question-alone": ["?"], "slash-alone": ["/"], "slash-x": ["/x"], "slash-f": ["/F"]}


def _ignored_case(args):
    def run(t):
        t.arrange()
        result = t.run(args, timeout=30)
        t.expect_removal_run(result, [NOT_FOUND], 0)
        t.inspect()
        t.expect_unchanged()
    return run


for _name, _args in IGNORED.items():
    case("ignored-" + _name)(_ignored_case(_args))
