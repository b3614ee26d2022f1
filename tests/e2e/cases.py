"""The end-to-end cases: 8140KUninstall.exe run under Wine on arranged machines.

Each case is a function taking a `Case` and registered with @case. It arranges its
machine, runs the program and states what a user and the machine must see. Checks
collect, so one run reports every difference at once, with the run and the machine
state before and after.
"""

import contextlib
import os

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
# What installing the adapter on 2000/XP adds besides its devices and INF copy.
PORTS_KEY = r"System\CurrentControlSet\Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}"
SERVICE_KEY = r"System\CurrentControlSet\Services\QLN8140K"
DRIVERS_DIR = r"C:\windows\system32\drivers"
REGISTRY = [("HKLM", "ENUM"), ("HKLM", CLASS_KEY), ("HKLM", PORTS_KEY), ("HKLM", SERVICE_KEY)]
FOLDERS = [INF_DIR, OTHER_DIR]

# The adapter's setup disk (tests/e2e/adapter): its 2000/XP INF, the driver file that
# the INF copies, and an earlier release of the INF under the same name without the
# signature line.
ADAPTER_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "adapter")
DISK = r"C:\qln8140k"
DISK_FILES = ["QLN8140K_w2kxp.inf", "qln8140k.sys", r"earlier\QLN8140K_w2kxp.inf"]
DISK_INF = DISK + "\\" + DISK_FILES[0]
EARLIER_INF = DISK + "\\" + DISK_FILES[2]

ERROR_FILE_NOT_FOUND = 2
ERROR_ACCESS_DENIED = 5
ERROR_INVALID_DATA = 13
ERROR_PROC_NOT_FOUND = 127

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
            if isinstance(actual, bytes) and isinstance(expected, bytes):
                # Code page 932 bytes read as text, with the bytes themselves.
                self.failures.append("%s:\n      expected %r (%s)\n      actual   %r (%s)" % (
                    what, text_of(expected), expected.hex() or "-", text_of(actual),
                    actual.hex() or "-"))
            else:
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
        self.equal(self.before.version, wm.VERSIONS[self.machine.windows_version],
                   "arranged: what GetVersionExA reports under %s" % self.machine.windows_version)
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
        if "timeout" not in kw and getattr(self, "timeout", None):
            kw["timeout"] = self.timeout  # the case's own limit, from @case
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
        "devices": sorted((d.instance_id.lower(), d.hwid_bytes, d.error, d.driver)
                          for d in state.devices),
        "keys": {r: sorted(k) for r, k in state.keys.items()},
        "values": {r: sorted(v.items()) for r, v in state.values.items()},
        "files": {d: sorted(l.values()) if l is not None else None
                  for d, l in state.files.items()},
    }


CASES = {}


def case(name, timeout=45, versions=(None,)):
    """Registers a case; with `versions` (Wine's names of Windows versions) once for
    each, named NAME-VERSION, on a machine that plays that version."""
    def register(func):
        for version in versions:
            def run(t, version=version):
                if version and version != t.machine.windows_version:
                    t.machine.set_windows_version(version)
                func(t)
            full = name + ("-" + version if version else "")
            assert full not in CASES, full
            run.timeout = timeout
            CASES[full] = run
        return func
    return register


# ---------------------------------------------------------------------------
# Arrangements.


def devadd(*ids, nul_less=False, driver=False):
    """A device record with the hardware IDs `ids`; with `driver`, the adapter's driver
    installed on it from the setup disk, else planted without one."""
    return (["devadd"] + (["--nul-less"] if nul_less else [])
            + (["--driver", DISK_INF] if driver else []) + [i.decode("latin-1") for i in ids])


def card(*ids):
    return devadd(*ids, driver=True)


def inf_file(t, n, data, read_only=False):
    """oemN.inf written into the machine's INF folder; returns helper commands that
    finish arranging it (the read-only attribute is set through Windows)."""
    path = INF_DIR + "\\" + n
    t.machine.write_file(path, data)
    return [["attrib", path, "21"]] if read_only else []


# A device without hardware IDs and one of another make.
OTHER_DEVICES = [devadd(), devadd(b"PCI\\VEN_8086&DEV_1234", b"PCI\\VEN_8086")]


