// The jitter buffer driven by a simulated clock: what comes out, in what order and when.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dsp/jitter_buffer.h"

namespace sipline::dsp {
namespace {

constexpr int64_t MS = 1000;
constexpr uint32_t SSRC = 0x1234;

struct arrival {
    int64_t at_us;
    uint16_t seq;
    uint32_t ts;
    bool event = false;
    uint32_t ssrc = SSRC;
};

// A 20-ms packet `n` of a stream that starts at timestamp 0 and sequence number 100, arriving
// `delay_ms` after it was sent (sent at n * 20 ms).
arrival packet(int n, int64_t delay_ms) {
    return {(n * 20 + delay_ms) * MS, static_cast<uint16_t>(100 + n),
            static_cast<uint32_t>(n * 160)};
}

// Runs the buffer over the arrivals with a 1-ms clock until `until_ms`: "p<seq>" for a packet
// played, "e<seq>" for an event, "c" for a concealed frame, "s" for a stretch.
std::string drive(JitterBuffer &jb, std::vector<arrival> arrivals, int64_t until_ms) {
    std::string out;
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const arrival &a, const arrival &b) { return a.at_us < b.at_us; });
    size_t next = 0;
    for (int64_t now = 0; now <= until_ms * MS; now += MS) {
        for (; next < arrivals.size() && arrivals[next].at_us <= now; ++next) {
            JitterBuffer::Packet p;
            p.seq = arrivals[next].seq;
            p.ts = arrivals[next].ts;
            p.ssrc = arrivals[next].ssrc;
            p.event = arrivals[next].event;
            p.samples = p.event ? 0 : 160;
            jb.put(p, now);
        }
        for (;;) {
            JitterBuffer::Step s = jb.next(now);
            if (s.action == JitterBuffer::Action::none) {
                break;
            }
            if (s.action == JitterBuffer::Action::conceal) {
                out += "c";
            } else {
                out += (s.action == JitterBuffer::Action::play ? "p" : "e") +
                       std::to_string(s.packet.seq) + " ";
            }
        }
    }
    return out;
}

TEST(JitterBuffer, AStreamInOrderPlaysWholeAtTheLeastDelay) {
    JitterBuffer jb;
    std::vector<arrival> a;
    for (int n = 0; n < 5; ++n) {
        a.push_back(packet(n, 1));
    }
    EXPECT_EQ(drive(jb, a, 118), "p100 p101 p102 p103 p104 ");
    // The last one is due 20 ms after it arrives (81 ms): nothing is concealed until 140 ms.
    EXPECT_EQ(jb.stats().received, 5);
    EXPECT_EQ(jb.stats().concealed, 0);
    EXPECT_EQ(jb.stats().delay_ms, 20);
    EXPECT_EQ(jb.stats().lost, 0);
}

TEST(JitterBuffer, ReorderedAndDuplicatedPacketsPlayOnceInOrder) {
    JitterBuffer jb;
    std::vector<arrival> a = {packet(0, 1), packet(2, 2), packet(1, 5), packet(1, 6), packet(3, 1)};
    EXPECT_EQ(drive(jb, a, 100), "p100 p101 p102 p103 ");
    EXPECT_EQ(jb.stats().duplicated, 1);
    EXPECT_EQ(jb.stats().late, 0);
    EXPECT_EQ(jb.stats().lost, 0);
}

TEST(JitterBuffer, ALostPacketIsConcealedAndCounted) {
    JitterBuffer jb;
    std::vector<arrival> a = {packet(0, 1), packet(1, 1), packet(3, 1), packet(4, 1)};
    EXPECT_EQ(drive(jb, a, 110), "p100 p101 cp103 p104 ");
    EXPECT_EQ(jb.stats().lost, 1);
    EXPECT_EQ(jb.stats().concealed, 1);
}

