#include "dsp/concealment.h"

#include <algorithm>

#include "dsp/spandsp_internal.h"

namespace sipline::dsp {
namespace {

constexpr int SAMPLES_PER_MS = 8;

}  // namespace

struct Concealment::State {
    plc_state_t plc{};
    int filling = 0;
};

Concealment::Concealment() : state_(std::make_unique<State>()) {
    plc_init(&state_->plc);
}

Concealment::~Concealment() = default;
Concealment::Concealment(Concealment &&) noexcept = default;
Concealment &Concealment::operator=(Concealment &&) noexcept = default;

void Concealment::received(int16_t *samples, int n) {
    plc_rx(&state_->plc, samples, n);
    state_->filling = 0;
}

void Concealment::fill(int16_t *samples, int n) {
    const int fade = kFadeMs * SAMPLES_PER_MS;
    // Past the fade spandsp's fill is silent already; zeros cost nothing and say so.
    const int synthesised = std::clamp(fade - state_->filling, 0, n);
    if (synthesised > 0) {
        // spandsp 0.0.6's plc_fillin, at the start of a gap, rotates its history oldest-first
        // with a memcpy whose ranges overlap (undefined behaviour, caught by ASan). Rotated here
        // with std::rotate instead; with buf_ptr at 0 its own rotation does nothing.
        plc_state_t &plc = state_->plc;
        std::rotate(plc.history, plc.history + plc.buf_ptr, plc.history + PLC_HISTORY_LEN);
        plc.buf_ptr = 0;
        plc_fillin(&plc, samples, synthesised);
    }
    std::fill(samples + synthesised, samples + n, int16_t{0});
    state_->filling += n;
}

int Concealment::filling() const {
    return state_->filling;
}

}  // namespace sipline::dsp
