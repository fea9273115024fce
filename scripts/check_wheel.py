#!/usr/bin/env python3
"""Checks a wheel that scripts/wheel.py wrote: it holds exactly the module's Python files, the libraries named
and the metadata, its RECORD matches every entry, and its tag is the platform's. With --windows-loader it also
unpacks the wheel and imports the module with the platform faked as Windows (there is no Windows Python here),
and checks that the loader takes the DLL inside the package before $CORVO_WGC_LIBRARY.

    check_wheel.py WHEEL --platform win_amd64 --library libcorvo-wgc.dll [--windows-loader]"""

import argparse
import base64
import hashlib
import os
import pathlib
import subprocess
import sys
import tempfile
import zipfile

BINDINGS = pathlib.Path(__file__).resolve().parent.parent / "bindings" / "python"

# Runs in a fresh interpreter: sys.platform and ctypes.CDLL are replaced before the module is imported, the fake
# library answers every export, and the path the loader chose is printed.
FAKE_WINDOWS = """
import ctypes, sys
sys.platform = "win32"
class FakeLibrary:
    def __init__(self, path):
        self.path = path
    def __getattr__(self, name):
        return lambda *arguments: 0
ctypes.CDLL = FakeLibrary
import corvo_wgc
print(corvo_wgc.load().dll.path)
"""


def fail(message):
    sys.exit(f"check_wheel.py: {message}")


def check_contents(archive, platform, libraries):
    names = set(archive.namelist())
    dist_info = {n.split("/")[0] for n in names if n.split("/")[0].endswith(".dist-info")}
    if len(dist_info) != 1:
        fail(f"expected one .dist-info folder, found {sorted(dist_info)}")
    dist_info = dist_info.pop()
    expected = {f"corvo_wgc/{p.name}" for p in (BINDINGS / "corvo_wgc").glob("*.py")}
    expected |= {f"corvo_wgc/{name}" for name in libraries}
    expected |= {f"{dist_info}/{name}" for name in ("METADATA", "WHEEL", "LICENSE", "top_level.txt", "RECORD")}
    if names != expected:
        fail(f"unexpected entries {sorted(names - expected)}, missing {sorted(expected - names)}")
    wheel = archive.read(f"{dist_info}/WHEEL").decode()
    if f"Tag: py3-none-{platform}\n" not in wheel or "Root-Is-Purelib: false\n" not in wheel:
        fail(f"WHEEL does not say py3-none-{platform}, not purelib:\n{wheel}")
    recorded = {}
    for line in archive.read(f"{dist_info}/RECORD").decode().splitlines():
        name, digest, size = line.rsplit(",", 2)
        recorded[name] = (digest, size)
    if set(recorded) != names:
        fail(f"RECORD lists {sorted(set(recorded) ^ names)} differently from the archive")
    for name, (digest, size) in recorded.items():
        if name.endswith("/RECORD"):
            continue
        data = archive.read(name)
        actual = "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        if (digest, size) != (actual, str(len(data))):
            fail(f"RECORD entry of {name} does not match its content")


def check_windows_loader(archive):
    with tempfile.TemporaryDirectory() as folder:
        archive.extractall(folder)
        bundled = os.path.join(folder, "corvo_wgc", "libcorvo-wgc.dll")
        environment = dict(os.environ, PYTHONPATH=folder, PYTHONDONTWRITEBYTECODE="1",
                           CORVO_WGC_LIBRARY=r"C:\elsewhere\libcorvo-wgc.dll")
        result = subprocess.run([sys.executable, "-c", FAKE_WINDOWS], env=environment, cwd=folder,
                                capture_output=True, text=True)
        if result.returncode != 0 or result.stdout != bundled + "\n":
            fail(f"the loader took {result.stdout.strip()!r}, not {bundled}\n{result.stderr}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("wheel", type=pathlib.Path)
    parser.add_argument("--platform", required=True)
    parser.add_argument("--library", action="append", default=[], help="a library the package must carry")
    parser.add_argument("--windows-loader", action="store_true")
    args = parser.parse_args()
    with zipfile.ZipFile(args.wheel) as archive:
        check_contents(archive, args.platform, args.library)
        if args.windows_loader:
            check_windows_loader(archive)
    print(f"{args.wheel.name}: contents{' and Windows loader' if args.windows_loader else ''} as expected")


if __name__ == "__main__":
    main()
