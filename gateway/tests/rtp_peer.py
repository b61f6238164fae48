#!/usr/bin/env python3
"""The far end of a call's media, for the gateway's tests: sends mu-law RTP at 50 packets a
second from LOCAL_PORT to the gateway's RTP port, drains what the gateway sends, and between
phases throws the faults that the media path must survive. Every loop is bounded in time.

Usage: rtp_peer.py GATEWAY_HOST GATEWAY_PORT LOCAL_PORT SECONDS [PHASE...]
Phases (each runs once, in order, while the stream goes on): garbage, rtcp_garbage, flood,
ssrcs=N, sources=N/PACKETS, ssrc_change, disorder, vanish=SECONDS, rtcp_bye. Prints one line
per phase.
"""
import os
import random
import socket
import struct
import sys
import time

rng = random.Random(4475)


class Stream:
    def __init__(self, rtp, rtcp, destination):
        self.rtp, self.rtcp, self.destination = rtp, rtcp, destination
        self.ssrc = 0x5EED0001
        self.seq = 1000
        self.ts = 0
        self.payload = bytes([0xFF]) * 160  # mu-law silence
        self.unsent = 0  # RTP sends the socket refused (a full buffer, ICMP refusals)

    def packet(self, seq=None, ssrc=None, version=2, payload=None):
        first = (version << 6) & 0xC0
        header = struct.pack("!BBHII", first, 0, (self.seq if seq is None else seq) & 0xFFFF,
                             self.ts & 0xFFFFFFFF, self.ssrc if ssrc is None else ssrc)
        return header + (self.payload if payload is None else payload)

    def send_rtp(self, data):
        try:
            self.rtp.sendto(data, self.destination)
        except OSError:
            self.unsent += 1

    def send_rtcp(self, data):
        try:
            self.rtcp.sendto(data, (self.destination[0], self.destination[1] + 1))
        except OSError:
            pass

    def tick(self):
        self.send_rtp(self.packet())
        self.seq += 1
        self.ts += 160


def drain(sock):
    count = 0
    while True:
        try:
            sock.recv(65536)
            count += 1
        except (BlockingIOError, ConnectionRefusedError):
            return count


def rtcp_header(count, kind, words):
    return struct.pack("!BBH", 0x80 | count, kind, words)


def garbage(s):
    for _ in range(200):
        s.send_rtp(os.urandom(rng.randint(0, 400)))
    for version in (0, 1, 3):
        s.send_rtp(s.packet(version=version))
    for size in range(0, 12):
        s.send_rtp(s.packet()[:size])
    s.send_rtp(s.packet(payload=os.urandom(65000)))
    # Padding bit with a pad count larger than the packet, and an extension past the end.
    p = bytearray(s.packet(payload=b"\x01\x02\x03\xff"))
    p[0] |= 0x20
    s.send_rtp(bytes(p))
    p = bytearray(s.packet(payload=b"\x00\x01\xff\xff"))
    p[0] |= 0x10
    s.send_rtp(bytes(p))
    # Fifteen CSRCs announced, none present.
    p = bytearray(s.packet(payload=b""))
    p[0] |= 0x0F
    s.send_rtp(bytes(p))
    # Unknown payload types, and a GSM packet with a short frame.
    for pt in (8, 18, 96, 127):
        p = bytearray(s.packet())
        p[1] = pt
        s.send_rtp(bytes(p))
    p = bytearray(s.packet(payload=b"\xd0" * 10))
    p[1] = 3
    s.send_rtp(bytes(p))


def rtcp_garbage(s):
    for _ in range(200):
        s.send_rtcp(os.urandom(rng.randint(0, 400)))
    ssrc = struct.pack("!I", s.ssrc)
    # Lengths that claim more or fewer words than there are.
    s.send_rtcp(rtcp_header(0, 201, 0xFFFF) + ssrc)
    s.send_rtcp(rtcp_header(0, 200, 0) + ssrc)
    s.send_rtcp(rtcp_header(31, 201, 1) + ssrc)
    s.send_rtcp(rtcp_header(31, 200, 6) + ssrc + b"\x00" * 20)
    # SDES with an item longer than the packet, and a chunk count larger than the chunks.
    s.send_rtcp(rtcp_header(1, 202, 2) + ssrc + b"\x01\xff\x41\x41")
    s.send_rtcp(rtcp_header(31, 202, 1) + ssrc)
    # A BYE with more sources than it carries, and a reason longer than the packet.
    s.send_rtcp(rtcp_header(31, 203, 1) + struct.pack("!I", 0x0BADBAD0))
    s.send_rtcp(rtcp_header(1, 203, 2) + struct.pack("!I", 0x0BADBAD1) + b"\xff\x41\x41\x41")
    # An APP and unknown packet types, version 1, a truncated header.
    s.send_rtcp(rtcp_header(0, 204, 2) + ssrc + b"name")
    s.send_rtcp(rtcp_header(0, 210, 1) + ssrc)
    s.send_rtcp(b"\x40\xc9\x00\x01" + ssrc)
    s.send_rtcp(b"\x81\xc9")
    s.send_rtcp(b"\x81\xc9\x00\x07" + ssrc + b"\x00" * 8)
    s.send_rtcp(b"")


