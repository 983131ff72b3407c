#!/usr/bin/env bash
# Shows the manager at work on a virtual network, without any equipment: two network namespaces
# (the manager's and the equipment's) joined by a veth pair, LyrLinkSysMgr in the first,
# lyrlinksim playing three players and another computer in the second, and `lyrlinkctl watch`
# printing the manager's notifications in the foreground. The link comes up (DISCOVERY, then RUN
# as id 17), the devices appear, one player leaves and another goes silent and ages out. Ends by
# itself after about a minute, or on Ctrl-C, and removes the namespaces and processes it made.
#
# Usage: scripts/demo.sh [--build DIR]     (DIR defaults to build/; needs root, uses sudo)
set -euo pipefail
cd "$(dirname "$0")/.."
vnet_name=demo
. scripts/vnet.sh

build=build
while [ $# -gt 0 ]; do
    case $1 in
        --build) build=${2:?--build needs a folder}; shift 2 ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "demo: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
build=$(cd "$build" 2>/dev/null && pwd) || vnet_die "no build folder '$build'; build first with scripts/build.sh"
vnet_require_root "$(pwd)/scripts/demo.sh" --build "$build"
vnet_find_programs "$build"

# The timeline, in seconds after the equipment starts.
leave_at=20      # player 2 sends LeaveNotify
silent_at=30     # player 3 stops sending; the manager removes it 10 s after its last ConfigNotify
end_at=55        # summary, then everything is removed

work=$(mktemp -d /tmp/lyrlink-demo.XXXXXX)
home=$work/home
log=$home/.config/VelmoraLog/LyrLinkSysMgrLog.txt
mgr_pid="" watch_pid=""

finish()
{
    local rc=$?
    # The watcher goes first: its ProcessDisconnect is what ends the manager, as with any last
    # client; the manager is then given time to write its END line before anything is killed.
    [ -n "$watch_pid" ] && vnet_stop_first+=("$watch_pid")
    [ -n "$mgr_pid" ] && vnet_stop_first+=("$mgr_pid")
    vnet_cleanup
    # Keep the log for reading afterwards, owned by whoever asked for the demo.
    [ -n "${SUDO_UID:-}" ] && chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$work" 2>/dev/null
    echo
    echo "demo: removed the namespaces and stopped every process of the demo."
    echo "demo: the manager's log and the equipment's view stay in $work (rm -r it when done)."
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mgr_ip=10.50.0.1
vnet_create "lyrdemo$$" "$mgr_ip/24" 10.50.0.11/24
for a in 12 13 18; do
    ip -n "$eq_ns" addr add "10.50.0.$a/24" dev eq0
done

# The manager: HOME points at a folder of the demo so the log lands there; no display, so no
# window is shown; XDG_CONFIG_HOME would move the log.
mkdir -p "$home"
vnet_start "$mgr_ns" env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" "$mgr_bin" \
    >"$work/manager-output.txt" 2>&1
mgr_pid=$vnet_last_pid

# Its master pipe answers once start-up is done.
for _ in $(seq 50); do
    ip netns exec "$mgr_ns" "$ctl_bin" --timeout 200 status >/dev/null 2>&1 && break
    vnet_running "$mgr_pid" || break
    sleep 0.1
done
if ! ip netns exec "$mgr_ns" "$ctl_bin" --timeout 1000 status >/dev/null 2>&1; then
    echo "demo: the manager did not start; its output and log follow" >&2
    cat "$work/manager-output.txt" "$log" >&2 2>/dev/null
    exit 1
fi

cat <<EOF
demo: LyrLinkSysMgr (pid $mgr_pid) runs in network namespace $mgr_ns on $mgr_ip/24;
demo: its log is $log
demo: the equipment runs in namespace $eq_ns: players with ids 1, 2 and 3 (10.50.0.11 to .13)
demo: and another computer with id 18 (10.50.0.18). What the equipment receives from the
demo: manager is written to $work/lyrlinksim.txt
demo: watch the link come up (DISCOVERY, then RUN as id 17 about 4 s later) and the devices
demo: appear; player 2 leaves at ${leave_at} s, player 3 goes silent at ${silent_at} s and ages out 10 s
demo: later. The demo ends at ${end_at} s; Ctrl-C ends it earlier.

EOF

# The watcher is the manager's client: its LinkPermit is what allows the link to come up.
vnet_start "$mgr_ns" "$ctl_bin" watch
watch_pid=$vnet_last_pid
sleep 1

# Players and a computer only: a link brought up by players admits no all-in-one unit (ids 9
# to 12), so one here would only show as refused in the log.
vnet_start "$eq_ns" "$sim_bin" --no-stdin --duration "$((end_at + 30))s" \
    --device id=1,type=1,ip=10.50.0.11 \
    --device id=2,type=1,ip=10.50.0.12 \
    --device id=3,type=1,ip=10.50.0.13 \
    --device id=18,type=4,model=SIM-COMPUTER,ip=10.50.0.18 \
    --at "${leave_at}s:leave:id=2" --at "${silent_at}s:silent:id=3" \
    >"$work/lyrlinksim.txt" 2>&1
sim_pid=$vnet_last_pid
start=$SECONDS

# Narrates the timeline at its moments; stops early when a program of the demo ends.
until_second()
{
    while [ $((SECONDS - start)) -lt "$1" ]; do
        sleep 0.2
        local p
        for p in "$mgr_pid" "$watch_pid" "$sim_pid"; do
            if ! vnet_running "$p"; then
                echo "demo: a program of the demo ended early (pid $p); see $work" >&2
                exit 1
            fi
        done
    done
}
until_second "$leave_at"
echo "demo: [${leave_at} s] player 2 leaves the network (LeaveNotify)"
until_second "$silent_at"
echo "demo: [${silent_at} s] player 3 goes silent; the manager removes it 10 s after its last ConfigNotify"
until_second "$end_at"

echo
echo "demo: [${end_at} s] the end. lyrlinkctl status:"
ip netns exec "$mgr_ns" "$ctl_bin" status || true
echo
echo "demo: lyrlinkctl devices:"
ip netns exec "$mgr_ns" "$ctl_bin" devices || true
