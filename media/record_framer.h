// Cuts the recorded line audio, whatever the board's block size, into 160-sample frames of
// linear samples for the GSM encoder. A block that ends inside a frame leaves the rest of it
// for the next block, so every recorded sample goes out once and in order.
#pragma once

#include <array>
#include <cstdint>

#include "media/gsm_codec.h"
#include "media/mulaw.h"

namespace sipline {

class record_framer {
  public:
    // Calls on_frame(samples) for every frame that the block completes.
    template <typename OnFrame>
    void push(const uint8_t *block, int32_t count, OnFrame &&on_frame) {
        const auto &table = mulaw_table();
        for (int32_t i = 0; i < count; ++i) {
            frame_[static_cast<size_t>(fill_++)] = table[block[i]];
            if (fill_ == GSM_FRAME_SAMPLES) {
                fill_ = 0;
                on_frame(frame_.data());
            }
        }
    }
    int32_t partial() const { return fill_; }

  private:
    std::array<int16_t, GSM_FRAME_SAMPLES> frame_{};
    int32_t fill_ = 0;
};

}  // namespace sipline
