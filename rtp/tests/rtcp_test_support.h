// What the RTCP tests share: the application's side of RTCP timing (a scheduler that runs the
// engine's events when the test moves its clock), a peer socket pair on loopback that catches
// the compounds a context sends, and a reader of those compounds written apart from the
// engine. Include it in exactly one file of a test program: it defines ScheduleRTPEvent.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "rtp/context_internal.h"
#include "rtp/rtp.h"

namespace sipline::test {

struct ScheduledEvent {
    int32_t context;
    rtp_event_t *event;
};

inline int64_t Micros(const timeval &t) {
    return int64_t{t.tv_sec} * 1000000 + t.tv_usec;
}

// Due time in microseconds -> events, in the order they were scheduled.
inline std::multimap<int64_t, ScheduledEvent> scheduled;

// The engine's clock in tests: starts at an arbitrary time and moves only when told.
inline timeval fake_now{1700000000, 0};
inline timeval FakeClock() {
    return fake_now;
}
inline void Advance(double seconds) {
    fake_now = rtp_time_add(fake_now, seconds);
}

// Runs every event due by the fake clock, earliest first; returns how many ran.
inline int RunDue() {
    int ran = 0;
    while (!scheduled.empty() && scheduled.begin()->first <= Micros(fake_now)) {
        ScheduledEvent e = scheduled.begin()->second;
        scheduled.erase(scheduled.begin());
        RTPExecute(e.context, e.event);
        ran++;
    }
    return ran;
}

// Hands every pending event back to the engine, which frees those of destroyed contexts.
inline void DrainScheduled() {
    while (!scheduled.empty()) {
        ScheduledEvent e = scheduled.begin()->second;
        scheduled.erase(scheduled.begin());
        RTPExecute(e.context, e.event);
    }
}

inline std::optional<int64_t> NextDue() {
    if (scheduled.empty()) {
        return std::nullopt;
    }
    return scheduled.begin()->first;
}

// One RTCP packet of a received compound, read straight from the wire.
struct Packet {
    int version = 0;
    bool padding = false;
    int count = 0;
    int type = 0;
    int length = 0;  // the length field
    std::vector<uint8_t> bytes;

    uint32_t Word(std::size_t offset) const {
        return uint32_t{bytes[offset]} << 24 | uint32_t{bytes[offset + 1]} << 16 |
               uint32_t{bytes[offset + 2]} << 8 | bytes[offset + 3];
    }
};

struct SdesItem {
    uint32_t ssrc;
    int type;
    std::string text;
};

// Splits a compound; fails the test when the lengths do not add up to the datagram.
inline std::vector<Packet> Split(const std::vector<uint8_t> &d) {
    std::vector<Packet> packets;
    std::size_t at = 0;
    while (at + 4 <= d.size()) {
        Packet p;
        p.version = d[at] >> 6;
        p.padding = (d[at] & 0x20) != 0;
        p.count = d[at] & 0x1F;
        p.type = d[at + 1];
        p.length = d[at + 2] << 8 | d[at + 3];
        std::size_t size = (p.length + 1) * 4;
        if (at + size > d.size()) {
            ADD_FAILURE() << "packet at " << at << " runs past the datagram";
            return packets;
        }
        p.bytes.assign(d.begin() + at, d.begin() + at + size);
        packets.push_back(p);
        at += size;
    }
    EXPECT_EQ(at, d.size()) << "compound lengths do not add up";
    return packets;
}

inline std::vector<SdesItem> SdesItems(const Packet &p) {
    std::vector<SdesItem> items;
    std::size_t at = 4;
    for (int chunk = 0; chunk < p.count && at + 4 <= p.bytes.size(); chunk++) {
        uint32_t ssrc = p.Word(at);
        at += 4;
        while (at < p.bytes.size() && p.bytes[at] != 0) {
            int type = p.bytes[at];
            std::size_t length = p.bytes[at + 1];
            items.push_back(
                {ssrc, type,
                 std::string(p.bytes.begin() + at + 2, p.bytes.begin() + at + 2 + length)});
            at += 2 + length;
        }
        at = (at + 4) & ~std::size_t{3};
    }
    return items;
}

inline std::string ByeReason(const Packet &p) {
    std::size_t at = 4 + 4 * p.count;
    if (at >= p.bytes.size()) {
        return "";
    }
    return std::string(p.bytes.begin() + at + 1, p.bytes.begin() + at + 1 + p.bytes[at]);
}

// A UDP socket pair on loopback standing for the remote party: the context sends to it.
class PeerSockets {
  public:
    PeerSockets() {
        for (int attempt = 0; attempt < 50 && rtp_ < 0; attempt++) {
            uint16_t port = static_cast<uint16_t>(30000 + (getpid() * 7 + attempt * 2) % 9000 * 2);
            int a = Bind(port), b = Bind(port + 1);
            if (a >= 0 && b >= 0) {
                rtp_ = a;
                rtcp_ = b;
                port_ = port;
            } else {
                if (a >= 0)
                    close(a);
                if (b >= 0)
                    close(b);
            }
        }
    }
    ~PeerSockets() {
        if (rtp_ >= 0)
            close(rtp_);
        if (rtcp_ >= 0)
            close(rtcp_);
    }
    PeerSockets(const PeerSockets &) = delete;
    PeerSockets &operator=(const PeerSockets &) = delete;