def disk_file(name):
    with open(os.path.join(ADAPTER_DIR, *name.split("\\")), "rb") as f:
        return f.read()


def prepare_xp(t, read_only_disk=False):
    """A 2000/XP machine before the adapter is installed: other makers' oem INFs (with
    a gap at oem2 and oem4), an earlier release of the adapter's INF that a setup
    program copied, and the setup disk in the adapter's folder. Returns the helper
    commands that make it.

    Wine's SetupCopyOEMInfA keeps an INF's own name while it is free in the INF folder;
    with the earlier release holding that name, the adapter's INF becomes oemN.inf
    as it does on Windows."""
    commands = []
    for n in (0, 1, 3, 5):
        commands += inf_file(t, "oem%d.inf" % n, other_inf(n))
        commands += inf_file(t, "oem%d.pnf" % n, b"PNF\0other")
    for name in DISK_FILES:
        t.machine.write_file(DISK + "\\" + name, disk_file(name))
        if read_only_disk:
            commands.append(["attrib", DISK + "\\" + name, "1"])
    commands.append(["copyinf", EARLIER_INF])
    return commands


def install_xp(cards):
    """Installing the adapter as its setup program does: the disk's INF handed to
    Windows, then each card's device record with the driver installed from the disk."""
    return [["copyinf", DISK_INF]] + list(cards)


def arrange_installed_xp(t, extra=(), codes=(), devices=None, read_only_disk=False):
    """The adapter installed on 2000/XP (by default one card under the first hardware
    ID) on the machine of prepare_xp, its INF copied as oem2.inf, and then the two
    other devices."""
    commands = prepare_xp(t, read_only_disk)
    commands += install_xp([card(ID1)] if devices is None else devices)
    state = t.arrange(commands + OTHER_DEVICES + list(extra), codes)
    t.equal(state.copied_infs, [b"QLN8140K_w2kxp.inf", b"oem2.inf"],
            "arranged: the INF folder's names for the earlier and the current INF")
    return state


def arrange_98(t, commands=(), codes=()):
    """A 98 machine (win98 unless the case chose ME) with an inf\\other folder holding
    a copy of some other INF."""
    t.machine.write_file(OTHER_DIR + "\\Other Vendor.inf", other_inf(9))
    if t.machine.windows_version not in wm.W9X_VERSIONS:
        t.machine.set_windows_version(wm.W9X_VERSIONS[0])
    return t.arrange(commands, codes)


def regset(path, name, kind, data, root="HKLM"):
    return ["regset", root, path, name, str(kind), data.hex() or "-"]


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
        if t.machine.windows_version in wm.W9X_VERSIONS:
            arrange_installed_98(t, enum_device(ENUM1, b"Ports\\0001"))
        else:
            arrange_installed_xp(t)
        # Names that a switch with "?" would match as a wildcard, in the current folder
        # and in its drive's root: the switch must reach the program as typed.
        for name in ("-x", "x", r"kalvor\-x", r"kalvor\x"):
            t.machine.write_file("C:\\" + name, b"")
        result = t.run(args, key_after=3.0, cwd=t.machine.unix_path(r"C:\kalvor"))
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
    case("help-" + _name, versions=wm.VERSIONS if _name == "slash-question" else (None,))(
        _help_case(_args))


# ---------------------------------------------------------------------------
# Clean machines and ignored arguments.


@case("clean", versions=wm.VERSIONS)
def clean(t):
    if t.machine.windows_version in wm.W9X_VERSIONS:
        arrange_98(t, class_keys())
    else:
        t.arrange()
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


# ---------------------------------------------------------------------------
# Windows 2000/XP: devices by hardware ID, and the oem INF carrying the signature.

OTHER_OEM_FILES = ["oem%d.%s" % (n, ext) for n in (0, 1, 3, 5) for ext in ("inf", "pnf")]
NEAR_MISSES = [
    ID1[:-5],  # a prefix of the ID
    ID1.replace(b"TOVAK", b"Tovak"),  # another letter case
    b"X" + ID1,  # a leading character
    ID1 + b"0",  # a trailing character
]


