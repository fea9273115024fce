#!/usr/bin/env bash
# Checks what scripts/package.sh wrote into dist/, as a user would take it:
# - the Linux wheel installed into a fresh virtual environment (numpy from the system's site packages) captures a
#   frame of the emulated platform with the library it carries;
# - the Windows wheel holds the module and the DLL, and its loader takes that DLL (platform faked);
# - the zip holds exactly its files; corvo-wgc.lib, libcorvo-wgc.dll.a and the DLL name the exports of the
#   module-definition file; a mingw-w64 host and a host built as MSVC builds (clang-cl, lld-link) against the
#   zip's CMake package, and the zip's corvo-capture.exe, run under Wine;
# - the library and the emulated platform configure and build with the three build switches off while
#   GoogleTest, Google Benchmark, CLI11 and libpng are hidden from CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-package-deps.sh
python=/usr/bin/python3
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/mingw/CMakeCache.txt)
zip=dist/corvo-wgc-$version-windows-x64.zip
linux_wheel=dist/corvo_wgc-$version-py3-none-linux_x86_64.whl
windows_wheel=dist/corvo_wgc-$version-py3-none-win_amd64.whl
scratch=$(mktemp -d)
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
step() { echo "== $*"; }

step "Linux wheel in a fresh virtual environment"
emu_soname=$(unzip -Z1 "$linux_wheel" | sed -n 's|^corvo_wgc/\(libcorvo-emu\.so\..*\)$|\1|p')
"$python" scripts/check_wheel.py "$linux_wheel" --platform linux_x86_64 --library libcorvo-wgc.so \
  --library "$emu_soname"
"$python" -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/pip" install --quiet --no-index "$linux_wheel"
(cd "$scratch" && env -u CORVO_WGC_LIBRARY -u CORVO_EMU_LIBRARY -u PYTHONPATH "$scratch/venv/bin/python" -c '
import corvo_wgc
from corvo_wgc import emulated as emu
window = emu.Window(320, 240)
window.fill(0, 0, 160, 120, emu.bgra(0, 0, 255))
with corvo_wgc.Session(window) as session:
    session.start()
    window.present()
    frame = session.grab()
print(corvo_wgc.load().path, frame.shape, frame[0, 0], frame[239, 319])
assert corvo_wgc.load().path.startswith(__import__("sys").prefix)
assert frame.shape == (240, 320, 4) and list(frame[0, 0]) == [0, 0, 255, 255] and frame[239, 319, 2] == 0
')

step "Windows wheel"
"$python" scripts/check_wheel.py "$windows_wheel" --platform win_amd64 --library libcorvo-wgc.dll --windows-loader
# pip takes it as a wheel for 64-bit Windows.
"$scratch/venv/bin/pip" install --quiet --no-index --no-deps --platform win_amd64 --only-binary=:all: \
  --target "$scratch/windows-site" "$windows_wheel"
test -f "$scratch/windows-site/corvo_wgc/libcorvo-wgc.dll"

step "Windows zip"
expected="LICENSE README.txt bin/corvo-capture.exe bin/libcorvo-wgc.dll include/corvo_wgc.h lib/corvo-wgc.lib
lib/libcorvo-wgc.dll.a lib/cmake/corvo-wgc/corvo-wgc-config.cmake lib/cmake/corvo-wgc/corvo-wgc-config-version.cmake
lib/cmake/corvo-wgc/corvo-wgc-targets.cmake lib/cmake/corvo-wgc/corvo-wgc-targets-relwithdebinfo.cmake
lib/pkgconfig/corvo-wgc.pc"
if ! diff <(tr ' ' '\n' <<<"$expected" | sort) <(unzip -Z1 "$zip" | sort); then
  echo "the zip's entries differ from the list above" >&2
  exit 1
fi
sdk=$scratch/sdk
unzip -q "$zip" -d "$sdk"

# The names of the .def, of the DLL's export table, and of the import symbols of each import library.
same_as_def() {
  if [ "$2" != "$def_names" ]; then
    echo "$1 differ from the names of api/corvo_wgc.def:" >&2
    diff <(echo "$def_names") <(echo "$2") >&2 || true
    exit 1
  fi
}
def_names=$(sed -n 's/^ *\([A-Za-z0-9_]*\) *@[0-9]*$/\1/p' api/corvo_wgc.def | sort)
[ -n "$def_names" ] || { echo "no names read from api/corvo_wgc.def" >&2; exit 1; }
same_as_def "the DLL's exports" "$(x86_64-w64-mingw32-objdump -p "$sdk/bin/libcorvo-wgc.dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^\t\[ *[0-9]*\] \([A-Za-z0-9_]*\)$/\1/p' | sort)"
for library in lib/corvo-wgc.lib lib/libcorvo-wgc.dll.a; do
  same_as_def "the imports of $library" "$(llvm-nm-14 --defined-only "$sdk/$library" 2>/dev/null |
    sed -n 's/^.* [A-Z] __imp_\(.*\)$/\1/p' | sort)"
done
if ! llvm-readobj-14 "$sdk/lib/corvo-wgc.lib" | grep -q 'File: libcorvo-wgc.dll'; then
  echo "corvo-wgc.lib does not name libcorvo-wgc.dll" >&2
  exit 1
fi

# A mingw-w64 host through the zip's CMake package.
cmake -S tests/package/consumer -B "$scratch/consumer" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$sdk" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/consumer" >/dev/null
# A host built as MSVC builds (clang-cl, lld-link) through the same package, which gives it corvo-wgc.lib.
cmake -S tests/package/msvc_consumer -B "$scratch/msvc_consumer" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/tests/package/msvc_consumer/clang-cl.cmake" -DCMAKE_PREFIX_PATH="$sdk" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/msvc_consumer" >/dev/null
export WINEPATH="$sdk/bin" SDK="$sdk" SCRATCH="$scratch" VERSION="$version"
xvfb-run -a -s "-screen 0 640x480x24" bash -c '
  set -euo pipefail
  wineboot -i >/dev/null 2>&1 && wineserver -w
  wine "$SCRATCH/consumer/consumer.exe"
  status=0; wine "$SCRATCH/msvc_consumer/msvc_host.exe" || status=$?
  [ "$status" -eq 42 ] || { echo "msvc_host.exe ended with $status, not 42" >&2; exit 1; }
  echo "msvc_host.exe: built with clang-cl and lld-link against the package, ran"
  said=$(wine "$SDK/bin/corvo-capture.exe" --version | tr -d "\r")
  [ "$said" = "corvo-capture $VERSION" ] || { echo "corvo-capture.exe --version said: $said" >&2; exit 1; }
  echo "$said"'

step "library only: the three switches off, the test and tool packages hidden"
rm -rf build/lean
# A build type with no flags of its own keeps this build short; the unused-variable warning would only say
# that nothing looked for the hidden packages.
cmake --no-warn-unused-cli -S . -B build/lean -DCORVO_BUILD_TESTS=OFF -DCORVO_BUILD_TOOLS=OFF \
  -DCORVO_BUILD_BENCHMARKS=OFF -DCORVO_WERROR=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_CLI11=ON -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON >/dev/null
cmake --build build/lean -j2 >/dev/null
ls build/lean/libcorvo-wgc.so."$version" build/lean/platform/emulated/libcorvo-emu.so."$version"
