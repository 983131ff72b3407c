#!/usr/bin/env bash
# Soak test: runs the manager for a given time against 64 simulated devices that keep changing,
# and checks that its device table follows them and that it does not grow.
#
# Two network namespaces joined by a veth pair, as in the demo: LyrLinkSysMgr in the manager's,
# one lyrlinksim in the equipment's playing 64 devices (plus silent twins on other addresses,
# spare ids and a sender of junk), driven through its standard input. In rounds, the script
# churns (devices leave, disconnect, fall silent and age out, join, rejoin, change address or
# MAC; junk datagrams and junk on TCP; one of two clients disconnects and connects again while a
# third stays; every few rounds a client suspends and resumes the manager), then waits until the
# table must have settled (every silenced device 10 s past its aging, every active one announced)
# and compares the present entries of `lyrlinkctl --json devices` with its own model. At each
# check it samples the manager's resident memory, open descriptors and threads.
#
# Passing: the manager never ends, every check matches, VmRSS at the end is less than 1 MiB
# above that of the check after the first round (the warm-up), and the descriptor and thread
# counts at every later check equal that check's. Prints the verdict and the figures; exits 1 on failure.
#
# Usage: scripts/soak.sh [--duration TIME] [--build DIR] [--keep]
#   TIME: 90s, 2m, 30m, 1h (default 2m); DIR defaults to build/; --keep keeps the work folder
#   (the manager's log, the simulator's and the clients' output) even when passing.
# Needs root (namespaces); re-runs itself through sudo when not root.
set -euo pipefail
cd "$(dirname "$0")/.."
vnet_name=soak
. scripts/vnet.sh

build=build
duration=2m
keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --duration) duration=${2:?--duration needs a time}; shift 2 ;;
        --build) build=${2:?--build needs a folder}; shift 2 ;;
        --keep) keep=1; shift ;;
        -h|--help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; exit 0 ;;
        *) echo "soak: unknown argument $1 (try --help)" >&2; exit 2 ;;
    esac
done
case $duration in
    *h) duration_s=$((${duration%h} * 3600)) ;;
    *m) duration_s=$((${duration%m} * 60)) ;;
    *s) duration_s=${duration%s} ;;
    *) duration_s=$duration ;;
esac
[[ $duration_s =~ ^[0-9]+$ ]] && [ "$duration_s" -ge 30 ] || vnet_die "bad --duration '$duration' (at least 30s; 90s, 2m, 30m, 1h)"
build=$(cd "$build" 2>/dev/null && pwd) || vnet_die "no build folder '$build'; build first with scripts/build.sh"
args=(--duration "$duration" --build "$build")
[ "$keep" = 1 ] && args+=(--keep)
vnet_require_root "$(pwd)/scripts/soak.sh" "${args[@]}"
vnet_find_programs "$build"

# Timing of the manager: a device is removed 10 s after its last ConfigNotify on a wired link,
# and devices announce themselves every 2 s.
settle_silent=13     # seconds after silencing a device before it must be gone
settle_active=4      # seconds after the last event before every active device must be listed

work=$(mktemp -d /tmp/lyrlink-soak.XXXXXX)
home=$work/home
log=$home/.config/VelmoraLog/LyrLinkSysMgrLog.txt
mgr_pid="" stay_pid="" sim_pid=""
churn_pid=("" "")
failed=0
failures=()

fail()
{
    failed=1
    failures+=("$*")
    echo "soak: FAIL: $*" >&2
}

