#include "dsp/g711.h"

#include "dsp/spandsp_internal.h"

namespace sipline::dsp {

int16_t ulaw_to_linear(uint8_t ulaw) {
    return ::ulaw_to_linear(ulaw);
}
uint8_t linear_to_ulaw(int16_t linear) {
    return ::linear_to_ulaw(linear);
}
int16_t alaw_to_linear(uint8_t alaw) {
    return ::alaw_to_linear(alaw);
}
uint8_t linear_to_alaw(int16_t linear) {
    return ::linear_to_alaw(linear);
}

}  // namespace sipline::dsp
