#include <pthread.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "dsp/dtmf.h"
#include "media/audio_thread.h"
#include "media/call_figures.h"
#include "media/codecs.h"
#include "media/line_echo.h"
#include "media/line_supervision.h"
#include "media/media_update.h"
#include "media/probe.h"
#include "media/record_framer.h"
#include "media/report_limit.h"
#include "media/session.h"
#include "media/telephone_event.h"
#include "media/threads.h"
#include "rtp/rtp.h"
#include "sip/uas/gateway.h"

namespace sipline {
namespace {

constexpr int32_t RELEASE_COUNT = 0xFFFF;
// The stream event is waited on with a limit, so that a thread whose call ended while it was
// busy (and missed the pulse of shdwnhandle) still ends before the next call records.
constexpr uint32_t WAKE_LOWEST_MS = 20;
constexpr uint32_t WAKE_HIGHEST_MS = 200;

// Frames held back while telephone-event is agreed, so that a key is detected before the frames
// that carry its first tone go out as audio (the far end would hear the key twice).
constexpr size_t HELD_FRAMES_MOST = 2;
constexpr uint8_t EVENT_VOLUME = 10;  // dBm0 below 0: the level a Q.23 key is sent at

struct out_packet {
    int16_t payload_type;
    char marker;
    int32_t increment;
    int32_t length;
    uint8_t payload[GSM_FRAME_BYTES > FRAME_SAMPLES ? GSM_FRAME_BYTES : FRAME_SAMPLES];
};

class sender {
  public:
    sender(uint64_t serial, int32_t context)
        : serial_(serial), context_(context), echo_(MediaLineEcho()) {
        take_media();
    }

    // False when the call ended while the block was being sent.
    // reference: what the line was played meanwhile (null when the board keeps none).
    bool send_block(const uint8_t *block, const uint8_t *reference, int32_t count);
    int32_t last_packets() const { return static_cast<int32_t>(packets_.size()); }
    void clear_marker() { marker_ = 0; }

  private:
    // The call's codec, events and direction, again after each re-INVITE or UPDATE.
    void take_media();
    // heard: what the line's key detector is fed (the line before the echo canceller, whose
    // suppressor and comfort noise must not bend a key's twist); samples: the audio to send.
    void take_frame(const int16_t *heard, const int16_t *samples);
    void audio(const int16_t *samples);
    void send_event(const event_packet_t &p);

