#!/usr/bin/env bash
# Installs what is missing, builds, and runs the manager in the foreground (Ctrl-C ends it).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
dir=$(scripts/build.sh)
echo "Log file: ${HOME}/.config/VelmoraLog/LyrLinkSysMgrLog.txt"
exec "$dir/LyrLinkSysMgr"
