#include <algorithm>
#include <vector>

#include "dsp/spandsp_internal.h"
#include "dsp/tone_cadence.h"

namespace sipline::dsp {
namespace {

struct DescriptorFree {
    void operator()(super_tone_rx_descriptor_t *d) const { super_tone_rx_free_descriptor(d); }
};
struct RxFree {
    void operator()(super_tone_rx_state_t *s) const { super_tone_rx_free(s); }
};

constexpr int kCycles = 2;
constexpr int kToleranceMinMs = 60;

int tolerance(int ms) {
    return std::max(ms / 5, kToleranceMinMs);
}

}  // namespace

// One receiver per cadence: super_tone_rx shares one Goertzel filter between frequencies close
// together (400 and 425 Hz), after which 0.0.6 matches neither cadence.
struct DisconnectToneDetector::State {
    struct Receiver {
        std::unique_ptr<super_tone_rx_descriptor_t, DescriptorFree> desc;
        std::unique_ptr<super_tone_rx_state_t, RxFree> rx;
    };
    std::vector<Receiver> receivers;
    bool detected = false;

    static void report(void *user, int code, int /*level*/, int /*delay*/) {
        if (code >= 0) {
            static_cast<State *>(user)->detected = true;
        }
    }
};

DisconnectToneDetector::DisconnectToneDetector(const std::vector<ToneCadence> &cadences)
    : state_(std::make_unique<State>()) {
    for (const ToneCadence &c : cadences) {
        if (c.f1_hz <= 0 || c.on_ms <= 0 || c.off_ms <= 0) {
            continue;
        }
        State::Receiver r;
        r.desc.reset(super_tone_rx_make_descriptor(nullptr));
        if (!r.desc) {
            continue;
        }
        int tone = super_tone_rx_add_tone(r.desc.get());
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            super_tone_rx_add_element(r.desc.get(), tone, c.f1_hz, c.f2_hz > 0 ? c.f2_hz : 0,
                                      c.on_ms - tolerance(c.on_ms), c.on_ms + tolerance(c.on_ms));
            super_tone_rx_add_element(r.desc.get(), tone, 0, 0, c.off_ms - tolerance(c.off_ms),
                                      c.off_ms + tolerance(c.off_ms));
        }
        r.rx.reset(super_tone_rx_init(nullptr, r.desc.get(), &State::report, state_.get()));
        if (r.rx) {
            state_->receivers.push_back(std::move(r));
        }
    }
}

DisconnectToneDetector::~DisconnectToneDetector() = default;
DisconnectToneDetector::DisconnectToneDetector(DisconnectToneDetector &&) noexcept = default;
DisconnectToneDetector &DisconnectToneDetector::operator=(DisconnectToneDetector &&) noexcept =
    default;

void DisconnectToneDetector::feed(const int16_t *samples, int n) {
    if (!state_ || samples == nullptr || n <= 0 || state_->detected) {
        return;
    }
    for (State::Receiver &r : state_->receivers) {
        super_tone_rx(r.rx.get(), samples, n);
    }
}

bool DisconnectToneDetector::detected() const {
    return state_ && state_->detected;
}

}  // namespace sipline::dsp
