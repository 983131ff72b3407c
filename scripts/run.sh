#!/usr/bin/env bash
# Installs what is missing, builds, and shows the system on a virtual network (scripts/demo.sh:
# the manager, simulated equipment and a watching client in network namespaces of their own;
# about a minute, Ctrl-C ends it earlier). The namespaces need root: the demo uses sudo when not
# run as root.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
dir=$(scripts/build.sh)
exec scripts/demo.sh --build "$dir"
