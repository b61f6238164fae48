// The call state machine: advances the call for each board event the main loop takes.
#pragma once

#include <cstdint>

namespace sipline {

// Main thread only. 0, or -1 after a failed media start.
int ProcessEvent(int32_t device, int32_t type, void *data);

}  // namespace sipline
