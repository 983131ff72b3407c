#!/usr/bin/env bash
# Measures the manager's link-up timing on the wire. In two network namespaces joined by a veth
# pair it runs LyrLinkSysMgr with a watching client and one simulated player, captures the link
# traffic with tcpdump on the equipment's side of the veth (kernel time stamps), and compares
# when the manager's frames arrived with the protocol's ideal: DiscoveryRequests 100 ms apart,
# the first IdUseRequest at 300 ms, the first ConfigNotify of STATE_RUN at 3900 ms on a wired
# link, and the 2000 ms keep-alive.
#
# Usage: scripts/wire-timing.sh [--build DIR] [--keepalives N] [--save FILE]
#        scripts/wire-timing.sh --read FILE      (analyse a capture saved earlier; no root needed)
#   --keepalives N  how many keep-alive periods to capture after STATE_RUN (default 10)
#   --save FILE     keep the capture (pcap) in FILE
set -euo pipefail
cd "$(dirname "$0")/.."
vnet_name=wire-timing
. scripts/vnet.sh

build=build keepalives=10 save="" read=""
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=${2:?--build needs a folder}; shift 2 ;;
        --keepalives) keepalives=${2:?--keepalives needs a number}; shift 2 ;;
        --save) save=${2:?--save needs a file}; shift 2 ;;
        --read) read=${2:?--read needs a file}; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "wire-timing: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
[[ $keepalives =~ ^[1-9][0-9]*$ ]] || vnet_die "--keepalives takes a positive number"
command -v tcpdump >/dev/null 2>&1 || vnet_die "tcpdump is missing (Debian package tcpdump; scripts/install-deps.sh installs it)"

mgr_ip=10.50.0.1
awk_prog=$(pwd)/tools/wire-timing/link-timing.awk
analyse() { tcpdump -r "$1" -n -tt -x 2>/dev/null | awk -v mgr="$mgr_ip" -f "$awk_prog"; }

if [ -n "$read" ]; then
    analyse "$read"
    exit
fi

build=$(cd "$build" 2>/dev/null && pwd) || vnet_die "no build folder '$build'; build first with scripts/build.sh"
[ -z "$save" ] || save=$(cd "$(dirname "$save")" && pwd)/$(basename "$save")
args=(--build "$build" --keepalives "$keepalives")
[ -z "$save" ] || args+=(--save "$save")
vnet_require_root "$(pwd)/scripts/wire-timing.sh" "${args[@]}"
vnet_find_programs "$build"

work=$(mktemp -d /tmp/lyrlink-wire.XXXXXX)
mgr_pid="" watch_pid=""
finish()
{
    local rc=$?
    [ -n "$watch_pid" ] && vnet_stop_first+=("$watch_pid")
    [ -n "$mgr_pid" ] && vnet_stop_first+=("$mgr_pid")
    vnet_cleanup
    rm -rf "$work"
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

vnet_create "lyrwt$$" "$mgr_ip/24" 10.50.0.11/24

# The capture starts first and is written packet by packet, so stopping it loses nothing.
vnet_start "$eq_ns" tcpdump -i eq0 -n -U -w "$work/link.pcap" udp port 50000 2>"$work/tcpdump.txt"
cap_pid=$vnet_last_pid
for _ in $(seq 50); do
    grep -q "listening on" "$work/tcpdump.txt" 2>/dev/null && break
    sleep 0.1
done
grep -q "listening on" "$work/tcpdump.txt" || { cat "$work/tcpdump.txt" >&2; vnet_die "tcpdump did not start"; }

vnet_start "$mgr_ns" env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$work/home" "$mgr_bin" \
    >"$work/manager-output.txt" 2>&1
mgr_pid=$vnet_last_pid
for _ in $(seq 50); do
    ip netns exec "$mgr_ns" "$ctl_bin" --timeout 200 status >/dev/null 2>&1 && break
    vnet_running "$mgr_pid" || vnet_die "the manager ended at start-up"
    sleep 0.1
done
vnet_start "$mgr_ns" "$ctl_bin" watch >"$work/watch.txt" 2>&1
watch_pid=$vnet_last_pid
sleep 1

# One wired player brings the link up; nothing else answers, so all six ids are requested.
vnet_start "$eq_ns" "$sim_bin" --no-stdin --device id=1,type=1,ip=10.50.0.11 >"$work/lyrlinksim.txt" 2>&1
sim_pid=$vnet_last_pid

# Runs until the manager has sent the ConfigNotify that ends the last keep-alive period.
want=$((keepalives + 1))
limit=$((SECONDS + 10 + 2 * want))
echo "wire-timing: capturing the link-up and $keepalives keep-alive periods (about $((5 + 2 * keepalives)) s)"
while [ "$(grep -c "rx $mgr_ip > .* ConfigNotify" "$work/lyrlinksim.txt" || true)" -lt "$want" ]; do
    [ "$SECONDS" -lt "$limit" ] || vnet_die "the link did not come up in time; see the manager's log: $(cat "$work/home/.config/VelmoraLog/LyrLinkSysMgrLog.txt" 2>/dev/null | tail -5)"
    for p in "$mgr_pid" "$watch_pid" "$sim_pid" "$cap_pid"; do
        vnet_running "$p" || vnet_die "a program ended early (pid $p)"
    done
    sleep 0.2
done
sleep 0.2

# The watcher leaves first (the manager then ends, as after any last client), then the capture.
vnet_stop "$watch_pid" TERM 30
vnet_stop "$mgr_pid" TERM 30
vnet_stop "$sim_pid" TERM 30
vnet_stop "$cap_pid" TERM 30

echo "wire-timing: kernel time stamps on the equipment side of the veth; $(uname -sr), $(nproc) CPUs"
analyse "$work/link.pcap"
[ -z "$save" ] || { cp "$work/link.pcap" "$save"; [ -z "${SUDO_UID:-}" ] || chown "$SUDO_UID" "$save"; echo "wire-timing: capture saved in $save"; }
