#!/usr/bin/env bash
# Installs what the Wine lane needs besides the build's own packages, and any named as arguments: the mingw-w64
# cross toolchain, Wine, a virtual X display and Mesa's software GL and Vulkan drivers for Wine's Direct3D.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 \
  wine wine64 xvfb xauth libgl1-mesa-dri mesa-vulkan-drivers libvulkan1 "$@"
