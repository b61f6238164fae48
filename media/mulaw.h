// The line's sample format: 8-bit mu-law at 8000 samples per second, and its 16-bit linear form.
#pragma once

#include <array>
#include <cstdint>

namespace sipline {

// The record stream's expansion: code 0 gives 0; any other code x, with d = ~x, has the sign in
// bit 7 of d, the segment e in bits 4 to 6 and the step m in bits 0 to 3, and the magnitude
// ((8 m + 136) 2^e) - 132, the middle of its G.711 quantisation step.
int16_t mulaw_expand(uint8_t code);
const std::array<int16_t, 256> &mulaw_table();

// G.711 mu-law encoding of one linear sample to the code whose expansion is nearest: the inverse
// of mulaw_expand for every code but 0, which is never produced.
uint8_t mulaw_compress(int16_t sample);

inline constexpr uint8_t MULAW_SILENCE = 0xFF;

}  // namespace sipline
