// The call state machine: advances the call for each board event the main loop takes.
#pragma once

#include <cstdint>

namespace sipline {

// Main thread only. 0, or -1 after a failed media start.
int ProcessEvent(int32_t device, int32_t type, void *data);

// How long the main loop may wait for the next event in the current state: -1 for no limit.
// A state that waits for the line (hook change, digits, dialling, the stopped I/O) is not left
// waiting for ever when the board cannot report that the line's party has gone.
int32_t EventTimeLimitMs();
// The limit of the current state passed without an event: ends what the state waited for.
void ProcessTimeLimit();

}  // namespace sipline
