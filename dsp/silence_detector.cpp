#include <cmath>

#include "dsp/tone_cadence.h"

namespace sipline::dsp {

SilenceDetector::SilenceDetector(int seconds, double threshold_dbm0)
    : enabled_(seconds > 0), needed_(int64_t{seconds} * 8000) {
    // A sine at 0 dBm0 has a peak of 32767 / 10^(3.14/20), its mean square half the peak's.
    const double peak = 32767.0 * std::pow(10.0, (threshold_dbm0 - 3.14) / 20.0);
    threshold_square_ = peak * peak / 2.0;
}

void SilenceDetector::feed(const int16_t *samples, int n) {
    if (!enabled_ || samples == nullptr || n <= 0) {
        return;
    }
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    if (sum / n < threshold_square_) {
        quiet_samples_ += n;
    } else {
        quiet_samples_ = 0;
    }
}

}  // namespace sipline::dsp