TEST(JitterBuffer, AStallIsWaitedOutAndTheDelayGrowsByIt) {
    JitterBuffer jb;
    std::vector<arrival> a;
    for (int n = 0; n < 100; ++n) {
        // Packet 20 is held 70 ms; those behind it queue up (a stall), as do those of packet 60.
        const int64_t stall = (n >= 20 && n < 24) ? 70 - 20 * (n - 20) : 0;
        const int64_t again = (n >= 60 && n < 64) ? 70 - 20 * (n - 60) : 0;
        a.push_back(packet(n, 1 + std::max<int64_t>(std::max(stall, again), 0)));
    }
    const std::string out = drive(jb, a, 2100);
    const JitterStats s = jb.stats();
    EXPECT_EQ(s.late, 0) << out;
    EXPECT_EQ(s.concealed, 0) << "nothing was missing, only late: " << out;
    EXPECT_GE(s.delay_most_ms, 70);
    EXPECT_LE(s.delay_most_ms, JitterBuffer::kMostMs);
    EXPECT_EQ(s.lost, 0) << "late is not lost (RFC 3550)";
}

TEST(JitterBuffer, AfterAStallTheBacklogIsShedWithinASecond) {
    JitterBuffer jb;
    std::vector<arrival> a;
    for (int n = 0; n < 400; ++n) {
        // Five seconds steady, then a 120-ms stall: packets 250-255 leave together at its end.
        const int64_t stall = (n >= 250 && n < 256) ? 120 - 20 * (n - 250) : 0;
        a.push_back(packet(n, 1 + stall));
    }
    const std::string out = drive(jb, a, 250 * 20 + 1120);
    const JitterStats s = jb.stats();
    EXPECT_EQ(s.late, 0) << out;
    EXPECT_GE(s.delay_most_ms, 120) << "the stall was waited out";
    EXPECT_LE(s.delay_ms, 40) << "a second after the stall the delay is back within a packet "
                                 "of its target";
}

TEST(JitterBuffer, EventsComeOutInSequenceOrderBetweenAudio) {
    JitterBuffer jb;
    std::vector<arrival> a = {packet(0, 1), packet(1, 1)};
    arrival e{25 * MS, 102, 320, true};
    arrival e2{26 * MS, 103, 320, true};
    a.push_back(e);
    a.push_back(e2);
    a.push_back({50 * MS, 104, 480});
    // The key took the frame at timestamp 320: the line plays its tone there, not the caller.
    EXPECT_EQ(drive(jb, a, 90), "p100 p101 e102 e103 cp104 ");
}

TEST(JitterBuffer, ASourceThatStopsIsNotConcealedAndStartsOverWhenItSpeaksAgain) {
    JitterBuffer jb;
    EXPECT_EQ(drive(jb, {packet(0, 1), packet(1, 1), packet(30, 1)}, 700), "p100 p101 p130 ");
    EXPECT_EQ(jb.stats().concealed, 0);
    EXPECT_EQ(jb.stats().delay_ms, 20) << "the new talk spurt starts at the least delay";
    EXPECT_EQ(jb.next_due_us(), -1);
    EXPECT_EQ(jb.stats().lost, 28) << "the silence's sequence numbers are counted lost";
}

TEST(JitterBuffer, ANewSourceOrATimestampJumpStartsOver) {
    JitterBuffer jb;
    std::vector<arrival> a = {packet(0, 1), packet(1, 1)};
    a.push_back({60 * MS, 7000, 90000, false, 0x9999});
    a.push_back({80 * MS, 7001, 90160, false, 0x9999});
    a.push_back({101 * MS, 7002, 90000 + 160 * 1000, false, 0x9999});
    a.push_back({121 * MS, 7003, 90000 + 160 * 1001, false, 0x9999});
    EXPECT_EQ(drive(jb, a, 150), "p100 p101 p7000 p7001 p7002 p7003 ");
    EXPECT_EQ(jb.stats().resets, 2);
    EXPECT_EQ(jb.stats().lost, 0);
}

TEST(JitterBuffer, AFloodHoldsABoundedQueue) {
    JitterBuffer jb;
    for (int n = 0; n < 5000; ++n) {
        JitterBuffer::Packet p;
        p.seq = static_cast<uint16_t>(n % 900);
        p.ts = static_cast<uint32_t>(n * 160);
        p.ssrc = SSRC;
        p.samples = 160;
        jb.put(p, 0);
    }
    int steps = 0;
    while (jb.next(10'000 * MS).action != JitterBuffer::Action::none && steps < 100000) {
        ++steps;
    }
    EXPECT_LT(steps, 100000) << "the buffer drains";
}

}  // namespace
}  // namespace sipline::dsp
