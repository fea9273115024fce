#!/usr/bin/env bash
# Runs the Python module's tests (bindings/python) with Debian's Python against the library of the ci build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-python-deps.sh
[ -f build/ci/CMakeCache.txt ] || cmake --preset ci
cmake --build --preset ci --target corvo-wgc
export CORVO_WGC_LIBRARY="$PWD/build/ci/libcorvo-wgc.so" PYTHONDONTWRITEBYTECODE=1
cd bindings/python
/usr/bin/python3 -m pytest -p no:cacheprovider -q tests "$@"
