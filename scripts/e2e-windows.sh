#!/usr/bin/env bash
# End to end under Wine: the Windows manager (LyrLinkSysMgr.exe) in a network namespace, the Linux
# lyrlinksim playing a player in a second namespace joined to it by a veth pair, and
# lyrlinkctl.exe watch as the manager's client. Passes when the link comes up as id 17, the player
# shows in `lyrlinkctl.exe devices`, the log (in %APPDATA%\VelmoraLog of the namespace's own Wine
# prefix) holds the banner and the link-up lines, and the client's disconnect ends the manager.
#
# Wine keeps its sockets in the wineserver process of a prefix, so the namespace gets a copy of
# the prepared prefix and its own server, started inside the namespace before any program.
# Everything started here is stopped by its pid and the namespaces are deleted by name when the
# script ends, however it ends.
#
# Usage: scripts/e2e-windows.sh [WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]]  (default build-windows, build;
#        root: it makes network namespaces)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
vnet_name=e2e-windows
. scripts/vnet.sh
. scripts/wine-env.sh
vnet_require_root "$0" "$@"

win=${1:-build-windows}
linux=${2:-build}
mgr_exe=$root/$win/LyrLinkSysMgr.exe
ctl_exe=$root/$win/tools/lyrlinkctl/lyrlinkctl.exe
sim_bin=$root/$linux/tools/lyrlinksim/lyrlinksim
for p in "$mgr_exe" "$ctl_exe" "$sim_bin"; do
    [ -f "$p" ] || vnet_die "$p is missing (scripts/build-windows.sh; lyrlinksim: scripts/build.sh)"
done
command -v ip >/dev/null 2>&1 || vnet_die "the ip command is missing (package iproute2)"

t0=$EPOCHREALTIME
work=$(mktemp -d /tmp/lyrlink-e2e-windows.XXXXXX)
server_pid="" mgr_pid="" watch_pid="" failed=""

