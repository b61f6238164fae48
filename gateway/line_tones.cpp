#include "gateway/line_tones.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "media/bridge_state.h"
#include "media/mulaw.h"

namespace sipline {
namespace {

constexpr int32_t SAMPLE_RATE = 8000;
// A quarter of full scale: about -15 dBm0, as a network's tones are sent.
constexpr double LEVEL = 8192;

struct cadence_t {
    int32_t on_ms;
    int32_t off_ms;
};

constexpr cadence_t cadence_of(line_tone_t tone) {
    return tone == line_tone_t::ringback ? cadence_t{1000, 4000} : cadence_t{500, 500};
}

// The tone's thread and its stop flag: written by the main thread only (start, stop); the
// thread reads the flag before every block and while the stream is full.
std::thread player;
std::atomic<bool> stop_playing{false};

void play(line_tone_t tone) {
    const int32_t block = FWBuffersize > 0 ? FWBuffersize : 160;
    // The board frees a block each block's time: a full stream is the normal pace here.
    const auto block_time = std::chrono::milliseconds(std::max(block / 8, 1));
    for (int64_t at = 0; !stop_playing.load();) {
        uint8_t *free_block = tuvo_next_free_block(PlayStream);
        if (free_block == nullptr) {
            std::this_thread::sleep_for(block_time);
            continue;
        }
        LineToneFill(tone, at, free_block, block);
        tuvo_commit_block(PlayStream, block);
        at += block;
    }
}

}  // namespace

void LineToneFill(line_tone_t tone, int64_t sample, uint8_t *block, int32_t count) {
    const cadence_t c = cadence_of(tone);
    const int64_t period = int64_t{c.on_ms + c.off_ms} * SAMPLE_RATE / 1000;
    const int64_t on = int64_t{c.on_ms} * SAMPLE_RATE / 1000;
    for (int32_t i = 0; i < count; ++i) {
        const int64_t n = sample + i;
        double value = 0;
        if (n % period < on) {
            value = LEVEL * std::sin(2 * std::numbers::pi * LINE_TONE_HZ * static_cast<double>(n) /
                                     SAMPLE_RATE);
        }
        block[i] = mulaw_compress(static_cast<int16_t>(std::lround(value)));
    }
}

void LineToneStart(line_tone_t tone) {
    LineToneStop();
    stop_playing = false;
    player = std::thread(play, tone);
}

void LineToneStop() {
    if (!player.joinable()) {
        return;
    }
    stop_playing = true;
    player.join();
    tuvo_empty_buffer(PlayStream);
}

}  // namespace sipline