finish()
{
    local rc=$?
    exec 7>&- 2>/dev/null || true
    # The churning clients, then the one that stays: its ProcessDisconnect ends the manager.
    local p
    for p in "${churn_pid[@]}" "$stay_pid" "$mgr_pid"; do
        [ -n "$p" ] && vnet_stop_first+=("$p")
    done
    vnet_cleanup
    vnet_finish_work "$work" "$rc" "$keep"
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP
trap '' PIPE   # a write to a simulator that ended fails (and stops the script) instead of killing it

mgr_ip=10.50.0.1
junk_ip=10.50.0.250
vnet_create "lyrsoak$$" "$mgr_ip/24" "$junk_ip/24"

# --- The devices -------------------------------------------------------------------------------
# A link brought up by a player admits no id 9 to 12; ids 17, 18 and 41 to 44 are the ones a
# computer claims (the manager takes 17), so no simulated device uses them.
usable=()
for i in $(seq 1 80); do
    case $i in 9|10|11|12|17|18|41|42|43|44) ;; *) usable+=("$i") ;; esac
done
types=(1 1 2 3 4 5 6 8)  # never 7: an all-in-one unit would bring a link up that admits no player
dev_id=() dev_ip=() dev_type=() dev_mac=() dev_base_mac=() dev_active=()
add_device()  # id ip type active
{
    local n=${#dev_id[@]} o
    o=${2##*.}
    dev_id+=("$1") dev_ip+=("$2") dev_type+=("$3") dev_active+=("$4")
    dev_mac+=("$(printf '02:00:0a:32:00:%02x' "$o")")
    dev_base_mac+=("${dev_mac[$n]}")
}
for k in $(seq 0 63); do       # 64 devices present from the start, on .11 to .74
    add_device "${usable[$k]}" "10.50.0.$((11 + k))" "${types[$((k % 8))]}" 1
done
for k in $(seq 0 15); do       # twins of the first 16 on other addresses: an address change
    add_device "${usable[$k]}" "10.50.0.$((111 + k))" "${types[$((k % 8))]}" 0
done
for k in $(seq 64 69); do      # ids nobody holds at the start: devices that join later
    add_device "${usable[$k]}" "10.50.0.$((11 + k))" "${types[$((k % 8))]}" 0
done
ndev=${#dev_id[@]}

sim_args=(--device "id=0,type=1,ip=$junk_ip")   # id 0: the manager ignores its ConfigNotify
for ((i = 0; i < ndev; ++i)); do
    ip -n "$eq_ns" addr add "${dev_ip[$i]}/24" dev eq0
    sim_args+=(--device "id=${dev_id[$i]},type=${dev_type[$i]},ip=${dev_ip[$i]}")
    [ "${dev_active[$i]}" = 1 ] || sim_args+=(--at "0:silent:ip=${dev_ip[$i]}")
done

# --- The programs ------------------------------------------------------------------------------
mkdir -p "$home"
vnet_start "$mgr_ns" env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" "$mgr_bin" \
    >"$work/manager-output.txt" 2>&1
mgr_pid=$vnet_last_pid

ctl() { ip netns exec "$mgr_ns" "$ctl_bin" "$@"; }
for _ in $(seq 50); do
    ctl --timeout 200 status >/dev/null 2>&1 && break
    vnet_running "$mgr_pid" || break
    sleep 0.1
done
ctl --timeout 1000 status >/dev/null 2>&1 || { cat "$work/manager-output.txt" "$log" >&2 2>/dev/null; vnet_die "the manager did not start"; }

sample()  # sets rss_kb, fds, threads of the manager
{
    rss_kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$mgr_pid/status")
    threads=$(awk '/^Threads:/ { print $2 }' "/proc/$mgr_pid/status")
    fds=$(ls "/proc/$mgr_pid/fd" | wc -l)
}
sample
start_rss=$rss_kb start_fds=$fds start_threads=$threads

vnet_start "$mgr_ns" "$ctl_bin" watch >"$work/watch-stays.txt" 2>&1
stay_pid=$vnet_last_pid
start_client()  # k: one of the two clients that come and go
{
    vnet_start "$mgr_ns" "$ctl_bin" watch >>"$work/watch-churn-$1.txt" 2>&1
    churn_pid[$1]=$vnet_last_pid
}
start_client 0
start_client 1
sleep 1

fifo=$work/sim-input
mkfifo "$fifo"
# Opened for reading and writing, so that neither end waits for the other to open it.
exec 7<>"$fifo"
# Started here rather than by vnet_start: a background command reads /dev/null unless its own
# redirection says otherwise.
ip netns exec "$eq_ns" setsid "$sim_bin" "${sim_args[@]}" <"$fifo" >"$work/lyrlinksim.txt" 2>&1 &
sim_pid=$!
vnet_pids+=("$sim_pid")
sim() { echo "$*" >&7; }

alive()
{
    local p
    for p in "$mgr_pid" "$stay_pid" "$sim_pid" "${churn_pid[@]}"; do
        vnet_running "$p" || { fail "a program ended early (pid $p; the manager is $mgr_pid)"; exit 1; }
    done
}

# --- The churn ---------------------------------------------------------------------------------
last_silenced=-100   # SECONDS when a device was last silenced (it then ages out)
adds=0 removes=0     # events of the model that add or remove a present device

pick()  # pick STATE: a random device index whose activity is STATE, into picked (-1 when none)
{
    local want=$1 cand=() i
    for ((i = 0; i < ndev; ++i)); do
        [ "${dev_active[$i]}" = "$want" ] && cand+=("$i")
    done
    if [ ${#cand[@]} -eq 0 ]; then picked=-1; else picked=${cand[$((RANDOM % ${#cand[@]}))]}; fi
}
count_active() { local i n=0; for ((i = 0; i < ndev; ++i)); do n=$((n + dev_active[i])); done; echo "$n"; }

# Makes device i active; another device holding the same id falls silent first, so the manager
# sees the id's address and MAC change (it overwrites the entry).
activate()
{
    local i=$1 j
    for ((j = 0; j < ndev; ++j)); do
        if [ "$j" != "$i" ] && [ "${dev_id[$j]}" = "${dev_id[$i]}" ] && [ "${dev_active[$j]}" = 1 ]; then
            sim "silent ip=${dev_ip[$j]}"
            dev_active[$j]=0
            removes=$((removes + 1))
        fi
    done
    if ((RANDOM % 2)); then sim "rediscover ip=${dev_ip[$i]}"; else sim "resume ip=${dev_ip[$i]}"; fi
    dev_active[$i]=1
    adds=$((adds + 1))
}

hexbytes() { head -c "$1" /dev/urandom | od -An -v -tx1 | tr -d ' \n'; }

junk_datagram()
{
    case $((RANDOM % 6)) in
        0) sim "raw ip=$junk_ip hex=$(hexbytes $((1 + RANDOM % 300)))" ;;
        1) sim "config ip=$junk_ip id=$((81 + RANDOM % 175))" ;;           # id out of range
        2) sim "config ip=$junk_ip id=${usable[$((RANDOM % 70))]} type=$((9 + RANDOM % 200))" ;;
        3) sim "config ip=$junk_ip id=${usable[$((RANDOM % 70))]} type=0" ;;
        4) sim "config ip=$junk_ip id=$((9 + RANDOM % 4)) type=1" ;;      # family rule
        5) sim "rediscover ip=$junk_ip" ;;                               # a join with id 0
    esac
}

