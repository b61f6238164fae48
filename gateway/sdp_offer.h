// The gateway's own SDP offer, for an INVITE that carried none and for calls from the line: one
// audio stream on port 10000 with PCMU (0), GSM (3), PCMA (8) and telephone-event (101).
#pragma once

#include <string>

namespace sipline {

// A new heap text (free with free()) carrying `address` in the origin and connection lines.
char *BuildSdpOffer(const char *address);

// The offer the gateway makes now: the one from start-up (or a directory entry's), or, behind a
// NAT that a registrar revealed, one naming the public address the registrar saw.
std::string CurrentSdpOffer();

// Reads the answer to that offer (a callee's 2xx, a caller's ACK) into the call's media and its
// destination. False when it agrees no audio codec: the call cannot carry audio.
bool TakeSdpAnswer(const char *body);

}  // namespace sipline