finish()
{
    local rc=$?
    set +e
    # The watcher goes first: its ProcessDisconnect is what ends the manager. Then the Wine
    # server of the namespace's prefix, asked to end its programs, then stopped by its pid.
    [ -n "$watch_pid" ] && vnet_stop_first+=("$watch_pid")
    [ -n "$mgr_pid" ] && vnet_stop_first+=("$mgr_pid")
    if [ -n "$server_pid" ]; then
        for pid in "${vnet_stop_first[@]}"; do vnet_stop "$pid" TERM 30; done
        vnet_stop_first=()
        WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
        vnet_stop "$server_pid" TERM 30
    fi
    vnet_cleanup
    if [ "$rc" -ne 0 ]; then
        echo "e2e-windows: FAILED; the manager's log, the client's and the equipment's output:" >&2
        for f in "$work/manager-log.txt" "$work/watch.txt" "$work/lyrlinksim.txt" "$work/manager-output.txt"; do
            [ -f "$f" ] && { echo "--- $f" >&2; tail -40 "$f" >&2; }
        done
    fi
    rm -rf "$work"
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

fail() { echo "e2e-windows: $*" >&2; failed=1; }

wine_env
wine_prefix_setup
vnet_create "lyrwin$$" 10.51.0.1/24 10.51.0.11/24

# The namespace's Wine: a copy of the prepared prefix, its server in the foreground (so its pid
# is known) inside the manager's namespace.
wine_prefix_copy "$work/prefix"
export WINEPREFIX=$work/prefix
vnet_start "$mgr_ns" wineserver -f -p
server_pid=$vnet_last_pid
log=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/VelmoraLog/LyrLinkSysMgrLog.txt

ctl() { ip netns exec "$mgr_ns" wine "$ctl_exe" "$@"; }

vnet_start "$mgr_ns" wine "$mgr_exe" >"$work/manager-output.txt" 2>&1
mgr_pid=$vnet_last_pid

# Its master pipe answers once start-up is done (the first start in a prefix takes a few seconds).
up=""
for _ in $(seq 60); do
    if ctl --timeout 500 status >/dev/null 2>&1; then up=1; break; fi
    vnet_running "$mgr_pid" || break
    sleep 0.2
done
[ -n "$up" ] || { cp "$log" "$work/manager-log.txt" 2>/dev/null; vnet_die "the manager did not answer on its pipe"; }

# The watcher is the client whose LinkPermit allows the link up.
vnet_start "$mgr_ns" wine "$ctl_exe" watch >"$work/watch.txt" 2>&1
watch_pid=$vnet_last_pid

vnet_start "$eq_ns" "$sim_bin" --no-stdin --duration 120s --device id=1,type=1,ip=10.51.0.11 \
    >"$work/lyrlinksim.txt" 2>&1

# Link-up takes about 4 s after the first ConfigNotify.
for _ in $(seq 150); do
    grep -q "MainComponent::timerFuncIdResponse Link UP STATE_RUN id = " "$log" 2>/dev/null && break
    sleep 0.2
done
# The player is added at its next ConfigNotify (every 2 s).
for _ in $(seq 50); do
    grep -q "MainComponent::readConfigNotify add id = 1 ip = 10.51.0.11" "$log" 2>/dev/null && break
    sleep 0.2
done
tr -d '\r' <"$log" >"$work/manager-log.txt"

for line in "StartLog" "MainComponent::MainComponent OK" "MainComponent::MainComponent OK IPC PIPE Create" \
    "MainComponent::readConfigNotify FIRST RCV CONFIG" "MainComponent::linkUpFunc macaddr = " \
    "MainComponent::linkUpFunc LinkUp ip = 10.51.0.1 netmask = 255.255.255.0 networkaddr = 10.51.0.0 IF = " \
    "MainComponent::timerFuncIdResponse Link UP STATE_RUN id = 17 " \
    "MainComponent::readConfigNotify add id = 1 ip = 10.51.0.11"; do
    grep -qF -- "$line" "$work/manager-log.txt" || fail "the log has no line with: $line"
done
grep -q '^\*\{58\}$' "$work/manager-log.txt" || fail "the log has no banner"

devices=$(ctl devices 2>&1 | tr -d '\r') || fail "lyrlinkctl.exe devices failed: $devices"
echo "$devices" >"$work/devices.txt"
grep -qE '^ *1 .*10\.51\.0\.11' <<<"$devices" || fail "player 1 is not in lyrlinkctl.exe devices: $devices"
status=$(ctl status 2>&1 | tr -d '\r') || fail "lyrlinkctl.exe status failed: $status"
grep -q 'RUN' <<<"$status" || fail "lyrlinkctl.exe status does not show the link running: $status"

# The client's disconnect: Wine turns SIGINT into the console's Ctrl-C event, on which
# lyrlinkctl.exe watch leaves its loop and sends ProcessDisconnect. It was the last client, so the
# manager ends.
[ -z "$failed" ] || exit 1
kill -INT "$watch_pid"
for _ in $(seq 100); do
    vnet_running "$mgr_pid" || break
    sleep 0.1
done
vnet_running "$mgr_pid" && fail "the manager still runs 10 s after its last client disconnected"
tr -d '\r' <"$log" >"$work/manager-log.txt"
grep -qF "MainComponent::messageAnalize LyrLinkSysMgr END" "$work/manager-log.txt" ||
    fail "the log does not end the manager on the client's disconnect"
[ -z "$failed" ] || exit 1
grep -E "Link UP|LinkUp ip|add id = 1 |LyrLinkSysMgr END" "$work/manager-log.txt" | sed 's/^/e2e-windows: log: /'
sed 's/^/e2e-windows: devices: /' "$work/devices.txt" | head -4
echo "e2e-windows: passed in $(awk -v a="$t0" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s" \
    "(link up as id 17, player 1 listed, END on the client's disconnect)"
