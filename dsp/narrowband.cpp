#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "dsp/narrowband_internal.h"

namespace sipline::dsp {
namespace {

constexpr int ORDER = 4;           // two sines: four poles on the unit circle
constexpr int USUAL_LENGTH = 160;  // the canceller's frame: its window is made once

std::vector<double> hann(int n) {
    std::vector<double> w(static_cast<size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i) {
        w[static_cast<size_t>(i)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (i + 0.5) / n);
    }
    return w;
}

}  // namespace

double prediction_gain_db(const int16_t *samples, int n) {
    // A Hann window: a rectangular one's edges cost a tone most of its predictability.
    static const std::vector<double> usual = hann(USUAL_LENGTH);
    std::vector<double> other;
    const std::vector<double> *window = &usual;
    if (n != USUAL_LENGTH) {
        other = hann(n);
        window = &other;
    }
    std::vector<double> x(window->size());
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = samples[i] * (*window)[i];
    }
    std::array<double, ORDER + 1> r{};
    for (size_t lag = 0; lag <= ORDER; ++lag) {
        for (size_t i = lag; i < x.size(); ++i) {
            r[lag] += x[i] * x[i - lag];
        }
    }
    if (r[0] < static_cast<double>(n) / 4) {
        return 0;  // silence (below one step of rms)
    }
    // Levinson-Durbin: the error power after each order.
    std::array<double, ORDER + 1> a{};
    std::array<double, ORDER + 1> previous{};
    double error = r[0];
    for (size_t m = 1; m <= ORDER; ++m) {
        double acc = r[m];
        for (size_t k = 1; k < m; ++k) {
            acc -= a[k] * r[m - k];
        }
        const double reflection = acc / error;
        previous = a;
        a[m] = reflection;
        for (size_t k = 1; k < m; ++k) {
            a[k] = previous[k] - reflection * previous[m - k];
        }
        error *= 1 - reflection * reflection;
        if (error <= r[0] * 1e-12) {
            error = r[0] * 1e-12;
            break;
        }
    }
    return 10 * std::log10(r[0] / error);
}

}  // namespace sipline::dsp
