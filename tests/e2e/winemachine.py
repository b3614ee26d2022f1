"""Throwaway Wine machines for running 8140KUninstall.exe end to end.

A template prefix is booted once (`boot_template`); every machine is a copy of it
(`Machine`), with its own X server, arranged and inspected through the project's
helper program (tool/e2etool.cpp) and the Win32 APIs behind it. `Machine.run` starts
a program the way a user at a console would (a terminal on standard input), logs
every MessageBoxA call through Wine's relay channel, presses OK on each box and
records what the console showed at the moment the box appeared.

Standard library only, so that the tests and scripts/demo need nothing but python3.
"""

import os
import pty
import queue
import re
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import zlib

# Wine's 32-bit loader is an i386 program. Some x86-64 kernels run 64-bit user code only
# (an i386 execve fails with ENOEXEC); there the machines are 64-bit Wine prefixes and the
# programs they run are the x86-64 builds of the same sources (the windows64 preset).
WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"

# Every time limit below is stretched by this factor on a slower machine, such as the
# emulated guest of scripts/guest-e2e.
TIME_SCALE = float(os.environ.get("KALVOR_E2E_TIME_SCALE") or 1)


def limit(seconds):
    return seconds * TIME_SCALE


def runs_i386():
    """Whether i386 programs run on this kernel itself, not through an emulator that a
    binfmt_misc entry hands them to (far too slow for Wine)."""
    binfmt = "/proc/sys/fs/binfmt_misc"
    for name in os.listdir(binfmt) if os.path.isdir(binfmt) else ():
        try:
            with open(os.path.join(binfmt, name)) as f:
                entry = f.read()
        except OSError:
            continue
        if entry.startswith("enabled") and "magic 7f454c4601010100000000000000000002000300" in entry:
            return False
    try:
        return subprocess.run([WINE32, "--version"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=limit(60)).returncode == 0
    except OSError:
        return False


ARCH = "win32" if runs_i386() else "win64"
WINE = WINE32 if ARCH == "win32" else WINE64

# Wine takes its ANSI code page from the locale: ja_JP gives code page 932.
LOCALE = "ja_JP.UTF-8"
# The two DLLs that would offer to download Mono and Gecko are switched off: a
# download dialog would stall a headless run.
BASE_OVERRIDES = "mscoree,mshtml="

# The Windows versions the program is for, as Wine names them, with what GetVersionExA
# reports under each: platform, major and minor version.
VERSIONS = {"winxp": (2, 5, 1), "win2k": (2, 5, 0), "win98": (1, 4, 10), "winme": (1, 4, 90)}
NT_VERSIONS = ("winxp", "win2k")
W9X_VERSIONS = ("win98", "winme")

CAPTION_TO_DISMISS = "Kalvor"
MARLETT = "/usr/share/wine/fonts/marlett.ttf"


class WineError(Exception):
    pass


def wine_env(prefix, display=None, debug="-all", overrides=None):
    env = dict(os.environ)
    for name in ("WINEDEBUG", "WINEDLLOVERRIDES", "WINEPREFIX", "WINEARCH", "LANGUAGE"):
        env.pop(name, None)
    env.update(
        WINEPREFIX=prefix,
        WINEARCH=ARCH,
        WINEDEBUG=debug,
        LC_ALL=LOCALE,
        LANG=LOCALE,
        WINEDLLOVERRIDES=BASE_OVERRIDES + (";" + overrides if overrides else ""),
    )
    env["WINELOADER"] = WINE
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def boot_template(prefix, headless=True, log=print):
    """Boots a fresh prefix (32-bit, or 64-bit where ARCH says so) at `prefix` and prepares it for the runs:
    MessageBoxA in the relay log, no crash dialog that would wait for a click, and
    Windows XP as the version every program sees unless a case chooses another.

    Headless, Wine's windows are left unmanaged: with no window manager on the X server,
    Wine would otherwise wait two seconds for one at every box that closes."""
    if os.path.exists(prefix):
        shutil.rmtree(prefix)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    env = wine_env(prefix)
    started = time.monotonic()
    subprocess.run([WINE, "wineboot", "--init"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=limit(300))
    # Debian's 64-bit Wine misses its own fonts folder, and without Marlett the close
    # button of a box shows an "r"; Wine also loads the fonts of the Windows folder.
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    if os.path.isfile(MARLETT) and not os.path.exists(os.path.join(fonts, "marlett.ttf")):
        shutil.copy(MARLETT, fonts)
    settings = [
        (r"HKCU\Software\Wine\Debug", "RelayInclude", "REG_SZ", "user32.MessageBoxA"),
        (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
        (r"HKCU\Software\Wine", "Version", "REG_SZ", NT_VERSIONS[0]),
        # The Japanese face Wine looks for in a box, taken from the IPA font that
        # scripts/install-deps installs, so that a box's picture reads properly.
        (r"HKCU\Software\Wine\Fonts\Replacements", "MS UI Gothic", "REG_SZ", "IPAPGothic"),
    ]
    if headless:
        settings.append((r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"))
    for key, name, kind, data in settings:
        subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                       env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=limit(120))
    subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=limit(120))
    log("template prefix booted in %.1f s: %s" % (time.monotonic() - started, prefix))


def _copy_prefix(template, dest):
    # Wine never writes to its DLLs after boot, and the program only deletes files it
    # is given, so the large system DLLs are shared by hard links; everything else,
    # the registry above all, is copied.
    def copy(src, dst):
        system = os.sep + "system32" + os.sep in src or os.sep + "syswow64" + os.sep in src
        if system and os.path.getsize(src) > 32768:
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)

    shutil.copytree(template, dest, symlinks=True, copy_function=copy)


class Xvfb:
    """A private X server on a free display number."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
             "1024x768x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + limit(20)
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 32)
                if not chunk:
                    break
                number += chunk
        os.close(read_end)
        if not number.strip():
            self.stop()
            raise WineError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# ---------------------------------------------------------------------------
# Machine state, as the helper prints it.


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def split_multi_sz(data):
    """The strings of a REG_MULTI_SZ, as Windows would walk them: up to the first empty
    string or the end of the data, an unended last string counting as ending there."""
    strings = []
    for part in data.split(b"\0"):
        if not part:
            break
        strings.append(part)
    return strings


def _bytes(text):
    return text.encode("cp932") if isinstance(text, str) else text


class Device:
    def __init__(self, instance_id, hwid_bytes, error, driver=None):
        self.instance_id = instance_id
        self.hwid_bytes = hwid_bytes  # None when the query failed
        self.error = error  # the query's error code, or None
        self.driver = driver  # the driver key below the Class key, None without a driver

    @property
    def hardware_ids(self):
        return split_multi_sz(self.hwid_bytes) if self.hwid_bytes is not None else []

    def __repr__(self):
        if self.hwid_bytes is None:
            return "%s (no hardware IDs: error %d)" % (self.instance_id.decode("cp932"), self.error)
        return "%s %s%s" % (self.instance_id.decode("cp932"),
                            [i.decode("cp932", "replace") for i in self.hardware_ids],
                            " driver " + self.driver.decode("cp932") if self.driver else "")


class State:
    """What the machine holds: devices, registry keys and values, INF folder files."""

    def __init__(self):
        self.version = None  # (platform id, major, minor)
        self.devices = []
        self.keys = {}  # root -> {lower-case path bytes: path bytes}
        self.values = {}  # root -> {(lower path, lower name): (name, type, data)}
        self.missing_keys = {}  # root -> set of paths that did not open
        self.files = {}  # directory -> {lower name: (name, attributes, size)} or None
        self.errtexts = {}  # code -> bytes or None
        self.windir = None
        self.added_devices = []  # instance IDs that devadd created
        self.copied_infs = []  # names that copyinf's copies got in the INF folder
        self.loadlib = {}  # DLL name -> None when it loads, else the error code

    # -- queries used by the cases --
    def devices_with(self, hardware_id):
        return [d for d in self.devices if hardware_id in d.hardware_ids]

    def device(self, instance_id):
        for d in self.devices:
            if d.instance_id.lower() == _bytes(instance_id).lower():
                return d
        return None

    def has_key(self, root, path):
        return _bytes(path).lower() in self.keys.get(root, {})

    def value(self, root, path, name):
        """(name, type, data) of a registry value, or None; names as text or bytes."""
        return self.values.get(root, {}).get((_bytes(path).lower(), _bytes(name).lower()))

    def file(self, directory, name):
        """(name, attributes, size) of a file, or None; names as text or bytes."""
        listing = self.files.get(_bytes(directory).lower())
        if not listing:
            return None
        return listing.get(_bytes(name).lower())

    def file_names(self, directory):
        listing = self.files.get(_bytes(directory).lower()) or {}
        return sorted(entry[0] for entry in listing.values())

    def describe(self):
        lines = []
        if self.version:
            lines.append("Windows platform %d version %d.%d" % self.version)
        lines.append("devices:")
        lines += ["  " + repr(d) for d in self.devices]
        for root in sorted(self.keys):
            lines.append("registry %s:" % root)
            for low, path in sorted(self.keys[root].items()):
                lines.append("  [%s]" % path.decode("cp932", "replace"))
                for (vpath, _), (name, kind, data) in sorted(self.values.get(root, {}).items()):
                    if vpath == low:
                        lines.append("    %s (type %d) = %s" % (
                            name.decode("cp932", "replace") or "@", kind, data.hex() or "-"))
        for root, paths in sorted(self.missing_keys.items()):
            for path in sorted(paths):
                lines.append("registry %s: no key %s" % (root, path.decode("cp932", "replace")))
        for directory, listing in sorted(self.files.items()):
            if listing is None:
                lines.append("%s: no such folder" % directory.decode("cp932", "replace"))
                continue
            lines.append("%s:" % directory.decode("cp932", "replace"))
            for name, attrs, size in sorted(listing.values()):
                lines.append("  %s attributes 0x%x, %d bytes" % (
                    name.decode("cp932", "replace"), attrs, size))
        return "\n".join(lines)


def parse_tool_output(text, state=None):
    state = state or State()
    current_root = None
    for line in text.splitlines():
        f = line.split(" ")
        tag = f[0]
        if tag == "VERSION":
            state.version = tuple(int(x) for x in f[1:4])
        elif tag == "WINDIR":
            state.windir = unhex(f[1])
        elif tag == "ERRTEXT":
            state.errtexts[int(f[1])] = None if f[2] == "-" else unhex(f[2])
        elif tag == "LOADLIB":
            state.loadlib[f[1].lower()] = None if f[2] == "OK" else int(f[3])
        elif tag == "DEVADD":
            state.added_devices.append(unhex(f[1]))
        elif tag == "DEV":
            driver = unhex(f[4]) or None
            if f[2] == "OK":
                state.devices.append(Device(unhex(f[1]), unhex(f[3]), None, driver))
            else:
                state.devices.append(Device(unhex(f[1]), None, int(f[3]), driver))
        elif tag == "COPYINF":
            state.copied_infs.append(unhex(f[1]))
        elif tag == "ROOT":
            current_root = f[1]
            state.keys.setdefault(current_root, {})
            state.values.setdefault(current_root, {})
        elif tag == "KEY":
            path = unhex(f[1])
            state.keys[current_root][path.lower()] = path
        elif tag == "NOKEY":
            state.missing_keys.setdefault(current_root, set()).add(unhex(f[1]))
        elif tag == "VAL":
            path, name = unhex(f[1]), unhex(f[2])
            state.values[current_root][(path.lower(), name.lower())] = (name, int(f[3]),
                                                                        unhex(f[4]))
        elif tag == "DIR":
            current_dir = unhex(f[1]).lower()
            state.files[current_dir] = {}
        elif tag == "NODIR":
            state.files[unhex(f[1]).lower()] = None
        elif tag == "FILE":
            name = unhex(f[1])
            state.files[current_dir][name.lower()] = (name, int(f[2], 16), int(f[3]))
    return state


# ---------------------------------------------------------------------------
# The relay log: every MessageBoxA call and its return.

_CALL = re.compile(r"^([0-9a-f]+):Call user32\.MessageBoxA\((.*)\) ret=[0-9a-f]+$")
_RET = re.compile(r"^([0-9a-f]+):Ret  user32\.MessageBoxA\(\) retval=([0-9a-f]+) ret=[0-9a-f]+$")


def _parse_relay_args(text):
    """Splits relay arguments: a hex value, then for a string argument a blank and the
    string as Wine's debugstr writes it (quoted, with \\xNN, \\n, \\r, \\t, \\" and \\\\
    escapes, and "..." after the closing quote when Wine cut it short)."""
    args = []
    i = 0
    while i < len(text):
        m = re.match(r"[0-9a-f]+", text[i:])
        if not m:
            raise ValueError("unreadable relay arguments: %r" % text)
        number = int(m.group(0), 16)
        i += m.end()
        string, cut = None, False
        if text.startswith(' "', i):
            i += 2
            out = bytearray()
            while text[i] != '"':
                c = text[i]
                if c == "\\":
                    e = text[i + 1]
                    if e == "x":
                        out.append(int(text[i + 2:i + 4], 16))
                        i += 4
                        continue
                    out += {"n": b"\n", "r": b"\r", "t": b"\t", '"': b'"', "\\": b"\\",
                            "0": b"\0"}.get(e, e.encode("latin-1"))
                    i += 2
                    continue
                out += c.encode("latin-1")
                i += 1
            i += 1
            if text.startswith("...", i):
                cut = True
                i += 3
            string = bytes(out)
        args.append((number, string, cut))
        if i < len(text):
            if text[i] != ",":
                raise ValueError("unreadable relay arguments: %r" % text)
            i += 1
    return args


class _RelayReader:
    """Reads the relay log on a thread of its own, so the program never stalls on a full
    pipe while the harness is busy pressing keys, and keeps only the MessageBoxA lines."""

    def __init__(self, stream):
        self.fd = stream.fileno()
        os.set_blocking(self.fd, False)
        self.events = queue.Queue()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        pending = b""
        while not self.stopping.is_set():
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if not ready:
                continue
            chunk = _drain(self.fd)
            if not chunk:
                # End of file: every writer has gone.
                try:
                    os.read(self.fd, 1)
                except BlockingIOError:
                    continue
                except OSError:
                    pass
                break
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for raw in lines:
                if b"MessageBoxA" not in raw:
                    continue
                line = raw.decode("latin-1").rstrip("\r")
                m = _CALL.match(line)
                if m:
                    self.events.put(("call", m.group(1), m.group(2), line))
                    continue
                m = _RET.match(line)
                if m:
                    self.events.put(("ret", m.group(1), m.group(2), line))

    def take(self):
        out = []
        while True:
            try:
                out.append(self.events.get_nowait())
            except queue.Empty:
                return out

    def stop(self):
        self.stopping.set()
        self.thread.join(5)


class Box:
    """One MessageBoxA call as the program made it."""

    def __init__(self, thread, args, console):
        (self.owner, _, _), (self.text_ptr, text, text_cut), \
            (self.caption_ptr, caption, caption_cut), (self.type, _, _) = args
        self.thread = thread
        self.text = text  # bytes, or None for a NULL pointer
        self.caption = caption
        # Wine's relay log shows about 300 characters of a string; a longer one is
        # known only up to there.
        self.text_cut = text_cut
        self.caption_cut = caption_cut
        self.console = console  # console output bytes when the box was called
        self.returned = None  # MessageBoxA's return value once dismissed
        self.window = None  # X window that OK was pressed on
        self.picture = None  # PNG of the box as shown, when the run took pictures

    def text_is(self, expected):
        if self.text is None:
            return False
        if self.text_cut:
            return expected.startswith(self.text) and len(expected) > len(self.text)
        return self.text == expected

    def describe(self):
        def show(b, cut):
            if b is None:
                return "NULL"
            return "%r%s (%s)" % (b.decode("cp932", "replace"), "..." if cut else "",
                                  b.hex())

        return ("owner=%#x caption=%s type=%#x text=%s returned=%s\n      console then: %r" % (
            self.owner, show(self.caption, self.caption_cut), self.type,
            show(self.text, self.text_cut), self.returned,
            self.console.decode("cp932", "replace")))


class RunResult:
    def __init__(self, args):
        self.args = args
        self.console = b""
        self.boxes = []
        self.exit_status = None
        self.timed_out = False
        self.alive_before_key = None  # for runs that press a key: still running then?
        self.console_before_key = None
        self.boxes_before_key = None
        self.seconds = None
        self.notes = []

    @property
    def console_lines(self):
        """The console text with the C runtime's CR LF line ends read as line feeds."""
        return self.console.replace(b"\r\n", b"\n")

    def describe(self):
        lines = ["run of %s: %s after %.1f s" % (
            " ".join(self.args) or "(no arguments)",
            "TIMED OUT" if self.timed_out else "exit status %s" % self.exit_status,
            self.seconds or 0)]
        lines.append("  console bytes: %s" % (self.console.hex() or "-"))
        lines.append("  console text: %r" % self.console.decode("cp932", "replace"))
        if self.alive_before_key is not None:
            lines.append("  still running before the key press: %s; console then: %r" % (
                self.alive_before_key, (self.console_before_key or b"").decode("cp932", "replace")))
        lines.append("  message boxes: %d" % len(self.boxes))
        for n, box in enumerate(self.boxes, 1):
            lines.append("    %d. %s" % (n, box.describe()))
        lines += ["  note: " + n for n in self.notes]
        return "\n".join(lines)


def _set_nonblocking(fd):
    os.set_blocking(fd, False)


def _drain(fd):
    data = b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            break
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


class Machine:
    """A Wine machine copied from the template: its own prefix and its own X server
    (or the caller's display, for a run on a desktop)."""

    def __init__(self, template, tool_exe, workdir=None, display=None, name="machine",
                 log=None):
        self.tool_exe = os.path.abspath(tool_exe)
        self.log = log or (lambda text: None)
        self.workdir = workdir or tempfile.mkdtemp(prefix="kalvor-e2e-")
        os.makedirs(self.workdir, exist_ok=True)
        self.prefix = os.path.join(self.workdir, name)
        if os.path.exists(self.prefix):
            shutil.rmtree(self.prefix)
        _copy_prefix(template, self.prefix)
        self.xvfb = None
        if display:
            self.display = display
        else:
            self.xvfb = Xvfb()
            self.display = self.xvfb.display
        self.windows_version = NT_VERSIONS[0]
        self.keeper = None
        self.start_keeper()

    def start_keeper(self):
        """Starts a resting helper process that keeps Wine's service processes (services,
        plugplay, explorer...) running between calls. Without it they start again with
        each program run and inherit its relay logging, which floods the log."""
        self.keeper = subprocess.Popen([WINE, self.tool_exe, "wait"], env=self.env(),
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                       stdin=subprocess.DEVNULL, start_new_session=True)
        ready, _, _ = select.select([self.keeper.stdout], [], [], limit(120))
        if not ready or not self.keeper.stdout.readline().startswith(b"READY"):
            raise WineError("the helper did not start in %s" % self.prefix)

    # -- paths ------------------------------------------------------------
    @property
    def windir_unix(self):
        return os.path.join(self.prefix, "drive_c", "windows")

    def unix_path(self, windows_path):
        """C:\\windows\\inf\\x.inf -> the file in the prefix."""
        assert windows_path[:3].lower() == "c:\\", windows_path
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))

    def env(self, debug="-all", overrides=None):
        return wine_env(self.prefix, self.display, debug, overrides)

    # -- the helper program -------------------------------------------------
    def tool(self, *commands, timeout=120, overrides=None):
        """Runs the helper with commands (each a list of arguments), in one process,
        with Wine's DLL `overrides` if given."""
        argv = [WINE, self.tool_exe]
        for n, command in enumerate(commands):
            if n:
                argv.append("+")
            argv += [c.decode("latin-1") if isinstance(c, bytes) else str(c) for c in command]
        proc = subprocess.run(argv, env=self.env(overrides=overrides), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=limit(timeout))
        out = proc.stdout.decode("latin-1")
        if proc.returncode != 0 or not out.rstrip().endswith("END"):
            raise WineError("e2etool failed (status %d): %s\n%s" % (
                proc.returncode, " ".join(argv[2:]),
                "\n".join(l for l in proc.stderr.decode("utf-8", "replace").splitlines()
                          if "e2etool" in l or "err:" in l)))
        return out

    def set_windows_version(self, version):
        """The Windows version Wine plays for every program of this machine."""
        self.tool(["regset", "HKCU", r"Software\Wine", "Version", "1",
                   version.encode("ascii").hex() + "00"])
        self.windows_version = version

    def snapshot_commands(self, registry=(), folders=(), codes=()):
        commands = [["version"], ["devlist"]]
        for root, path in registry:
            commands.append(["regdump", root, path])
        for folder in folders:
            commands.append(["files", folder])
        for code in codes:
            commands.append(["errtext", str(code)])
        return commands

    def snapshot(self, registry=(), folders=(), codes=(), before=()):
        """Runs `before` (arranging commands) and then reads the machine's state, all in
        one helper process."""
        out = self.tool(*(list(before) + self.snapshot_commands(registry, folders, codes)))
        return parse_tool_output(out)

    def write_file(self, windows_path, data):
        path = self.unix_path(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        # A system DLL is a hard link shared with the template and every other machine:
        # a new file, not the shared one rewritten.
        if os.path.lexists(path):
            os.unlink(path)
        with open(path, "wb") as f:
            f.write(data)

    # -- running a program as a user would ----------------------------------
    def run(self, exe, args=(), timeout=60.0, key_after=None, stdin_terminal=True,
            dismiss=True, overrides=None, pictures=None, cwd=None):
        """Runs `exe` with `args` and waits for it to end.

        Standard output and standard error are pipes, so nothing that the program
        leaves in a C runtime buffer reaches the console early; standard input is a
        terminal, as at a console, so a key read really waits for a key. Every
        MessageBoxA call is taken from the relay log; the console output received
        before it is recorded with it, and OK is pressed on the box (Return on its
        window). With `key_after` (seconds), one key is typed that long after the
        program's first console output (or at the latest after 2 * key_after seconds).
        A program still running after `timeout` seconds is ended and the result says
        so, with everything seen until then. `overrides` are Wine DLL overrides for
        this run alone. With `pictures` (a folder), each box is saved there as
        box-N.png just before OK is pressed on it. `cwd` (a Unix path) is the folder
        that the program starts in; Wine maps it to a drive."""
        result = RunResult([a if isinstance(a, str) else a.decode("latin-1") for a in args])
        argv = [WINE, os.path.abspath(exe)] + result.args
        master = slave = None
        if stdin_terminal:
            master, slave = pty.openpty()
            stdin = slave
        else:
            stdin = subprocess.DEVNULL
        started = time.monotonic()
        proc = subprocess.Popen(argv, env=self.env("-all,+relay", overrides), stdin=stdin,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True, cwd=cwd)
        if slave is not None:
            os.close(slave)
        out_fd = proc.stdout.fileno()
        _set_nonblocking(out_fd)
        relay = _RelayReader(proc.stderr)
        open_box = None  # the box shown and not yet dismissed
        next_press = 0.0
        first_output = None
        key_sent = False
        deadline = started + limit(timeout)
        exit_seen_at = None
        try:
            while True:
                now = time.monotonic()
                if proc.poll() is not None and exit_seen_at is None:
                    exit_seen_at = now
                if exit_seen_at is not None and now - exit_seen_at > 0.3:
                    break
                if now > deadline:
                    result.timed_out = True
                    break
                select.select([out_fd], [], [], 0.05)
                for kind, thread, text, line in relay.take():
                    if kind == "call":
                        # The Call line is written after whatever the program wrote to
                        # standard output before the call, so that output is in the pipe
                        # now; nothing later can be, the box holding the program.
                        result.console += _drain(out_fd)
                        box = Box(thread, _parse_relay_args(text), result.console)
                        result.boxes.append(box)
                        open_box = box
                        next_press = 0.0
                        result.notes.append("%.1f s: MessageBoxA called" % (
                            time.monotonic() - started))
                    elif open_box is not None and thread == open_box.thread:
                        open_box.returned = int(text, 16)
                        open_box = None
                result.console += _drain(out_fd)
                if first_output is None and result.console:
                    first_output = time.monotonic()
                if open_box is not None and (dismiss or pictures) and \
                        time.monotonic() >= next_press:
                    if open_box.window is None:
                        open_box.window = self._find_box_window(open_box)
                        # A window just mapped may not take keys yet: a moment's grace,
                        # or, when not mapped yet, a look again shortly.
                        next_press = time.monotonic() + (0.3 if open_box.window else 0.1)
                    else:
                        if pictures and open_box.picture is None:
                            open_box.picture = os.path.join(
                                pictures, "box-%d.png" % len(result.boxes))
                            self.picture(open_box.window, open_box.picture)
                        next_press = time.monotonic() + (0.5 if dismiss else timeout)
                        if dismiss:
                            # Only ever the box's own window, so that a press that lands
                            # late can never dismiss the next box unseen.
                            self._press_return(open_box.window)
                            result.notes.append("%.1f s: OK pressed on window %s" % (
                                time.monotonic() - started, open_box.window))
                if key_after is not None and not key_sent and master is not None:
                    now = time.monotonic()
                    if (first_output is not None and now - first_output >= key_after) or \
                            now - started >= limit(2 * key_after):
                        result.alive_before_key = proc.poll() is None
                        result.console_before_key = result.console
                        result.boxes_before_key = len(result.boxes)
                        if result.alive_before_key:
                            os.write(master, b"x")
                        key_sent = True
            result.console += _drain(out_fd)
            result.exit_status = proc.poll()
        finally:
            if proc.poll() is None:
                self.kill_all()
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
            result.seconds = time.monotonic() - started
            relay.stop()
            proc.stdout.close()
            proc.stderr.close()
            if master is not None:
                os.close(master)
        return result

    def _find_box_window(self, box):
        """The X window of the box: the one named Kalvor, or, for a box with a wrong
        caption, the one named as the box is (it still has to go to finish the run)."""
        names = [CAPTION_TO_DISMISS]
        if box.caption and not box.caption_cut and box.caption != CAPTION_TO_DISMISS.encode():
            names.append(box.caption.decode("cp932", "replace"))
        for name in names:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                    "^%s$" % re.escape(name)],
                                   env=self.env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, timeout=limit(10)).stdout.split()
            if found:
                return found[-1].decode()
        return None

    def picture(self, window, path):
        """Saves an X window as a PNG, as it shows on the screen (xwd's ZPixmap dump
        of a true-colour window, written out as 8-bit RGB)."""
        dump = subprocess.run(["xwd", "-silent", "-id", window], env=self.env(),
                              stdout=subprocess.PIPE, timeout=limit(30), check=True).stdout
        head = [int.from_bytes(dump[i:i + 4], "big") for i in range(0, 100, 4)]
        size, width, height, order, bpp, line = (head[0], head[4], head[5], head[7],
                                                 head[11], head[12])
        masks = head[14:17]
        start = size + 12 * head[19]
        step = bpp // 8
        rows = bytearray()
        for y in range(height):
            rows.append(0)
            row = dump[start + y * line:start + y * line + width * step]
            for x in range(0, width * step, step):
                pixel = int.from_bytes(row[x:x + step], "little" if order == 0 else "big")
                for mask in masks:
                    shift = (mask & -mask).bit_length() - 1
                    rows.append(((pixel & mask) >> shift) * 255 // (mask >> shift))

        def chunk(kind, data):
            return (len(data).to_bytes(4, "big") + kind + data
                    + zlib.crc32(kind + data).to_bytes(4, "big"))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n"
                    + chunk(b"IHDR", width.to_bytes(4, "big") + height.to_bytes(4, "big")
                            + bytes([8, 2, 0, 0, 0]))
                    + chunk(b"IDAT", zlib.compress(bytes(rows))) + chunk(b"IEND", b""))

    def _press_return(self, window):
        """Return on the box's OK button, as a user pressing OK would."""
        subprocess.run(["xdotool", "windowfocus", "--sync", window, "key", "Return"],
                       env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=limit(10))

    def kill_all(self):
        subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=limit(60))
        if self.keeper:
            try:
                self.keeper.wait(10)
            except subprocess.TimeoutExpired:
                self.keeper.kill()
                self.keeper.wait()
            self.keeper.stdout.close()
            self.keeper = None

    def close(self, keep=False):
        try:
            self.kill_all()
            subprocess.run(["wineserver", "-w"], env=self.env(), timeout=limit(60))
        finally:
            if self.xvfb:
                self.xvfb.stop()
            if not keep:
                shutil.rmtree(self.workdir, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
