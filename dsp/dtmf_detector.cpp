#include <algorithm>
#include <utility>
#include <vector>

#include "dsp/dtmf.h"
#include "dsp/spandsp_internal.h"

namespace sipline::dsp {
namespace {

struct DtmfRxFree {
    void operator()(dtmf_rx_state_t *s) const { dtmf_rx_free(s); }
};

// ITU-T Q.24 asks receivers to accept up to 8 dB of twist (high group weaker) and 4 dB of
// reverse twist. spandsp 0.0.6 sets its limits at exactly those figures, so a tone pair at the
// limit flickers between accepted and refused and is reported as no key or as two. Wider
// limits (the Goertzel block's own error is about 1 dB each way) take the limit cases in while
// still refusing clearly lopsided pairs (12 dB and more).
constexpr int kTwistDb = 10;
constexpr int kReverseTwistDb = 5;

// Samples handed to dtmf_rx at a time: bounds the events queued between two deliveries.
constexpr int kChunk = 160;

}  // namespace

struct DtmfDetector::State {
    std::function<void(char, bool)> on_key;
    std::unique_ptr<dtmf_rx_state_t, DtmfRxFree> rx;
    char down = 0;
    // Filled by spandsp's callback, delivered by feed() once dtmf_rx has returned, so that the
    // caller's code never runs (or throws) inside a C frame.
    std::vector<std::pair<char, bool>> events;

    static void report(void *user, int code, int /*level*/, int /*delay*/) {
        auto *self = static_cast<State *>(user);
        char key = static_cast<char>(code);
        if (key == self->down) {
            return;
        }
        if (self->down != 0) {
            self->events.emplace_back(self->down, false);
        }
        if (key != 0) {
            self->events.emplace_back(key, true);
        }
        self->down = key;
    }
};

DtmfDetector::DtmfDetector(std::function<void(char key, bool down)> on_key)
    : state_(std::make_unique<State>()) {
    state_->on_key = on_key ? std::move(on_key) : [](char, bool) {};
    // Without a digits callback spandsp only buffers digits when no realtime callback is set;
    // with one it reports each change of state as it is confirmed.
    state_->rx.reset(dtmf_rx_init(nullptr, nullptr, nullptr));
    if (state_->rx) {
        dtmf_rx_parms(state_->rx.get(), 0, kTwistDb, kReverseTwistDb, -99);
        dtmf_rx_set_realtime_callback(state_->rx.get(), &State::report, state_.get());
    }
    state_->events.reserve(8);
}

DtmfDetector::~DtmfDetector() = default;
DtmfDetector::DtmfDetector(DtmfDetector &&) noexcept = default;
DtmfDetector &DtmfDetector::operator=(DtmfDetector &&) noexcept = default;

void DtmfDetector::feed(const int16_t *samples, int n) {
    if (!state_ || !state_->rx || samples == nullptr) {
        return;
    }
    for (int at = 0; at < n; at += kChunk) {
        dtmf_rx(state_->rx.get(), samples + at, std::min(kChunk, n - at));
        for (auto [key, down] : state_->events) {
            state_->on_key(key, down);
        }
        state_->events.clear();
    }
}

bool DtmfDetector::tone_present() const {
    return key_down() != 0;
}

char DtmfDetector::key_down() const {
    return state_ ? state_->down : 0;
}

bool DtmfDetector::tone_suspected() const {
    return state_ && state_->rx && (state_->down != 0 || dtmf_rx_status(state_->rx.get()) != 0);
}

}  // namespace sipline::dsp
