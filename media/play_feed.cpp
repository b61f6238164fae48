#include "media/play_feed.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace sipline {
namespace {

constexpr int32_t SAMPLES_PER_MS = 8;

}  // namespace

play_feed::play_feed(stream_t stream, int32_t block_size, std::function<bool()> keep_going)
    : stream_(stream),
      block_(static_cast<size_t>(std::max(block_size, 1))),
      keep_going_(std::move(keep_going)) {
    pending_.reserve(block_ * 2);
}

bool play_feed::write(const uint8_t *samples, size_t count, char stall_mark) {
    pending_.insert(pending_.end(), samples, samples + count);
    size_t at = 0;
    bool running = true;
    while (running && pending_.size() - at >= block_) {
        running = commit_block(pending_.data() + at, stall_mark);
        at += block_;
    }
    if (running) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
        pending_.clear();
    }
    return running;
}

bool play_feed::commit_block(const uint8_t *samples, char stall_mark) {
    const auto wait = std::chrono::milliseconds(std::max<size_t>(block_ / SAMPLES_PER_MS, 1));
    bool stalled = false;
    for (;;) {
        uint8_t *block = tuvo_next_free_block(stream_);
        if (block != nullptr) {
            std::memcpy(block, samples, block_);
            tuvo_commit_block(stream_, static_cast<int32_t>(block_));
            ++committed_;
            return true;
        }
        if (!stalled) {
            // Once per stall, not once per try: the board frees a block per block's time.
            stalled = true;
            ++stalls_;
            std::putchar(stall_mark);
            std::fflush(stdout);
        }
        if (!keep_going_()) {
            return false;
        }
        std::this_thread::sleep_for(wait);
    }
}

}  // namespace sipline
