#!/usr/bin/env bash
# Installs the Debian packages the build needs, and any named as arguments, when run as root and something is
# missing. With --only, just the packages named.
set -euo pipefail
if [ "${1:-}" = --only ]; then
  shift
  packages=("$@")
else
  packages=(cmake ninja-build make g++ gcc libgtest-dev libgmock-dev libbenchmark-dev binutils vkd3d-compiler spirv-tools
    libpng-dev libopenexr-dev libcli11-dev clang libclang-rt-14-dev "$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
