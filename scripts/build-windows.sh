#!/usr/bin/env bash
# Installs what the Windows build needs when it is missing (scripts/install-windows-deps.sh:
# MinGW-w64, Wine, the library sources), cross-builds the libraries once into the user's cache
# (scripts/build-windows-deps.sh; every checkout shares them), then configures and builds the
# manager, lyrlinkctl and the unit tests with the MinGW-w64 toolchain into build-windows/.
# Prints the build folder.
#
# Usage: scripts/build-windows.sh [--no-install] [TARGET...]   (default: the three programs)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/windows-deps-dir.sh

dir=build-windows
if [ "${1:-}" = "--no-install" ]; then
    shift
else
    scripts/install-windows-deps.sh >&2
fi
deps=$(windows_deps_dir)
scripts/build-windows-deps.sh "$deps" >&2

extra=()
if command -v ccache >/dev/null 2>&1; then
    # Checkouts in other folders share compiled objects (JUCE's modules above all).
    export CCACHE_NOHASHDIR=1 CCACHE_BASEDIR="$(cd .. && pwd)"
    extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(pwd)/cmake/mingw-w64-x86_64.cmake" \
    -DLYRLINK_WINDOWS_DEPS="$deps" "${extra[@]}" >&2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(LyrLinkSysMgr lyrlinkctl lyrlink_tests)
cmake --build "$dir" --target "${targets[@]}" >&2
echo "$dir"
