#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, component and end-to-end).
# With --sanitize the same suite runs under AddressSanitizer and UndefinedBehaviorSanitizer, with
# --tsan under ThreadSanitizer (every report fails the test that shows it). With --windows the
# Windows build is tested instead, under Wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--windows" ]; then
    exec scripts/test-windows.sh
fi

scripts/install-deps.sh
dir=$(scripts/build.sh "$@")
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# ThreadSanitizer keeps a process alive for atexit_sleep_ms (1 s by default) after main returns, to
# give late threads a chance to race with exit; that would make every quit of the real program
# miss the end-to-end tests' one-second bound, so the wait is shortened, not skipped.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:atexit_sleep_ms=200}
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
