// DTMF tone pairs (ITU-T Q.23) and their detection (ITU-T Q.24), linear 16-bit samples at 8 kHz.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace sipline::dsp {

// One DTMF key (0-9 * # A-D) as a tone pair for a given time, linear 16-bit samples at 8 kHz.
// Level in dBm0 per tone (default -10), as ITU-T Q.23 asks.
class DtmfTone {
  public:
    DtmfTone();
    ~DtmfTone();
    DtmfTone(DtmfTone &&) noexcept;
    DtmfTone &operator=(DtmfTone &&) noexcept;
    DtmfTone(const DtmfTone &) = delete;
    DtmfTone &operator=(const DtmfTone &) = delete;

    // Starts `key` for `duration_ms` (at least 40 ms is the caller's job), replacing any tone
    // playing. a-d are taken as A-D. false, and nothing changes, for a key that is not DTMF, a
    // duration that is not positive or a level outside kMinLevelDbm0..kMaxLevelDbm0.
    bool start(char key, int duration_ms, int level_dbm0 = -10);
    // Extends the tone currently playing to end `duration_ms` after its start (a long RFC 4733
    // press); no effect when idle. It never shortens a tone: a late, older update is harmless.
    void extend(int duration_ms);
    void stop();  // ends at once
    bool playing() const;
    // Writes up to n samples; while playing the tone, returns n with tone samples (and the tail
    // of silence zeroed when the tone ends mid-block); when idle returns 0 and writes nothing.
    int generate(int16_t *out, int n);

    static constexpr int kMinLevelDbm0 = -60;
    static constexpr int kMaxLevelDbm0 = 0;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A Q.24-grade detector (spandsp dtmf_rx) over linear 16-bit samples at 8 kHz.
class DtmfDetector {
  public:
    // on_key(key, true) when a key starts, on_key(key, false) when it ends; called from feed()
    // on the caller's thread. Every key that goes down comes up again before the next one goes
    // down. on_key must not throw.
    explicit DtmfDetector(std::function<void(char key, bool down)> on_key);
    ~DtmfDetector();
    DtmfDetector(DtmfDetector &&) noexcept;
    DtmfDetector &operator=(DtmfDetector &&) noexcept;
    DtmfDetector(const DtmfDetector &) = delete;
    DtmfDetector &operator=(const DtmfDetector &) = delete;

    // A key goes down 22-36 ms after its tone starts (two of the detector's 12.75 ms blocks)
    // and comes up 14-28 ms after it ends: audio that must not carry the tone onwards needs
    // about 40 ms of delay to be cut in time.
    void feed(const int16_t *samples, int n);
    bool tone_present() const;  // a key is down now (for keeping the tone out of the audio)
    // The key that is down now, or 0.
    char key_down() const;
    // A tone pair is seen but not yet confirmed as a key (10-23 ms after it starts), or a key
    // is down: the earliest hint, for muting without a delay line. Speech raises it now and
    // then without a key following.
    bool tone_suspected() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// True for 0-9 * # A-D (and a-d).
bool is_dtmf_key(char key);

}  // namespace sipline::dsp
