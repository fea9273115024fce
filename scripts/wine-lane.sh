#!/usr/bin/env bash
# The Wine lane: cross-builds the DLL and the Windows test programs with mingw-w64, then runs the mingw test
# preset (PE tables, and the programs under Wine) in a private Wine prefix on a virtual display.
# --coverage: the same with the DLL built for gcov (build/mingw-coverage), then the lines of platform/windows and
# session that never ran, and their share of lines that did.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=mingw
if [[ "${1:-}" == "--coverage" ]]; then
  preset=mingw-coverage
elif [[ $# -gt 0 ]]; then
  echo "usage: scripts/wine-lane.sh [--coverage]" >&2
  exit 2
fi
scripts/install-wine-deps.sh
cmake --preset $preset
cmake --build --preset $preset
# Counts of an earlier run would add to this one's.
find build/$preset -name '*.gcda' -delete

scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
# The prefix is made before the tests so that none of them pays for it; wineserver -w waits until it is ready.
# Then one persistent wineserver, with the prefix's services started outside ctest's output pipes, saves each
# test program the server's start (about three seconds).
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c 'wineboot -i >/dev/null 2>&1 && wineserver -w && wineserver -p &&
  wine cmd /c exit </dev/null >/dev/null 2>&1 && ctest --preset $0' $preset
if [[ $preset == mingw-coverage ]]; then
  python3 scripts/wine_coverage.py build/$preset x86_64-w64-mingw32-gcov-posix
fi
