#!/usr/bin/env bash
# Builds the library and runs the example host on the emulated desktop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target corvo-example-host
build/default/tools/corvo-example-host "$@"
