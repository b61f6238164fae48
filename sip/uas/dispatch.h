// A received request on its own thread: checked, then answered or handed to the call.
#pragma once

namespace sipline {

// The thread routine for a record holding a request; it answers and releases the record.
void *RequestProcessThread(void *argument);

}  // namespace sipline