junk_tcp()
{
    local n=$((1 + RANDOM % 2000))
    head -c "$n" /dev/urandom >"$work/tcp-junk"
    ip netns exec "$eq_ns" timeout 3 bash -c "exec 3<>/dev/tcp/$mgr_ip/50000 && cat '$work/tcp-junk' >&3" \
        2>/dev/null || true
}

client_cycle()  # one of the two coming and going clients disconnects and connects again
{
    local k=$((RANDOM % 2))
    vnet_stop "${churn_pid[$k]}" TERM 30
    start_client "$k"
    # Until its ProcessConnect the manager ignores the equipment (one flag for all clients).
    sleep 1
    client_cycles=$((client_cycles + 1))
}
client_cycles=0

churn_step()
{
    local n r
    n=$(count_active)
    r=$((RANDOM % 100))
    # Keep between 56 and 64 devices present: join more often when few are left.
    if [ "$n" -lt 56 ] && [ "$r" -lt 40 ]; then r=30; fi
    if [ "$n" -ge 64 ] && [ "$r" -ge 30 ] && [ "$r" -lt 45 ]; then r=0; fi
    if [ "$r" -lt 8 ]; then
        pick 1; [ "$picked" -ge 0 ] && { sim "leave ip=${dev_ip[$picked]}"; dev_active[$picked]=0; removes=$((removes + 1)); }
    elif [ "$r" -lt 14 ]; then
        pick 1; [ "$picked" -ge 0 ] && { sim "disconnect ip=${dev_ip[$picked]}"; dev_active[$picked]=0; removes=$((removes + 1)); }
    elif [ "$r" -lt 24 ]; then
        pick 1; [ "$picked" -ge 0 ] && { sim "silent ip=${dev_ip[$picked]}"; dev_active[$picked]=0; removes=$((removes + 1)); last_silenced=$SECONDS; }
    elif [ "$r" -lt 45 ]; then
        pick 0; [ "$picked" -ge 0 ] && activate "$picked"
    elif [ "$r" -lt 53 ]; then
        pick 1; [ "$picked" -ge 0 ] && sim "rediscover ip=${dev_ip[$picked]}"
    elif [ "$r" -lt 63 ]; then
        # A new MAC on the same address, or the address's own back.
        pick 1
        if [ "$picked" -ge 0 ]; then
            if [ "${dev_mac[$picked]}" = "${dev_base_mac[$picked]}" ]; then
                dev_mac[$picked]=$(printf '02:5a:%02x:%02x:%02x:%02x' $((RANDOM % 256)) $((RANDOM % 256)) $((RANDOM % 256)) "$picked")
            else
                dev_mac[$picked]=${dev_base_mac[$picked]}
            fi
            sim "mac ip=${dev_ip[$picked]} mac=${dev_mac[$picked]}"
            removes=$((removes + 1)) adds=$((adds + 1))
        fi
    elif [ "$r" -lt 78 ]; then
        junk_datagram
    elif [ "$r" -lt 86 ]; then
        junk_tcp
    else
        client_cycle
    fi
    return 0
}

