// An adaptive jitter buffer for one RTP audio stream at 8 kHz with its RFC 4733 events: packets
// go in as they arrive, and come out in sequence order at their time to play, which trails their
// sending time by a delay that follows the measured jitter. Times are a monotonic clock's
// microseconds, given by the caller, so that the buffer can be driven without a real clock.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace sipline::dsp {

struct JitterStats {
    int64_t received = 0;    // distinct packets (RFC 3550: the late ones count)
    int64_t lost = 0;        // sequence numbers that never arrived
    int64_t late = 0;        // arrived after their time to play; dropped
    int64_t duplicated = 0;  // copies of a packet already taken; dropped
    int64_t concealed = 0;   // 20-ms frames filled in for missing audio
    int64_t stretched = 0;   // 20-ms frames filled in to grow the delay
    int64_t shrunk = 0;      // packets dropped to shrink the delay
    int64_t resets = 0;      // a new source, or a jump in its sequence or timestamps
    int32_t delay_ms = 0;    // what the buffer adds now to the fastest packet's transit
    int32_t delay_most_ms = 0;
};

class JitterBuffer {
  public:
    static constexpr int32_t kMostMs = 200;
    static constexpr int32_t kLeastMs = 20;
    static constexpr int32_t kFrameSamples = 160;

    struct Packet {
        uint16_t seq = 0;
        uint32_t ts = 0;
        uint32_t ssrc = 0;
        bool event = false;   // RFC 4733: released in sequence order, never late
        int32_t samples = 0;  // of audio the payload decodes to
        int32_t tag = 0;      // the caller's (its codec)
        std::vector<uint8_t> payload;
    };

    enum class Action { none, play, conceal, event };
    struct Step {
        Action action = Action::none;
        Packet packet;        // play, event
        int32_t samples = 0;  // conceal: how many
    };

    // least_ms..most_ms bound the delay it adds. A gap (a later packet is there, the next one
    // is not) is concealed; an empty buffer is waited on, writing nothing, and the packet that
    // ends the wait plays late by the wait, the delay grown, unless the wait outlasted fade_ms:
    // then the caller had fallen silent and it starts a new talk spurt.
    explicit JitterBuffer(int32_t least_ms = kLeastMs, int32_t most_ms = kMostMs,
                          int32_t fade_ms = 60);

    void put(Packet packet, int64_t now_us);
    // What is due at now_us; call again until Action::none.
    Step next(int64_t now_us);
    // When next() may have something again: the next frame's time to play, or -1 when only a
    // packet can change that.
    int64_t next_due_us() const;
    JitterStats stats() const;

  private:
    void new_source(const Packet &packet);
    void restart_timing(uint32_t ts);
    void measure(int64_t transit_us, bool late, int64_t now_us);
    int64_t fastest_us() const;
    int64_t target_us(int64_t now_us) const;
    int64_t relative(uint32_t ts) const { return static_cast<int32_t>(ts - base_ts_); }
    Step conceal(int32_t samples, bool gap);

    int32_t least_us_, most_us_, fade_samples_;
    std::map<int64_t, Packet> queue_;  // by extended sequence number
    bool source_known_ = false;
    uint32_t ssrc_ = 0;
    int64_t highest_ = 0;  // extended sequence number
    int64_t first_ = 0;
    std::vector<int64_t> seen_;  // extended numbers taken, by their low bits
    bool playing_ = false;
    uint32_t base_ts_ = 0;          // timestamps count from here
    int64_t next_ = 0;              // samples after base_ts_ of the next one to play
    int64_t offset_us_ = 0;         // time to play of sample r: offset_us_ + r * 125
    int32_t filling_ = 0;           // samples concealed since the last audio played
    std::deque<int64_t> transits_;  // arrival less sending time of the latest audio packets
    int64_t peak_us_ = 0;           // of the latest late packet, held a while
    int64_t peak_at_us_ = 0;
    int64_t shrunk_at_us_ = 0;
    int64_t expected_before_ = 0;  // of the sources before a reset
    int64_t concealed_samples_ = 0;
    JitterStats stats_;
};

}  // namespace sipline::dsp
