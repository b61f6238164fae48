// A new agreement for the call in progress (a re-INVITE or UPDATE answered): the RTP destination
// moves at once, and the audio threads take the new codecs and direction at their next round
// (hold stops the gateway's audio to the caller, resume starts it again).
#pragma once

#include <cstdint>

#include "sip/sdp/media_description.h"

namespace sipline {

// From a SIP request thread while the call's media run.
void MediaUpdate(const media_description_t &media);
// Changes with each update; an audio thread compares it with the count it took its settings at.
uint64_t MediaUpdateCount();
// The call's description as it stands (CallMedia, read under the update's lock).
media_description_t MediaCurrent();

}  // namespace sipline
