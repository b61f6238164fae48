// The gateway's built-in directory of three numbers that a call from the line can reach.
#pragma once

namespace sipline {

// The SIP URI of the entry found last; null before any was found, or for an entry without one.
// Main thread only.
extern const char *DestinationUri;

// For "100", "101" and "102" (compared without regard to case): sets the fixed media ports and
// destination of the entry, and for "100" and "102" DestinationUri and SdpOffer; returns 0.
// Any other dial string: -1, nothing changed.
int LookupNumber(const char *dial);
// SdpOffer back to the offer built at start-up once a call that found an entry is over.
void ForgetDirectoryEntry();

}  // namespace sipline
