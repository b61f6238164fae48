// The caller's audio on its way to the line: packets go into an adaptive jitter buffer as they
// arrive and come out in order at their time to play, decoded, with the gaps of lost and late
// packets concealed; RFC 4733 events come out in their place in the stream.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dsp/concealment.h"
#include "dsp/jitter_buffer.h"
#include "media/codecs.h"
#include "media/play_feed.h"
#include "sip/sdp/media_description.h"

namespace sipline {

class line_playout {
  public:
    // The coder of each codec the call agreed (null for the others), owned by the caller.
    explicit line_playout(const std::array<std::unique_ptr<audio_coder>, SDP_CODEC_COUNT> &coders);

    void audio(uint16_t seq, uint32_t ts, uint32_t ssrc, int32_t codec, const uint8_t *payload,
               int32_t length, int64_t now_us);
    void event(uint16_t seq, uint32_t ts, uint32_t ssrc, bool marker, const uint8_t *payload,
               int32_t length, int64_t now_us);

    // Writes what is due by now_us to the feed, passing each event due to on_event(marker, ts,
    // payload, length) in its place; while muted() (a key plays on the line) the audio is not
    // written but its time goes by. False when the call ended while the stream was full.
    using event_sink = std::function<void(bool marker, uint32_t ts, const uint8_t *, int32_t)>;
    bool release(int64_t now_us, play_feed &feed, const std::function<bool()> &muted,
                 const event_sink &on_event);
    // When release() may have something to write next; -1 when nothing waits.
    int64_t next_due_us() const { return buffer_.next_due_us(); }
    dsp::JitterStats stats() const { return buffer_.stats(); }

  private:
    bool write(const uint8_t *line, int32_t samples, play_feed &feed, char stall_mark);

    const std::array<std::unique_ptr<audio_coder>, SDP_CODEC_COUNT> &coders_;
    dsp::JitterBuffer buffer_;
    dsp::Concealment concealment_;
    std::vector<uint8_t> line_;
    std::vector<int16_t> linear_;
    char stall_mark_ = 'w';
};

// The jitter buffer's figures of the call that ended last (for the log and tests); false before
// the first call ends.
bool MediaLastPlayoutStats(dsp::JitterStats *stats);
void MediaPublishPlayoutStats(const dsp::JitterStats &stats);

}  // namespace sipline
