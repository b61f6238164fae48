// A call's media bridge on a simulated line: the board's channels playing and recording, a
// session made by setup_connection towards a peer on loopback (the test's own sockets, on
// dynamic ports), and the schedule and audio threads running.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "boardsim/tests/board_fixture.h"
#include "media/bridge_state.h"
#include "media/gsm_codec.h"
#include "media/schedule_internal.h"
#include "media/session.h"
#include "media/tests/tone.h"
#include "media/threads.h"
#include "rtp/rtp.h"
#include "sip/uas/request.h"
#include "sip/uas/tests/fake_gateway.h"

namespace sipline::testing {

// The call's variables, and the events the bridge posts to the line, counted.
struct media_gateway : call_variables {
    std::atomic<int> remote_hangups{0};
    std::atomic<int> other_events{0};

    void install() {
        sip_gateway_t g = record();
        g.PostEvent = [](void *context, int32_t type) {
            auto *self = static_cast<media_gateway *>(context);
            (type == EV_REMOTE_HANGUP ? self->remote_hangups : self->other_events)++;
        };
        g.context = this;
        SipGatewayRegister(&g);
    }
};

struct rtp_seen {
    uint8_t version = 0;
    bool marker = false;
    uint8_t pt = 0;
    uint16_t seq = 0;
    uint32_t ts = 0;
    uint32_t ssrc = 0;
    std::vector<uint8_t> payload;
};

// A UDP socket of the test, bound on loopback.
struct peer_socket {
    int fd = -1;
    uint16_t port = 0;

    bool bind_to(const char *address, uint16_t wanted) {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(wanted);
        inet_pton(AF_INET, address, &a.sin_addr);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            close();
            return false;
        }
        socklen_t length = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
        port = ntohs(a.sin_port);
        return true;
    }
    void close() {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = -1;
    }
    void send_to(uint16_t to_port, const std::vector<uint8_t> &bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(to_port);
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    // One datagram, or empty after limit_ms.
    std::vector<uint8_t> receive(int limit_ms) const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, limit_ms) != 1) {
            return {};
        }
        std::vector<uint8_t> bytes(65536);
        ssize_t n = ::recv(fd, bytes.data(), bytes.size(), 0);
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }
};

inline std::vector<uint8_t> rtp_packet(uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc,
                                       bool marker, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> p = {0x80, static_cast<uint8_t>((marker ? 0x80 : 0) | pt),
                              static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
    for (uint32_t word : {ts, ssrc}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            p.push_back(static_cast<uint8_t>(word >> shift));
        }
    }
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

inline std::vector<uint8_t> rtcp_bye(const std::vector<uint32_t> &ssrcs) {
    std::vector<uint8_t> p = {static_cast<uint8_t>(0x80 | ssrcs.size()), 203, 0,
                              static_cast<uint8_t>(ssrcs.size())};
    for (uint32_t s : ssrcs) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            p.push_back(static_cast<uint8_t>(s >> shift));
        }
    }
    return p;
}

inline rtp_seen parse_rtp(const std::vector<uint8_t> &d) {
    rtp_seen r;
    if (d.size() < 12) {
        return r;
    }
    r.version = d[0] >> 6;
    r.marker = (d[1] & 0x80) != 0;
    r.pt = d[1] & 0x7F;
    r.seq = static_cast<uint16_t>(d[2] << 8 | d[3]);
    r.ts = uint32_t{d[4]} << 24 | uint32_t{d[5]} << 16 | uint32_t{d[6]} << 8 | d[7];
    r.ssrc = uint32_t{d[8]} << 24 | uint32_t{d[9]} << 16 | uint32_t{d[10]} << 8 | d[11];
    r.payload.assign(d.begin() + 12, d.end());
    return r;
}

