#!/usr/bin/env python3
"""A seeded UDP impairment relay for tests and benches (the kernel here has no netem).

Datagrams that reach --listen are sent on to --to after a delay drawn from a seeded random
source; datagrams that come back from --to go to the last sender, unimpaired. The forward path
models a queue: packets leave in order (each no earlier than the one before it) after
`base + exponential(jitter)` ms, with stalls of --spike-ms every --spike-every seconds on average
(packets sent during a stall leave together at its end), loss in bursts of 1 to --burst-most
packets, --reorder percent held back behind the next packet, --dup percent sent twice.

It stops by itself after --duration seconds or --idle seconds without traffic, and holds at
most --queue-most packets (more are dropped and counted). At the end it writes a JSON summary
(to --summary, or standard output): what it did to which RTP sequence numbers, and the delays.
"""

import argparse
import heapq
import json
import os
import random
import select
import socket
import sys
import time


def parse_address(text):
    host, _, port = text.rpartition(":")
    return (host or "127.0.0.1", int(port))


def percentile(values, p):
    if not values:
        return 0.0
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100.0 * len(ordered)))]


def rtp_sequence(datagram):
    if len(datagram) >= 12 and datagram[0] >> 6 == 2:
        return (datagram[2] << 8) | datagram[3]
    return None


class Impairment:
    def __init__(self, a, now):
        self.rng = random.Random(a.seed)
        self.a = a
        self.last_leave = now
        self.next_spike = now + self._spike_gap()
        self.spike_end = 0.0
        self.burst_left = 0
        self.held = None  # a packet held back to leave after the next one
        self.stats = {"received": 0, "sent": 0, "dropped": [], "duplicated": [], "reordered": [],
                      "overflow": 0, "spikes": 0, "delays_ms": []}

    def _spike_gap(self):
        if self.a.spike_every <= 0:
            return float("inf")
        return self.rng.expovariate(1.0 / self.a.spike_every)

    def schedule(self, datagram, now):
        """The (leave_time, datagram) pairs for one arrival; empty when it is lost."""
        a, s = self.a, self.stats
        s["received"] += 1
        seq = rtp_sequence(datagram)
        if self.burst_left > 0 or self.rng.random() * 100 < a.loss / ((1 + a.burst_most) / 2.0):
            if self.burst_left == 0:
                self.burst_left = self.rng.randint(1, a.burst_most)
            self.burst_left -= 1
            s["dropped"].append(seq)
            return []
        if now >= self.next_spike:
            s["spikes"] += 1
            self.spike_end = now + a.spike_ms / 1000.0
            self.next_spike = now + self._spike_gap()
        delay = a.base_ms / 1000.0
        if a.jitter_ms > 0:
            delay += self.rng.expovariate(1000.0 / a.jitter_ms)
        leave = max(now + delay, self.last_leave, self.spike_end)
        self.last_leave = leave
        out = []
        if self.held is not None:
            # The held packet leaves just after this one: the two swap places.
            out.append((leave + 0.0005, self.held[1]))
            self.held = None
        if self.rng.random() * 100 < a.reorder:
            s["reordered"].append(seq)
            self.held = (leave, datagram)
        else:
            out.append((leave, datagram))
        if self.rng.random() * 100 < a.dup:
            s["duplicated"].append(seq)
            out.append((leave + 0.001, datagram))
        s["delays_ms"].append((leave - now) * 1000.0)
        return out


