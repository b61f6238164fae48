// The largest gain, over frequency, of an echo canceller's learnt impulse response: a hybrid
// is passive and returns at most what it was played at any frequency, so a filter that gains
// more has fitted something other than the echo.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace sipline::dsp {

class ResponseGain {
  public:
    // taps: the length of the responses measured.
    explicit ResponseGain(int taps);
    // The largest |H(f)| of `response` (taps values, each scaled by `scale`) over the bins of
    // a power-of-two FFT at least as long.
    double largest(const int32_t *response, double scale);

  private:
    int taps_;
    std::vector<std::complex<float>> bins_;
    std::vector<std::complex<float>> twiddles_;
};

}  // namespace sipline::dsp
