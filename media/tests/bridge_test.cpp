// The media bridge of one call on the simulated line, its peer the test's own sockets.
#include <gtest/gtest.h>

#include <regex>

#include "media/tests/bridge_fixture.h"

namespace sipline::testing {
namespace {

constexpr double TONE_AMPLITUDE = 8000;
constexpr uint32_t PEER_SSRC = 0x1234abcd;

size_t count_of(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST_F(BridgeTest, PcmuToneFromTheNetworkIsHeardOnTheLineAtItsFrequencyAndLevel) {
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    start_call();
    send_tone(make_tone(1000, TONE_AMPLITUDE, 8000), RTP_PAYLOAD_PCMU, PEER_SSRC);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tone_seen t = measure(heard());
    EXPECT_GT(t.samples, 3000u) << "about a second of tone reaches the line";
    EXPECT_NEAR(t.hz, 1000, 10);
    EXPECT_NEAR(db(t.rms / (TONE_AMPLITUDE / std::sqrt(2))), 0, 0.5) << "rms " << t.rms;
}

TEST_F(BridgeTest, GsmToneFromTheNetworkIsHeardOnTheLineAtItsFrequencyAndLevel) {
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    start_call();
    send_tone(make_tone(1000, TONE_AMPLITUDE, 8000), RTP_PAYLOAD_GSM, PEER_SSRC);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tone_seen t = measure(heard());
    EXPECT_GT(t.samples, 3000u);
    EXPECT_NEAR(t.hz, 1000, 10);
    EXPECT_NEAR(db(t.rms / (TONE_AMPLITUDE / std::sqrt(2))), 0, 1.5) << "rms " << t.rms;
}

TEST_F(BridgeTest, TwoGsmFramesInOnePacketFillTwoBlocks) {
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    open_line(160);
    open_session();
    start_threads();
    std::vector<int16_t> tone = make_tone(1000, TONE_AMPLITUDE, 320 * 25);
    gsm_codec encoder;
    for (size_t at = 0, n = 0; at < tone.size(); at += 320, ++n) {
        std::vector<uint8_t> payload(2 * GSM_FRAME_BYTES);
        encoder.encode(&tone[at], payload.data());
        encoder.encode(&tone[at + 160], payload.data() + GSM_FRAME_BYTES);
        peer_rtp_.send_to(local_port_,
                          rtp_packet(3, static_cast<uint16_t>(n), static_cast<uint32_t>(at),
                                     PEER_SSRC, n == 0, payload));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tone_seen t = measure(heard());
    EXPECT_NEAR(t.hz, 1000, 10) << "both frames of every packet are played, in order";
    EXPECT_GT(t.samples, 3000u);
}

struct sent_stream {
    std::vector<rtp_seen> packets;
    std::vector<int16_t> decoded;
};

sent_stream collect(const peer_socket &peer, double seconds) {
    sent_stream s;
    gsm_codec decoder;
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
        std::vector<uint8_t> d = peer.receive(50);
        if (d.empty()) {
            continue;
        }
        rtp_seen r = parse_rtp(d);
        if (r.payload.size() == GSM_FRAME_BYTES) {
            int16_t samples[GSM_FRAME_SAMPLES];
            decoder.decode(r.payload.data(), samples);
            s.decoded.insert(s.decoded.end(), samples, samples + GSM_FRAME_SAMPLES);
        }
        s.packets.push_back(std::move(r));
    }
    return s;
}

void expect_gsm_stream(const sent_stream &s) {
    ASSERT_FALSE(s.packets.empty());
    for (size_t i = 0; i < s.packets.size(); ++i) {
        const rtp_seen &p = s.packets[i];
        EXPECT_EQ(p.version, 2) << i;
        EXPECT_EQ(p.pt, 3) << i;
        EXPECT_EQ(p.payload.size(), 33u) << i;
        EXPECT_EQ(p.marker, i == 0) << "the marker is on the first packet only: " << i;
        if (i > 0) {
            EXPECT_EQ(static_cast<uint16_t>(p.seq - s.packets[i - 1].seq), 1) << i;
            EXPECT_EQ(p.ts - s.packets[i - 1].ts, 160u) << i;
            EXPECT_EQ(p.ssrc, s.packets[0].ssrc) << i;
        }
    }
}

TEST_F(BridgeTest, TheLinesToneLeavesAsGsmPacketsOfOneFrameEach) {
    write_file("say.wav", wav_of(make_tone(700, TONE_AMPLITUDE, 8000)));
    setenv("BOARDSIM_SAY", path("say.wav").c_str(), 1);
    start_call();
    sent_stream s = collect(peer_rtp_, 1.0);
    EXPECT_GE(s.packets.size(), 40u) << "50 frames a second";
    EXPECT_LE(s.packets.size(), 55u);
    expect_gsm_stream(s);
    tone_seen t = measure(s.decoded);
    EXPECT_NEAR(t.hz, 700, 10);
    EXPECT_NEAR(db(t.rms / (TONE_AMPLITUDE / std::sqrt(2))), 0, 1.5) << "rms " << t.rms;
}

// Every recorded sample leaves, in 160-sample frames, whatever the board's block size.
TEST_F(BridgeTest, EveryRecordedSampleLeavesWhateverTheBlockSize) {
    for (int32_t block : {240, 400}) {
        SCOPED_TRACE(block);
        setenv("BOARDSIM_BLOCK", std::to_string(block).c_str(), 1);
        start_call(block);
        sent_stream s = collect(peer_rtp_, 0.6);
        dx_stop_io(io_.record, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sent_stream rest = collect(peer_rtp_, 0.2);
        s.packets.insert(s.packets.end(), rest.packets.begin(), rest.packets.end());
        const size_t recorded = std::stoul(status_of("recorded"));
        EXPECT_EQ(s.packets.size(), recorded / 160) << "recorded " << recorded << " bytes";
        expect_gsm_stream(s);
        stop_call();
        boardsim_shutdown();
    }
}

TEST_F(BridgeTest, GarbageOnBothPortsIsReportedAndTheCallsAudioGoesOn) {
    setenv("BOARDSIM_CAPTURE", path("heard.wav").c_str(), 1);
    start_call();
    std::mt19937 random(7);
    const std::vector<std::vector<uint8_t>> garbage = {
        {0x40, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},           // version 1
        {0x80, 0, 0},                                      // truncated header
        {0x8F, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},           // 15 CSRCs that are not there
        {0x00, 0x01, 0x00, 0x01, 0x21, 0x12, 0xA4, 0x42},  // a STUN binding request's start
        std::vector<uint8_t>(60000, 0x80),                 // oversized
        {0x81, 200, 0, 40, 0, 0, 0, 1},                    // RTCP whose length is too long
        {0x81, 201, 0, 0, 0, 0, 0, 1},                     // RTCP whose length is too short
        {},
    };
    ::testing::internal::CaptureStderr();
    send_tone(make_tone(1000, TONE_AMPLITUDE, 8000), RTP_PAYLOAD_PCMU, PEER_SSRC, [&](int n) {
        std::vector<uint8_t> g = garbage[static_cast<size_t>(n) % garbage.size()];
        if (g.empty()) {
            g.resize(1 + random() % 1400);
            for (uint8_t &b : g)
                b = static_cast<uint8_t>(random());
        }
        peer_rtp_.send_to(local_port_, g);
        peer_rtp_.send_to(static_cast<uint16_t>(local_port_ + 1), g);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ended(in_, 0)) << "InTh still serves the call";
    tone_seen t = measure(heard());
    EXPECT_NEAR(t.hz, 1000, 10) << "the audio went on among the garbage";
    EXPECT_GT(t.samples, 3000u);
    EXPECT_GE(count_of(errors, "RTPReceive RTP : "), 1u) << errors;
    EXPECT_LE(count_of(errors, "RTPReceive RTP : "), 2u) << "at most once a second: " << errors;
    EXPECT_LE(count_of(errors, "RTPReceive RTCP : "), 2u) << errors;
}

TEST_F(BridgeTest, ThePeersRtcpByeEndsTheCallOnce) {
    start_call();
    send_tone(make_tone(1000, TONE_AMPLITUDE, 1600), RTP_PAYLOAD_PCMU, PEER_SSRC);
    peer_rtcp_.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({PEER_SSRC}));
    peer_rtcp_.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({PEER_SSRC}));
    EXPECT_TRUE(ended(in_, 1000)) << "InTh ends with the call";
    EXPECT_EQ(call_.remote_hangups, 1);
    EXPECT_EQ(call_.HangupSignalled, 1);
    EXPECT_EQ(call_.CallState, ST_CLEANUP);
    EXPECT_EQ(MediaStop, 1);
    EXPECT_FALSE(MediaSessionOpen());
}

TEST_F(BridgeTest, AByeAfterTheSipByeIsOnlyPrinted) {
    start_call();
    send_tone(make_tone(1000, TONE_AMPLITUDE, 800), RTP_PAYLOAD_PCMU, PEER_SSRC);
    call_.HangupSignalled = 1;
    peer_rtcp_.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({PEER_SSRC}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(call_.remote_hangups, 0);
    EXPECT_TRUE(MediaSessionOpen());
}

TEST_F(BridgeTest, AStrangersByeDoesNotEndTheCall) {
    start_call();
    peer_socket stranger;
    ASSERT_TRUE(stranger.bind_to("127.0.0.2", 0));
    // Before any audio: only the peer's address counts.
    stranger.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({PEER_SSRC}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(call_.remote_hangups, 0) << "a BYE from another address before the audio";
    send_tone(make_tone(1000, TONE_AMPLITUDE, 800), RTP_PAYLOAD_PCMU, PEER_SSRC);
    // Once audio came: only a BYE naming its source counts, from wherever.
    peer_rtcp_.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({0x5555}));
    stranger.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({0x6666, 0x7777}));
    // A compound whose first packet is not a BYE is no BYE.
    std::vector<uint8_t> rr = {0x80, 201, 0, 1, 0x12, 0x34, 0xab, 0xcd};
    std::vector<uint8_t> bye = rtcp_bye({PEER_SSRC});
    rr.insert(rr.end(), bye.begin(), bye.end());
    peer_rtcp_.send_to(static_cast<uint16_t>(local_port_ + 1), rr);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(call_.remote_hangups, 0);
    EXPECT_TRUE(MediaSessionOpen());
    EXPECT_FALSE(ended(in_, 0));
    stranger.close();
}

TEST_F(BridgeTest, AByeFromThePeersAddressBeforeAnyAudioEndsTheCall) {
    start_call();
    peer_rtcp_.send_to(static_cast<uint16_t>(local_port_ + 1), rtcp_bye({0x42}));
    EXPECT_TRUE(ended(in_, 1000));
    EXPECT_EQ(call_.remote_hangups, 1);
}

TEST_F(BridgeTest, SendFailuresDropFramesAndTheCallGoesOn) {
    start_call();
    ASSERT_GE(collect(peer_rtp_, 0.2).packets.size(), 5u);
    peer_rtp_.close();  // the peer went away: ICMP port unreachable for the next sends
    ::testing::internal::CaptureStderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ended(out_, 0)) << "OutTh still runs";
    // RTP leaves from the unconnected receive socket (symmetric RTP), which hears no ICMP
    // refusal; where one is heard it is reported at most once a second.
    EXPECT_LE(count_of(errors, "RTPSend: "), 2u) << "at most once a second: " << errors;
    ASSERT_TRUE(peer_rtp_.bind_to("127.0.0.1", RTPDestPort));
    EXPECT_GE(collect(peer_rtp_, 0.3).packets.size(), 5u) << "sending resumes";
}

TEST_F(BridgeTest, TheAudioThreadsEndWithinABlockOfTheCallsEnd) {
    start_call();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto start = std::chrono::steady_clock::now();
    MediaStop = 1;  // no pulse, no traffic: the threads must notice by themselves
    EXPECT_TRUE(ended(in_, 1000));
    EXPECT_TRUE(ended(out_, 1000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST_F(BridgeTest, AThreadOfAClosedSessionDoesNotServeTheNextCall) {
    start_call();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    // The end of a call and the next cycle's re-initialisation, faster than a block.
    MediaStop = 1;
    WaitForSingleObject(RtpMutex, INFINITE);
    CloseMediaSession("hangup");
    ReleaseMutex(RtpMutex);
    MediaStop = 0;
    open_session();
    EXPECT_TRUE(ended(in_, 500)) << "InTh stayed with the old session";
    EXPECT_TRUE(ended(out_, 500)) << "OutTh stayed with the old session";
}

TEST_F(BridgeTest, ThreadsResumedWhileMediaStopIsSetReturnAtOnce) {
    open_line();
    MediaStop = 1;
    ::testing::internal::CaptureStdout();
    in_ = CreateThread(InTh, nullptr, 0);
    out_ = CreateThread(OutTh, nullptr, 0);
    EXPECT_TRUE(ended(in_, 100));
    EXPECT_TRUE(ended(out_, 100));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(BridgeTest, ManyCallsLeaveNoDeadlineAndNoEventBehind) {
    open_line();
    start_threads(false);
    for (int call = 0; call < 30; ++call) {
        open_session();
        RTPSend(RtpContext, 160, 1, 3, std::vector<uint8_t>(33, 0).data(), 33);
        EXPECT_GE(ScheduleLength(), 1) << "the session's first report is pending";
        PulseEvent(shdwnhandle);  // the end of a call, while the session is still open
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(ScheduleLength(), 1) << "the open session keeps its deadlines";
        WaitForSingleObject(RtpMutex, INFINITE);
        CloseMediaSession("hangup");
        ReleaseMutex(RtpMutex);
        EXPECT_EQ(ScheduleLength(), 0) << "call " << call;
    }
}

}  // namespace
}  // namespace sipline::testing
