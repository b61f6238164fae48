// BOARDSIM_SAY and the say command read WAV files from anywhere.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "boardsim/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> samples;
    sipline::boardsim::wav_to_mulaw(data, size, &samples);
    return 0;
}
