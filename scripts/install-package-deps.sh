#!/usr/bin/env bash
# Installs what scripts/package.sh and its checks need besides the Wine lane's packages: LLVM's dlltool for the
# import library in MSVC's format, LLVM's MSVC-compatible linker and readers for the checks, zip, and Debian's
# Python with venv and numpy for the wheels and their checks (CI has no other package index).
set -euo pipefail
exec "$(dirname "$0")/install-wine-deps.sh" llvm-14 lld-14 zip python3 python3-venv python3-numpy
