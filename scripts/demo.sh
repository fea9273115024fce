#!/usr/bin/env bash
# Builds corvo-capture and captures the demo scene for a few seconds with change detection on, writing a PNG of
# each new frame and summary.json to out/demo. Extra arguments go to corvo-capture. Installs (as root) and builds
# only what the program needs: a compiler, CMake, Ninja, CLI11, libpng and OpenEXR; the build is the demo preset's
# (build/demo, without tests and benchmarks). Ninja compiles the library while the emulated platform is still
# compiling, which Make's target order does not.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --only cmake ninja-build gcc g++ libcli11-dev libpng-dev libopenexr-dev
cmake --preset demo >/dev/null
cmake --build --preset demo
rm -rf out/demo
build/demo/tools/corvo-capture --dirty-rect --seconds 4 --out out/demo "$@"
