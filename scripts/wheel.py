#!/usr/bin/env python3
"""Writes a wheel of the Python module (bindings/python) that carries the given libraries inside the package,
with the standard library alone: the package's metadata come from its pyproject.toml, and nothing is downloaded.

    wheel.py --version 0.1.0 --platform linux_x86_64 --out dist --add build/lib/libcorvo-wgc.so=libcorvo-wgc.so

The module is pure Python and loads the library with ctypes, so the wheel fits every Python 3 of the platform
(py3-none-PLATFORM)."""

import argparse
import base64
import hashlib
import pathlib
import sys
import tomllib
import zipfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
BINDINGS = ROOT / "bindings" / "python"
# Entries carry a fixed time, so that the same inputs give the same wheel.
TIMESTAMP = (1980, 1, 1, 0, 0, 0)


def metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project['description']}",
        f"License: {project['license']['text']}",
        f"Requires-Python: {project['requires-python']}",
    ]
    lines += [f"Classifier: {c}" for c in project.get("classifiers", [])]
    lines += [f"Requires-Dist: {d}" for d in project.get("dependencies", [])]
    for extra, requirements in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {r}; extra == "{extra}"' for r in requirements]
    return "\n".join(lines) + "\n"


def record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True, help="the project's version, which pyproject.toml must carry")
    parser.add_argument("--platform", required=True, help="platform tag, such as linux_x86_64 or win_amd64")
    parser.add_argument("--out", required=True, type=pathlib.Path, help="folder the wheel is written to")
    parser.add_argument("--add", action="append", default=[], metavar="FILE=NAME",
                        help="a library to put into the package under NAME")
    args = parser.parse_args()

    project = tomllib.loads((BINDINGS / "pyproject.toml").read_text())["project"]
    if project["version"] != args.version:
        sys.exit(f"wheel.py: bindings/python/pyproject.toml says version {project['version']}, "
                 f"the project is {args.version}")
    package = "corvo_wgc"
    dist_info = f"{project['name'].replace('-', '_')}-{args.version}.dist-info"
    tag = f"py3-none-{args.platform}"

    # (name in the wheel, bytes, executable)
    entries = [(f"{package}/{p.name}", p.read_bytes(), False) for p in sorted((BINDINGS / package).glob("*.py"))]
    for added in args.add:
        source, separator, name = added.partition("=")
        if not separator or "/" in name:
            sys.exit(f"wheel.py: --add takes FILE=NAME, not {added}")
        entries.append((f"{package}/{name}", pathlib.Path(source).read_bytes(), True))
    entries += [
        (f"{dist_info}/METADATA", metadata(project).encode(), False),
        (f"{dist_info}/WHEEL", (f"Wheel-Version: 1.0\nGenerator: corvo-wgc scripts/wheel.py\n"
                                f"Root-Is-Purelib: false\nTag: {tag}\n").encode(), False),
        (f"{dist_info}/LICENSE", (ROOT / "LICENSE").read_bytes(), False),
        (f"{dist_info}/top_level.txt", f"{package}\n".encode(), False),
    ]
    record = "\n".join([record_line(name, data) for name, data, _ in entries] + [f"{dist_info}/RECORD,,"]) + "\n"
    entries.append((f"{dist_info}/RECORD", record.encode(), False))

    args.out.mkdir(parents=True, exist_ok=True)
    wheel = args.out / f"{project['name'].replace('-', '_')}-{args.version}-{tag}.whl"
    with zipfile.ZipFile(wheel, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name, data, executable in entries:
            info = zipfile.ZipInfo(name, TIMESTAMP)
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)
    print(wheel)


if __name__ == "__main__":
    main()
