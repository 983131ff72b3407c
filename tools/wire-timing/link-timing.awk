# Reads `tcpdump -n -tt -x` output of the link traffic seen on the equipment side (UDP port 50000)
# and prints when the manager at address `mgr` sent the frames of its link-up, against the
# protocol's ideal: DiscoveryRequests at 0, 100 and 200 ms, the first IdUseRequest at 300 ms, one
# IdUseRequest per 100 ms tick, the first ConfigNotify of STATE_RUN at 3900 ms (wired link) and
# a ConfigNotify every 2000 ms after it. Times are kernel receive stamps on the equipment's
# interface, in ms from the manager's first DiscoveryRequest.
#
#   tcpdump -r link.pcap -n -tt -x | awk -v mgr=10.50.0.1 -f link-timing.awk

BEGIN {
    magic = "5173707431576d4a4f4c"   # "Qspt1WmJOL"
    nd = ni = nc = 0
    trigger = -1
}

function hexval(s,    i, v) {
    v = 0
    s = tolower(s)
    for (i = 1; i <= length(s); i++)
        v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v
}

# Classifies the packet collected so far: IPv4 header of IHL words, 8 bytes of UDP, then the frame.
function flush(    off, ftype, fsub, t) {
    if (stamp == "")
        return
    off = (hexval(substr(hex, 2, 1)) * 4 + 8) * 2
    if (length(hex) >= off + 24 && substr(hex, off + 1, 20) == magic) {
        ftype = hexval(substr(hex, off + 21, 2))
        fsub = hexval(substr(hex, off + 23, 2))
        t = stamp * 1000.0
        if (src == mgr) {
            if (ftype == 0) disc[nd++] = t
            else if (ftype == 2 && fsub == 0) idreq[ni++] = t
            else if (ftype == 6 && fsub == 0) conf[nc++] = t
        }
        else if (ftype == 6 && fsub == 0 && nd == 0)
            trigger = t   # the last equipment ConfigNotify before link-up is the one that started it
    }
    stamp = ""
    hex = ""
}

/^[0-9]+\.[0-9]+ IP / {
    flush()
    stamp = $1
    src = $3
    sub(/\.[0-9]+$/, "", src)
    next
}

/^[ \t]+0x[0-9a-f]+:/ {
    line = $0
    sub(/^[ \t]+0x[0-9a-f]+:[ \t]+/, "", line)
    gsub(/[ \t]/, "", line)
    hex = hex line
    next
}

function row(what, measured, ideal) {
    printf "%-50s %9.1f %9.1f %+9.1f\n", what, measured, ideal, measured - ideal
}

END {
    flush()
    if (nd < 3 || ni < 1 || nc < 2) {
        printf "link-timing: the capture holds %d DiscoveryRequests, %d IdUseRequests and %d ConfigNotify frames from %s; not a whole link-up\n", nd, ni, nc, mgr > "/dev/stderr"
        exit 1
    }
    t0 = disc[0]
    printf "%-50s %9s %9s %9s\n", "frame from the manager (ms)", "measured", "ideal", "diff"
    if (trigger >= 0)
        row("DiscoveryRequest 1 after the player's ConfigNotify", t0 - trigger, 0)
    row("DiscoveryRequest 1 (t = 0)", 0, 0)
    row("DiscoveryRequest 2", disc[1] - t0, 100)
    row("DiscoveryRequest 3", disc[2] - t0, 200)
    row("first IdUseRequest", idreq[0] - t0, 300)
    if (ni > 1)
        row(sprintf("IdUseRequest period (mean of %d)", ni - 1), (idreq[ni - 1] - idreq[0]) / (ni - 1), 100)
    row("first ConfigNotify of STATE_RUN", conf[0] - t0, 3900)
    lo = hi = conf[1] - conf[0]
    for (i = 2; i < nc; i++) {
        d = conf[i] - conf[i - 1]
        if (d < lo) lo = d
        if (d > hi) hi = d
    }
    row(sprintf("keep-alive period (mean of %d)", nc - 1), (conf[nc - 1] - conf[0]) / (nc - 1), 2000)
    row("keep-alive period, shortest", lo, 2000)
    row("keep-alive period, longest", hi, 2000)
    row(sprintf("ConfigNotify %d of STATE_RUN", nc), conf[nc - 1] - t0, 3900 + 2000 * (nc - 1))
    if (ni != 36)
        printf "note: %d IdUseRequests instead of 36 (ids found in use are not requested again)\n", ni
}
