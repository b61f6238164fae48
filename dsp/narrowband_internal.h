// Whether a stretch of audio is narrowband (one or two steady tones) rather than speech or
// noise: a fourth-order linear predictor foretells a tone pair almost exactly, voice and noise
// only roughly. An echo canceller must not learn from such a reference (ITU-T G.168 section
// 7.2.2.7's narrowband tests): it leaves most of the spectrum unidentified.
#pragma once

#include <cstdint>

namespace sipline::dsp {

// The prediction gain of n samples (dB): their power over what a fourth-order predictor
// leaves; 0 for silence.
double prediction_gain_db(const int16_t *samples, int n);

}  // namespace sipline::dsp
