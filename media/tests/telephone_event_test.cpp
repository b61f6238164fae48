// RFC 4733 events: the payload, each press taken once from what the network delivers, and the
// sender's packets for a key held on the line.
#include "media/telephone_event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/codecs.h"
#include "media/mulaw.h"
#include "sip/sdp/media_description.h"

namespace sipline {
namespace {

telephone_event_t ev(uint8_t event, uint16_t duration, bool end = false) {
    return {event, end, 10, duration};
}

struct packet_in {
    uint32_t timestamp;
    bool marker;
    telephone_event_t event;
};

// Feeds the packets and writes down what the line would hear: "+5" a press of 5 begins, "-5:800"
// it ends after 800 samples.
std::string presses(const std::vector<packet_in> &packets, uint16_t events = SDP_DTMF_EVENTS) {
    telephone_event_receiver rx(events);
    std::string heard;
    for (const packet_in &p : packets) {
        const key_action_t a = rx.take(p.timestamp, p.marker, p.event);
        if (a.start) {
            heard += std::string("+") + a.key;
        }
        if (a.end) {
            heard += std::string("-") + a.key + ":" + std::to_string(a.duration);
        }
    }
    return heard;
}

TEST(TelephoneEventPayload, ReadsAndWritesTheFourBytes) {
    const uint8_t wire[] = {11, 0x8A, 0x03, 0x20};
    telephone_event_t e{};
    ASSERT_EQ(TelephoneEventRead(wire, 4, &e), 0);
    EXPECT_EQ(e.event, 11);
    EXPECT_TRUE(e.end);
    EXPECT_EQ(e.volume, 10);
    EXPECT_EQ(e.duration, 800);
    uint8_t back[4];
    TelephoneEventWrite(e, back);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(wire, wire + 4));
    EXPECT_EQ(TelephoneEventRead(wire, 3, &e), -1);
    EXPECT_EQ(TelephoneEventKey(10), '*');
    EXPECT_EQ(TelephoneEventKey(15), 'D');
    EXPECT_EQ(TelephoneEventKey(16), 0);
    EXPECT_EQ(TelephoneEventOfKey('#'), 11);
    EXPECT_EQ(TelephoneEventOfKey('b'), 13);
    EXPECT_EQ(TelephoneEventOfKey('x'), -1);
}

TEST(TelephoneEventReceiver, EachPressOnceWhateverTheNetworkDoes) {
    struct row {
        const char *name;
        std::vector<packet_in> packets;
        const char *heard;
    };
    const std::vector<row> rows = {
        {"a press with its three end packets",
         {{1000, true, ev(5, 160)}, {1000, false, ev(5, 320)}, {1000, false, ev(5, 480)},
          {1000, false, ev(5, 800, true)}, {1000, false, ev(5, 800, true)}, {1000, false, ev(5, 800, true)}},
         "+5-5:800"},
        {"no marker on the first packet",
         {{1000, false, ev(5, 160)}, {1000, false, ev(5, 800, true)}}, "+5-5:800"},
        {"the first packets lost", {{1000, false, ev(5, 640)}, {1000, false, ev(5, 800, true)}},
         "+5-5:800"},
        {"only the end packets arrive", {{1000, false, ev(5, 800, true)}, {1000, false, ev(5, 800, true)}},
         "+5-5:800"},
        {"the same key twice is two presses",
         {{1000, true, ev(5, 800, true)}, {1000, false, ev(5, 800, true)}, {2600, true, ev(5, 800, true)}},
         "+5-5:800+5-5:800"},
        {"a reordered older update changes nothing",
         {{1000, true, ev(1, 480)}, {1000, false, ev(1, 320)}, {1000, false, ev(1, 640, true)}},
         "+1-1:640"},
        {"a packet of an earlier press after the next began is late",
         {{1000, true, ev(1, 320)}, {2000, true, ev(2, 320)}, {1000, false, ev(1, 480, true)},
          {2000, false, ev(2, 480, true)}},
         "+1+2-2:480"},
        {"a new key without the last one's end starts anew",
         {{1000, true, ev(1, 320)}, {2000, true, ev(2, 320, true)}}, "+1+2-2:320"},
        {"a long press goes on in a second segment",
         {{1000, true, ev(4, 65000)}, {1000, false, ev(4, 65535)}, {66535, false, ev(4, 400)},
          {66535, false, ev(4, 800, true)}},
         "+4-4:66335"},
        {"events beyond the keys are ignored", {{1000, true, ev(16, 800, true)}, {1000, true, ev(255, 8)}}, ""},
        {"zero duration", {{1000, true, ev(0, 0)}, {1000, false, ev(0, 0, true)}}, "+0-0:0"},
        {"timestamps that wrap", {{0xFFFFFF00, true, ev(9, 800, true)}, {0x00000100, true, ev(3, 160, true)}},
         "+9-9:800+3-3:160"},
    };
    for (const row &r : rows) {
        EXPECT_EQ(presses(r.packets), r.heard) << r.name;
    }
    EXPECT_EQ(presses({{1000, true, ev(12, 800, true)}}, 0x0FFF), "") << "an event not agreed";
}

TEST(TelephoneEventReceiver, APressWhoseEndIsLostExpires) {
    telephone_event_receiver rx(SDP_DTMF_EVENTS);
    EXPECT_TRUE(rx.take(1000, true, ev(7, 320)).start);
    EXPECT_TRUE(rx.pressed());
    const key_action_t a = rx.expire();
    EXPECT_TRUE(a.end);
    EXPECT_EQ(a.key, '7');
    EXPECT_EQ(a.duration, 320);
    EXPECT_TRUE(rx.expire().ignored);
    EXPECT_TRUE(rx.take(1000, false, ev(7, 800, true)).ignored) << "its late end changes nothing";
}

TEST(TelephoneEventReceiver, AFloodOfPacketsIsOnePress) {
    telephone_event_receiver rx(SDP_DTMF_EVENTS);
    int starts = 0;
    for (int i = 0; i < 100000; ++i) {
        starts += rx.take(5000, i == 0, ev(3, static_cast<uint16_t>(i % 65536))).start ? 1 : 0;
    }
    EXPECT_EQ(starts, 1);
}

TEST(TelephoneEventSender, OneTimestampGrowingDurationThreeEnds) {
    telephone_event_sender tx;
    // Two frames were held back when the key was found in the third.
    event_packet_t first = tx.press('5', 3 * FRAME_SAMPLES, FRAME_SAMPLES, 10);
    EXPECT_TRUE(first.marker);
    EXPECT_EQ(first.timestamp_increment, FRAME_SAMPLES) << "the event stands at the first held frame";
    EXPECT_EQ(first.event.event, 5);
    EXPECT_EQ(first.event.duration, 480);
    EXPECT_FALSE(first.event.end);
    event_packet_t next = tx.hold(FRAME_SAMPLES);
    EXPECT_FALSE(next.marker);
    EXPECT_EQ(next.timestamp_increment, 0);
    EXPECT_EQ(next.event.duration, 640);
    int32_t after = 0;
    event_packet_t end = tx.release(&after);
    EXPECT_TRUE(end.event.end);
    EXPECT_EQ(end.event.duration, 640);
    EXPECT_EQ(end.timestamp_increment, 0);
    EXPECT_EQ(after, 640) << "the next audio stands where the press ended";
    EXPECT_FALSE(tx.held());
}

TEST(TelephoneEventSender, ALongPressIsSegmented) {
    telephone_event_sender tx;
    tx.press('1', FRAME_SAMPLES, FRAME_SAMPLES, 10);
    int32_t segment_increments = 0;
    int32_t sent = FRAME_SAMPLES;
    for (int i = 0; i < 500; ++i) {  // 10 s
        event_packet_t p = tx.hold(FRAME_SAMPLES);
        sent += FRAME_SAMPLES;
        EXPECT_LE(p.event.duration, TELEPHONE_EVENT_SEGMENT_MOST);
        segment_increments += p.timestamp_increment;
    }
    int32_t after = 0;
    event_packet_t end = tx.release(&after);
    EXPECT_GT(segment_increments, 0);
    EXPECT_EQ(segment_increments + end.event.duration, sent);
}

TEST(AudioCoder, EachCodecCarriesAToneToTheLine) {
    for (int32_t codec : {SDP_CODEC_PCMU, SDP_CODEC_PCMA, SDP_CODEC_GSM}) {
        audio_coder coder(codec);
        int16_t samples[FRAME_SAMPLES];
        for (int32_t i = 0; i < FRAME_SAMPLES; ++i) {
            samples[i] = static_cast<int16_t>(i % 20 < 10 ? 8000 : -8000);
        }
        std::vector<uint8_t> frame(static_cast<size_t>(coder.frame_bytes()));
        std::vector<uint8_t> line(8 * frame.size());
        double energy = 0;
        for (int round = 0; round < 4; ++round) {  // GSM needs a few frames to settle
            coder.encode(samples, frame.data());
            const int32_t n = coder.decode(frame.data(), coder.frame_bytes(), line.data());
            ASSERT_EQ(n, FRAME_SAMPLES) << SdpCodecName(codec);
            energy = 0;
            for (int32_t i = 0; i < n; ++i) {
                const double v = mulaw_expand(line[static_cast<size_t>(i)]);
                energy += v * v;
            }
        }
        EXPECT_GT(energy / FRAME_SAMPLES, 1e7) << SdpCodecName(codec);
    }
    audio_coder gsm(SDP_CODEC_GSM);
    uint8_t garbage[33] = {};
    uint8_t line[8 * 33];
    EXPECT_EQ(gsm.decode(garbage, 33, line), 0) << "a frame without GSM's magic is skipped";
    EXPECT_EQ(gsm.decode(garbage, 32, line), 0) << "a part of a frame is no frame";
}

}  // namespace
}  // namespace sipline
