#include "media/line_digits.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>

#include "media/mulaw.h"

namespace sipline {
namespace {

// Longer than any press: the tone's length is the number of samples written, not this.
constexpr int32_t kToneMs = 600000;
constexpr size_t kQueueMost = 32;
constexpr int32_t kChunk = 800;

// Written by the SIP side's request threads, read by InTh; the mutex orders them.
std::mutex queue_mutex;
std::deque<std::pair<char, int32_t>> queued;

}  // namespace

bool MediaQueueDigit(char key, int32_t duration_ms) {
    std::lock_guard lock(queue_mutex);
    if (queued.size() >= kQueueMost) {
        return false;
    }
    queued.emplace_back(key, duration_ms);
    return true;
}

bool MediaNextDigit(char *key, int32_t *duration_ms) {
    std::lock_guard lock(queue_mutex);
    if (queued.empty()) {
        return false;
    }
    *key = queued.front().first;
    *duration_ms = queued.front().second;
    queued.pop_front();
    return true;
}

void MediaClearDigits() {
    std::lock_guard lock(queue_mutex);
    queued.clear();
}

bool line_digits::write_until(int32_t due, play_feed &feed) {
    int16_t samples[kChunk];
    uint8_t line[kChunk];
    while (written_ < due) {
        const int32_t n = tone_.generate(samples, std::min(kChunk, due - written_));
        if (n <= 0) {
            return true;
        }
        for (int32_t i = 0; i < n; ++i) {
            line[i] = mulaw_compress(samples[i]);
        }
        written_ += n;
        if (!feed.write(line, static_cast<size_t>(n), 'd')) {
            return false;
        }
    }
    return true;
}

bool line_digits::finish(int32_t duration, play_feed &feed) {
    const bool running = write_until(std::max(duration, LINE_DIGIT_SHORTEST), feed);
    tone_.stop();
    playing_ = false;
    return running;
}

bool line_digits::take(const key_action_t &a, play_feed &feed) {
    if (a.ignored) {
        return true;
    }
    heard_at_ = std::chrono::steady_clock::now();
    if (a.start) {
        if (playing_) {
            tone_.stop();  // a press whose end never came gives way to the next one
        }
        if (!tone_.start(a.key, kToneMs)) {
            playing_ = false;
            return true;
        }
        playing_ = true;
        written_ = 0;
        ++keys_;
        std::printf("DTMF %c to the line\n", a.key);
    }
    if (!playing_) {
        return true;
    }
    return a.end ? finish(a.duration, feed) : write_until(a.duration, feed);
}

bool line_digits::press(char key, int32_t duration_ms, play_feed &feed) {
    key_action_t a;
    a.start = true;
    a.end = true;
    a.key = key;
    a.duration = duration_ms * 8;
    a.ignored = false;
    return take(a, feed);
}

bool line_digits::tick(telephone_event_receiver &receiver, play_feed &feed) {
    if (!playing_ || std::chrono::steady_clock::now() - heard_at_ < LINE_DIGIT_SILENT_END) {
        return true;
    }
    key_action_t a = receiver.expire();
    if (a.ignored) {
        a.end = true;
        a.duration = written_;
        a.ignored = false;
    }
    return take(a, feed);
}

}  // namespace sipline
