#!/usr/bin/env bash
# Installs the Debian packages the Wine lane needs (the mingw-w64 cross toolchain, Wine, a virtual X display and
# Mesa's software GL and Vulkan drivers for Wine's Direct3D), when run as root and something is missing.
set -euo pipefail
packages=(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine wine64 xvfb xauth
          libgl1-mesa-dri mesa-vulkan-drivers libvulkan1)
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
