// The reason phrases a response may carry; a status without one cannot be sent.
#pragma once

namespace sipline {

inline constexpr int STATUS_MAX = 606;

// Indexed by status code; null where the code has no phrase. Written once by StatusTextInit
// (under a once-only guard, which also orders it for the senders that call it first).
extern const char *StatusText[STATUS_MAX + 1];

void StatusTextInit();

}  // namespace sipline
