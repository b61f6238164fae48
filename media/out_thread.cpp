#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "media/audio_thread.h"
#include "media/gsm_codec.h"
#include "media/probe.h"
#include "media/record_framer.h"
#include "media/report_limit.h"
#include "media/session.h"
#include "media/threads.h"
#include "rtp/rtp.h"

namespace sipline {
namespace {

constexpr int32_t RELEASE_COUNT = 0xFFFF;
// The stream event is waited on with a limit, so that a thread whose call ended while it was
// busy (and missed the pulse of shdwnhandle) still ends before the next call records.
constexpr uint32_t WAKE_LOWEST_MS = 20;
constexpr uint32_t WAKE_HIGHEST_MS = 200;

struct gsm_packet {
    uint8_t frame[GSM_FRAME_BYTES];
};

class sender {
  public:
    sender(uint64_t serial, int32_t context) : serial_(serial), context_(context) {}

    // False when the call ended while the block was being sent.
    bool send_block(const uint8_t *block, int32_t count);
    int32_t last_packets() const { return static_cast<int32_t>(packets_.size()); }
    void clear_marker() { marker_ = 0; }

  private:
    uint64_t serial_;
    int32_t context_;
    char marker_ = 1;
    // Timestamp units of frames dropped before they reached the engine; the next packet sent
    // carries them, so that the peer's timing stays true.
    int32_t held_back_ = 0;
    gsm_codec encoder_;
    record_framer framer_;
    std::vector<gsm_packet> packets_;
    once_a_second send_error_, busy_;
};

bool sender::send_block(const uint8_t *block, int32_t count) {
    packets_.clear();
    // Encoded before the context is locked: the lock is for the engine only.
    framer_.push(block, count, [this](const int16_t *samples) {
        packets_.emplace_back();
        encoder_.encode(samples, packets_.back().frame);
    });
    if (packets_.empty()) {
        return true;
    }
    rtp_mutex_hold hold;
    if (MediaStop != 0 || MediaSessionSerial() != serial_) {
        return false;
    }
    if (!hold.held()) {
        held_back_ += GSM_FRAME_SAMPLES * static_cast<int32_t>(packets_.size());
        if (busy_.due()) {
            std::fprintf(stderr, "OutTh: RTP context busy for %u ms, frames dropped\n",
                         RTP_MUTEX_WAIT_MS);
        }
        return true;
    }
    for (const gsm_packet &p : packets_) {
        rtperror e = RTPSend(context_, GSM_FRAME_SAMPLES + held_back_, marker_, RTP_PAYLOAD_GSM,
                             p.frame, GSM_FRAME_BYTES);
        held_back_ = 0;
        if (e == RTP_OK) {
            marker_ = 0;
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
            bool running = out.send_block(data, block);
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
