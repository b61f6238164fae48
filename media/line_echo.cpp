#include "media/line_echo.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace sipline {
namespace {

// After a key stops: the echo path's tail and the detector's delay in ending it, in frames.
constexpr int32_t PAUSE_AFTER_KEY_FRAMES = 5;
// Reference frames waiting for their recorded frame: more means the board's two streams have
// parted ways, and the oldest are of no use.
constexpr size_t FRAMES_KEPT = 8;

std::mutex settings_mutex;
line_echo_t settings_value;  // written at start-up, read when a call starts, under the mutex
std::atomic<bool> key_playing{false};

}  // namespace

void MediaSetLineEcho(const line_echo_t &settings) {
    std::lock_guard lock(settings_mutex);
    settings_value = settings;
}

line_echo_t MediaLineEcho() {
    std::lock_guard lock(settings_mutex);
    return settings_value;
}

void MediaLineKeyPlaying(bool playing) {
    key_playing.store(playing, std::memory_order_relaxed);
}

line_echo::line_echo(const line_echo_t &settings) : reference_keys_([](char, bool) {}) {
    if (settings.cancel) {
        canceller_ = std::make_unique<dsp::EchoCanceller>(settings.tail_ms);
    }
}

line_echo::~line_echo() {
    if (canceller_ != nullptr && canceller_->resets() > 0) {
        std::printf(
            "Line echo canceller: started afresh %lld times (it had fitted the line's own "
            "signal, not its echo)\n",
            static_cast<long long>(canceller_->resets()));
    }
}

void line_echo::played(const uint8_t *reference, int32_t count) {
    if (canceller_ == nullptr || reference == nullptr) {
        return;
    }
    framer_.push(reference, count, [this](const int16_t *samples) {
        auto &frame = frames_.emplace_back();
        std::copy(samples, samples + FRAME_SAMPLES, frame.begin());
        if (frames_.size() > FRAMES_KEPT) {
            frames_.pop_front();
        }
    });
}

void line_echo::cancel(int16_t *frame, int16_t *heard) {
    std::copy(frame, frame + FRAME_SAMPLES, heard);
    if (canceller_ == nullptr || frames_.empty()) {
        return;
    }
    auto &reference = frames_.front();
    reference_keys_.feed(reference.data(), FRAME_SAMPLES);
    if (reference_keys_.tone_suspected() || key_playing.load(std::memory_order_relaxed)) {
        paused_frames_ = PAUSE_AFTER_KEY_FRAMES;
        if (reference_keys_.key_down() != 0) {
            echoed_key_ = reference_keys_.key_down();
            echoed_frames_ = PAUSE_AFTER_KEY_FRAMES + 1;  // read after this frame's cancel()
        }
    }
    if (echoed_frames_ > 0) {
        --echoed_frames_;
    }
    if (paused_frames_ > 0) {
        --paused_frames_;
        canceller_->freeze(true);
        std::fill(frame, frame + FRAME_SAMPLES, int16_t{0});
    } else {
        canceller_->freeze(false);
        canceller_->process(reference.data(), frame, FRAME_SAMPLES);
    }
    frames_.pop_front();
}

}  // namespace sipline
