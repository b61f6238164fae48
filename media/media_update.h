// A new agreement for the call in progress (a re-INVITE or UPDATE answered): the RTP destination
// moves at once, and the audio threads take the new codecs and direction at their next round
// (hold stops the gateway's audio to the caller, resume starts it again).
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "sip/sdp/media_description.h"

namespace sipline {

// From a SIP request thread while the call's media run.
void MediaUpdate(const media_description_t &media);
// Changes with each update; an audio thread compares it with the count it took its settings at.
uint64_t MediaUpdateCount();
// The call's description as it stands (CallMedia, read under the update's lock).
media_description_t MediaCurrent();

// Symmetric RTP (RFC 4961): the caller's media came from `from`, another address than its
// description named (a NAT's public address): the gateway sends there from now on. InTh, with
// RtpMutex held, once per agreement. True when the destination moved.
bool MediaLatch(int32_t context, const sockaddr_in &from);
// The caller's RTCP came from `from` after its RTP was latched (the same address and SSRC): the
// gateway's RTCP goes to that port from now on instead of the latched RTP port + 1 (a NAT maps
// the two ports apart). InTh, with RtpMutex held, once per latch. True when it moved.
bool MediaLatchRtcp(int32_t context, const sockaddr_in &from);

}  // namespace sipline
