#include "dsp/jitter_buffer.h"

#include <algorithm>

namespace sipline::dsp {
namespace {

constexpr int64_t US_PER_SAMPLE = 125;  // 8000 samples per second
constexpr int64_t US_PER_MS = 1000;
// The delay follows the 95th percentile of the transits of the last five seconds, and the
// transit of a late packet for as long: a stall that made a packet late is likely to come
// again. A packet that is merely slow is waited on rather than dropped (the delay grows by the
// wait), so the percentile sets how often the stream waits and then shrinks back: on the
// bench's moderate trace the 97th held 4 ms more delay for a third fewer waits and shrinks.
constexpr size_t TRANSITS_KEPT = 250;
constexpr int64_t PEAK_HELD_US = 5'000'000;
constexpr int32_t PERCENTILE = 95;
// It grows by a frame when the target is above, and shrinks by a packet when the target is a
// whole packet below: with a smaller margin the dropped packet takes the delay under the
// target and the next slow packet is waited on, a wait and a drop for nothing. It shrinks at
// most twice a second, ten times a second while a stall's backlog keeps it 30 ms or more above
// its target (else a 100-ms stall kept the delay up for the next two seconds), at once above
// its bound.
constexpr int64_t GROW_MARGIN_US = 2 * US_PER_MS;
constexpr int64_t SHRINK_MARGIN_US = 20 * US_PER_MS;
constexpr int64_t SHRINK_EVERY_US = 500'000;
constexpr int64_t BACKLOG_MARGIN_US = 30 * US_PER_MS;
constexpr int64_t BACKLOG_SHRINK_EVERY_US = 100'000;
// A sequence number this far from the highest, or a timestamp two seconds from the playout,
// is a new stream (a restarted sender, a mixer's switch), not a late or early packet.
constexpr int64_t SEQUENCE_JUMP = 1000;
constexpr int64_t TIMESTAMP_JUMP = 2 * 8000;
constexpr size_t SEEN_KEPT = 1024;
constexpr size_t QUEUED_MOST = 512;

}  // namespace

JitterBuffer::JitterBuffer(int32_t least_ms, int32_t most_ms, int32_t fade_ms)
    : least_us_(std::max(least_ms, 0) * 1000),
      most_us_(std::max(most_ms, least_ms) * 1000),
      fade_samples_(std::max(fade_ms, 0) * 8),
      seen_(SEEN_KEPT, -1) {}

void JitterBuffer::new_source(const Packet &packet) {
    if (source_known_) {
        expected_before_ += highest_ - first_ + 1;
        ++stats_.resets;
    }
    source_known_ = true;
    ssrc_ = packet.ssrc;
    first_ = highest_ = (int64_t{1} << 16) + packet.seq;
    std::fill(seen_.begin(), seen_.end(), -1);
    queue_.clear();
    restart_timing(packet.ts);
}

void JitterBuffer::restart_timing(uint32_t ts) {
    base_ts_ = ts;
    playing_ = false;
    next_ = 0;
    transits_.clear();
    peak_us_ = 0;
    peak_at_us_ = 0;
    for (auto it = queue_.begin(); it != queue_.end();) {
        it = it->second.event ? std::next(it) : queue_.erase(it);
    }
}

void JitterBuffer::put(Packet packet, int64_t now_us) {
    if (!source_known_ || packet.ssrc != ssrc_) {
        new_source(packet);
    }
    int64_t ext = highest_ + static_cast<int16_t>(packet.seq - static_cast<uint16_t>(highest_));
    if (ext - highest_ > SEQUENCE_JUMP || highest_ - ext > SEQUENCE_JUMP) {
        new_source(packet);
        ext = highest_;
    }
    int64_t &seen = seen_[static_cast<size_t>(ext) % SEEN_KEPT];
    if (seen == ext) {
        ++stats_.duplicated;
        return;
    }
    seen = ext;
    ++stats_.received;
    highest_ = std::max(highest_, ext);
    if (queue_.size() >= QUEUED_MOST) {
        return;  // a flood: nothing more is held than this
    }
    if (packet.event) {
        queue_.emplace(ext, std::move(packet));
        return;
    }
    int64_t rel = relative(packet.ts);
    if (playing_ && (rel - next_ > TIMESTAMP_JUMP || next_ - rel > TIMESTAMP_JUMP)) {
        ++stats_.resets;
        restart_timing(packet.ts);
        rel = 0;
    }
    const int64_t transit = now_us - rel * US_PER_SAMPLE;
    if (playing_ && queue_.empty() && rel >= next_) {
        const int64_t waited = now_us - (offset_us_ + next_ * US_PER_SAMPLE);
        if (waited > int64_t{fade_samples_} * US_PER_SAMPLE ||
            offset_us_ + waited - fastest_us() > most_us_) {
            // Silent for longer than a gap, or a wait that would take the delay past its bound:
            // a new talk spurt, at the delay the jitter asks for.
            playing_ = false;
        } else if (waited > 0 && rel == next_) {
            offset_us_ += waited;  // the clock waited for it: the delay grows by the wait
        }
    }
    const bool late = playing_ && rel < next_;
    measure(transit, late, now_us);
    if (late) {
        ++stats_.late;
        return;
    }
    if (!playing_) {
        // Not before the target after the fastest packet, nor so soon that the packets after
        // this one, at the same pace, would all be late.
        playing_ = true;
        next_ = rel;
        filling_ = 0;
        offset_us_ = std::max(fastest_us() + target_us(now_us), transit + least_us_);
    }
    queue_.emplace(ext, std::move(packet));
}

void JitterBuffer::measure(int64_t transit_us, bool late, int64_t now_us) {
    transits_.push_back(transit_us);
    if (transits_.size() > TRANSITS_KEPT) {
        transits_.pop_front();
    }
    if (late) {
        const int64_t peak = transit_us - fastest_us();
        peak_us_ = now_us - peak_at_us_ < PEAK_HELD_US ? std::max(peak_us_, peak) : peak;
        peak_at_us_ = now_us;
    }
}

int64_t JitterBuffer::fastest_us() const {
    return transits_.empty() ? 0 : *std::min_element(transits_.begin(), transits_.end());
}

int64_t JitterBuffer::target_us(int64_t now_us) const {
    int64_t jitter = 0;
    if (transits_.size() >= 2) {
        std::vector<int64_t> sorted(transits_.begin(), transits_.end());
        const size_t at = (sorted.size() - 1) * PERCENTILE / 100;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(at),
                         sorted.end());
        jitter = sorted[at] - fastest_us();
    }
    if (now_us - peak_at_us_ < PEAK_HELD_US) {
        jitter = std::max(jitter, peak_us_);
    }
    return std::clamp<int64_t>(jitter, least_us_, most_us_);
}