# --- The checks --------------------------------------------------------------------------------
checks=0 passed=0
first_rss="" first_fds="" first_threads="" max_rss=0

expected_table()
{
    local i
    for ((i = 0; i < ndev; ++i)); do
        if [ "${dev_active[$i]}" = 1 ]; then
            echo "${dev_id[$i]} ${dev_type[$i]} ${dev_ip[$i]} ${dev_mac[$i]}"
        fi
    done | sort -n
}

# The present entries of the manager's table, "id type ip mac" a line. The JSON is the client
# library's own, one object per entry with its keys in a fixed order.
manager_table()
{
    ctl --json devices | sed 's/},{/}\n{/g' \
        | sed -n 's/.*"id":\([0-9]*\),"state":1,[^}]*"type":\([0-9]*\),"ip":"\([^"]*\)","mac":"\([^"]*\)".*/\1 \2 \3 \4/p' \
        | sort -n
}

check()
{
    alive
    checks=$((checks + 1))
    local state ok=1
    state=$(ctl --json status | sed -n 's/.*"stateName":"\([^"]*\)".*/\1/p')
    [ "$state" = RUN ] || { fail "check $checks: the link is $state, not RUN"; ok=0; }
    expected_table >"$work/expected.txt"
    manager_table >"$work/table.txt" || { fail "check $checks: lyrlinkctl devices failed"; ok=0; }
    if ! diff "$work/expected.txt" "$work/table.txt" >"$work/diff-$checks.txt"; then
        fail "check $checks: the table differs from the model (< model, > manager):"
        cat "$work/diff-$checks.txt" >&2
        ok=0
    fi
    sample
    if [ "$checks" -eq 1 ]; then
        :   # before any churn: the table only
    elif [ -z "$first_rss" ]; then
        first_rss=$rss_kb first_fds=$fds first_threads=$threads
    else
        [ "$fds" = "$first_fds" ] || { fail "check $checks: $fds descriptors open, $first_fds at the first check"; ok=0; }
        [ "$threads" = "$first_threads" ] || { fail "check $checks: $threads threads, $first_threads at the first check"; ok=0; }
    fi
    if [ "$rss_kb" -gt "$max_rss" ]; then max_rss=$rss_kb; fi
    passed=$((passed + ok))
    printf 'soak: [%5d s] check %d %s: %d devices, VmRSS %d kB, %d descriptors, %d threads\n' \
        "$SECONDS" "$checks" "$([ "$ok" = 1 ] && echo passed || echo FAILED)" "$(wc -l <"$work/table.txt")" \
        "$rss_kb" "$fds" "$threads"
}

