#include <charconv>

#include "dsp/tone_cadence.h"

namespace sipline::dsp {
namespace {

constexpr int kLowestHz = 100;
constexpr int kHighestHz = 3400;
constexpr int kShortestMs = 50;
constexpr int kLongestMs = 10000;

// A whole number within [low, high] at the front of `text`, which it then leaves behind.
bool take(std::string_view &text, int low, int high, int *out) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data() || value < low || value > high) {
        return false;
    }
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    *out = value;
    return true;
}

bool take_char(std::string_view &text, char c) {
    if (text.empty() || text.front() != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

}  // namespace

bool parse_tone_cadence(std::string_view text, ToneCadence *out) {
    ToneCadence c;
    if (!take(text, kLowestHz, kHighestHz, &c.f1_hz)) {
        return false;
    }
    if (take_char(text, '+') && !take(text, kLowestHz, kHighestHz, &c.f2_hz)) {
        return false;
    }
    if (!take_char(text, '/') || !take(text, kShortestMs, kLongestMs, &c.on_ms) ||
        !take_char(text, '/') || !take(text, kShortestMs, kLongestMs, &c.off_ms) || !text.empty()) {
        return false;
    }
    if (out != nullptr) {
        *out = c;
    }
    return true;
}

}  // namespace sipline::dsp
