#!/usr/bin/env python3
"""Builds the release twice, with scripts/release in two copies of the source at different
paths (so the build paths differ too; the second holds a space and Japanese characters),
under another umask and time zone the second time,
and checks that the zips are the same bytes and hold what an administrator gets: the
executable, the read-me in code page 932 with CRLF line ends, and a SHA256SUMS that
`sha256sum -c` accepts.
Usage: check_release.py SOURCE_DIR WORK_DIR"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

NAMES = ["8140KUninstall.exe", "README.TXT", "SHA256SUMS"]
DOS_EPOCH = 315532800  # 1980-01-01, the first time a zip entry can hold


def source_files(source):
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others",
                             "--exclude-standard"], capture_output=True)
    if listed.returncode == 0:
        return [f for f in listed.stdout.decode().split("\0") if f and os.path.isfile(os.path.join(source, f))]
    return [os.path.relpath(os.path.join(d, f), source)
            for d, dirs, files in os.walk(source)
            for f in files if os.path.relpath(d, source).split(os.sep)[0] not in ("build", "dist", ".git")]


def copy_source(source, files, target):
    for name in files:
        os.makedirs(os.path.join(target, os.path.dirname(name)), exist_ok=True)
        shutil.copy2(os.path.join(source, name), os.path.join(target, name))


def release(copy, env, umask):
    run = subprocess.run(["bash", os.path.join(copy, "scripts/release")], env=env,
                         preexec_fn=lambda: os.umask(umask), capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"scripts/release in {copy} failed:\n{run.stdout}{run.stderr}")


def check_contents(zip_path, copy, version, epoch):
    problems = []
    with zipfile.ZipFile(zip_path) as z:
        infos = z.infolist()
        if [i.filename for i in infos] != NAMES:
            return [f"entries {[i.filename for i in infos]}, want {NAMES}"]
        want_time = tuple(time.gmtime(max(epoch, DOS_EPOCH))[:6])
        for info in infos:
            # DOS times count seconds in twos; the release rounds down.
            want = want_time[:5] + (want_time[5] // 2 * 2,)
            if info.date_time != want:
                problems.append(f"{info.filename}: time {info.date_time}, want {want} from the source")
            if info.extra:
                problems.append(f"{info.filename}: extra field {info.extra.hex()}")

        readme = z.read("README.TXT")
        try:
            text = readme.decode("cp932")
        except UnicodeDecodeError as e:
            problems.append(f"README.TXT is not code page 932: {e}")
            text = ""
        if re.search(rb"(?<!\r)\n|\r(?!\n)", readme) or not readme.endswith(b"\r\n"):
            problems.append("README.TXT has a line not ending in CRLF")
        with open(os.path.join(copy, "release/readme-ja.txt"), encoding="utf-8") as f:
            expect = f.read().replace("@VERSION@", version).replace(
                "@ZIPNAME@", os.path.basename(zip_path))
        if text.replace("\r\n", "\n") != expect:
            problems.append("README.TXT does not read as release/readme-ja.txt with the version filled in")

        with open(os.path.join(copy, "build/release/8140KUninstall.exe"), "rb") as f:
            if z.read("8140KUninstall.exe") != f.read():
                problems.append("8140KUninstall.exe is not the executable the release built")

        with tempfile.TemporaryDirectory() as unpacked:
            z.extractall(unpacked)
            check = subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=unpacked,
                                   capture_output=True, text=True)
    checked = sorted(line.rsplit(":", 1)[0] for line in check.stdout.splitlines())
    if check.returncode != 0 or checked != sorted(NAMES[:2]):
        problems.append(f"sha256sum -c SHA256SUMS: status {check.returncode}, checked {checked}, "
                        f"want {sorted(NAMES[:2])}\n{check.stdout}{check.stderr}")
    return problems


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, work = (os.path.abspath(a) for a in sys.argv[1:])
    with open(os.path.join(source, "res/version.rc")) as f:
        version = ".".join(re.search(r"^\s*FILEVERSION\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)",
                                     f.read(), re.M).groups())
    epoch = int(subprocess.run(["cmake", f"-DSOURCE_DIR={source}", "-P",
                                os.path.join(source, "cmake/source_date_epoch.cmake")],
                               capture_output=True, text=True, check=True).stdout)
    # The copies are no repositories of their own, so both take the source's time from here.
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
    files = source_files(source)

    shutil.rmtree(work, ignore_errors=True)
    first = os.path.join(work, "a", "src")
    with tempfile.TemporaryDirectory(prefix="kalvor-release-") as elsewhere:
        # A clone may lie in any folder, one whose name has spaces or is in Japanese too.
        second = os.path.join(elsewhere, "copy two", "テスト", "src")
        copy_source(source, files, first)
        copy_source(source, files, second)
        release(first, env, 0o022)
        release(second, dict(env, TZ="Asia/Tokyo"), 0o002)

        name = f"8140KUninstall-{version}.zip"
        zips = [os.path.join(copy, "dist", name) for copy in (first, second)]
        for path in zips:
            if not os.path.isfile(path):
                sys.exit(f"no {path}; dist/ holds {os.listdir(os.path.dirname(path))}")
        with open(zips[0], "rb") as a, open(zips[1], "rb") as b:
            same = a.read() == b.read()
        problems = []
        if not same:
            kept = os.path.join(work, "second-" + name)
            shutil.copy2(zips[1], kept)
            problems.append(f"{zips[0]} and the zip from {second} (kept as {kept}) differ")
        problems += check_contents(zips[0], first, version, epoch)
    for problem in problems:
        print(problem)
    if not problems:
        print(f"{name}: the same bytes from {first} and {second}; entries, read-me and SHA256SUMS as expected")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
