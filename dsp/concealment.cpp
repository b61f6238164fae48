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
        plc_fillin(&state_->plc, samples, synthesised);
    }
    std::fill(samples + synthesised, samples + n, int16_t{0});
    state_->filling += n;
}

int Concealment::filling() const {
    return state_->filling;
}

}  // namespace sipline::dsp