# Waits until every device silenced has aged out and every active one has announced itself.
settle()
{
    local until=$((SECONDS + settle_active))
    [ $((last_silenced + settle_silent)) -gt "$until" ] && until=$((last_silenced + settle_silent))
    while [ "$SECONDS" -lt "$until" ]; do
        alive
        sleep 0.5
    done
}

suspend_resume()
{
    ctl suspend >/dev/null || fail "lyrlinkctl suspend failed"
    sleep 3
    ctl resume >/dev/null || fail "lyrlinkctl resume failed"
    # The link comes up again with the next ConfigNotify of a player (about 4 s); the devices
    # appear with their next ones.
    local t
    for t in $(seq 40); do
        [ "$(ctl --json status | sed -n 's/.*"stateName":"\([^"]*\)".*/\1/p')" = RUN ] && break
        sleep 0.5
    done
    suspends=$((suspends + 1))
}
suspends=0

echo "soak: LyrLinkSysMgr (pid $mgr_pid) in $mgr_ns, lyrlinksim with $ndev devices (64 present) in $eq_ns;"
echo "soak: churning for $duration_s s; work folder $work"
end=$((SECONDS + duration_s))
# The link comes up on the first player's ConfigNotify and reaches RUN about 4 s later.
sleep 8
settle
check
round=0
while [ "$SECONDS" -lt $((end - 20)) ]; do
    round=$((round + 1))
    for _ in $(seq 25); do
        churn_step
        sleep "0.$((2 + RANDOM % 5))"
    done
    if [ $((round % 4)) = 2 ]; then
        settle
        suspend_resume
    fi
    settle
    check
done

sample
end_rss=$rss_kb end_fds=$fds end_threads=$threads
alive
added=$(grep -c 'DeviceChanged.*: present' "$work/watch-stays.txt" || true)
removed=$(grep -c 'DeviceChanged.*: removed' "$work/watch-stays.txt" || true)
growth=$((end_rss - first_rss))
[ "$growth" -lt 1024 ] || fail "VmRSS grew by $growth kB after the warm-up (limit 1024 kB)"
[ "$end_fds" = "$first_fds" ] || fail "descriptors: $end_fds at the end, $first_fds after the warm-up"
[ "$end_threads" = "$first_threads" ] || fail "threads: $end_threads at the end, $first_threads after the warm-up"
[ "$passed" = "$checks" ] || failed=1

echo
echo "soak: ran $SECONDS s, $round rounds of churn"
echo "soak: table checks passed: $passed of $checks"
echo "soak: devices added / removed (DeviceChanged seen by the client that stays): $added / $removed"
echo "soak: churn events that add / remove a device in the model: $adds / $removes; client reconnections: $client_cycles; suspend-resume: $suspends"
echo "soak: VmRSS kB: start $start_rss, after warm-up $first_rss, highest $max_rss, end $end_rss (growth after warm-up $growth)"
echo "soak: descriptors: start $start_fds, after warm-up $first_fds, end $end_fds"
echo "soak: threads: start $start_threads, after warm-up $first_threads, end $end_threads"
if [ "$failed" = 0 ]; then
    echo "soak: PASSED"
else
    echo "soak: FAILED:"
    printf 'soak:   %s\n' "${failures[@]}"
    exit 1
fi
