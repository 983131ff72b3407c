#!/usr/bin/env bash
# Flood: refresh frames from a few devices at a high rate, unicast to the manager over a veth
# pair, and what its socket lost.
#
# Two network namespaces joined by a veth pair, as in the demo: LyrLinkSysMgr in the manager's
# with `lyrlinkctl watch` as its client, and in the equipment's first lyrlinksim, which brings
# the link up with the devices, then lyrlinkflood, which sends those devices' ConfigNotify to the
# manager's address at the given rate, round-robin from each device's address (every frame is a
# refresh of a present entry). The simulator is stopped once the devices are listed: the flood
# itself keeps them present.
#
# Per run it prints the frames sent (lyrlinkflood's count), received (datagrams read from UDP
# sockets in the manager's namespace: the kernel's Udp InDatagrams, counted when a program reads
# one; the manager's socket is the only UDP socket read there, and its own keep-alive broadcasts
# come back to it too, so a run may read a few more than were sent) and dropped: the socket's
# drop counter (the drops column of /proc/net/udp for port 50000, which counts datagrams that found
# its receive queue full), the UDP receive errors of the namespace and the veth's receive drops.
# After each run it waits for the socket's queue to drain before reading the counters.
#
# With --sink a do-nothing reader of port 50000 (lyrlinkflood --sink) stands in for the manager:
# the same figures for a program that only reads, to compare with; --sink-rcvbuf gives that reader
# a receive buffer of that size (SO_RCVBUF).
#
# Passing: no frame dropped in any run, and the manager still running with every device listed.
# Exits 1 otherwise. Needs root (namespaces); re-runs itself through sudo when not root.
#
# Usage: scripts/flood.sh [--runs N] [--rate FRAMES_PER_S] [--seconds S] [--devices N]
#                         [--build DIR] [--sink | --sink-rcvbuf BYTES] [--keep]
#   defaults: 5 runs of 3 s at 100000 frames per second from 4 devices; DIR defaults to build/;
#   --keep keeps the work folder (the manager's log, the programs' output) even when passing.
set -euo pipefail
cd "$(dirname "$0")/.."
vnet_name=flood
. scripts/vnet.sh

build=build
runs=5
rate=100000
seconds=3
ndev=4
sink=0
sink_rcvbuf=
keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --rate) rate=${2:?--rate needs a number}; shift 2 ;;
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        --devices) ndev=${2:?--devices needs a number}; shift 2 ;;
        --build) build=${2:?--build needs a folder}; shift 2 ;;
        --sink) sink=1; shift ;;
        --sink-rcvbuf) sink=1; sink_rcvbuf=${2:?--sink-rcvbuf needs a size}; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "flood: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
for v in "$runs" "$rate" "$seconds" "$ndev"; do
    [[ $v =~ ^[0-9]+$ ]] && [ "$v" -ge 1 ] || vnet_die "bad number '$v' (try --help)"
done
[ "$ndev" -le 8 ] || vnet_die "at most 8 devices (ids 1 to 4 and 13 to 16)"
build=$(cd "$build" 2>/dev/null && pwd) || vnet_die "no build folder '$build'; build first with scripts/build.sh"
args=(--runs "$runs" --rate "$rate" --seconds "$seconds" --devices "$ndev" --build "$build")
[ "$sink" = 1 ] && args+=(--sink)
[ -n "$sink_rcvbuf" ] && args+=(--sink-rcvbuf "$sink_rcvbuf")
[ "$keep" = 1 ] && args+=(--keep)
vnet_require_root "$(pwd)/scripts/flood.sh" "${args[@]}"
vnet_find_programs "$build"
flood_bin=$build/tools/lyrlinkflood/lyrlinkflood
[ -x "$flood_bin" ] || vnet_die "$flood_bin is missing; build first with scripts/build.sh"

work=$(mktemp -d /tmp/lyrlink-flood.XXXXXX)
home=$work/home
log=$home/.config/VelmoraLog/LyrLinkSysMgrLog.txt
mgr_pid="" watch_pid=""
failed=0