def _ids_of(state, wanted):
    return [d for d in state.devices if any(i in d.hardware_ids for i in wanted)]


def _instance(state, index_from_end):
    """Instance ID of a device the arrangement added, counted from the last one."""
    return state.added_devices[index_from_end]


def expect_adapter_gone_xp(t, inf_gone=True, pnf_gone=True):
    t.check(t.before.file(INF_DIR, "oem2.inf") and t.before.file(INF_DIR, "oem2.pnf"),
            "arranged: oem2.inf and oem2.pnf")
    after = t.inspect()
    t.equal([repr(d) for d in _ids_of(after, [ID1, ID2])], [],
            "devices carrying a hardware ID of the adapter after the run")
    t.equal(after.file(INF_DIR, "oem2.inf") is None, inf_gone, "oem2.inf deleted")
    t.equal(after.file(INF_DIR, "oem2.pnf") is None, pnf_gone, "oem2.pnf deleted")
    for name in OTHER_OEM_FILES:
        t.equal(after.file(INF_DIR, name), t.before.file(INF_DIR, name),
                "%s left as it was" % name)
    return after


def expect_devices_kept(t, instance_ids):
    after = t.after
    for instance_id in instance_ids:
        t.equal(repr(after.device(instance_id)), repr(t.before.device(instance_id)),
                "device %s left as it was" % instance_id.decode())


def expect_installed(t, state, cards):
    """A real installation: each card's device record with a driver key of the Ports
    class, and the service the INF adds."""
    adapter = _ids_of(state, [ID1, ID2])
    t.equal(len(adapter), cards, "arranged: devices carrying a hardware ID of the adapter")
    for d in adapter:
        t.check(d.driver and state.has_key("HKLM", PORTS_KEY + "\\" + d.driver[-4:].decode()),
                "arranged: a driver key of the Ports class for %r" % d)
    t.equal((state.value("HKLM", SERVICE_KEY, "Start") or ())[1:], (4, b"\3\0\0\0"),
            "arranged: the adapter's service, demand-start")
    copied = t.machine.unix_path(DRIVERS_DIR + "\\" + DISK_FILES[1])
    t.check(os.path.isfile(copied) and open(copied, "rb").read() == disk_file(DISK_FILES[1]),
            "arranged: the driver file copied to %s" % DRIVERS_DIR)


@case("xp-typical", versions=wm.NT_VERSIONS)
def xp_typical(t):
    before = arrange_installed_xp(t)
    expect_installed(t, before, 1)
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    expect_adapter_gone_xp(t)
    # The device without hardware IDs and the other make's device are passed over.
    expect_devices_kept(t, before.added_devices[-2:])


@case("xp-id-second-in-list")
def xp_id_second(t):
    before = arrange_installed_xp(t, devices=[card(b"MF\\PCMCIA_SERIAL", ID2)])
    t.equal([d.hardware_ids for d in _ids_of(before, [ID2])], [[b"MF\\PCMCIA_SERIAL", ID2]],
            "arranged: the second ID second in a device's list")
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    expect_adapter_gone_xp(t)


@case("xp-several-devices")
def xp_several(t):
    devices = [card(ID1), card(ID1), card(ID2), card(ID2, ID1)]
    devices += [devadd(miss) for miss in NEAR_MISSES]
    before = arrange_installed_xp(t, devices=devices)
    expect_installed(t, before, 4)
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    expect_adapter_gone_xp(t)
    # The near misses (devices 5 to 8 of the arrangement) and the two others stay.
    expect_devices_kept(t, before.added_devices[4:])


@case("xp-install-uninstall-install")
def xp_reinstall(t):
    """After the run the adapter installs again as it did the first time."""
    fresh = t.machine.snapshot(REGISTRY, FOLDERS, before=prepare_xp(t) + OTHER_DEVICES)
    first = t.arrange(install_xp([card(ID1)]))
    expect_installed(t, first, 1)
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    after = t.inspect()
    # The service and the driver file may stay; device records and INF files may not.
    for what in ("devices", "files"):
        t.equal(_comparable(after)[what], _comparable(fresh)[what],
                "%s after the run against before the first installation" % what)
    again = t.machine.snapshot(REGISTRY, FOLDERS, before=install_xp([card(ID1)]))
    t.equal(again.copied_infs, first.copied_infs[-1:], "the INF copy's name the second time")
    t.equal(_comparable(again), _comparable(first), "the second installation against the first")


