#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build-fuzz/ and fuzzes each for a
# bounded time, starting from its checked-in seeds. Any crash, leak, sanitizer report or time-out
# fails the run; the reproducer is printed as a command, as hex and as base64.
#
#   scripts/fuzz.sh [--seconds N] [--runs N] [--build-only] [target...]
#
# With no target every fuzzer is built and run. --runs stops a fuzzer after N executions instead of
# after a time (the two can be combined; the first limit reached ends the run).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=60
runs=
build_only=0
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --build-only) build_only=1; shift ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done

scripts/install-deps.sh
dir=build-fuzz
extra=()
if command -v ccache >/dev/null 2>&1; then
    export CCACHE_NOHASHDIR=1 CCACHE_BASEDIR="$(cd .. && pwd)"
    extra+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DLYRLINK_FUZZ=ON -DLYRLINK_BENCHMARKS=OFF \
    "${extra[@]}" >/dev/null

all=$(sed -n 's/^lyrlink_add_fuzzer(\([a-z0-9_]*\).*/\1/p' tests/fuzz/CMakeLists.txt)
[ ${#targets[@]} -gt 0 ] || read -r -a targets <<<"$(echo $all)"
cmake --build "$dir" --target "${targets[@]}"
[ "$build_only" = 0 ] || exit 0

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for t in "${targets[@]}"; do
    seeds=$(sed -n "/^lyrlink_add_fuzzer($t\$/,/)/s/.*CORPUS \${CMAKE_CURRENT_SOURCE_DIR}\/\([^ )]*\).*/\1/p" \
        tests/fuzz/CMakeLists.txt)
    bin="$dir/tests/fuzz/$t"
    found="$dir/tests/fuzz/$t-corpus"
    art="$dir/tests/fuzz/$t-artifacts/"
    mkdir -p "$found" "$art"
    rm -f "$art"/crash-* "$art"/leak-* "$art"/timeout-* "$art"/oom-* "$art"/slow-unit-*
    limits=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
            -artifact_prefix="$art")
    [ -z "$runs" ] || limits+=(-runs="$runs")
    echo "== $t: ${seconds}s${runs:+ or $runs runs} from tests/fuzz/$seeds" >&2
    log="$dir/tests/fuzz/$t.log"
    if "$bin" "${limits[@]}" "$found" "tests/fuzz/$seeds" >"$log" 2>&1; then
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" >&2 || true
    else
        tail -n 60 "$log" >&2
        for f in "$art"*; do
            [ -f "$f" ] || continue
            echo "-- reproducer: $bin $f" >&2
            echo "-- hex:" >&2; od -An -tx1 -v "$f" | head -n 40 >&2
            echo "-- base64:" >&2; base64 -w 76 "$f" | head -n 40 >&2
        done
        failed+=("$t")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: FAILED: ${failed[*]} (logs in $dir/tests/fuzz/<target>.log)" >&2
    exit 1
fi
echo "fuzz: every target ran clean" >&2
