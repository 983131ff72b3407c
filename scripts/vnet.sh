# Sourced by demo.sh and wire-timing.sh: two network namespaces joined by a veth pair, programs
# started inside them, and the removal of all of it when the script ends, however it ends.
#
# The caller sets `vnet_name` (the prefix of its messages) before sourcing. Everything made here
# is recorded (namespaces by name, processes by pid) and removed by vnet_cleanup, which the
# caller's EXIT trap runs; nothing is removed by a name pattern.

vnet_namespaces=()
vnet_pids=()
vnet_stop_first=()   # pids stopped (and waited for) before the others, in this order

vnet_say() { echo "$vnet_name: $*"; }
vnet_die() { echo "$vnet_name: $*" >&2; exit 1; }

# Re-runs the calling script through sudo when not root; stops with a clear message when that
# cannot be done. Call as: vnet_require_root "$0" "$@"
vnet_require_root()
{
    local script=$1
    shift
    [ "$(id -u)" -eq 0 ] && return 0
    if command -v sudo >/dev/null 2>&1; then
        echo "$vnet_name: network namespaces need root; running through sudo" >&2
        exec sudo -- "$script" "$@"
    fi
    echo "$vnet_name: this needs root to create network namespaces, and sudo is not installed." >&2
    echo "$vnet_name: run it as root (for example: su -c '$script')." >&2
    exit 1
}

# Finds the manager and the tools in build folder $1 and sets mgr_bin, ctl_bin and sim_bin.
vnet_find_programs()
{
    local dir=$1
    mgr_bin=$dir/LyrLinkSysMgr
    ctl_bin=$dir/tools/lyrlinkctl/lyrlinkctl
    sim_bin=$dir/tools/lyrlinksim/lyrlinksim
    local p
    for p in "$mgr_bin" "$ctl_bin" "$sim_bin"; do
        [ -x "$p" ] || vnet_die "$p is missing; build first with scripts/build.sh (or use scripts/run.sh)"
    done
    command -v ip >/dev/null 2>&1 || vnet_die "the ip command is missing (Debian package iproute2; scripts/install-deps.sh installs it)"
}

# Creates namespaces "$1-mgr" and "$1-eq" joined by a veth pair: address $2 (CIDR) on "mgr0" in
# the manager's, address $3 on "eq0" in the equipment's, loopback up in both. Sets mgr_ns, eq_ns.
vnet_create()
{
    mgr_ns=$1-mgr
    eq_ns=$1-eq
    ip netns add "$mgr_ns" || vnet_die "cannot create network namespace $mgr_ns (is this a container without CAP_SYS_ADMIN?)"
    vnet_namespaces+=("$mgr_ns")
    ip netns add "$eq_ns" || vnet_die "cannot create network namespace $eq_ns"
    vnet_namespaces+=("$eq_ns")
    # Made inside the namespaces, so the interface names cannot collide with the host's.
    ip link add mgr0 netns "$mgr_ns" type veth peer name eq0 netns "$eq_ns" || vnet_die "cannot create the veth pair"
    ip -n "$mgr_ns" link set lo up
    ip -n "$eq_ns" link set lo up
    ip -n "$mgr_ns" addr add "$2" dev mgr0
    ip -n "$eq_ns" addr add "$3" dev eq0
    ip -n "$mgr_ns" link set mgr0 up
    ip -n "$eq_ns" link set eq0 up
}

# Starts a program in namespace $1 in the background, in a session of its own so that a Ctrl-C
# on the terminal reaches only this script, which then stops everything in order. Sets
# vnet_last_pid; the caller redirects output. `ip netns exec` and `setsid` both exec, so the
# pid is the program's own.
vnet_start()
{
    local ns=$1
    shift
    ip netns exec "$ns" setsid "$@" &
    vnet_last_pid=$!
    vnet_pids+=("$vnet_last_pid")
}

# True while process $1 (a child of this script) runs.
vnet_running() { kill -0 "$1" 2>/dev/null; }

# Sends signal $2 to process $1 and waits up to $3 tenths of a second for it to end; kills it
# when it does not. Reaps it either way.
vnet_stop()
{
    local pid=$1 sig=$2 tenths=$3
    if vnet_running "$pid"; then
        kill "-$sig" "$pid" 2>/dev/null
        while [ "$tenths" -gt 0 ] && vnet_running "$pid"; do
            sleep 0.1
            tenths=$((tenths - 1))
        done
        vnet_running "$pid" && kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    # Reaped: forget it, so that no later signal can reach a process that reuses the pid.
    local kept=() p
    for p in "${vnet_pids[@]}"; do
        [ "$p" = "$pid" ] || kept+=("$p")
    done
    vnet_pids=("${kept[@]}")
    return 0
}

# Stops the processes (those in vnet_stop_first first, in order) and deletes the namespaces.
vnet_cleanup()
{
    set +e
    trap '' INT TERM HUP
    local pid ns
    for pid in "${vnet_stop_first[@]}"; do
        case " ${vnet_pids[*]} " in *" $pid "*) vnet_stop "$pid" TERM 30 ;; esac
    done
    for pid in "${vnet_pids[@]}"; do
        vnet_stop "$pid" TERM 30
    done
    for ns in "${vnet_namespaces[@]}"; do
        ip netns del "$ns" 2>/dev/null || echo "$vnet_name: could not delete network namespace $ns" >&2
    done
    vnet_pids=()
    vnet_namespaces=()
}

# Hands the work folder WORK to whoever ran the script through sudo, then removes it when the run
# ended with status 0 and KEEP is 0, and otherwise says where it stays.
# Usage: vnet_finish_work WORK RC KEEP
vnet_finish_work()
{
    [ -n "${SUDO_UID:-}" ] && chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$1" 2>/dev/null
    if [ "$2" -eq 0 ] && [ "$3" = 0 ]; then
        rm -rf "$1"
    else
        vnet_say "the manager's log and the programs' output stay in $1"
    fi
}