@case("xp-unended-id-list")
def xp_unended(t):
    devices = [devadd(b"MF\\PCMCIA_SERIAL", ID1, nul_less=True),
               devadd(b"MF\\PCMCIA_SERIAL", ID1[:-1], nul_less=True)]
    before = arrange_installed_xp(t, devices=devices)
    lists = [before.device(i).hwid_bytes for i in before.added_devices[:2]]
    t.equal(lists, [b"MF\\PCMCIA_SERIAL\0" + ID1, b"MF\\PCMCIA_SERIAL\0" + ID1[:-1]],
            "arranged: hardware-ID lists as the query returns them, without NULs at the end")
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    expect_adapter_gone_xp(t)
    expect_devices_kept(t, before.added_devices[1:])


@case("xp-inf-without-device")
def xp_inf_only(t):
    arrange_installed_xp(t, devices=[])
    result = t.run()
    # INF files are not device information: the not-found text.
    t.expect_removal_run(result, [NOT_FOUND], 0)
    expect_adapter_gone_xp(t)


@case("xp-read-only-inf")
def xp_read_only_inf(t):
    # Copied from read-only files, as from a CD, the INF copy is read-only.
    before = arrange_installed_xp(t, read_only_disk=True)
    t.equal(before.file(INF_DIR, "oem2.inf")[1] & 1, 1, "arranged: oem2.inf read-only")
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    expect_adapter_gone_xp(t)


@case("xp-read-only-pnf")
def xp_read_only_pnf(t):
    before = arrange_installed_xp(t, extra=[["attrib", INF_DIR + "\\oem2.pnf", "21"]],
                                  codes=[ERROR_ACCESS_DENIED])
    t.equal(before.file(INF_DIR, "oem2.pnf")[1] & 1, 1, "arranged: oem2.pnf read-only")
    result = t.run()
    t.expect_removal_run(
        result, [t.failure_text(b"DeleteFile(pnf)", ERROR_ACCESS_DENIED), REMOVED], 1)
    after = expect_adapter_gone_xp(t, pnf_gone=False)
    t.equal(after.file(INF_DIR, "oem2.pnf"), before.file(INF_DIR, "oem2.pnf"),
            "oem2.pnf left as it was, read-only")


@case("xp-setupapi-unavailable")
def xp_no_setupapi(t):
    before = arrange_installed_xp(t)
    # What loading setupapi.dll gives on this machine with it switched off.
    out = t.machine.tool(["loadlib", "setupapi.dll"], overrides="setupapi=d")
    code = wm.parse_tool_output(out).loadlib.get("setupapi.dll")
    t.check(code, "arranged: setupapi.dll does not load when switched off")
    result = t.run(overrides="setupapi=d")
    expect_no_setupapi(t, before, result, t.failure_text(b"GetClassDevs()", code or 0))


def expect_no_setupapi(t, before, result, failure):
    """A run without the Setup API: `failure` for each hardware ID, the INF search as ever,
    every device left as it was."""
    t.expect_removal_run(result, [failure, failure, NOT_FOUND], 1)
    after = t.inspect()
    t.equal(len(_ids_of(after, [ID1])), 1, "the adapter's device is still there")
    t.equal(after.file(INF_DIR, "oem2.inf"), None, "oem2.inf deleted all the same")
    t.equal(after.file(INF_DIR, "oem2.pnf"), None, "oem2.pnf deleted all the same")
    expect_devices_kept(t, before.added_devices)


def program_beside(t, files):
    """A copy of the program in C:\\kalvor beside `files` (names below it, to bytes)."""
    for name, data in files.items():
        t.machine.write_file("C:\\kalvor\\" + name, data)
    with open(t.exe, "rb") as f:
        t.machine.write_file(r"C:\kalvor\8140KUninstall.exe", f.read())
    t.exe = t.machine.unix_path(r"C:\kalvor\8140KUninstall.exe")


