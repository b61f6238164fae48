// Tones for the media tests: made as linear samples, measured (frequency and level) from
// whatever came out of the bridge.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "media/mulaw.h"

namespace sipline::testing {

inline std::vector<int16_t> make_tone(double hz, double amplitude, size_t samples) {
    std::vector<int16_t> out(samples);
    for (size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<int16_t>(std::lround(
            amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 8000)));
    }
    return out;
}

struct tone_seen {
    double hz = 0;
    double rms = 0;
    size_t samples = 0;
};

// Measures the middle half of the run of samples between the first and the last one above the
// noise floor: positive-going zero crossings per second, and the RMS level.
inline tone_seen measure(const std::vector<int16_t> &all) {
    constexpr int FLOOR = 200;
    size_t first = 0;
    size_t last = all.size();
    while (first < all.size() && std::abs(all[first]) < FLOOR) {
        ++first;
    }
    while (last > first && std::abs(all[last - 1]) < FLOOR) {
        --last;
    }
    tone_seen t;
    if (last - first < 800) {
        return t;
    }
    const size_t from = first + (last - first) / 4;
    const size_t to = last - (last - first) / 4;
    double energy = 0;
    size_t crossings = 0;
    for (size_t i = from; i < to; ++i) {
        energy += static_cast<double>(all[i]) * all[i];
        if (i > from && all[i - 1] < 0 && all[i] >= 0) {
            ++crossings;
        }
    }
    t.samples = to - from;
    t.rms = std::sqrt(energy / static_cast<double>(t.samples));
    t.hz = static_cast<double>(crossings) * 8000.0 / static_cast<double>(t.samples);
    return t;
}

inline std::vector<int16_t> expand_all(const uint8_t *mulaw, size_t count) {
    std::vector<int16_t> out(count);
    for (size_t i = 0; i < count; ++i) {
        out[i] = mulaw_expand(mulaw[i]);
    }
    return out;
}

inline double db(double ratio) {
    return 20 * std::log10(ratio);
}

}  // namespace sipline::testing
