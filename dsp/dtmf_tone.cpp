#include <algorithm>
#include <cstring>

#include "dsp/dtmf.h"
#include "dsp/spandsp_internal.h"

namespace sipline::dsp {
namespace {

constexpr int kSamplesPerMs = SAMPLE_RATE / 1000;

// ITU-T Q.23: rows are the low group, columns the high group.
constexpr char kKeys[4][4] = {
    {'1', '2', '3', 'A'}, {'4', '5', '6', 'B'}, {'7', '8', '9', 'C'}, {'*', '0', '#', 'D'}};
constexpr int kLowHz[4] = {697, 770, 852, 941};
constexpr int kHighHz[4] = {1209, 1336, 1477, 1633};

struct Pair {
    int low_hz = 0;
    int high_hz = 0;
};

Pair pair_of(char key) {
    if (key >= 'a' && key <= 'd') {
        key = static_cast<char>(key - 'a' + 'A');
    }
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            if (kKeys[row][col] == key) {
                return {kLowHz[row], kHighHz[col]};
            }
        }
    }
    return {};
}

struct ToneGenFree {
    void operator()(tone_gen_state_t *s) const { tone_gen_free(s); }
};

}  // namespace

bool is_dtmf_key(char key) {
    return key != '\0' && pair_of(key).low_hz != 0;
}

struct DtmfTone::State {
    std::unique_ptr<tone_gen_state_t, ToneGenFree> gen;
    // Samples of the current tone written so far, and its whole length; equal when idle.
    int64_t done = 0;
    int64_t total = 0;
};

DtmfTone::DtmfTone() : state_(std::make_unique<State>()) {}
DtmfTone::~DtmfTone() = default;
DtmfTone::DtmfTone(DtmfTone &&) noexcept = default;
DtmfTone &DtmfTone::operator=(DtmfTone &&) noexcept = default;

bool DtmfTone::start(char key, int duration_ms, int level_dbm0) {
    Pair pair = pair_of(key);
    if (!state_ || pair.low_hz == 0 || duration_ms <= 0 || level_dbm0 < kMinLevelDbm0 ||
        level_dbm0 > kMaxLevelDbm0) {
        return false;
    }
    // One 1 s cadence step repeated without a gap: a steady pair whose phase runs on across
    // steps, cut by our own sample count so that extend() can move the end at any time.
    tone_gen_descriptor_t *desc = tone_gen_descriptor_init(
        nullptr, pair.low_hz, level_dbm0, pair.high_hz, level_dbm0, 1000, 0, 0, 0, 1);
    if (desc == nullptr) {
        return false;
    }
    tone_gen_state_t *gen = tone_gen_init(state_->gen.get(), desc);
    tone_gen_descriptor_free(desc);
    if (gen == nullptr) {
        return false;
    }
    if (state_->gen.get() != gen) {
        state_->gen.reset(gen);
    }
    state_->done = 0;
    state_->total = int64_t{duration_ms} * kSamplesPerMs;
    return true;
}

void DtmfTone::extend(int duration_ms) {
    if (!playing()) {
        return;
    }
    state_->total = std::max(state_->total, int64_t{duration_ms} * kSamplesPerMs);
}

void DtmfTone::stop() {
    if (state_) {
        state_->total = state_->done;
    }
}

bool DtmfTone::playing() const {
    return state_ && state_->done < state_->total;
}

int DtmfTone::generate(int16_t *out, int n) {
    if (out == nullptr || n <= 0 || !playing()) {
        return 0;
    }
    int tone = static_cast<int>(std::min<int64_t>(n, state_->total - state_->done));
    int made = tone_gen(state_->gen.get(), out, tone);
    state_->done += tone;
    std::memset(out + made, 0, sizeof(int16_t) * static_cast<size_t>(n - made));
    return n;
}

}  // namespace sipline::dsp