@contextlib.contextmanager
def system_setupapi(t, setupapi):
    """`setupapi` (bytes) as the setupapi.dll of the program's system folder (syswow64 for a
    32-bit program in a 64-bit prefix) while the block runs, which gets the DLL's path; the
    helper needs the real one again afterwards."""
    with open(t.exe, "rb") as f:
        head = f.read(1024)
    i386 = head[int.from_bytes(head[0x3C:0x40], "little") + 4:][:2] == b"\x4c\x01"
    wow = i386 and os.path.isdir(t.machine.unix_path(r"C:\windows\syswow64"))
    dll = r"C:\windows\%s\setupapi.dll" % ("syswow64" if wow else "system32")
    with open(t.machine.unix_path(dll), "rb") as f:
        real = f.read()
    t.machine.write_file(dll, setupapi)
    try:
        yield dll
    finally:
        t.machine.write_file(dll, real)


JUNK_DLL = b"not a DLL\r\n" * 100


@case("xp-setupapi-damaged")
def xp_damaged_setupapi(t):
    # Junk bytes as the system's setupapi.dll: loading it fails with a code whose system
    # text holds an insert, and the box shows that text as it stands.
    before = arrange_installed_xp(t)
    with system_setupapi(t, JUNK_DLL) as dll:
        out = t.machine.tool(["loadlib", dll], overrides="setupapi=n")
        code = wm.parse_tool_output(out).loadlib.get(dll.lower())
        result = t.run(overrides="setupapi=n")
    t.equal(code, 193, "arranged: loading the junk setupapi.dll fails with ERROR_BAD_EXE_FORMAT")
    text = t.errtext(code or 0) or b""
    t.check(b"%1" in text, "arranged: the system text for %r holds the insert %%1" % code)
    failure = b"GetClassDevs() FAILURE: (0x%08x)" % (code or 0) + text + b"\n"
    expect_no_setupapi(t, before, result, failure)


@case("xp-setupapi-planted")
def xp_planted_setupapi(t):
    # A setupapi.dll beside the program, as one left in a download folder, is never loaded:
    # the run is the typical one.
    arrange_installed_xp(t)
    program_beside(t, {"setupapi.dll": JUNK_DLL})
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    expect_adapter_gone_xp(t)


@case("xp-setupapi-incomplete")
def xp_incomplete_setupapi(t):
    # A setupapi.dll that loads, starts a thread that never ends and lacks
    # SetupDiDestroyDeviceInfoList (tool/standin_setupapi.c): the failed lookup is the
    # Setup API's failure, and the thread must not keep the program from ending.
    before = arrange_installed_xp(t)
    with system_setupapi(t, standin_setupapi(t)):
        result = t.run(overrides="setupapi=n", timeout=25)
    expect_no_setupapi(t, before, result, t.failure_text(b"GetClassDevs()", ERROR_PROC_NOT_FOUND))


def standin_setupapi(t):
    with open(os.path.join(os.path.dirname(t.machine.tool_exe), "standin-setupapi.dll"),
              "rb") as f:
        return f.read()


@case("xp-setupapi-current-folder")
def xp_setupapi_current_folder(t):
    # The Setup API loads DLLs by bare name in turn, which 2000, and XP before SP2, look for
    # in the current folder first: it must be the system folder when the Setup API loads,
    # whatever folder the program was started in. Only the program takes the stand-in,
    # which records the current folder as it loads; Wine's own services would hang on it.
    before = arrange_installed_xp(t, extra=[regset(
        r"Software\Wine\AppDefaults\8140KUninstall.exe\DllOverrides", "setupapi", REG_SZ,
        b"native\0", root="HKCU")])
    os.makedirs(t.machine.unix_path(r"C:\kalvor"), exist_ok=True)
    with system_setupapi(t, standin_setupapi(t)):
        result = t.run(cwd=t.machine.unix_path(r"C:\kalvor"), timeout=25)
    record = t.machine.unix_path(r"C:\standin-setupapi-folder.txt")
    t.equal(open(record, "rb").read().lower() if os.path.isfile(record) else None,
            rb"c:\windows\system32", "the current folder when setupapi.dll was loaded")
    expect_no_setupapi(t, before, result, t.failure_text(b"GetClassDevs()", ERROR_PROC_NOT_FOUND))


