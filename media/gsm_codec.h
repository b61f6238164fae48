// One GSM 06.10 full-rate coder state of libgsm, made and destroyed with its owner.
#pragma once

#include <cstdint>

struct gsm_state;

namespace sipline {

inline constexpr int32_t GSM_FRAME_SAMPLES = 160;  // 20 ms at 8000 samples per second
inline constexpr int32_t GSM_FRAME_BYTES = 33;
inline constexpr int32_t RTP_PAYLOAD_PCMU = 0;
inline constexpr int32_t RTP_PAYLOAD_GSM = 3;

class gsm_codec {
  public:
    gsm_codec();
    ~gsm_codec();
    gsm_codec(const gsm_codec &) = delete;
    gsm_codec &operator=(const gsm_codec &) = delete;

    bool valid() const { return state_ != nullptr; }
    void encode(const int16_t *samples, uint8_t *frame);
    // False when the frame is not a GSM frame (its magic nibble is wrong).
    bool decode(const uint8_t *frame, int16_t *samples);

  private:
    gsm_state *state_;
};

}  // namespace sipline
