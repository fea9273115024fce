#!/usr/bin/env bash
# Builds corvo-capture and captures the demo scene for a few seconds with change detection on, writing a PNG of
# each new frame and summary.json to out/demo. Extra arguments go to corvo-capture.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target corvo-capture
rm -rf out/demo
build/default/tools/corvo-capture --dirty-rect --seconds 4 --out out/demo "$@"