# Files beside the program that would make Windows take a DLL from its folder, a full path
# notwithstanding: <program>.local, as a file or as a folder (2000, and XP without a
# manifest), and <program>.manifest with a file binding (XP). Wine honours neither, so the
# refusal seen here is the program's own.
MANIFEST = b"""<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">\r
  <assemblyIdentity type="win32" name="Kalvor.Uninstall" version="1.0.0.1"/>\r
  <file name="setupapi.dll"/>\r
</assembly>\r
"""
REDIRECTIONS = {
    "local-file": {"8140KUninstall.exe.local": b""},
    "local-folder": {r"8140KUninstall.exe.local\setupapi.dll": JUNK_DLL},
    "manifest": {"8140KUninstall.exe.manifest": MANIFEST},
}


def _redirection_case(files):
    def run(t):
        before = arrange_installed_xp(t, codes=[ERROR_ACCESS_DENIED])
        program_beside(t, {"setupapi.dll": JUNK_DLL, **files})
        result = t.run()
        expect_no_setupapi(t, before, result,
                           t.failure_text(b"GetClassDevs()", ERROR_ACCESS_DENIED))
    return run


for _name, _files in REDIRECTIONS.items():
    case("xp-setupapi-redirected-" + _name)(_redirection_case(_files))


# ---------------------------------------------------------------------------
# Windows 98: ENUM and driver registry keys, and the INF copies in inf\other.


def arrange_installed_98(t, commands, read_only_copy=True, codes=()):
    """Both INF copies in inf\\other (the 2000/XP one read-only), the Class key, and
    the ENUM devices that `commands` make."""
    devices = commands
    commands = list(class_keys())
    for name in (COPY_98, COPY_XP):
        path = OTHER_DIR + "\\" + name.decode()
        t.machine.write_file(path, other_inf(8))
        if read_only_copy and name == COPY_XP:
            commands.append(["attrib", path, "21"])
    commands += list(devices)
    return arrange_98(t, commands, codes)


def expect_class_keys(t, gone=()):
    """Every driver key but those in `gone` (paths below the Class key) is still there,
    values and all."""
    for path, name in ((r"Ports", "@"), (r"Ports\0000", "DriverDesc"),
                       (r"Ports\0001", "DriverDesc"), (r"Ports\0002", "DriverDesc"),
                       (r"Net\0000", "DriverDesc")):
        full = CLASS_KEY + "\\" + path
        if not t.before.has_key("HKLM", full.encode()):
            continue
        if path in gone:
            t.check(not t.after.has_key("HKLM", full.encode()), "%s deleted" % full)
        else:
            t.equal(t.after.value("HKLM", full.encode(), name.encode()),
                    t.before.value("HKLM", full.encode(), name.encode()),
                    "%s left as it was" % full)


def expect_enum(t, present, absent):
    for path in present:
        t.check(t.after.has_key("HKLM", path.encode() + b"\\0"), "%s\\0 left in place" % path)
    for path in absent:
        t.check(not t.after.has_key("HKLM", path.encode()), "%s deleted" % path)
        t.check(not t.after.has_key("HKLM", path.encode() + b"\\0"), "%s\\0 deleted" % path)


def expect_copies_gone(t):
    t.equal(t.before.file_names(OTHER_DIR), sorted([COPY_98, COPY_XP, b"Other Vendor.inf"]),
            "arranged: both copies and another in inf\\other")
    after = t.after
    t.equal(after.file_names(OTHER_DIR), [b"Other Vendor.inf"],
            "files left in inf\\other: the other vendor's copy alone")


