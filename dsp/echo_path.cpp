#include "dsp/echo_path.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

// The models are constant arrays defined in the header itself: included in this file only.
#include <cstdint>

#include <spandsp/g168models.h>

namespace sipline::dsp {
namespace {

constexpr int SAMPLES_PER_MS = 8;
constexpr int DELAY_MOST_MS = 100;
constexpr double ERL_MOST_DB = 60;

// A number, optionally followed by the unit; the rest of the text after it.
bool number_with_unit(const std::string &text, const char *unit, double *value) {
    const char *start = text.c_str();
    char *end = nullptr;
    const double v = std::strtod(start, &end);
    if (end == start || !std::isfinite(v)) {
        return false;
    }
    const std::string rest(end);
    if (!rest.empty() && rest != unit) {
        return false;
    }
    *value = v;
    return true;
}

}  // namespace

bool parse_echo_path(const std::string &text, EchoPathSettings *settings) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) {
        return false;
    }
    double delay = 0;
    double erl = 0;
    if (!number_with_unit(text.substr(0, comma), "ms", &delay) ||
        !number_with_unit(text.substr(comma + 1), "dB", &erl) || delay < 0 ||
        delay > DELAY_MOST_MS || erl < 0 || erl > ERL_MOST_DB) {
        return false;
    }
    settings->delay_ms = static_cast<int>(std::lround(delay));
    settings->erl_db = erl;
    return true;
}

EchoPath::EchoPath(const EchoPathSettings &settings) {
    const size_t delay =
        static_cast<size_t>(std::clamp(settings.delay_ms, 0, DELAY_MOST_MS)) * SAMPLES_PER_MS;
    constexpr size_t taps = sizeof line_model_d2_coeffs / sizeof line_model_d2_coeffs[0];
    response_.assign(delay + taps, 0.0f);
    double energy = 0;
    for (size_t i = 0; i < taps; ++i) {
        energy += static_cast<double>(line_model_d2_coeffs[i]) * line_model_d2_coeffs[i];
    }
    // Scaled so that white noise comes back erl_db weaker.
    const double gain = std::pow(10.0, -settings.erl_db / 20.0) / std::sqrt(energy);
    for (size_t i = 0; i < taps; ++i) {
        response_[delay + i] = static_cast<float>(line_model_d2_coeffs[i] * gain);
    }
    history_.assign(response_.size(), 0.0f);
}

void EchoPath::echo(const int16_t *played, int16_t *echo, int n) {
    const size_t length = history_.size();
    for (int i = 0; i < n; ++i) {
        history_[at_] = played[i];
        float sum = 0;
        // response_[k] applies to the sample played k samples ago.
        for (size_t k = 0, h = at_; k < length; ++k, h = h == 0 ? length - 1 : h - 1) {
            sum += response_[k] * history_[h];
        }
        at_ = (at_ + 1) % length;
        echo[i] = static_cast<int16_t>(std::clamp(std::lround(sum), -32768L, 32767L));
    }
}

}  // namespace sipline::dsp