    uint64_t serial_;
    int32_t context_;
    uint64_t media_seen_ = 0;
    std::unique_ptr<audio_coder> coder_;
    int16_t payload_type_ = RTP_PAYLOAD_GSM;
    int16_t event_payload_type_ = -1;
    uint16_t events_ = 0;
    bool sends_ = true;
    char marker_ = 1;
    // The timestamp increment of the next packet: one frame, or more after frames that were
    // dropped before they reached the engine or that a key press took, so that the peer's
    // timing stays true.
    int32_t gap_ = FRAME_SAMPLES;
    record_framer framer_;
    std::unique_ptr<dsp::DtmfDetector> detector_;
    LineSupervisor supervisor_;
    char key_down_ = 0;  // set by the detector during feed()
    char key_up_ = 0;
    std::deque<std::array<int16_t, FRAME_SAMPLES>> held_;
    telephone_event_sender keys_;
    std::vector<out_packet> packets_;
    once_a_second send_error_, busy_;
    line_echo echo_;
};

void sender::take_media() {
    media_seen_ = MediaUpdateCount();
    const media_description_t media = MediaCurrent();
    const int32_t codec =
        media.send_codec >= 0 ? int32_t{media.send_codec} : int32_t{SDP_CODEC_GSM};
    if (coder_ == nullptr || coder_->codec() != codec) {
        coder_ = std::make_unique<audio_coder>(codec);
    }
    payload_type_ = media.send_codec >= 0 ? media.payload_type[media.send_codec] : RTP_PAYLOAD_GSM;
    event_payload_type_ = media.event_payload_type;
    events_ = media.events;
    // On hold (the gateway's side recvonly or inactive) nothing goes to the caller.
    sends_ = media.direction == SDP_SENDRECV || media.direction == SDP_SENDONLY;
    if (event_payload_type_ >= 0 && detector_ == nullptr) {
        detector_ = std::make_unique<dsp::DtmfDetector>(
            [this](char key, bool down) { (down ? key_down_ : key_up_) = key; });
    }
}

void sender::audio(const int16_t *samples) {
    if (!sends_) {
        gap_ += FRAME_SAMPLES;  // on hold: the clock goes on, nothing is sent
        return;
    }
    out_packet &p = packets_.emplace_back();
    p.payload_type = payload_type_;
    p.marker = 0;
    p.increment = gap_;
    p.length = coder_->frame_bytes();
    coder_->encode(samples, p.payload);
    gap_ = FRAME_SAMPLES;
}

void sender::send_event(const event_packet_t &e) {
    out_packet &p = packets_.emplace_back();
    p.payload_type = event_payload_type_;
    p.marker = e.marker ? 1 : 0;
    p.increment = e.timestamp_increment;
    p.length = TELEPHONE_EVENT_BYTES;
    TelephoneEventWrite(e.event, p.payload);
}

// RFC 4733 section 2.5: a key held on the line goes out as one event with one timestamp, its
// duration growing each frame, its end sent three times; the audio of those frames is not sent.
void sender::take_frame(const int16_t *heard, const int16_t *samples) {
    if (detector_ == nullptr) {
        audio(samples);
        return;
    }
    key_down_ = 0;
    key_up_ = 0;
    detector_->feed(heard, FRAME_SAMPLES);
    if (key_down_ != 0 && key_down_ == echo_.echoed_key()) {
        key_down_ = 0;  // the echo of the key the gateway plays on the line, not the line's
    }
    auto &frame = held_.emplace_back();
    std::copy(samples, samples + FRAME_SAMPLES, frame.begin());
    const int32_t event = TelephoneEventOfKey(key_down_);
    if (!keys_.held() && event >= 0 && (events_ & (1U << event)) != 0 && sends_) {
        std::printf("DTMF %c from the line\n", key_down_);
        send_event(keys_.press(key_down_, static_cast<int32_t>(held_.size()) * FRAME_SAMPLES, gap_,
                               EVENT_VOLUME));
        gap_ = 0;
        held_.clear();
    } else if (keys_.held()) {
        held_.clear();
        send_event(keys_.hold(FRAME_SAMPLES));
    }
    if (keys_.held() && key_up_ != 0) {
        int32_t next = 0;
        const event_packet_t end = keys_.release(&next);
        for (int32_t i = 0; i < TELEPHONE_EVENT_END_PACKETS; ++i) {
            send_event(end);
        }
        gap_ = next;
    }
    while (held_.size() > (keys_.held() ? 0 : HELD_FRAMES_MOST)) {
        audio(held_.front().data());
        held_.pop_front();
    }
}

bool sender::send_block(const uint8_t *block, const uint8_t *reference, int32_t count) {
    packets_.clear();
    if (MediaUpdateCount() != media_seen_) {
        take_media();
    }
    // Coded before the context is locked: the lock is for the engine only.
    echo_.played(reference, count);
    framer_.push(block, count, [this](const int16_t *samples) {
        std::array<int16_t, FRAME_SAMPLES> frame;
        std::array<int16_t, FRAME_SAMPLES> heard;
        std::copy(samples, samples + FRAME_SAMPLES, frame.begin());
        echo_.cancel(frame.data(), heard.data());
        if (supervisor_.feed(heard.data(), FRAME_SAMPLES)) {
            // The state machine ends the call as when the loop drops: BYE, line on-hook.
            std::printf("The line's party has hung up (%s)\n", supervisor_.reason());
            const sip_gateway_t *door = SipGateway();
            if (door->PostEvent != nullptr) {
                door->PostEvent(door->context, EV_LINE_DISCONNECT);
            }
        }
        take_frame(heard.data(), frame.data());
    });
    if (packets_.empty()) {
        return true;
    }
    rtp_mutex_hold hold;
    if (MediaStop != 0 || MediaSessionSerial() != serial_) {
        return false;
    }
    if (!hold.held()) {
        for (const out_packet &p : packets_) {
            gap_ += p.increment;
        }
        if (busy_.due()) {
            std::fprintf(stderr, "OutTh: RTP context busy for %u ms, frames dropped\n",
                         RTP_MUTEX_WAIT_MS);
        }
        return true;
    }
    for (const out_packet &p : packets_) {
        const char marker = p.payload_type == payload_type_ ? marker_ : p.marker;
        rtperror e = RTPSend(context_, p.increment, marker, p.payload_type, p.payload, p.length);
        if (e == RTP_OK) {
            MediaFiguresSent(1);
            if (p.payload_type == payload_type_) {
                marker_ = 0;
            }
        } else if (send_error_.due()) {
            // A peer that went away (ICMP port unreachable on the connected socket) must not end
            // the gateway: the frame is dropped.
            std::fprintf(stderr, "RTPSend: %s\n", RTPStrError(e));
        }
    }
    return true;
}

}  // namespace

uint32_t OutTh(void *) {
    pthread_setname_np(pthread_self(), "OutTh");
    if (MediaStop != 0) {
        return 0;
    }
    HANDLE wakers[2] = {RecordStreamEvent, shdwnhandle};
    const int32_t block = FWBuffersize;
    const uint32_t wake_ms = block_ms(2 * block, WAKE_LOWEST_MS, WAKE_HIGHEST_MS);
    std::printf("OutTh started, FWBuffersize %d\n", block);
    const uint64_t serial = MediaSessionSerial();
    sender out(serial, RtpContext);
    while (call_still_runs(serial)) {
        uint32_t woken = WaitForMultipleObjects(2, wakers, false, wake_ms);
        if (woken == WAIT_OBJECT_0) {
            const uint8_t *data = tuvo_next_recorded_block(RecordStream);
            if (data == nullptr) {
                std::printf("y");
                continue;
            }
            const media_probe_t *probe = MediaProbe.load(std::memory_order_relaxed);
            const auto taken_at = std::chrono::steady_clock::now();
            bool running = out.send_block(data, tuvo_recorded_reference(RecordStream), block);
            if (probe != nullptr) {
                probe->out_path(
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - taken_at)
                        .count(),
                    out.last_packets());
            }
            tuvo_release_block(RecordStream, RELEASE_COUNT);
            if (!running) {
                break;
            }
        } else if (woken == WAIT_OBJECT_0 + 1) {
            std::printf("OutTh: shdwnhandle\n");
            out.clear_marker();
        } else if (woken == WAIT_FAILED) {
            std::printf("Wait failed %d\n", errno);
            out.clear_marker();
            std::this_thread::sleep_for(std::chrono::milliseconds(wake_ms));
        }
    }
    media_probe_thread_end("OutTh");
    std::printf("OutTh exiting\n");
    return 0;
}

}  // namespace sipline