    uint16_t port() const { return port_; }
    // The next compound, or none within the wait (the wait is for the kernel, not RTCP time).
    std::optional<std::vector<uint8_t>> Receive(int wait_ms = 200) {
        pollfd p{rtcp_, POLLIN, 0};
        if (poll(&p, 1, wait_ms) <= 0) {
            return std::nullopt;
        }
        std::vector<uint8_t> d(65536);
        ssize_t n = recv(rtcp_, d.data(), d.size(), 0);
        if (n < 0) {
            return std::nullopt;
        }
        d.resize(n);
        return d;
    }

  private:
    static int Bind(uint16_t port) {
        int s = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close(s);
            return -1;
        }
        return s;
    }
    int rtp_ = -1, rtcp_ = -1;
    uint16_t port_ = 0;
};

inline sockaddr_in Address(const char *ip, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// Writers for compounds that a remote party sends, in wire order.
struct Compound {
    std::vector<uint8_t> bytes;

    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v) {
        U8(v >> 8);
        U8(v & 0xFF);
    }
    void U32(uint32_t v) {
        U16(v >> 16);
        U16(v & 0xFFFF);
    }
    void Header(int count, int type, std::size_t start) {
        std::size_t size = bytes.size() - start;
        bytes[start] = static_cast<uint8_t>(0x80 | count);
        bytes[start + 1] = static_cast<uint8_t>(type);
        bytes[start + 2] = static_cast<uint8_t>((size / 4 - 1) >> 8);
        bytes[start + 3] = static_cast<uint8_t>(size / 4 - 1);
    }
    std::size_t Begin() {
        std::size_t start = bytes.size();
        U32(0);
        return start;
    }
    struct Block {
        uint32_t ssrc;
        uint8_t fraction;
        uint32_t lost, highest, jitter, lsr, dlsr;
    };
    Compound &SR(uint32_t ssrc, uint32_t ntp_sec, uint32_t ntp_frac, uint32_t rtp, uint32_t packets,
                 uint32_t octets, const std::vector<Block> &blocks = {}) {
        std::size_t s = Begin();
        for (uint32_t v : {ssrc, ntp_sec, ntp_frac, rtp, packets, octets}) {
            U32(v);
        }
        Blocks(blocks);
        Header(static_cast<int>(blocks.size()), 200, s);
        return *this;
    }
    Compound &RR(uint32_t ssrc, const std::vector<Block> &blocks = {}) {
        std::size_t s = Begin();
        U32(ssrc);
        Blocks(blocks);
        Header(static_cast<int>(blocks.size()), 201, s);
        return *this;
    }
    // Chunks of (SSRC, [(type, text)]).
    Compound &SDES(
        const std::vector<std::pair<uint32_t, std::vector<std::pair<int, std::string>>>> &chunks) {
        std::size_t s = Begin();
        for (const auto &[ssrc, items] : chunks) {
            U32(ssrc);
            for (const auto &[type, text] : items) {
                U8(static_cast<uint8_t>(type));
                U8(static_cast<uint8_t>(text.size()));
                bytes.insert(bytes.end(), text.begin(), text.end());
            }
            do {
                U8(0);
            } while ((bytes.size() - s) % 4 != 0);
        }
        Header(static_cast<int>(chunks.size()), 202, s);
        return *this;
    }
    Compound &BYE(const std::vector<uint32_t> &ssrcs, const std::string &reason) {
        std::size_t s = Begin();
        for (uint32_t v : ssrcs) {
            U32(v);
        }
        if (!reason.empty()) {
            U8(static_cast<uint8_t>(reason.size()));
            bytes.insert(bytes.end(), reason.begin(), reason.end());
        }
        while ((bytes.size() - s) % 4 != 0) {
            U8(0);
        }
        Header(static_cast<int>(ssrcs.size()), 203, s);
        return *this;
    }
    Compound &APP(uint32_t ssrc) {
        std::size_t s = Begin();
        U32(ssrc);
        U32(0x74657374);  // name "test"
        Header(0, 204, s);
        return *this;
    }
    Compound &Raw(int count, int type, const std::vector<uint8_t> &body) {
        std::size_t s = Begin();
        bytes.insert(bytes.end(), body.begin(), body.end());
        Header(count, type, s);
        return *this;
    }

  private:
    void Blocks(const std::vector<Block> &blocks) {
        for (const Block &b : blocks) {
            U32(b.ssrc);
            U32(uint32_t{b.fraction} << 24 | (b.lost & 0xFFFFFF));
            for (uint32_t v : {b.highest, b.jitter, b.lsr, b.dlsr}) {
                U32(v);
            }
        }
    }
};

// An RTP packet of a remote sender, wire order.
inline std::vector<uint8_t> RtpPacket(uint32_t ssrc, uint16_t sequence, uint32_t timestamp) {
    std::vector<uint8_t> p = {0x80, 3, static_cast<uint8_t>(sequence >> 8),
                              static_cast<uint8_t>(sequence & 0xFF)};
    for (uint32_t v : {timestamp, ssrc}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            p.push_back(static_cast<uint8_t>(v >> shift));
        }
    }
    p.resize(12 + 33, 0xD0);
    return p;
}

}  // namespace sipline::test

namespace sipline {
void ScheduleRTPEvent(int32_t context, rtp_event_t *event, const timeval *due) {
    test::scheduled.emplace(test::Micros(*due), test::ScheduledEvent{context, event});
}
}  // namespace sipline
