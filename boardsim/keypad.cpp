#include <algorithm>

#include "boardsim/state.h"
#include "dsp/g711.h"

namespace sipline::boardsim {
namespace {

constexpr int SAMPLES_PER_MS = 8;
// A person's steady keying: 100 ms of tone, then 100 ms before the next key, each tone of the
// pair at -10 dBm0 as a telephone sends it (ITU-T Q.23).
constexpr int PRESS_MS = 100;
constexpr int PAUSE_MS = 100;
constexpr int PRESS_LEVEL_DBM0 = -10;
constexpr size_t KEYS_QUEUED_MAX = 256;
constexpr size_t HEARD_DIGITS_MAX = 256;  // the latest kept
constexpr uint8_t MULAW_SILENCE = 0xFF;

}  // namespace

bool press_keys(Board &b, const std::string &keys) {
    if (b.keys_to_press.size() + keys.size() > KEYS_QUEUED_MAX) {
        return false;
    }
    b.keys_to_press += keys;
    return true;
}

// While keys are pressed the phone sends the tone pairs and the silence between them in place
// of the talker's voice, as a telephone mutes its microphone while a key is down.
void keypad_plays(Board &b, uint8_t *said, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!b.key_tone.playing()) {
            if (b.key_gap_left > 0) {
                said[i] = MULAW_SILENCE;
                --b.key_gap_left;
                continue;
            }
            if (b.keys_to_press.empty()) {
                return;
            }
            char key = b.keys_to_press.front();
            b.keys_to_press.erase(0, 1);
            if (!b.key_tone.start(key, PRESS_MS, PRESS_LEVEL_DBM0)) {
                continue;  // the parser lets only keys through
            }
            b.key_gap_left = PAUSE_MS * SAMPLES_PER_MS;
        }
        int16_t sample = 0;
        b.key_tone.generate(&sample, 1);
        said[i] = dsp::linear_to_ulaw(sample);
    }
}

void far_party_listens(Board &b, const uint8_t *heard, size_t count) {
    int16_t linear[160];
    while (count > 0) {
        size_t n = std::min(count, std::size(linear));
        for (size_t i = 0; i < n; ++i) {
            linear[i] = dsp::ulaw_to_linear(heard[i]);
        }
        b.far_ear.feed(linear, static_cast<int>(n));
        heard += n;
        count -= n;
    }
}

dsp::DtmfDetector far_party_ear(Board &b) {
    return dsp::DtmfDetector([&b](char key, bool down) {
        if (!down) {
            return;
        }
        b.heard_digits += key;
        if (b.heard_digits.size() > HEARD_DIGITS_MAX) {
            b.heard_digits.erase(0, b.heard_digits.size() - HEARD_DIGITS_MAX);
        }
    });
}

void reset_keypad(Board &b) {
    b.keys_to_press.clear();
    b.key_tone.stop();
    b.key_gap_left = 0;
    // A fresh detector: a key still down in the last call is not carried into this one.
    b.far_ear = far_party_ear(b);
    b.heard_digits.clear();
}

}  // namespace sipline::boardsim
