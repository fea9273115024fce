#!/usr/bin/env python3
"""Line coverage of the Windows build's platform layer and system code after a Wine lane run.

Reads the gcov counts the coverage build's DLL wrote under Wine, merges them per source line over every
object (a header's line counts once, executed if any object executed it), prints the lines of each folder's
files that never ran, and ends with one line:
  coverage: platform/windows NN.N% session NN.N% of lines
Arguments: the build directory, the gcov program.
"""
import json
import pathlib
import subprocess
import sys

FOLDERS = ("platform/windows", "session")


def line_counts(build, gcov, root):
    """{(folder, file): {line: executed}} over every object with counts."""
    counts = {}
    for gcda in sorted(build.rglob("*.gcda")):
        out = subprocess.run([gcov, "--json-format", "--stdout", str(gcda)], cwd=gcda.parent,
                             capture_output=True, text=True, check=True).stdout
        for document in map(json.loads, filter(None, out.splitlines())):
            compiled_in = pathlib.Path(document["current_working_directory"])  # names are relative to it
            for entry in document["files"]:
                path = (compiled_in / entry["file"]).resolve()
                try:
                    relative = path.relative_to(root).as_posix()
                except ValueError:
                    continue  # the toolchain's headers
                folder = next((f for f in FOLDERS if relative.startswith(f + "/")), None)
                if not folder:
                    continue
                lines = counts.setdefault((folder, relative), {})
                for line in entry["lines"]:
                    number = line["line_number"]
                    lines[number] = lines.get(number, False) or line["count"] > 0
    return counts


def ranges(numbers):
    """'3-5, 9' for [3, 4, 5, 9]."""
    spans = []
    for n in numbers:
        if spans and spans[-1][1] == n - 1:
            spans[-1][1] = n
        else:
            spans.append([n, n])
    return ", ".join(str(a) if a == b else f"{a}-{b}" for a, b in spans)


def main():
    build, gcov = pathlib.Path(sys.argv[1]).resolve(), sys.argv[2]
    root = pathlib.Path(__file__).resolve().parent.parent
    counts = line_counts(build, gcov, root)
    if not counts:
        sys.exit(f"no coverage counts under {build}: did the lane run the coverage build?")
    totals = {folder: [0, 0] for folder in FOLDERS}
    print("lines that never ran under Wine:")
    for (folder, file), lines in sorted(counts.items()):
        missed = sorted(n for n, executed in lines.items() if not executed)
        totals[folder][0] += len(lines) - len(missed)
        totals[folder][1] += len(lines)
        if missed:
            print(f"  {file}: {ranges(missed)}")
    shares = " ".join(f"{folder} {100.0 * ran / max(total, 1):.1f}%" for folder, (ran, total) in totals.items())
    print(f"coverage: {shares} of lines")


if __name__ == "__main__":
    main()
