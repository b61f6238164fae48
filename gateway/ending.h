// Ending the gateway from outside: SIGINT and SIGTERM end the process cleanly.
#pragma once

namespace sipline {

// Blocks SIGINT and SIGTERM in this thread and every thread it starts later, and starts the
// thread that takes them. Call before any other thread is started.
void WatchForEndSignals();

// Ends the process from any thread: the exit handlers run (the board's puts the line on-hook and
// completes its capture; Cleanup follows) and nothing else is torn down.
[[noreturn]] void EndFromOutside();

// For the main thread once its cycle of calls has returned: when the end came from outside, it
// waits here for the ending thread to finish the exit handlers and end the process. Returning
// from main would run the exit handlers a second time at once, and end the process in the middle
// of the first run (a binding's removal sent but never answered).
void AwaitEndFromOutside();

}  // namespace sipline
