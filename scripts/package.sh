#!/usr/bin/env bash
# Writes the distribution into dist/:
#   corvo-wgc-VERSION-windows-x64.zip  the DLL, corvo-capture.exe, the import libraries for mingw-w64 and MSVC,
#                                       the header, the CMake and pkg-config packages, LICENSE and README.txt
#   corvo_wgc-VERSION-py3-none-win_amd64.whl     the Python module with the DLL inside
#   corvo_wgc-VERSION-py3-none-linux_x86_64.whl  the Python module with libcorvo-wgc.so and libcorvo-emu.so
# from the mingw and ci builds, which it reuses where earlier lanes made them (and builds otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-package-deps.sh
python=/usr/bin/python3

# Configured again so that the build finds llvm-dlltool where it came after the first configure.
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target corvo-wgc corvo-capture corvo-wgc-msvc-import-library
[ -f build/ci/CMakeCache.txt ] || cmake --preset ci >/dev/null
cmake --build --preset ci --target corvo-wgc corvo-emu
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw/CMakeCache.txt)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
rm -rf dist
mkdir -p dist

windows=$stage/windows
for component in wgc cli; do
  cmake --install build/mingw --prefix "$windows" --component $component --strip >/dev/null
done
cp LICENSE "$windows/"
cat >"$windows/README.txt" <<TEXT
corvo-wgc $version for Windows x86-64

  bin/libcorvo-wgc.dll        the library; it needs only DLLs that are part of Windows
  bin/corvo-capture.exe       the capture command line, for example
                              corvo-capture --window "Report - Editor" --dirty-rect --seconds 10 --out frames
  include/corvo_wgc.h         the C API
  lib/corvo-wgc.lib           import library for MSVC's linker (and clang-cl, lld-link)
  lib/libcorvo-wgc.dll.a      import library for mingw-w64
  lib/cmake/corvo-wgc/        CMake package: corvo::wgc, with the import library that suits the compiler
  lib/pkgconfig/corvo-wgc.pc  pkg-config file for mingw-w64 builds

Unzip into a folder of its own, for example C:\\sdk\\corvo-wgc, and in your CMakeLists.txt:

  find_package(corvo-wgc $version CONFIG REQUIRED)
  target_link_libraries(your-program PRIVATE corvo::wgc)

configured with -DCMAKE_PREFIX_PATH=C:\\sdk\\corvo-wgc. Ship bin/libcorvo-wgc.dll beside your program.
is_wgc_session_supported() tells whether the system offers the capture interfaces. Version 0.x releases may
change the interface with each minor version; the CMake package accepts only the same major.minor version.
TEXT
zip=dist/corvo-wgc-$version-windows-x64.zip
(cd "$windows" && zip -q -r -D -9 -X "$OLDPWD/$zip" .)

linux=$stage/linux
for component in wgc emu; do
  cmake --install build/ci --prefix "$linux" --component $component --strip >/dev/null
done
# libcorvo-wgc.so finds the emulated platform beside it (run path \$ORIGIN) under the name it was linked with.
emu_soname=$(objdump -p "$linux/lib/libcorvo-wgc.so" | awk '$1 == "NEEDED" && $2 ~ /^libcorvo-emu\.so/ {print $2}')
[ -n "$emu_soname" ] || { echo "package.sh: libcorvo-wgc.so does not name libcorvo-emu" >&2; exit 1; }

"$python" scripts/wheel.py --version "$version" --platform win_amd64 --out dist \
  --add "$windows/bin/libcorvo-wgc.dll=libcorvo-wgc.dll" >/dev/null
"$python" scripts/wheel.py --version "$version" --platform linux_x86_64 --out dist \
  --add "$(realpath "$linux/lib/libcorvo-wgc.so")=libcorvo-wgc.so" \
  --add "$(realpath "$linux/lib/$emu_soname")=$emu_soname" >/dev/null
ls -l dist
