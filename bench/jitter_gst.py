#!/usr/bin/python3
"""GStreamer's rtpjitterbuffer on the jitter bench's traces, as a peer to compare with.

Each trace (seq, sent ms, arrival ms per line, from scripts/impair_relay.py --simulate) is
replayed in real time into one live appsrc (do-timestamp: a packet's DTS is its arrival) that a
tee hands to one rtpjitterbuffer per latency and mode, each ending in an appsink. A packet plays
at its PTS plus the latency (the pipeline latency a syncing sink waits for); it is late when the
jitterbuffer dropped it or let it out after that instant, where a syncing audio sink drops it.
The added delay is the play instant less the sending instant and the trace's least transit, as
jitter_bench counts its own. Replay takes the trace's length: run one process per trace, side
by side (Python's lock would serialise them in one).

Output, one line per trace, latency and mode:  TRACE MODE LATENCY LATE% P50 P99
"""

import argparse
import sys
import threading
import time

import gi

gi.require_version("Gst", "1.0")
from gi.repository import Gst  # noqa: E402

CAPS = "application/x-rtp,media=audio,clock-rate=8000,encoding-name=PCMU,payload=0"
PAYLOAD = bytes(160)


def read_trace(path):
    rows = []
    with open(path) as f:
        for line in f:
            seq, sent, at = line.split()
            rows.append((int(seq), float(sent), float(at)))
    return rows


def rtp_packet(seq):
    ts = (seq * 160) & 0xFFFFFFFF
    header = bytes([0x80, 0, (seq >> 8) & 0xFF, seq & 0xFF,
                    ts >> 24, (ts >> 16) & 0xFF, (ts >> 8) & 0xFF, ts & 0xFF,
                    0x12, 0x34, 0x56, 0x78])
    return header + PAYLOAD


def percentile(values, p):
    if not values:
        return 0.0
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100.0 * len(ordered)))]


class Replay:
    def __init__(self, path, latencies, modes):
        self.path = path
        self.trace = read_trace(path)
        self.branches = [(m, l) for m in modes for l in latencies]
        desc = ("appsrc name=src is-live=true format=time do-timestamp=true caps=%s "
                "! tee name=t" % CAPS)
        for i, (mode, latency) in enumerate(self.branches):
            desc += (" t. ! queue max-size-buffers=0 max-size-time=0 max-size-bytes=0 "
                     "! rtpjitterbuffer latency=%d mode=%s ! appsink name=sink%d sync=false async=false "
                     "emit-signals=true max-buffers=0" % (latency, mode, i))
        self.pipeline = Gst.parse_launch(desc)
        self.src = self.pipeline.get_by_name("src")
        self.out = [dict() for _ in self.branches]  # seq -> (pts ns, out running time ns)
        self.lock = threading.Lock()
        for i in range(len(self.branches)):
            sink = self.pipeline.get_by_name("sink%d" % i)
            sink.connect("new-sample", self.on_sample, i)

    def running_time(self):
        return self.pipeline.get_clock().get_time() - self.pipeline.get_base_time()

    def on_sample(self, sink, i):
        sample = sink.emit("pull-sample")
        now = self.running_time()
        buf = sample.get_buffer()
        ok, info = buf.map(Gst.MapFlags.READ)
        if ok:
            if info.size >= 4:
                seq = (info.data[2] << 8) | info.data[3]
                with self.lock:
                    self.out[i].setdefault(seq, (buf.pts, now))
            buf.unmap(info)
        return Gst.FlowReturn.OK

    def run(self):
        self.pipeline.set_state(Gst.State.PLAYING)
        self.pipeline.get_state(5 * Gst.SECOND)
        start = self.running_time()
        t0 = time.monotonic()
        arrival_ns = {}
        for seq, _sent, at in self.trace:
            wait = t0 + at / 1000.0 - time.monotonic()
            if wait > 0:
                time.sleep(wait)
            buf = Gst.Buffer.new_wrapped(rtp_packet(seq))
            arrival_ns.setdefault(seq, self.running_time())
            self.src.emit("push-buffer", buf)
        time.sleep(0.6)  # the longest latency drains
        self.src.emit("end-of-stream")
        self.pipeline.set_state(Gst.State.NULL)
        return start, arrival_ns

    def report(self):
        start, _ = self.run()
        least = min(at - sent for _seq, sent, at in self.trace)
        sent_of = {seq: sent for seq, sent, _at in self.trace}
        name = self.path.rsplit("/", 1)[-1]
        expected = max(sent_of) - min(sent_of) + 1  # as RFC 3550 counts, the lost ones too
        lines = []
        for i, (mode, latency) in enumerate(self.branches):
            late = 0
            delays = []
            for seq, sent in sent_of.items():
                got = self.out[i].get(seq)
                if got is None or got[0] == Gst.CLOCK_TIME_NONE:
                    late += 1
                    continue
                pts, out = got
                play = pts + latency * Gst.MSECOND
                if out > play:
                    late += 1
                    continue
                delays.append((play - start) / 1e6 - sent - least)
            lines.append("%s %s %d %.2f %.0f %.0f" % (
                name, mode, latency, 100.0 * late / expected,
                percentile(delays, 50), percentile(delays, 99)))
        return lines


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--latencies", default="20,40,60,80,100,130,160,200,250,300,400")
    p.add_argument("--modes", default="slave")
    p.add_argument("trace")
    a = p.parse_args()
    Gst.init(None)
    latencies = [int(x) for x in a.latencies.split(",")]
    print("\n".join(Replay(a.trace, latencies, a.modes.split(",")).report()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
