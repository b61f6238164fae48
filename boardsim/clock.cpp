#include <algorithm>
#include <cstring>

#include "boardsim/state.h"
#include "dsp/g711.h"

namespace sipline::boardsim {
namespace {

constexpr size_t PROMPT_CHUNK = 160;  // 20 ms at 8000 samples per second
constexpr auto PROMPT_PERIOD = std::chrono::milliseconds(20);
constexpr auto IDLE_WAKE = std::chrono::milliseconds(200);
constexpr int CATCH_UP_MAX = 10;  // periods made up at once after a stall
constexpr size_t HYBRID_BLOCKS_MOST = 8;

void add_echo(Board &b, const std::vector<uint8_t> &played, std::vector<uint8_t> &said) {
    std::vector<int16_t> linear(played.size());
    std::vector<int16_t> echo(played.size());
    for (size_t i = 0; i < played.size(); ++i) {
        linear[i] = dsp::ulaw_to_linear(played[i]);
    }
    b.echo_path->echo(linear.data(), echo.data(), static_cast<int>(linear.size()));
    for (size_t i = 0; i < said.size(); ++i) {
        const int sum = dsp::ulaw_to_linear(said[i]) + echo[i];
        said[i] = dsp::linear_to_ulaw(static_cast<int16_t>(std::clamp(sum, -32768, 32767)));
    }
}

Clock::duration period_of(const Channel &ch) {
    if (ch.io == Io::prompt) {
        return PROMPT_PERIOD;
    }
    return std::chrono::milliseconds(ch.stream->block_size / 8);
}

bool runs(const Channel &ch) {
    return ch.open && ((ch.io == Io::prompt && ch.prompt_running) ||
                       ((ch.io == Io::play || ch.io == Io::record) && ch.stream != nullptr));
}

// What the line was played goes to the hybrid, silence when the stream ran dry; at most a few
// blocks wait there when nothing records.
void to_hybrid(Board &b, const uint8_t *samples, size_t count, size_t block) {
    b.hybrid.insert(b.hybrid.end(), samples, samples + count);
    const size_t most = HYBRID_BLOCKS_MOST * block;
    if (b.hybrid.size() > most) {
        b.hybrid.erase(b.hybrid.begin(),
                       b.hybrid.begin() + static_cast<std::ptrdiff_t>(b.hybrid.size() - most));
    }
}

void play_block(Board &b, Channel &ch) {
    std::vector<uint8_t> block;
    {
        stream_buffer *s = ch.stream;
        std::lock_guard lock(s->mutex);
        if (s->storage.empty()) {
            return;
        }
        if (s->count == 0) {
            ++b.underruns;
            const std::vector<uint8_t> silence(static_cast<size_t>(s->block_size), 0xFF);
            to_hybrid(b, silence.data(), silence.size(), silence.size());
            return;
        }
        const uint8_t *start = s->storage.data() + static_cast<size_t>(s->head) * s->block_size;
        block.assign(start, start + s->lengths[s->head]);
        s->head = (s->head + 1) % s->blocks;
        --s->count;
        to_hybrid(b, block.data(), block.size(), static_cast<size_t>(s->block_size));
    }
    heard_by_far_party(b, block.data(), block.size());
}

void record_block(Board &b, Channel &ch) {
    stream_buffer *s = ch.stream;
    std::vector<uint8_t> block(static_cast<size_t>(s->block_size), 0xFF);
    const bool far_party_speaks = !exchange_says(b, block.data(), block.size());
    if (far_party_speaks && b.line == Line::connected && !b.say.empty()) {
        for (uint8_t &sample : block) {
            sample = b.say[b.say_at];
            b.say_at = (b.say_at + 1) % b.say.size();
        }
    }
    if (far_party_speaks && b.line == Line::connected) {
        keypad_plays(b, block.data(), block.size());
    }
    // The played samples of the same instants: the canceller's reference, and the hybrid's echo.
    std::vector<uint8_t> played(block.size(), 0xFF);
    const size_t ready = std::min(played.size(), b.hybrid.size());
    std::copy(b.hybrid.begin(), b.hybrid.begin() + static_cast<std::ptrdiff_t>(ready),
              played.end() - static_cast<std::ptrdiff_t>(ready));
    b.hybrid.erase(b.hybrid.begin(), b.hybrid.begin() + static_cast<std::ptrdiff_t>(ready));
    if (b.echo_path != nullptr && b.line == Line::connected) {
        add_echo(b, played, block);
    }
    HANDLE announce = nullptr;
    {
        std::lock_guard lock(s->mutex);
        if (s->storage.empty()) {
            return;
        }
        if (s->count == s->blocks) {
            ++b.overruns;
            return;
        }
        int32_t tail = (s->head + s->count) % s->blocks;
        std::memcpy(s->storage.data() + static_cast<size_t>(tail) * s->block_size, block.data(),
                    block.size());
        std::memcpy(s->references.data() + static_cast<size_t>(tail) * s->block_size, played.data(),
                    played.size());
        s->lengths[tail] = s->block_size;
        ++s->count;
        b.recorded += block.size();
        announce = s->ready;
    }
    // Set after the stream's lock is released: set under it, the woken reader ran only to block
    // on that lock. Emptied meanwhile (tuvo_empty_buffer), the stream's event is reset again, so
    // that it stays set only while a block waits.
    if (announce != nullptr) {
        SetEvent(announce);
        std::lock_guard lock(s->mutex);
        if (s->count == 0 && s->ready == announce) {
            ResetEvent(announce);
        }
    }
}

void prompt_chunk(Board &b, Channel &ch) {
    size_t count = std::min(PROMPT_CHUNK, ch.prompt.size() - ch.prompt_at);
    heard_by_far_party(b, ch.prompt.data() + ch.prompt_at, count);
    ch.prompt_at += count;
    if (ch.prompt_at >= ch.prompt.size()) {
        end_io(b, ch, TM_END_OF_DATA);
    }
}

void run_timers(Board &b, Clock::time_point now) {
    if (b.hook_done_at && now >= *b.hook_done_at) {
        b.hook_done_at.reset();
        post(b, b.hook_done_device, EV_HOOK_DONE, b.off_hook ? 1 : 0);
    }
    if (b.dial_done_at && now >= *b.dial_done_at) {
        b.dial_done_at.reset();
        // The far party answers at once.
        connect_line(b);
        post(b, b.dial_device, EV_DIAL_DONE, 0);
    }
    if (b.hangup_at && now >= *b.hangup_at) {
        b.hangup_at.reset();
        if (b.line == Line::connected) {
            far_party_hangs_up(b);
        }
    }
}

}  // namespace

void clock_run(Board &b) {
    std::unique_lock lock(b.mutex);
    while (!b.stopping) {
        auto now = Clock::now();
        run_timers(b, now);
        auto next = now + IDLE_WAKE;
        exchange_timers(b, now, &next);
        for (Channel &ch : b.channels) {
            // Deadlines advance by whole periods from where they started, so that the rate
            // holds over any stretch of time however late a wake-up is.
            for (int step = 0; runs(ch) && ch.due <= now && step < CATCH_UP_MAX; ++step) {
                Clock::duration period = period_of(ch);
                if (ch.io == Io::prompt) {
                    prompt_chunk(b, ch);
                } else if (ch.io == Io::play) {
                    play_block(b, ch);
                } else {
                    record_block(b, ch);
                }
                ch.due += period;
            }
            if (runs(ch)) {
                if (ch.due <= now) {
                    ch.due = now + period_of(ch);  // hopelessly behind: start over
                }
                next = std::min(next, ch.due);
            }
        }
        for (const auto &timer : {b.hook_done_at, b.dial_done_at, b.hangup_at}) {
            if (timer) {
                next = std::min(next, *timer);
            }
        }
        b.clock_wake.wait_until(lock, next);
    }
}

}  // namespace sipline::boardsim
