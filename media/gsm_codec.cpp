#include "media/gsm_codec.h"

#include <gsm.h>

#include <type_traits>

namespace sipline {

static_assert(std::is_same_v<gsm_signal, int16_t>);
static_assert(sizeof(gsm_frame) == GSM_FRAME_BYTES);

gsm_codec::gsm_codec() : state_(gsm_create()) {}

gsm_codec::~gsm_codec() {
    if (state_ != nullptr) {
        gsm_destroy(state_);
    }
}

void gsm_codec::encode(const int16_t *samples, uint8_t *frame) {
    // libgsm reads the samples only; its interface lacks the const.
    gsm_encode(state_, const_cast<gsm_signal *>(samples), frame);
}

bool gsm_codec::decode(const uint8_t *frame, int16_t *samples) {
    return gsm_decode(state_, const_cast<gsm_byte *>(frame), samples) == 0;
}

}  // namespace sipline
