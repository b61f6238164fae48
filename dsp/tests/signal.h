// Test signals made independently of spandsp: tone pairs, noise, and a Goertzel meter.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace sipline::dsp::test {

constexpr int kRate = 8000;

// The peak of a sine at `dbm0`: a full-scale sine is +3.14 dBm0 (ITU-T G.711 mu-law).
inline double sine_peak(double dbm0) {
    return 32767.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0);
}

inline std::pair<int, int> frequencies(char key) {
    static const std::string keys = "123A456B789C*0#D";
    static const int low[4] = {697, 770, 852, 941};
    static const int high[4] = {1209, 1336, 1477, 1633};
    auto at = keys.find(key);
    return {low[at / 4], high[at % 4]};
}

inline void append_silence(std::vector<int16_t> &out, int ms) {
    out.insert(out.end(), static_cast<size_t>(ms * kRate / 1000), 0);
}

// `high_db` is the high tone's level relative to the low one (positive: reverse twist).
inline void append_key(std::vector<int16_t> &out, char key, int ms, double low_dbm0,
                       double high_db = 0.0) {
    auto [low, high] = frequencies(key);
    double a = sine_peak(low_dbm0), b = sine_peak(low_dbm0 + high_db);
    int n = ms * kRate / 1000;
    for (int i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / kRate;
        double v = a * std::sin(2 * std::numbers::pi * low * t) +
                   b * std::sin(2 * std::numbers::pi * high * t);
        out.push_back(static_cast<int16_t>(std::lround(v)));
    }
}

inline std::vector<int16_t> white_noise(int ms, double rms_dbm0, unsigned seed) {
    std::mt19937 gen(seed);
    // A sine's rms is its peak / sqrt(2).
    std::normal_distribution<double> dist(0.0, sine_peak(rms_dbm0) / std::sqrt(2.0));
    std::vector<int16_t> out(static_cast<size_t>(ms * kRate / 1000));
    for (auto &s : out) {
        s = static_cast<int16_t>(std::clamp(std::lround(dist(gen)), -32768L, 32767L));
    }
    return out;
}

// The amplitude of `hz` in `samples` (Goertzel), as a sine's peak.
inline double goertzel(const int16_t *samples, size_t n, double hz) {
    double coeff = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        double s0 = samples[i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(n);
}

}  // namespace sipline::dsp::test
