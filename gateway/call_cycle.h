// The gateway's cycle of calls, run by the main thread after start-up.
#pragma once

namespace sipline {

// Creates the cycle's audio threads, hands board events to ProcessEvent until the call is over,
// puts the line on-hook and prepares the channels for the next call; until QuitRequested.
void RunCallCycles();
// Ends the cycle's pair of audio threads, started or not, and forgets their handles.
void DismissAudioThreads();

}  // namespace sipline
