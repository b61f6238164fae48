// The codec table of the line's audio: for each codec a call may agree (sip/sdp), its frame of
// 20 ms on the wire and its coder to and from the line. The audio threads code through it and
// never ask which codec they have.
#pragma once

#include <cstdint>

#include "media/gsm_codec.h"

namespace sipline {

inline constexpr int32_t FRAME_SAMPLES = GSM_FRAME_SAMPLES;  // 20 ms at 8000 samples per second

// One call's coder for one codec (GSM keeps state between frames).
class audio_coder {
  public:
    explicit audio_coder(int32_t codec);
    audio_coder(const audio_coder &) = delete;
    audio_coder &operator=(const audio_coder &) = delete;

    int32_t codec() const { return codec_; }
    // Bytes of one 20-ms frame of FRAME_SAMPLES samples.
    int32_t frame_bytes() const;
    // The most payload bytes of one packet that the line takes (200 ms of audio).
    int32_t payload_bytes_most() const;
    // One frame of linear samples to frame_bytes() bytes.
    void encode(const int16_t *samples, uint8_t *frame);
    // A payload to the line's mu-law samples (`line` has room for 8 per payload byte); the count
    // written. Frames that do not decode are skipped.
    int32_t decode(const uint8_t *payload, int32_t length, uint8_t *line);

  private:
    int32_t codec_;
    gsm_codec gsm_;
};

}  // namespace sipline
