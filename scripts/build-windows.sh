#!/usr/bin/env bash
# Installs what the Windows build needs when it is missing (scripts/install-windows-deps.sh:
# MinGW-w64, Wine, the library sources), cross-builds the libraries once
# (scripts/build-windows-deps.sh), then configures and builds the Windows programs with the
# MinGW-w64 toolchain into build-windows/. Prints the build folder.
#
# Usage: scripts/build-windows.sh [--no-install]
set -euo pipefail
cd "$(dirname "$0")/.."

top=build-windows
[ "${1:-}" = "--no-install" ] || scripts/install-windows-deps.sh "$top"
scripts/build-windows-deps.sh "$top"

dir=$top/smoke
extra=()
if command -v ccache >/dev/null 2>&1; then
    # Checkouts in other folders share compiled objects (JUCE's modules above all).
    export CCACHE_NOHASHDIR=1 CCACHE_BASEDIR="$(cd .. && pwd)"
    extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S cmake/windows-smoke -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/mingw-w64-x86_64.cmake" \
    -DLYRLINK_WINDOWS_DEPS="$(pwd)/$top/deps" "${extra[@]}" >&2
cmake --build "$dir" >&2
echo "$dir"