def simulate(a):
    imp = Impairment(a, 0.0)
    lines = []
    for n in range(a.simulate):
        sent = n * 0.020
        datagram = bytes([0x80, 0, (n >> 8) & 0xFF, n & 0xFF]) + bytes(8)
        for leave, d in imp.schedule(datagram, sent):
            lines.append((leave, rtp_sequence(d)))
    if imp.held is not None:
        lines.append((imp.held[0] + 0.1, rtp_sequence(imp.held[1])))
    lines.sort()
    text = "".join("%d %.3f %.3f\n" % (seq, seq * 20.0, leave * 1000) for leave, seq in lines)
    if a.trace:
        with open(a.trace, "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--listen", required=True, help="[host:]port to receive on (0: any free)")
    p.add_argument("--to", required=True, help="host:port to send to")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--base-ms", type=float, default=0.0)
    p.add_argument("--jitter-ms", type=float, default=0.0, help="mean of the exponential part")
    p.add_argument("--spike-ms", type=float, default=0.0)
    p.add_argument("--spike-every", type=float, default=0.0, help="mean seconds between stalls")
    p.add_argument("--loss", type=float, default=0.0, help="percent of packets lost")
    p.add_argument("--burst-most", type=int, default=1, help="longest burst of losses")
    p.add_argument("--reorder", type=float, default=0.0, help="percent")
    p.add_argument("--dup", type=float, default=0.0, help="percent")
    p.add_argument("--duration", type=float, default=30.0, help="seconds before it stops")
    p.add_argument("--idle", type=float, default=3.0, help="seconds of no traffic before it stops")
    p.add_argument("--queue-most", type=int, default=10000)
    p.add_argument("--port-file", help="file to write the bound port to, once listening")
    p.add_argument("--summary", help="file for the JSON summary")
    p.add_argument("--simulate", type=int, default=0,
                   help="no sockets: run N packets of 20 ms through the model on a virtual clock "
                        "and write the trace (seq, sent ms, arrival ms per copy) to --trace")
    p.add_argument("--trace", help="file for the --simulate trace (default: standard output)")
    a = p.parse_args()
    if a.burst_most < 1 or not 0 <= a.loss < 100 or a.duration <= 0:
        p.error("--burst-most >= 1, 0 <= --loss < 100 and --duration > 0")

    if a.simulate > 0:
        return simulate(a)

    near = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    near.bind(parse_address(a.listen if ":" in a.listen else "127.0.0.1:" + a.listen))
    far = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    far.bind(("127.0.0.1", 0))
    target = parse_address(a.to)
    if a.port_file:
        with open(a.port_file + ".tmp", "w") as f:
            f.write("%d\n" % near.getsockname()[1])
        os.rename(a.port_file + ".tmp", a.port_file)

    start = time.monotonic()
    imp = Impairment(a, start)
    queue = []  # (leave_time, order, datagram)
    order = 0
    sender = None
    last_traffic = start
    while True:
        now = time.monotonic()
        if now - start > a.duration or (now - last_traffic > a.idle and not queue):
            break
        wait = 0.05 if not queue else max(0.0, min(0.05, queue[0][0] - now))
        readable, _, _ = select.select([near, far], [], [], wait)
        now = time.monotonic()
        for sock in readable:
            data, address = sock.recvfrom(65536)
            last_traffic = now
            if sock is near:
                sender = address
                for leave, datagram in imp.schedule(data, now):
                    if len(queue) >= a.queue_most:
                        imp.stats["overflow"] += 1
                        continue
                    heapq.heappush(queue, (leave, order, datagram))
                    order += 1
            elif sender is not None:
                near.sendto(data, sender)
        if imp.held is not None and now - imp.held[0] > 0.1:
            # Nothing came after the held packet: it leaves alone rather than never.
            heapq.heappush(queue, (now, order, imp.held[1]))
            order += 1
            imp.held = None
        while queue and queue[0][0] <= now:
            _, _, datagram = heapq.heappop(queue)
            far.sendto(datagram, target)
            imp.stats["sent"] += 1

    s = imp.stats
    delays = s.pop("delays_ms")
    s["delay_p50_ms"] = round(percentile(delays, 50), 2)
    s["delay_p99_ms"] = round(percentile(delays, 99), 2)
    s["delay_max_ms"] = round(max(delays), 2) if delays else 0.0
    text = json.dumps(s, sort_keys=True)
    if a.summary:
        with open(a.summary, "w") as f:
            f.write(text + "\n")
    else:
        print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
