#include "media/mulaw.h"

#include <cstddef>

namespace sipline {
namespace {

constexpr int16_t expand(uint8_t code) {
    if (code == 0) {
        return 0;
    }
    const uint8_t d = static_cast<uint8_t>(~code);
    const int segment = (d >> 4) & 0x07;
    const int step = d & 0x0F;
    const int magnitude = ((8 * step + 136) << segment) - 132;
    return static_cast<int16_t>((d & 0x80) != 0 ? -magnitude : magnitude);
}

constexpr std::array<int16_t, 256> build_table() {
    std::array<int16_t, 256> t{};
    for (int code = 0; code < 256; ++code) {
        t[static_cast<std::size_t>(code)] = expand(static_cast<uint8_t>(code));
    }
    return t;
}

constexpr std::array<int16_t, 256> table = build_table();

static_assert(table[0x80] == 32636 && table[0xFF] == 4 && table[0x7F] == -4 &&
              table[0x01] == -31612);

// ITU-T G.711: magnitudes are biased by 132 so that each segment starts at a power of two.
constexpr int BIAS = 0x84;
constexpr int CLIP = 32635;

}  // namespace

int16_t mulaw_expand(uint8_t code) {
    return table[code];
}

const std::array<int16_t, 256> &mulaw_table() {
    return table;
}

uint8_t mulaw_compress(int16_t sample) {
    int value = sample;
    const int sign = value < 0 ? 0x80 : 0x00;
    if (value < 0) {
        value = -value;
    }
    if (value > CLIP) {
        value = CLIP;
    }
    const int biased = value + BIAS;
    int segment = 7;
    while (segment > 0 && biased < (128 << segment)) {
        --segment;
    }
    int step = (biased >> (segment + 3)) & 0x0F;
    // The expansion gives each code the upper end of G.711's truncating step, so the nearest
    // code to a sample in the lower half of a step is the one below it.
    if (biased < ((132 + 8 * step) << segment) && (segment | step) != 0) {
        if (step > 0) {
            --step;
        } else {
            --segment;
            step = 15;
        }
    }
    const auto code = static_cast<uint8_t>(~(sign | (segment << 4) | step));
    // Code 0 expands to 0, not to the loudest negative step: the loudest goes one step down.
    return code == 0 ? 0x01 : code;
}

}  // namespace sipline
