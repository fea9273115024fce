#!/usr/bin/env bash
# Installs what the Python module's tests need besides the build's own packages: Debian's Python with numpy
# and pytest (CI has no other package index).
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" python3 python3-numpy python3-pytest