@case("98-typical", versions=wm.W9X_VERSIONS)
def w98_typical(t):
    before = arrange_installed_98(t, enum_device(ENUM1, b"Ports\\0001")
                                  + enum_device(ENUM2, b"Ports\\0002")
                                  + [regset(CLASS_KEY + "\\Ports\\0002", "DriverDesc", REG_SZ,
                                            b"QLN-8140K\0")])
    t.check(before.has_key("HKLM", ENUM1.encode() + b"\\0"), "arranged: the first ENUM key")
    t.equal(before.file(OTHER_DIR, COPY_XP.decode())[1] & 1, 1,
            "arranged: the 2000/XP copy read-only")
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    t.inspect()
    expect_enum(t, [], [ENUM1, ENUM2])
    expect_class_keys(t, gone=[r"Ports\0001", r"Ports\0002"])
    expect_copies_gone(t)


@case("98-one-id-installed")
def w98_one_id(t):
    arrange_installed_98(t, enum_device(ENUM2, b"Ports\\0001"), read_only_copy=False)
    result = t.run()
    t.expect_removal_run(result, [REMOVED], 0)
    t.inspect()
    expect_enum(t, [], [ENUM2])
    expect_class_keys(t, gone=[r"Ports\0001"])
    expect_copies_gone(t)


@case("98-driver-value-missing")
def w98_no_driver(t):
    arrange_installed_98(t, enum_device(ENUM1, None), codes=[ERROR_FILE_NOT_FOUND])
    result = t.run()
    t.expect_removal_run(result, [
        t.failure_text(b"RegQueryValueEx() can't find Key.", ERROR_FILE_NOT_FOUND), NOT_FOUND], 1)
    t.inspect()
    expect_enum(t, [ENUM1], [])
    expect_class_keys(t)
    expect_copies_gone(t)


@case("98-driver-key-missing")
def w98_driver_key_missing(t):
    arrange_installed_98(t, enum_device(ENUM1, b"Ports\\0009"), codes=[ERROR_FILE_NOT_FOUND])
    result = t.run()
    t.expect_removal_run(result, [
        t.failure_text(b"RegDeleteKey()", ERROR_FILE_NOT_FOUND), REMOVED], 1)
    t.inspect()
    expect_enum(t, [], [ENUM1])
    expect_class_keys(t)
    expect_copies_gone(t)


BAD_DRIVER_VALUES = {
    "empty": (b"", REG_SZ),
    "class-alone": (b"Ports", REG_SZ),
    "no-class": (b"\\0001", REG_SZ),
    "no-instance": (b"Ports\\", REG_SZ),
    "two-backslashes": (b"Ports\\00\\01", REG_SZ),
    "without-nul": (b"Ports\\0001", REG_BINARY),
}


def _bad_driver_case(value, kind):
    def run(t):
        before = arrange_installed_98(t, enum_device(ENUM1, value, kind),
                                      codes=[ERROR_INVALID_DATA])
        stored = before.value("HKLM", ENUM1.encode() + b"\\0", b"Driver")
        t.equal(stored and stored[2], value + b"\0" if kind == REG_SZ else value,
                "arranged: the Driver value's bytes")
        result = t.run()
        t.expect_removal_run(result, [
            t.failure_text(b"RegQueryValueEx()", ERROR_INVALID_DATA), NOT_FOUND], 1)
        t.inspect()
        expect_enum(t, [ENUM1], [])
        expect_class_keys(t)
        t.check(t.after.has_key("HKLM", CLASS_KEY.encode()), "the Class key itself is there")
        expect_copies_gone(t)
    return run


for _name, (_value, _kind) in BAD_DRIVER_VALUES.items():
    case("98-driver-value-" + _name)(_bad_driver_case(_value, _kind))


@case("98-setupapi-unavailable")
def w98_no_setupapi(t):
    # The 98 branch makes no Setup API call, so setupapi.dll switched off changes nothing.
    arrange_installed_98(t, enum_device(ENUM1, b"Ports\\0001"))
    result = t.run(overrides="setupapi=d")
    t.expect_removal_run(result, [REMOVED], 0)
    t.inspect()
    expect_enum(t, [], [ENUM1])
    expect_class_keys(t, gone=[r"Ports\0001"])
    expect_copies_gone(t)


# ---------------------------------------------------------------------------
# Cases kept in their own modules register themselves here.

import cases_inf_search  # noqa: E402,F401
