#!/usr/bin/env bash
# The Windows suite (scripts/test.sh --windows): installs what is missing, cross-builds the
# manager, lyrlinkctl and the unit tests with MinGW-w64, runs the unit suite under Wine (a crash
# fails it: the prefix has no debugger), then the end-to-end link-up under Wine
# (scripts/e2e-windows.sh) with lyrlinksim from the Linux build. Says how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/wine-env.sh

t0=$EPOCHREALTIME
mark=$t0
step() {
    echo "test-windows: $1 took $(awk -v a="$mark" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s" >&2
    mark=$EPOCHREALTIME
}

scripts/install-windows-deps.sh
# lyrlinksim plays the equipment: Linux-only, built in the Linux build folder.
scripts/install-deps.sh
step "installing"

dir=$(scripts/build-windows.sh --no-install)
if [ ! -f build/build.ninja ]; then
    extra=()
    if command -v ccache >/dev/null 2>&1; then
        export CCACHE_NOHASHDIR=1 CCACHE_BASEDIR="$(cd .. && pwd)"
        extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S . -B build -G Ninja "${extra[@]}" >&2
fi
cmake --build build --target lyrlinksim >&2
step "building"

wine_env
wine_prefix_setup
# One process for the whole suite; a hang ends in the time limit, a crash in a failing exit code.
rc=0
timeout 900 wine "$dir/tests/lyrlink_tests.exe" --gtest_brief=1 || rc=$?
if [ "$rc" -ne 0 ]; then
    echo "test-windows: the unit suite under Wine failed (exit code $rc)" >&2
    exit 1
fi
step "the unit suite under Wine"

scripts/e2e-windows.sh "$dir" build
step "the end-to-end link-up under Wine"
echo "test-windows: all passed in $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s" >&2