// A 16-bit PCM mono 8 kHz WAV image.
inline std::vector<uint8_t> wav_of(const std::vector<int16_t> &samples) {
    auto put32 = [](std::vector<uint8_t> &v, uint32_t x) {
        for (int i = 0; i < 4; ++i)
            v.push_back(static_cast<uint8_t>(x >> (8 * i)));
    };
    std::vector<uint8_t> w = {'R', 'I', 'F', 'F'};
    put32(w, static_cast<uint32_t>(36 + samples.size() * 2));
    for (char c : std::string("WAVEfmt "))
        w.push_back(static_cast<uint8_t>(c));
    put32(w, 16);
    for (uint8_t b : {1, 0, 1, 0})
        w.push_back(b);
    put32(w, 8000);
    put32(w, 16000);
    for (uint8_t b : {2, 0, 16, 0})
        w.push_back(b);
    for (char c : std::string("data"))
        w.push_back(static_cast<uint8_t>(c));
    put32(w, static_cast<uint32_t>(samples.size() * 2));
    for (int16_t s : samples) {
        w.push_back(static_cast<uint8_t>(s));
        w.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return w;
}

class BridgeTest : public BoardTest {
  protected:
    void SetUp() override {
        BoardTest::SetUp();
        if (RtpMutex == nullptr) {
            RtpMutex = CreateMutex(false);
        }
        if (shdwnhandle == nullptr) {
            shdwnhandle = CreateEvent(false, nullptr);
            RescheduleEvent = CreateEvent(false, nullptr);
        }
        CallLoopRunning = 1;
        MediaStop = 0;
        QuitRequested = 0;
        call_.install();
        request_t *r = RequestCreate(TRANSPORT_UDP, -1, nullptr);
        r->to.uri.user = strdup("5551234");
        r->to.uri.host = strdup("gw.sipline.test");
        call_.CurrentRequest = r;
        // An even port whose odd neighbour is free too, as RTP and RTCP want.
        std::mt19937 pick(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr)));
        for (int tries = 0; tries < 100; ++tries) {
            uint16_t port = static_cast<uint16_t>(20000 + 2 * (pick() % 10000));
            if (peer_rtp_.bind_to("127.0.0.1", port)) {
                if (peer_rtcp_.bind_to("127.0.0.1", static_cast<uint16_t>(port + 1))) {
                    break;
                }
                peer_rtp_.close();
            }
        }
        ASSERT_GE(peer_rtcp_.fd, 0);
    }

    void TearDown() override {
        stop_call();
        peer_rtp_.close();
        peer_rtcp_.close();
        RequestFree(call_.CurrentRequest.exchange(nullptr));
        BoardTest::TearDown();
    }

    // Opens the line as the gateway does for a connected call, with the board's block size.
    void open_line(int32_t block = 160) {
        FWBuffersize = block;
        io_.play = open_channel(1);
        io_.record = open_channel(3);
        connect_call(io_.play);
        io_.out = tuvo_create_buffer(32, block);
        io_.in = tuvo_create_buffer(32, block);
        ASSERT_EQ(dx_play(io_.play, nullptr, HANGUP_LIST, &MULAW_8K, EV_ASYNC), 0);
        ASSERT_EQ(tuvo_start_play(io_.play, io_.out), 0);
        ASSERT_EQ(dx_rec(io_.record, nullptr, HANGUP_LIST, &MULAW_8K, RECORD_MODE), 0);
        ASSERT_EQ(tuvo_start_record(io_.record, io_.in), 0);
        PlayStream = io_.out;
        RecordStream = io_.in;
        RecordStreamEvent = OpenEvent("dxxxB1C3TUVOEvent");
        ASSERT_NE(RecordStreamEvent, nullptr);
    }

    // setup_connection towards the peer; the local port is dynamic and noted in local_port_.
    void open_session() {
        std::snprintf(RTPDestAddress, sizeof RTPDestAddress, "127.0.0.1");
        RTPDestPort = peer_rtp_.port;
        RTPDestTTL = 0;
        LocalAddress = nullptr;
        LocalPort = 0;
        ASSERT_EQ(setup_connection(), 0);
        ASSERT_TRUE(MediaSessionOpen());
        const char *host = nullptr;
        ASSERT_EQ(RTPSessionGetReceiveAddr(RtpContext, &host, &local_port_), RTP_OK);
    }

    void start_threads(bool audio = true) {
        schedule_ = CreateThread(RTPScheduleProc, nullptr, 0);
        if (audio) {
            in_ = CreateThread(InTh, nullptr, 0);
            out_ = CreateThread(OutTh, nullptr, 0);
        }
    }

    void start_call(int32_t block = 160) {
        open_line(block);
        open_session();
        start_threads();
    }

    static bool ended(HANDLE thread, int limit_ms) {
        return thread == nullptr ||
               WaitForSingleObject(thread, static_cast<uint32_t>(limit_ms)) == WAIT_OBJECT_0;
    }

    // Ends the call as the state machine does, then the schedule thread.
    void stop_call() {
        MediaStop = 1;
        PulseEvent(shdwnhandle);
        EXPECT_TRUE(ended(in_, 2000)) << "InTh did not end";
        EXPECT_TRUE(ended(out_, 2000)) << "OutTh did not end";
        WaitForSingleObject(RtpMutex, INFINITE);
        CloseMediaSession("hangup");
        ReleaseMutex(RtpMutex);
        if (schedule_ != nullptr) {
            QuitRequested = 1;
            while (WaitForSingleObject(schedule_, 10) != WAIT_OBJECT_0) {
                SetEvent(RescheduleEvent);
            }
        }
        for (HANDLE *h : {&in_, &out_, &schedule_}) {
            if (*h != nullptr) {
                CloseHandle(*h);
                *h = nullptr;
            }
        }
        ScheduleDiscardClosed();
        QuitRequested = 0;
        MediaStop = 0;
        if (RecordStreamEvent != nullptr) {
            CloseHandle(RecordStreamEvent);
            RecordStreamEvent = nullptr;
        }
    }

    // What the far party heard: the capture's samples, linear.
    std::vector<int16_t> heard() {
        std::vector<uint8_t> all = read_all(path("heard.wav"));
        if (all.size() <= CAPTURE_HEADER) {
            return {};
        }
        return expand_all(all.data() + CAPTURE_HEADER, all.size() - CAPTURE_HEADER);
    }

    // Sends the samples as 20 ms packets at their pace.
    void send_tone(const std::vector<int16_t> &tone, uint8_t pt, uint32_t ssrc,
                   const std::function<void(int)> &between = {}) {
        gsm_codec encoder;
        for (size_t at = 0, n = 0; at + 160 <= tone.size(); at += 160, ++n) {
            std::vector<uint8_t> payload;
            if (pt == RTP_PAYLOAD_PCMU) {
                for (size_t i = 0; i < 160; ++i)
                    payload.push_back(mulaw_compress(tone[at + i]));
            } else {
                payload.resize(GSM_FRAME_BYTES);
                encoder.encode(&tone[at], payload.data());
            }
            peer_rtp_.send_to(local_port_,
                              rtp_packet(pt, static_cast<uint16_t>(100 + n),
                                         static_cast<uint32_t>(at), ssrc, n == 0, payload));
            if (between) {
                between(static_cast<int>(n));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    media_gateway call_;
    call_io io_;
    peer_socket peer_rtp_, peer_rtcp_;
    uint16_t local_port_ = 0;
    HANDLE schedule_ = nullptr, in_ = nullptr, out_ = nullptr;
};

}  // namespace sipline::testing
