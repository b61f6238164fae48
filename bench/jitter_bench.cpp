// Jitter buffer figures on seeded traces of scripts/impair_relay.py --simulate: late loss, the
// delay the buffer added (p50, p99 over the frames played) and concealment, against a fixed
// playout delay for comparison. The line plays on whatever the buffer does, so the time it
// waited with nothing to play (stall), the frames it filled in to grow (stretch) and the packets
// it dropped to shrink are shown beside the late loss: each is a cut in the audio that the late
// figure alone would hide. Usage: jitter_bench TRACE... (JITTER_SERIES=1 prints each played
// packet's time, delay and sequence number).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dsp/jitter_buffer.h"

namespace {

using sipline::dsp::JitterBuffer;

struct arrival {
    int seq;
    double sent_ms;
    double at_ms;
};

std::vector<arrival> read_trace(const char *path) {
    std::vector<arrival> out;
    std::ifstream in(path);
    arrival a{};
    while (in >> a.seq >> a.sent_ms >> a.at_ms) {
        out.push_back(a);
    }
    return out;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p / 100 * static_cast<double>(v.size())))];
}

// A fixed playout delay after the first packet's arrival: the share of packets late.
double fixed_late(const std::vector<arrival> &trace, double delay_ms) {
    if (trace.empty())
        return 0;
    double base = 1e18;
    for (const arrival &a : trace)
        base = std::min(base, a.at_ms - a.sent_ms);
    size_t late = 0;
    for (const arrival &a : trace) {
        if (a.at_ms > a.sent_ms + base + delay_ms)
            ++late;
    }
    return 100.0 * static_cast<double>(late) / static_cast<double>(trace.size());
}

}  // namespace

int main(int argc, char **argv) {
    std::printf("%-20s %7s %7s %7s %7s %8s %9s %8s %9s | fixed delay, same late %%\n", "trace",
                "late %", "lost %", "p50 ms", "p99 ms", "stall %", "stretch %", "shrunk %",
                "CPU us/pk");
    for (int i = 1; i < argc; ++i) {
        const std::vector<arrival> trace = read_trace(argv[i]);
        JitterBuffer jb;
        std::vector<double> delays;
        int64_t written = 0;  // samples played or concealed
        double first_ms = -1;
        double last_ms = 0;
        size_t next = 0;
        const bool series = std::getenv("JITTER_SERIES") != nullptr;
        const double end_ms = trace.empty() ? 0 : trace.back().at_ms + 500;
        const auto t0 = std::chrono::steady_clock::now();
        for (double now = 0; now <= end_ms; now += 1) {
            const auto now_us = static_cast<int64_t>(now * 1000);
            for (; next < trace.size() && trace[next].at_ms <= now; ++next) {
                JitterBuffer::Packet p;
                p.seq = static_cast<uint16_t>(trace[next].seq);
                p.ts = static_cast<uint32_t>(trace[next].seq * 160);
                p.ssrc = 1;
                p.samples = 160;
                jb.put(p, now_us);
            }
            for (;;) {
                JitterBuffer::Step s = jb.next(now_us);
                if (s.action == JitterBuffer::Action::none)
                    break;
                if (s.action == JitterBuffer::Action::play) {
                    delays.push_back(jb.stats().delay_ms);
                    if (series)
                        std::printf("S %.0f %d %d\n", now, jb.stats().delay_ms, s.packet.seq);
                }
                if (s.action == JitterBuffer::Action::play ||
                    s.action == JitterBuffer::Action::conceal) {
                    written += s.action == JitterBuffer::Action::play ? 160 : s.samples;
                    if (first_ms < 0)
                        first_ms = now;
                    last_ms = now;
                }
            }
        }
        const double cpu_us =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count() /
            static_cast<double>(std::max<size_t>(trace.size(), 1));
        const sipline::dsp::JitterStats s = jb.stats();
        const double total = static_cast<double>(s.received + s.lost);
        const double late = 100.0 * static_cast<double>(s.late) / total;
        // The fixed delay that loses no more late packets than the adaptive buffer did.
        double fixed = 0;
        while (fixed < 400 && fixed_late(trace, fixed) > late)
            fixed += 5;
        std::string name = argv[i];
        name = name.substr(name.find_last_of('/') + 1);
        // The line plays on at 8 kHz: time it was not given audio (the buffer waited on an
        // empty queue) is a stretch of silence that neither late nor concealed counts.
        const double span_ms = first_ms < 0 ? 0 : last_ms - first_ms + 20;
        const double stall =
            span_ms > 0
                ? 100.0 * std::max(0.0, span_ms - static_cast<double>(written) / 8) / span_ms
                : 0;
        std::printf("%-20s %7.2f %7.2f %7.0f %7.0f %8.2f %9.2f %8.2f %9.2f | %.0f ms\n",
                    name.c_str(), late, 100.0 * static_cast<double>(s.lost) / total,
                    percentile(delays, 50), percentile(delays, 99), stall,
                    100.0 * static_cast<double>(s.stretched) / total,
                    100.0 * static_cast<double>(s.shrunk) / total, cpu_us, fixed);
    }
    return 0;
}
