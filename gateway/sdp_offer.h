// The SDP body of the gateway's 200 answer: one audio stream on port 10000, payload types 0
// (G.711 mu-law) and 3 (GSM).
#pragma once

namespace sipline {

// A new heap text (free with free()) carrying `address` in the origin and connection lines.
char *BuildSdpOffer(const char *address);

}  // namespace sipline