JitterBuffer::Step JitterBuffer::conceal(int32_t samples, bool gap) {
    Step step;
    step.action = Action::conceal;
    step.samples = samples;
    if (gap) {
        concealed_samples_ += samples;
    }
    return step;
}

JitterBuffer::Step JitterBuffer::next(int64_t now_us) {
    for (;;) {
        if (!queue_.empty() && queue_.begin()->second.event) {
            Step step;
            step.action = Action::event;
            step.packet = std::move(queue_.begin()->second);
            queue_.erase(queue_.begin());
            return step;
        }
        if (!playing_ || now_us < offset_us_ + next_ * US_PER_SAMPLE) {
            return {};
        }
        const int64_t fastest = fastest_us();
        const int64_t wanted = fastest + target_us(now_us);
        stats_.delay_ms = static_cast<int32_t>((offset_us_ - fastest) / US_PER_MS);
        stats_.delay_most_ms = std::max(stats_.delay_ms, stats_.delay_most_ms);
        if (wanted > offset_us_ + GROW_MARGIN_US) {
            offset_us_ += kFrameSamples * US_PER_SAMPLE;
            ++stats_.stretched;
            return conceal(kFrameSamples, false);
        }
        if (queue_.empty()) {
            // Nothing is known to be missing yet: the next packet is late or the caller fell
            // silent. Nothing is written, as when packets were played as they came; the packet,
            // when it comes, plays with the delay grown by the wait (put).
            return {};
        }
        Packet &front = queue_.begin()->second;
        const int64_t rel = relative(front.ts);
        if (rel > next_) {
            const auto samples =
                static_cast<int32_t>(std::min<int64_t>(rel - next_, kFrameSamples));
            filling_ += samples;
            next_ += samples;
            return conceal(samples, true);
        }
        const bool over = offset_us_ - fastest > most_us_ + kFrameSamples * US_PER_SAMPLE;
        const int64_t every =
            wanted < offset_us_ - BACKLOG_MARGIN_US ? BACKLOG_SHRINK_EVERY_US : SHRINK_EVERY_US;
        if (queue_.size() >= 2 &&
            (over || (wanted < offset_us_ - SHRINK_MARGIN_US && now_us - shrunk_at_us_ > every))) {
            offset_us_ -= front.samples * US_PER_SAMPLE;
            next_ = rel + front.samples;
            shrunk_at_us_ = now_us;
            ++stats_.shrunk;
            queue_.erase(queue_.begin());
            continue;
        }
        Step step;
        step.action = Action::play;
        next_ = std::max(next_, rel + front.samples);
        filling_ = 0;
        step.packet = std::move(front);
        queue_.erase(queue_.begin());
        return step;
    }
}

int64_t JitterBuffer::next_due_us() const {
    if (queue_.empty()) {
        return -1;
    }
    if (queue_.begin()->second.event) {
        return 0;
    }
    return playing_ ? offset_us_ + next_ * US_PER_SAMPLE : -1;
}

JitterStats JitterBuffer::stats() const {
    JitterStats s = stats_;
    const int64_t expected = expected_before_ + (source_known_ ? highest_ - first_ + 1 : 0);
    s.lost = std::max<int64_t>(expected - s.received, 0);
    s.concealed = (concealed_samples_ + kFrameSamples - 1) / kFrameSamples;
    return s;
}

}  // namespace sipline::dsp
