#!/usr/bin/env bash
# Configures and builds into build/ (build-asan/ with --sanitize, build-tsan/ with --tsan).
# Prints the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
extra=()
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    extra+=(-DLYRLINK_SANITIZE=ON -DLYRLINK_BENCHMARKS=OFF)
elif [ "${1:-}" = "--tsan" ]; then
    dir=build-tsan
    extra+=(-DLYRLINK_TSAN=ON -DLYRLINK_BENCHMARKS=OFF)
fi
if command -v ccache >/dev/null 2>&1; then
    # Checkouts in other folders share compiled objects (JUCE's modules above all).
    export CCACHE_NOHASHDIR=1 CCACHE_BASEDIR="$(cd .. && pwd)"
    extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

cmake -S . -B "$dir" -G Ninja "${extra[@]}" >&2
cmake --build "$dir" >&2
echo "$dir"
