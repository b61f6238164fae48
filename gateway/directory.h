// The gateway's built-in directory of three numbers that a call from the line can reach.
#pragma once

namespace sipline {

// The SIP URI of the entry found for the call in hand: the call from the line goes to it. Null
// outside such a call and for an entry without one. Main thread only.
extern const char *DestinationUri;

// For "100", "101" and "102" (compared without regard to case): sets the fixed media ports and
// destination of the entry, and for "100" and "102" DestinationUri and SdpOffer; returns 0.
// Any other dial string: -1, nothing changed.
int LookupNumber(const char *dial);
// SdpOffer back to the offer built at start-up, and no DestinationUri, once a call that found an
// entry is over.
void ForgetDirectoryEntry();

}  // namespace sipline
