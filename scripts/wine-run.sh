#!/usr/bin/env bash
# Runs a Windows program under Wine, headless, with the build folder's prefix (created on first
# use; see scripts/wine-env.sh) and returns its exit code. A crash is a failure: no debugger runs.
#
# Usage: scripts/wine-run.sh PROGRAM.exe [ARGS...]    (WINEPREFIX chooses another prefix)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM.exe [ARGS...]" >&2; exit 2; }
. "$(dirname "$0")/wine-env.sh"
wine_env
wine_prefix_setup
exec wine "$@"
