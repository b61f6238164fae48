#include "media/line_supervision.h"

namespace sipline {
namespace {

line_supervision_t &configured() {
    static line_supervision_t settings;
    return settings;
}

}  // namespace

void LineSupervisionConfigure(const line_supervision_t &settings) {
    configured() = settings;
}

LineSupervisor::LineSupervisor() {
    const line_supervision_t &s = configured();
    if (!s.tones.empty()) {
        tone_ = std::make_unique<dsp::DisconnectToneDetector>(s.tones);
    }
    if (s.silence_seconds > 0) {
        silence_ = std::make_unique<dsp::SilenceDetector>(s.silence_seconds);
    }
}

LineSupervisor::~LineSupervisor() = default;

bool LineSupervisor::feed(const int16_t *samples, int32_t count) {
    if (*reason_ != '\0') {
        return false;
    }
    if (tone_ != nullptr) {
        tone_->feed(samples, count);
        if (tone_->detected()) {
            reason_ = "disconnect tone";
            return true;
        }
    }
    if (silence_ != nullptr) {
        silence_->feed(samples, count);
        if (silence_->detected()) {
            reason_ = "silence";
            return true;
        }
    }
    return false;
}

}  // namespace sipline
