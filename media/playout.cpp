#include "media/playout.h"

#include <mutex>

#include "media/mulaw.h"

namespace sipline {
namespace {

// Room for the largest payload any codec of the table decodes to (8 samples per byte at most).
constexpr size_t LINE_SAMPLES_MOST = 8 * 4096;

std::mutex last_stats_mutex;
bool last_stats_known = false;  // written by InTh at a call's end, read by anyone, under the mutex
dsp::JitterStats last_stats;

// The samples a payload decodes to, known before it is decoded (at its time to play, in order,
// for the coders that keep state from frame to frame).
int32_t samples_of(const audio_coder &coder, int32_t length) {
    const int32_t frame = coder.frame_bytes();
    return frame > 0 ? length / frame * FRAME_SAMPLES + length % frame * FRAME_SAMPLES / frame : 0;
}

}  // namespace

line_playout::line_playout(const std::array<std::unique_ptr<audio_coder>, SDP_CODEC_COUNT> &coders)
    : coders_(coders),
      buffer_(dsp::JitterBuffer::kLeastMs, dsp::JitterBuffer::kMostMs, dsp::Concealment::kFadeMs),
      line_(LINE_SAMPLES_MOST),
      linear_(LINE_SAMPLES_MOST) {}

void line_playout::audio(uint16_t seq, uint32_t ts, uint32_t ssrc, int32_t codec,
                         const uint8_t *payload, int32_t length, int64_t now_us) {
    const audio_coder *coder = coders_[static_cast<size_t>(codec)].get();
    dsp::JitterBuffer::Packet p;
    p.seq = seq;
    p.ts = ts;
    p.ssrc = ssrc;
    p.samples = samples_of(*coder, length);
    p.tag = codec;
    p.payload.assign(payload, payload + length);
    buffer_.put(std::move(p), now_us);
}

void line_playout::event(uint16_t seq, uint32_t ts, uint32_t ssrc, bool marker,
                         const uint8_t *payload, int32_t length, int64_t now_us) {
    dsp::JitterBuffer::Packet p;
    p.seq = seq;
    p.ts = ts;
    p.ssrc = ssrc;
    p.event = true;
    p.tag = marker ? 1 : 0;
    p.payload.assign(payload, payload + length);
    buffer_.put(std::move(p), now_us);
}

bool line_playout::write(const uint8_t *line, int32_t samples, play_feed &feed, char stall_mark) {
    return samples <= 0 || feed.write(line, static_cast<size_t>(samples), stall_mark);
}

bool line_playout::release(int64_t now_us, play_feed &feed, const std::function<bool()> &muted,
                           const event_sink &on_event) {
    const auto &expand = mulaw_table();
    for (;;) {
        dsp::JitterBuffer::Step step = buffer_.next(now_us);
        switch (step.action) {
            case dsp::JitterBuffer::Action::none:
                return true;
            case dsp::JitterBuffer::Action::event:
                on_event(step.packet.tag != 0, step.packet.ts, step.packet.payload.data(),
                         static_cast<int32_t>(step.packet.payload.size()));
                break;
            case dsp::JitterBuffer::Action::play: {
                audio_coder *found = coders_[static_cast<size_t>(step.packet.tag)].get();
                if (found == nullptr) {
                    break;
                }
                audio_coder &coder = *found;
                const int32_t n =
                    coder.decode(step.packet.payload.data(),
                                 static_cast<int32_t>(step.packet.payload.size()), line_.data());
                stall_mark_ = coder.codec() == SDP_CODEC_GSM ? 'x' : 'w';
                // Through the concealment even when muted, so that its history is the caller's
                // latest audio and the first packet after a gap is blended in.
                for (int32_t i = 0; i < n; ++i) {
                    linear_[static_cast<size_t>(i)] = expand[line_[static_cast<size_t>(i)]];
                }
                concealment_.received(linear_.data(), n);
                for (int32_t i = 0; i < n; ++i) {
                    line_[static_cast<size_t>(i)] = mulaw_compress(linear_[static_cast<size_t>(i)]);
                }
                if (!muted() && !write(line_.data(), n, feed, stall_mark_)) {
                    return false;
                }
                break;
            }
            case dsp::JitterBuffer::Action::conceal: {
                const int32_t n = step.samples;
                concealment_.fill(linear_.data(), n);
                for (int32_t i = 0; i < n; ++i) {
                    line_[static_cast<size_t>(i)] = mulaw_compress(linear_[static_cast<size_t>(i)]);
                }
                if (!muted() && !write(line_.data(), n, feed, stall_mark_)) {
                    return false;
                }
                break;
            }
        }
    }
}

bool MediaLastPlayoutStats(dsp::JitterStats *stats) {
    std::lock_guard lock(last_stats_mutex);
    if (last_stats_known) {
        *stats = last_stats;
    }
    return last_stats_known;
}

void MediaPublishPlayoutStats(const dsp::JitterStats &stats) {
    std::lock_guard lock(last_stats_mutex);
    last_stats = stats;
    last_stats_known = true;
}

}  // namespace sipline
