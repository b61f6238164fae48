// What the line's party hears from the gateway itself while a call from the line waits for its
// callee: ringback after a provisional answer, a busy tone after a refusal. The tones are written
// into channel 1's play stream, which the board is playing, by a thread of their own.
#pragma once

#include <cstdint>

namespace sipline {

enum class line_tone_t { ringback, busy };

// 425 Hz (ITU-T E.180): ringback 1 s on and 4 s off, busy 0.5 s on and 0.5 s off.
inline constexpr int32_t LINE_TONE_HZ = 425;

// Plays the tone, in place of any tone playing. Main thread.
void LineToneStart(line_tone_t tone);
// Ends the tone and empties the play stream, so that the callee's audio follows without the
// tone's backlog; nothing when no tone plays. Main thread.
void LineToneStop();
// One block of the tone at `sample` samples from its start, as 8-bit mu-law.
void LineToneFill(line_tone_t tone, int64_t sample, uint8_t *block, int32_t count);

}  // namespace sipline
