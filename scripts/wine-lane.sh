#!/usr/bin/env bash
# The Wine lane: cross-builds the DLL and the Windows test programs with mingw-w64, then runs the mingw test
# preset (PE tables, and the programs under Wine) in a private Wine prefix on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-wine-deps.sh
cmake --preset mingw
cmake --build --preset mingw

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
  wine cmd /c exit </dev/null >/dev/null 2>&1 && ctest --preset mingw'
