#!/usr/bin/env python3
"""Writes the seeds of frame_read_fuzz, tcp_stream_fuzz and pipe_stream_fuzz: small valid frames
and client exchanges in each target's input format (see the comment at the top of each target).
Run from anywhere: python3 tests/fuzz/make_link_seeds.py"""
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))
MAGIC = b"Qspt1WmJOL"
PIPE_MAGIC = 0xF2B49E2C


def header(ftype, sub, length, model=b"DKP-3000", minor=3):
    f = bytearray(length)
    f[0:10] = MAGIC
    f[10], f[11] = ftype, sub
    f[12:12 + len(model)] = model
    f[32], f[33] = 1, minor
    f[34], f[35] = length >> 8, length & 0xFF
    return f


def ip(a, b, c, d):
    return bytes([a, b, c, d])


def config_notify(dev, dtype, addr, model=b"DKP-3000"):
    f = header(6, 0, 54, model)
    f[36], f[37] = dev, 1
    f[38:44] = bytes([0xAA, 0, 0, 0, 0, dev])
    f[44:48] = addr
    f[48], f[52], f[53] = 1, dtype, 8
    return f


def discovery_request(dtype, dev):
    f = header(0, 0, 44)
    f[36], f[37] = 1, dtype
    f[38:44] = bytes([0xAA, 0, 0, 0, 0, dev])
    return f


def id_use_request(dev, req, reply_to):
    f = header(2, 0, 50)
    f[36:40] = reply_to
    f[46], f[47], f[48], f[49] = dev, req, 1, 1
    return f


def id_use_response(dev, status, sub=0):
    f = header(3, sub, 39)
    f[36], f[37], f[38] = dev, 1, status
    return f


def id_from_blk(reply_to, wired, wireless, echo):
    f = header(2, 2, 68)
    f[36:40] = reply_to
    f[48], f[51], f[67] = wired, wireless, echo
    return f


def simple(ftype, body, first=0):
    f = header(ftype, 0, 36 + body)
    if body:
        f[36] = first
    return f


peer = ip(192, 168, 1, 3)
wl_peer = ip(10, 0, 0, 5)


def frame_record(source, frame, delay):
    return bytes([source]) + struct.pack(">H", len(frame)) + bytes(frame) + bytes([delay])


def wired(host):
    return host << 2


def write(folder, name, data):
    path = os.path.join(here, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as out:
        out.write(data)


# StartFlags: bit 0 clear connected, bit 1 set suspended, bit 2 clear permitted, bits 3-4 phase.
IDLE, DISCOVERY, IDUSE, RUN = 0, 1 << 3, 2 << 3, 3 << 3

frames = {
    "config-notify-idle": (IDLE, [(wired(3), config_notify(3, 1, peer), 4)]),
    "link-up-to-run": (IDLE, [(wired(3), config_notify(3, 1, peer), 240)]),
    "wireless-peer": (IDLE, [(1 | (5 << 2), config_notify(5, 2, wl_peer), 240),
                             (1 | (5 << 2), config_notify(5, 2, wl_peer, b"DKP-5100"), 4)]),
    "discovery-answers": (DISCOVERY, [(wired(4), discovery_request(1, 4), 4),
                                      (wired(4), config_notify(4, 1, ip(192, 168, 1, 4)), 4)]),
    "id-duplicate": (IDUSE, [(wired(9), id_use_response(17, 0), 4), (wired(9), id_use_request(17, 1, ip(192, 168, 1, 9)), 40)]),
    "run-id-use": (RUN, [(wired(9), id_use_request(17, 2, ip(192, 168, 1, 9)), 4),
                         (wired(9), id_from_blk(ip(192, 168, 1, 9), 3, 15, 7), 4)]),
    "run-aging": (RUN, [(wired(3), config_notify(3, 1, peer), 205)]),
    "run-leave-disconnect": (RUN, [(wired(3), simple(7, 1, 3), 4), (wired(3), simple(8, 5, 3), 4)]),
    "run-reject-reset": (RUN, [(wired(3), simple(9, 0), 4), (wired(3), simple(11, 0), 4)]),
    "run-time-server": (RUN, [(wired(3), simple(4, 4, 17), 4), (3, config_notify(6, 1, ip(192, 168, 1, 6)), 4)]),
    "suspended-config": (2, [(wired(3), config_notify(3, 1, peer), 4)]),
    "other-subnet": (IDLE, [(2 | (1 << 2), config_notify(8, 1, ip(172, 16, 0, 1)), 4)]),
}
for name, (flags, records) in frames.items():
    write("frame_read", name, bytes([flags]) + b"".join(frame_record(*r) for r in records))


def tcp_reads(flags, reads):
    out = bytearray([flags])
    for r in reads:
        n = len(r) - 1  # the target reads 1 + (b0 * 4 + (b1 & 3)) % 1024 octets
        out += bytes([n >> 2, n & 3]) + r
    return bytes(out)


cn = bytes(config_notify(3, 1, peer))
write("tcp_stream", "one-frame", tcp_reads(IDLE, [cn]))
write("tcp_stream", "split-frame", tcp_reads(RUN, [cn[:20], cn[20:], bytes(simple(7, 1, 3))]))
write("tcp_stream", "two-in-one-read", tcp_reads(RUN, [cn + bytes(id_use_request(17, 1, ip(192, 168, 1, 9)))]))
write("tcp_stream", "bad-header", tcp_reads(RUN, [b"Qspt1WmJOX" + cn[10:], cn]))


def pipe_stream(flags, payloads, piece=15):
    stream = b""
    for p in payloads:
        stream += struct.pack("<II", PIPE_MAGIC, len(p)) + p
    out = bytearray([flags])
    for i in range(0, len(stream), piece + 1):
        chunk = stream[i:i + piece + 1]
        out += bytes([len(chunk) - 1]) + chunk
    return bytes(out)


def request(kind, pid, dev=0, result=0, size=16):
    return struct.pack("<iIiI", kind, pid, dev, result) + bytes(size - 16)


CLIENT = 0x20
write("pipe_stream", "connect-permit", pipe_stream(IDLE, [request(1, 4242), request(51, 4242)]))
write("pipe_stream", "connect-suspended", pipe_stream(IDLE, [request(1, 4242, 0, 1, 1296)]))
write("pipe_stream", "client-queries", pipe_stream(RUN | CLIENT, [request(3, 4242), request(4, 4242, 3), request(5, 4242)]))
write("pipe_stream", "suspend-resume", pipe_stream(RUN | CLIENT, [request(90, 4242), request(91, 4242)]))
write("pipe_stream", "disconnect", pipe_stream(RUN | CLIENT, [request(2, 4242)]))
write("pipe_stream", "bad-magic-then-request", pipe_stream(IDLE, [b""], 7) + bytes([7]) + b"\x00" * 8
      + pipe_stream(IDLE, [request(3, 1)])[1:])
write("pipe_stream", "split-pieces", pipe_stream(IDLE | CLIENT, [request(3, 4242), request(2, 9)], 0))