def flood(s, seconds=1.0):
    end = time.monotonic() + seconds
    n = 0
    while time.monotonic() < end and n < 200000:
        s.send_rtp(s.packet(seq=rng.randint(0, 65535)))
        if n % 10 == 0:
            s.send_rtcp(os.urandom(40))
        n += 1
    return n


def ssrcs(s, count):
    # Each source sends a few packets in sequence, so that it can become a valid member, and an
    # SDES so that the member table fills.
    for i in range(count):
        ssrc = 0x10000000 + i
        for k in range(3):
            s.send_rtp(s.packet(seq=k, ssrc=ssrc))
        if i % 4 == 0:
            s.send_rtcp(rtcp_header(1, 202, 3) + struct.pack("!I", ssrc) + b"\x01\x03abc\x00")
        if i % 500 == 0:
            time.sleep(0.005)


def sources(s, count, packets):
    # PACKETS packets spread over COUNT sources, each in sequence with a valid header, round by
    # round, with an SDES from each source in the first round. The stream itself keeps its pace
    # between batches. Returns the packets sent and the seconds taken.
    start = time.monotonic()
    rounds = max(1, packets // count)
    sent = 0
    unsent = s.unsent
    next_tick = start
    for k in range(rounds):
        for i in range(count):
            ssrc = 0x20000000 + i
            header = struct.pack("!BBHII", 0x80, 0, k & 0xFFFF, (k * 160) & 0xFFFFFFFF, ssrc)
            s.send_rtp(header + s.payload)
            if k == 0:
                s.send_rtcp(rtcp_header(1, 202, 3) + struct.pack("!I", ssrc) + b"\x01\x03abc\x00")
            sent += 1
            if sent % 256 == 0 and time.monotonic() >= next_tick:
                s.tick()
                next_tick += 0.02
    return sent - (s.unsent - unsent), time.monotonic() - start


def disorder(s):
    # Gaps, duplicates and reordering on the stream itself, at its own pace.
    order = []
    base = s.seq
    for i in range(100):
        order.append(base + i)
    order[10:20] = order[19:9:-1]  # reversed run
    order[30:31] = [order[30]] * 5  # duplicates
    del order[50:70]  # a gap of 20
    order.append(base + 5000)  # a jump
    for seq in order:
        s.send_rtp(s.packet(seq=seq))
        time.sleep(0.02)
    s.seq = base + 5001


def open_ports(local):
    """The peer's RTP and RTCP sockets on LOCAL and LOCAL + 1, non-blocking."""
    pair = []
    for offset in (0, 1):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind(("127.0.0.1", local + offset))
        sock.setblocking(False)
        pair.append(sock)
    return pair


def run(host, port, local, seconds, phases):
    s = Stream(*open_ports(local), (host, port))
    end = time.monotonic() + seconds
    received = 0
    next_tick = time.monotonic()
    pending = list(phases)
    phase_at = time.monotonic() + 1.0
    while time.monotonic() < end:
        now = time.monotonic()
        if pending and now >= phase_at:
            phase = pending.pop(0)
            name, _, value = phase.partition("=")
            if name == "garbage":
                garbage(s)
            elif name == "rtcp_garbage":
                rtcp_garbage(s)
            elif name == "flood":
                print("flood: %d packets" % flood(s), flush=True)
            elif name == "ssrcs":
                ssrcs(s, int(value))
            elif name == "sources":
                count, _, packets = value.partition("/")
                sent, took = sources(s, int(count), int(packets))
                print("sources: %d packets from %s sources in %.1f s" % (sent, count, took),
                      flush=True)
            elif name == "ssrc_change":
                s.ssrc ^= 0x00ABCDEF
                s.seq = rng.randint(0, 65535)
                s.ts = rng.randint(0, 2**32 - 1)
            elif name == "disorder":
                disorder(s)
            elif name == "vanish":
                # Nothing listens on the peer's ports: every packet of the gateway's meets an
                # ICMP port unreachable.
                s.rtp.close()
                s.rtcp.close()
                time.sleep(float(value))
                s.rtp, s.rtcp = open_ports(local)
            elif name == "rtcp_bye":
                # The gateway takes a BYE only as the first packet of a datagram.
                s.send_rtcp(rtcp_header(1, 203, 1) + struct.pack("!I", s.ssrc))
            print("phase %s done" % phase, flush=True)
            phase_at = time.monotonic() + 1.0
            next_tick = time.monotonic()
        if now >= next_tick:
            s.tick()
            next_tick += 0.02
        received += drain(s.rtp) + drain(s.rtcp)
        time.sleep(0.004)
    print("peer: received %d packets" % received, flush=True)


if __name__ == "__main__":
    run(sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), sys.argv[5:])
