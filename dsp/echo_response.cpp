#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "dsp/echo_response_internal.h"

namespace sipline::dsp {

ResponseGain::ResponseGain(int taps)
    : taps_(std::max(taps, 1)),
      bins_(std::bit_ceil(static_cast<unsigned>(taps_))),
      twiddles_(bins_.size() / 2 + 1) {
    const double n = static_cast<double>(bins_.size());
    for (size_t k = 0; k < twiddles_.size(); ++k) {
        const double w = -2 * std::numbers::pi * static_cast<double>(k) / n;
        twiddles_[k] = {static_cast<float>(std::cos(w)), static_cast<float>(std::sin(w))};
    }
}

// An iterative radix-2 FFT: the responses are a few hundred taps, measured once a frame.
double ResponseGain::largest(const int32_t *response, double scale) {
    const size_t n = bins_.size();
    std::fill(bins_.begin(), bins_.end(), std::complex<float>{});
    for (int i = 0; i < taps_; ++i) {
        bins_[static_cast<size_t>(i)] = static_cast<float>(response[i] * scale);
    }
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; (j & bit) != 0; bit >>= 1) {
            j ^= bit;
        }
        j ^= bit;
        if (i < j) {
            std::swap(bins_[i], bins_[j]);
        }
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const size_t stride = n / length;
        for (size_t start = 0; start < n; start += length) {
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<float> odd =
                    bins_[start + k + length / 2] * twiddles_[k * stride];
                bins_[start + k + length / 2] = bins_[start + k] - odd;
                bins_[start + k] += odd;
            }
        }
    }
    float most = 0;
    for (size_t k = 0; k <= n / 2; ++k) {
        most = std::max(most, std::norm(bins_[k]));
    }
    return std::sqrt(static_cast<double>(most));
}

}  // namespace sipline::dsp
