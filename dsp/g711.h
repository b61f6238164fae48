// ITU-T G.711 mu-law and A-law, one sample at a time.
#pragma once

#include <cstdint>

namespace sipline::dsp {

int16_t ulaw_to_linear(uint8_t ulaw);
uint8_t linear_to_ulaw(int16_t linear);
int16_t alaw_to_linear(uint8_t alaw);
uint8_t linear_to_alaw(int16_t linear);

}  // namespace sipline::dsp
