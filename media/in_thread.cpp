#include <poll.h>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "media/audio_thread.h"
#include "media/call_figures.h"
#include "media/call_link.h"
#include "media/codecs.h"
#include "media/line_digits.h"
#include "media/line_echo.h"
#include "media/media_update.h"
#include "media/play_feed.h"
#include "media/playout.h"
#include "media/probe.h"
#include "media/report_limit.h"
#include "media/session.h"
#include "media/telephone_event.h"
#include "media/threads.h"
#include "media/voip_metrics.h"
#include "rtp/rtp.h"
#include "support/resolve.h"

namespace sipline {
namespace {

constexpr int32_t RECEIVE_BUFFER = 65536;
// The readiness wait is cut after about a block's time, so that an end of the call by SIP BYE
// or on the line (MediaStop, CallLoopRunning) is seen before the next call is set up.
constexpr uint32_t WAKE_LOWEST_MS = 5;
constexpr uint32_t WAKE_HIGHEST_MS = 100;
// More audio than one packet of any sane sender carries (RFC 3551 packets are 20 to 60 ms):
// a bigger payload would hold the play stream's every block for one datagram of garbage.
// An event packet with RFC 4733 redundancy carries a few events; more is no event packet.
constexpr int32_t EVENT_BYTES_MOST = 64;
constexpr int32_t PAYLOAD_TYPES = 128;
// While the call's audio source is heard, packets of other sources are not played over it.
constexpr auto SOURCE_HOLD = std::chrono::seconds(1);

int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class receiver {
  public:
    receiver(uint64_t serial, int32_t context, int rtp, int rtcp)
        : serial_(serial),
          context_(context),
          rtp_(rtp),
          rtcp_(rtcp),
          buffer_(RECEIVE_BUFFER),
          events_(SDP_DTMF_EVENTS),
          feed_(PlayStream, FWBuffersize, [serial] { return call_still_runs(serial); }) {
        if (resolve_host(RTPDestAddress, &peer_) != 0) {
            peer_.s_addr = INADDR_ANY;
        }
        take_media();
    }

    void run();

  private:
    void receive_rtp();
    void receive_rtcp();
    // The loss the caller reports about the gateway's stream, for the call's figures.
    void take_report(const rtcp_packet_info_t &info);
    // The call's codecs and direction, again after each re-INVITE or UPDATE.
    void take_media();
    void play(const rtp_packet_info_t &info);
    void take_event(const rtp_packet_info_t &info);
    // What the jitter buffer has due: audio to the line, events to the line's keys.
    void release();
    void play_event(bool marker, uint32_t ts, const uint8_t *payload, int32_t length);
    // How long the readiness wait may last: until the next frame is due, at most wake_ms.
    int wait_ms(uint32_t wake_ms) const;
    // The first packet of an agreed payload type names where the caller's media really come
    // from; the gateway sends there. Later packets never move it (a stranger's packets must not
    // redirect an established stream, the "RTP bleed" of CVE-2017-14099); a new agreement may.
    void latch(const rtp_packet_info_t &info);
    // The keys the caller sent by SIP INFO, and the end of a press whose packets stopped.
    void play_digits();
    // Whether the packet's audio is played: it is of a sane size and comes from the call's
    // audio source (or the source it had fell silent). Notes the source when it is.
    bool take_source(const rtp_packet_info_t &info, int32_t most);
    void update_metrics(uint32_t ssrc, int32_t codec);
    bool may_receive(const rtp_mutex_hold &hold);

    uint64_t serial_;
    int32_t context_;
    int rtp_;
    int rtcp_;
    std::vector<char> buffer_;
    media_description_t media_{};
    uint64_t media_seen_ = 0;
    bool latched_ = false;
    std::array<int8_t, PAYLOAD_TYPES> codec_of_{};
    std::array<std::unique_ptr<audio_coder>, SDP_CODEC_COUNT> coders_;
    line_playout playout_{coders_};
    bool plays_ = true;
    telephone_event_receiver events_;
    line_digits digits_;
    play_feed feed_;
    in_addr peer_{};
    // The caller's RTP was latched to another address than its description named (a NAT), and
    // its RTCP's source port since. InTh only.
    bool nat_latched_ = false;
    bool rtcp_latched_ = false;
    bool audio_heard_ = false;
    uint32_t audio_ssrc_ = 0;
    std::chrono::steady_clock::time_point audio_at_{};
    // When the RTCP reports' VoIP metrics were last brought up to date. InTh only.
    std::chrono::steady_clock::time_point metrics_at_{};
    once_a_second rtp_error_, rtcp_error_, busy_, select_error_, stranger_, dropped_, event_error_;
};

void receiver::latch(const rtp_packet_info_t &info) {
    const int32_t pt = info.header->pt;
    if (latched_ || (codec_of_[static_cast<size_t>(pt & 0x7F)] == SDP_CODEC_NONE &&
                     pt != media_.event_payload_type)) {
        return;
    }
    latched_ = true;
    sockaddr_in from{};
    if (RTPMostRecentAddr(context_, &from) == RTP_OK && MediaLatch(context_, from)) {
        peer_ = from.sin_addr;
        nat_latched_ = true;
    }
}

void receiver::take_media() {
    media_seen_ = MediaUpdateCount();
    latched_ = false;
    nat_latched_ = false;
    rtcp_latched_ = false;
    media_ = MediaCurrent();
    // Any codec the call agreed is played, whichever the caller switches to (RFC 3264 section
    // 5.1); one coder each, as GSM keeps state from frame to frame.
    codec_of_.fill(SDP_CODEC_NONE);
    for (int32_t c = 0; c < SDP_CODEC_COUNT; ++c) {
        const int32_t pt = media_.payload_type[c];
        if (pt >= 0 && pt < PAYLOAD_TYPES) {
            codec_of_[static_cast<size_t>(pt)] = static_cast<int8_t>(c);
            if (coders_[static_cast<size_t>(c)] == nullptr) {
                coders_[static_cast<size_t>(c)] = std::make_unique<audio_coder>(c);
            }
        }
    }
    events_.set_events(media_.events);
    // On hold (the gateway's side sendonly or inactive) nothing the caller sends is played.
    plays_ = media_.direction == SDP_SENDRECV || media_.direction == SDP_RECVONLY;
}

void receiver::run() {
    const uint32_t wake_ms = block_ms(FWBuffersize, WAKE_LOWEST_MS, WAKE_HIGHEST_MS);
    while (call_still_runs(serial_)) {
        pollfd sockets[2] = {{rtp_, POLLIN, 0}, {rtcp_, POLLIN, 0}};
        int ready = ::poll(sockets, 2, wait_ms(wake_ms));
        if (ready < 0) {
            if (errno != EINTR && select_error_.due()) {
                std::fprintf(stderr, "select error\n");
            }
            continue;
        }
        if (MediaUpdateCount() != media_seen_) {
            take_media();
        }
        play_digits();
        release();
        // Woken by the limit: the loop condition decides. Once the call has ended the sockets
        // may be closed and their numbers taken by the next call: do not touch them.
        if (ready == 0 || !call_still_runs(serial_)) {
            continue;
        }
        if ((sockets[0].revents & (POLLIN | POLLERR)) != 0) {
            const media_probe_t *probe = MediaProbe.load(std::memory_order_relaxed);
            if (probe == nullptr) {
                receive_rtp();
            } else {
                const auto ready_at = std::chrono::steady_clock::now();
                const int64_t before = feed_.blocks_committed();
                receive_rtp();
                probe->in_path(
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - ready_at)
                        .count(),
                    static_cast<int32_t>(feed_.blocks_committed() - before));
            }
        }
        if ((sockets[1].revents & (POLLIN | POLLERR)) != 0 && call_still_runs(serial_)) {
            receive_rtcp();
        }
        release();
    }
    MediaLineKeyPlaying(false);  // a key cut short by the call's end pauses nothing after it
    const dsp::JitterStats s = playout_.stats();
    std::printf(
        "InTh: received %lld, lost %lld, late %lld, duplicated %lld, concealed %lld "
        "frames; buffer delay %d ms, at most %d ms; shed %lld packets, stretched %lld frames, "
        "restarted %lld times\n",
        static_cast<long long>(s.received), static_cast<long long>(s.lost),
        static_cast<long long>(s.late), static_cast<long long>(s.duplicated),
        static_cast<long long>(s.concealed), s.delay_ms, s.delay_most_ms,
        static_cast<long long>(s.shrunk), static_cast<long long>(s.stretched),
        static_cast<long long>(s.resets));
    MediaPublishPlayoutStats(s);
}

int receiver::wait_ms(uint32_t wake_ms) const {
    const int64_t due = playout_.next_due_us();
    if (due < 0) {
        return static_cast<int>(wake_ms);
    }
    const int64_t left_us = due - now_us();
    // Rounded up: woken a little late the frame is still written in time, the board keeps a
    // queue of blocks; woken early it would only wait again.
    return static_cast<int>(std::clamp<int64_t>((left_us + 999) / 1000, 0, wake_ms));
}

void receiver::release() {
    if (!call_still_runs(serial_)) {
        return;
    }
    playout_.release(
        now_us(), feed_, [this] { return digits_.muting(); },
        [this](bool marker, uint32_t ts, const uint8_t *payload, int32_t length) {
            play_event(marker, ts, payload, length);
        });
    MediaLineKeyPlaying(digits_.muting());
}

// Whether a receive may go on under the hold: the mutex was had within its limit (otherwise the
// datagram stays in the socket for the next round) and the session is still this call's.
bool receiver::may_receive(const rtp_mutex_hold &hold) {
    if (!hold.held()) {
        if (busy_.due()) {
            std::fprintf(stderr, "InTh: RTP context busy for %u ms\n", RTP_MUTEX_WAIT_MS);
        }
        return false;
    }
    return MediaSessionSerial() == serial_;
}

void receiver::receive_rtp() {
    rtp_packet_info_t info{};
    {
        rtp_mutex_hold hold;
        if (!may_receive(hold)) {
            return;
        }
        int32_t length = RECEIVE_BUFFER;
        rtperror e = RTPReceive(context_, rtp_, buffer_.data(), &length);
        if (e != RTP_OK && e != RTP_PACKET_LOOPBACK) {
            // Anyone can send anything to the port (a STUN request, a stray packet): report it
            // and go on with the call.
            if (rtp_error_.due()) {
                std::fprintf(stderr, "RTPReceive RTP : %d %s %d %d\n", e, RTPStrError(e), rtp_,
                             context_);
            }
            return;
        }
        if (RTPGetRTPPacketInfo(&info, buffer_.data(), length) != RTP_OK) {
            return;
        }
        latch(info);
    }
    play(info);
}

bool receiver::take_source(const rtp_packet_info_t &info, int32_t most) {
    const uint32_t ssrc = info.header->ssrc;
    const auto now = std::chrono::steady_clock::now();
    const bool other = audio_heard_ && ssrc != audio_ssrc_ && now - audio_at_ < SOURCE_HOLD;
    if (other || info.payload_length > most) {
        if (dropped_.due()) {
            std::fprintf(stderr, "InTh: payload type %d of %d bytes from SSRC %08x dropped\n",
                         static_cast<int>(info.header->pt), info.payload_length, ssrc);
        }
        return false;
    }
    audio_heard_ = true;
    audio_ssrc_ = ssrc;
    audio_at_ = now;
    return true;
}

void receiver::play(const rtp_packet_info_t &info) {
    const auto *payload = reinterpret_cast<const uint8_t *>(info.payload);
    const int32_t pt = info.header->pt;
    if (pt == media_.event_payload_type) {
        take_event(info);
        return;
    }
    const int8_t codec = codec_of_[static_cast<size_t>(pt & 0x7F)];
    if (codec == SDP_CODEC_NONE) {
        return;
    }
    audio_coder &coder = *coders_[static_cast<size_t>(codec)];
    if (!take_source(info, coder.payload_bytes_most()) || !plays_) {
        return;
    }
    const int64_t arrival = now_us();
    playout_.audio(info.header->seq, info.header->ts, info.header->ssrc, codec, payload,
                   info.payload_length, arrival);
    MediaFiguresArrival(info.header->ts, arrival);
    MediaFiguresPlayout(playout_.stats());
    update_metrics(info.header->ssrc, codec);
}

// Reports leave every few seconds: the figures they carry are brought up to date once a second
// rather than with every packet, which would take the RTP mutex fifty times as often.
void receiver::update_metrics(uint32_t ssrc, int32_t codec) {
    const auto now = std::chrono::steady_clock::now();
    if (now - metrics_at_ < std::chrono::seconds(1)) {
        return;
    }
    metrics_at_ = now;
    const rtp_voip_metrics_t metrics = MediaVoIPMetrics(playout_.stats(), ssrc, codec);
    rtp_mutex_hold hold;
    if (may_receive(hold)) {  // the context is still this call's
        RTPSetVoIPMetrics(context_, &metrics);
    }
}

void receiver::take_event(const rtp_packet_info_t &info) {
    if (!take_source(info, EVENT_BYTES_MOST)) {
        return;
    }
    playout_.event(info.header->seq, info.header->ts, info.header->ssrc, info.header->m != 0,
                   reinterpret_cast<const uint8_t *>(info.payload), info.payload_length, now_us());
}

void receiver::play_event(bool marker, uint32_t ts, const uint8_t *payload, int32_t length) {
    telephone_event_t event{};
    if (TelephoneEventRead(payload, length, &event) != 0) {
        if (event_error_.due()) {
            std::fprintf(stderr, "InTh: event packet of %d bytes ignored\n", length);
        }
        return;
    }
    const key_action_t action = events_.take(ts, marker, event);
    if (action.ignored && event.event >= 16 && event_error_.due()) {
        std::fprintf(stderr, "InTh: event %d ignored\n", static_cast<int>(event.event));
    }
    if (plays_) {
        digits_.take(action, feed_);
    }
}

void receiver::play_digits() {
    char key = 0;
    int32_t duration_ms = 0;
    while (MediaNextDigit(&key, &duration_ms)) {
        if (plays_ && !digits_.press(key, duration_ms, feed_)) {
            return;
        }
    }
    digits_.tick(events_, feed_);
    MediaLineKeyPlaying(digits_.muting());
}

void receiver::receive_rtcp() {
    rtp_mutex_hold hold;
    if (!may_receive(hold)) {
        return;
    }
    int32_t length = RECEIVE_BUFFER;
    rtperror e = RTPReceive(context_, rtcp_, buffer_.data(), &length);
    if (e == RTP_PACKET_LOOPBACK) {
        return;  // our own report, heard back from a multicast group
    }
    if (e != RTP_OK) {
        if (rtcp_error_.due()) {
            std::fprintf(stderr, "RTPReceive RTCP : %d %s %d %d\n", e, RTPStrError(e), rtcp_,
                         context_);
        }
        return;
    }
    sockaddr_in from{};
    RTPMostRecentAddr(context_, &from);
    // RFC 3550 section 6: RTCP behind a NAT comes from a port of the NAT's own choosing, not
    // always the RTP port + 1; learnt once per latch, from the latched address and SSRC only.
    if (nat_latched_ && !rtcp_latched_ && audio_heard_ &&
        RtcpFromPeer(buffer_.data(), length, audio_ssrc_, from, peer_)) {
        rtcp_latched_ = true;
        MediaLatchRtcp(context_, from);
    }
    rtcp_packet_info_t info{};
    if (RTPGetRTCPPacketInfo(&info, buffer_.data()) != RTP_OK) {
        return;
    }
    if (info.packet->pt == RTCP_SR || info.packet->pt == RTCP_RR) {
        take_report(info);
    }
    if (info.packet->pt != RTCP_BYE) {
        return;
    }
    const int32_t bytes = (info.packet->length + 1) * 4;
    if (!ByeFromPeer(buffer_.data(), bytes, audio_heard_, audio_ssrc_, from, peer_)) {
        if (stranger_.due()) {
            std::printf("RTCP_BYE ignored: not from the call's peer\n");
        }
        return;
    }
    std::printf("RTCP_BYE received\n");
    MediaRemoteHangup();
}

void receiver::take_report(const rtcp_packet_info_t &info) {
    uint32_t own = 0;
    if (info.position == nullptr || RTPMemberInfoGetSSRC(context_, 0, &own) != RTP_OK) {
        return;
    }
    // RTPGetRTCPPacketInfo has checked that the packet's stated length lies in the datagram.
    const int32_t words = info.packet->length;
    const int32_t header_words = info.packet->pt == RTCP_SR ? 6 : 1;
    const auto *blocks = reinterpret_cast<const rtcp_rr_t *>(info.position);
    for (int32_t i = 0; i < info.packet->count && header_words + (i + 1) * 6 <= words; ++i) {
        if (blocks[i].ssrc == own) {
            MediaFiguresRemoteLost(blocks[i].loss >> 8);
            return;
        }
    }
}

}  // namespace

uint32_t InTh(void *) {
    pthread_setname_np(pthread_self(), "InTh");
    if (MediaStop != 0) {
        return 0;
    }
    std::printf("InTh started\n");
    const uint64_t serial = MediaSessionSerial();
    int32_t context = 0;
    int rtp = -1;
    int rtcp = -1;
    {
        rtp_mutex_hold hold;
        if (!MediaSessionOpen()) {
            std::printf("InTh exiting\n");
            return 0;
        }
        context = RtpContext;
        rtperror e = RTPSessionGetRTPSocket(context, &rtp);
        if (e == RTP_OK) {
            std::printf("RTP Socket: %d\n", rtp);
            e = RTPSessionGetRTCPSocket(context, &rtcp);
        }
        if (e == RTP_OK) {
            std::printf("RTCP Socket: %d\n", rtcp);
        } else {
            std::fprintf(stderr, "%s\n", RTPStrError(e));
            std::exit(1);
        }
    }
    {
        receiver r(serial, context, rtp, rtcp);
        r.run();
    }
    media_probe_thread_end("InTh");
    std::printf("InTh exiting\n");
    return 0;
}

}  // namespace sipline
