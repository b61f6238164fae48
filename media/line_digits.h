// DTMF keys that the caller sends, played on the line as tone pairs in place of the caller's
// audio: RFC 4733 presses as their packets report them, and whole presses from SIP INFO (queued
// by the SIP side's threads, played by InTh).
#pragma once

#include <chrono>
#include <cstdint>

#include "dsp/dtmf.h"
#include "media/play_feed.h"
#include "media/telephone_event.h"

namespace sipline {

// RFC 4733 section 2.5.1.2: whatever the packets say, a key plays at least 40 ms.
inline constexpr int32_t LINE_DIGIT_SHORTEST = 40 * 8;
// A press whose packets stop without an end (all three lost) is over after this; senders repeat
// a held key's packet every 50 ms or sooner.
inline constexpr auto LINE_DIGIT_SILENT_END = std::chrono::milliseconds(300);

// From any thread: a key of an INFO, played once InTh next wakes. False when the queue is full
// (a flood of INFO requests); the key is then dropped.
bool MediaQueueDigit(char key, int32_t duration_ms);
// InTh: the next queued key, or false.
bool MediaNextDigit(char *key, int32_t *duration_ms);
// Drops the keys of a call that has ended.
void MediaClearDigits();

class line_digits {
  public:
    // A received press's action: the tone starts, goes on or ends; the tone due so far is
    // written. False when the call ended while the stream was full.
    bool take(const key_action_t &action, play_feed &feed);
    // A whole press of `duration_ms` (SIP INFO).
    bool press(char key, int32_t duration_ms, play_feed &feed);
    // At every wake of InTh: ends a press whose packets have stopped.
    bool tick(telephone_event_receiver &receiver, play_feed &feed);
    // While a key plays, the caller's audio is kept off the line.
    bool muting() const { return playing_; }
    int32_t keys_played() const { return keys_; }

  private:
    bool write_until(int32_t due, play_feed &feed);
    bool finish(int32_t duration, play_feed &feed);

    dsp::DtmfTone tone_;
    bool playing_ = false;
    int32_t written_ = 0;  // samples of the current key's tone on the line
    int32_t keys_ = 0;
    std::chrono::steady_clock::time_point heard_at_{};
};

}  // namespace sipline
