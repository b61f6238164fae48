// Supervisory tones with a cadence (ITU-T E.180): the disconnect or busy tone an exchange plays
// when the far party has hung up, its generation and its detection, and the long silence some
// lines leave instead. Linear 16-bit samples at 8 kHz.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace sipline::dsp {

// One or two frequencies on for on_ms, off for off_ms, repeated. f2_hz 0: a single frequency.
struct ToneCadence {
    int f1_hz = 425;
    int f2_hz = 0;
    int on_ms = 500;
    int off_ms = 500;
};

// Reads "F1/ON/OFF" or "F1+F2/ON/OFF" (Hz, ms): "425/500/500", "480+620/500/500". Frequencies
// 100 to 3400 Hz, times 50 to 10000 ms. false, *out untouched, for anything else.
bool parse_tone_cadence(std::string_view text, ToneCadence *out);

// Plays a cadence until stopped (spandsp super_tone_tx).
class CadenceTone {
  public:
    CadenceTone();
    ~CadenceTone();
    CadenceTone(CadenceTone &&) noexcept;
    CadenceTone &operator=(CadenceTone &&) noexcept;
    CadenceTone(const CadenceTone &) = delete;
    CadenceTone &operator=(const CadenceTone &) = delete;

    // false, and nothing plays, for a cadence without a frequency or a positive on time.
    bool start(const ToneCadence &cadence, int level_dbm0 = -13);
    void stop();
    bool playing() const;
    // Writes up to n samples; returns n while playing, 0 (writing nothing) when idle.
    int generate(int16_t *out, int n);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Recognises any of the given cadences (spandsp super_tone_rx) after two whole on/off cycles,
// each part within 20 % (at least 60 ms) of its length. Once detected it stays detected.
class DisconnectToneDetector {
  public:
    explicit DisconnectToneDetector(const std::vector<ToneCadence> &cadences);
    ~DisconnectToneDetector();
    DisconnectToneDetector(DisconnectToneDetector &&) noexcept;
    DisconnectToneDetector &operator=(DisconnectToneDetector &&) noexcept;
    DisconnectToneDetector(const DisconnectToneDetector &) = delete;
    DisconnectToneDetector &operator=(const DisconnectToneDetector &) = delete;

    void feed(const int16_t *samples, int n);
    bool detected() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// True once the line has stayed below the threshold for the given time without a break.
class SilenceDetector {
  public:
    SilenceDetector(int seconds, double threshold_dbm0 = -45.0);
    void feed(const int16_t *samples, int n);
    bool detected() const { return enabled_ && quiet_samples_ >= needed_; }

  private:
    bool enabled_;
    int64_t needed_;
    double threshold_square_;  // mean square of a block at the threshold
    int64_t quiet_samples_ = 0;
};

}  // namespace sipline::dsp