finish()
{
    local rc=$?
    # The client first: its ProcessDisconnect ends the manager in order.
    [ -n "$watch_pid" ] && vnet_stop_first+=("$watch_pid")
    [ -n "$mgr_pid" ] && vnet_stop_first+=("$mgr_pid")
    vnet_cleanup
    vnet_finish_work "$work" "$rc" "$keep"
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mgr_ip=10.50.0.1
vnet_create "lyrflood$$" "$mgr_ip/24" "10.50.0.2/24"

# Players 1 to 4, then ids 13 to 16 (type 1 too; a link brought up by players admits them).
ids=(1 2 3 4 13 14 15 16)
devices=()
for ((i = 0; i < ndev; ++i)); do
    ip -n "$eq_ns" addr add "10.50.0.$((11 + i))/24" dev eq0
    devices+=(--device "id=${ids[$i]},type=1,ip=10.50.0.$((11 + i))")
done

in_mgr() { ip netns exec "$mgr_ns" "$@"; }
ctl() { in_mgr "$ctl_bin" "$@"; }

# --- The receiver --------------------------------------------------------------------------------
mkdir -p "$home"
if [ "$sink" = 1 ]; then
    sink_args=(--sink --duration 3600s)
    [ -n "$sink_rcvbuf" ] && sink_args+=(--rcvbuf "$sink_rcvbuf")
    vnet_start "$mgr_ns" "$flood_bin" "${sink_args[@]}" >"$work/sink-output.txt" 2>&1
    mgr_pid=$vnet_last_pid
    for _ in $(seq 50); do
        grep -q listening "$work/sink-output.txt" 2>/dev/null && break
        sleep 0.1
    done
    grep -q listening "$work/sink-output.txt" || vnet_die "the sink did not start: $(cat "$work/sink-output.txt")"
    receiver="do-nothing reader (lyrlinkflood ${sink_args[*]})"
else
    vnet_start "$mgr_ns" env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" "$mgr_bin" \
        >"$work/manager-output.txt" 2>&1
    mgr_pid=$vnet_last_pid
    for _ in $(seq 50); do
        ctl --timeout 200 status >/dev/null 2>&1 && break
        vnet_running "$mgr_pid" || break
        sleep 0.1
    done
    ctl --timeout 1000 status >/dev/null 2>&1 || vnet_die "the manager did not start"
    vnet_start "$mgr_ns" "$ctl_bin" watch >"$work/watch.txt" 2>&1
    watch_pid=$vnet_last_pid

    # The simulator brings the link up and the devices into the table; then it goes.
    vnet_start "$eq_ns" "$sim_bin" --no-stdin "${devices[@]}" >"$work/lyrlinksim.txt" 2>&1
    sim_pid=$vnet_last_pid
    want="\"stateName\":\"RUN\""
    for _ in $(seq 150); do
        status=$(ctl --json --timeout 500 status 2>/dev/null || true)
        case $status in *$want*"\"devcount\":$((ndev + 1)),"*) break ;; esac
        sleep 0.1
    done
    case $status in
        *$want*"\"devcount\":$((ndev + 1)),"*) ;;
        *) vnet_die "the link did not come up with $ndev devices: $status" ;;
    esac
    vnet_stop "$sim_pid" TERM 30
    receiver="LyrLinkSysMgr, link up as id 17 with $ndev devices"
fi

# --- The counters --------------------------------------------------------------------------------
# The drops and the receive queue of the UDP socket on port 50000 (C350), from /proc/net/udp.
socket_field()  # column: 13 drops; 5 tx_queue:rx_queue
{
    in_mgr awk -v col="$1" '$2 ~ /:C350$/ { print $col; exit }' /proc/net/udp
}
udp_counter()  # name: a field of the Udp line of /proc/net/snmp
{
    in_mgr awk -v name="$1" '$1 == "Udp:" && ! header { for (i = 2; i <= NF; ++i) col[$i] = i; header = 1; next }
                              $1 == "Udp:" { print $col[name]; exit }' /proc/net/snmp
}
veth_drops() { in_mgr cat /sys/class/net/mgr0/statistics/rx_dropped; }
rx_queue() { local q; q=$(socket_field 5); echo $((16#${q#*:})); }

sample()  # prefix: sets <prefix>_drops, _in, _errors, _veth
{
    printf -v "$1_drops" %s "$(socket_field 13)"
    printf -v "$1_in" %s "$(udp_counter InDatagrams)"
    printf -v "$1_errors" %s "$(udp_counter InErrors)"
    printf -v "$1_veth" %s "$(veth_drops)"
}

# --- The runs ------------------------------------------------------------------------------------
echo "flood: $runs runs of ${seconds} s at $rate frames per second from $ndev devices to $mgr_ip:50000;" \
     "receiver: $receiver; $(nproc) CPUs, Linux $(uname -r)"
total_sent=0 total_received=0 total_dropped=0
for run in $(seq "$runs"); do
    sample before
    out=$(ip netns exec "$eq_ns" "$flood_bin" --to "$mgr_ip" "${devices[@]}" --rate "$rate" --duration "${seconds}s" 2>&1) \
        || { echo "$out" >&2; vnet_die "lyrlinkflood failed"; }
    sent=$(awk '/^sent/ { print $2 }' <<<"$out")
    # The frames still queued are read before the counters are.
    for _ in $(seq 50); do
        [ "$(rx_queue)" -eq 0 ] && break
        sleep 0.1
    done
    sample after
    sock=$((after_drops - before_drops))
    errors=$((after_errors - before_errors))
    veth=$((after_veth - before_veth))
    dropped=$((sock + veth))
    received=$((after_in - before_in))
    total_sent=$((total_sent + sent)) total_received=$((total_received + received)) total_dropped=$((total_dropped + dropped))
    echo "flood: run $run: sent $sent, received $received, dropped $dropped" \
         "(socket $sock, veth $veth; UDP InErrors $errors); $(sed -n 's/.* in \([0-9.]* s\) (\([0-9]*\) per second).*/\1, \2 per second/p' <<<"$out")"
    [ "$dropped" -eq 0 ] || failed=1
done

if [ "$sink" = 0 ]; then
    vnet_running "$mgr_pid" || { failed=1; echo "flood: FAIL: the manager ended" >&2; }
    status=$(ctl --json --timeout 2000 status 2>/dev/null || true)
    case $status in
        *"\"devcount\":$((ndev + 1)),"*) ;;
        *) failed=1; echo "flood: FAIL: the devices are no longer all listed: $status" >&2 ;;
    esac
fi
echo "flood: total: sent $total_sent, received $total_received, dropped $total_dropped"
if [ "$failed" = 0 ]; then
    echo "flood: PASS"
else
    echo "flood: FAIL"
    exit 1
fi
