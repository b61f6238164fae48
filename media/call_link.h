// The media bridge's hold on the call, through the SIP side's door (sip/uas/gateway.h): the
// flags that the state machine owns and the event that wakes it.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace sipline {

// The peer's RTCP BYE ends the call: unless HangupSignalled was set already, sets it, sets
// CallState to ST_CLEANUP, closes the media session with "hangup", sets MediaStop and posts
// EV_REMOTE_HANGUP to the line. True when it did so. Called with RtpMutex held.
bool MediaRemoteHangup();

// Whether an RTCP BYE (host-form common header; SSRC list in wire order; packet_bytes as its
// length field states) comes from the call's peer: it names the source whose audio the call
// receives, or, before any audio has arrived, it was sent from the peer's address.
bool ByeFromPeer(const char *packet, int32_t packet_bytes, bool audio_heard, uint32_t audio_ssrc,
                 const sockaddr_in &from, const in_addr &peer);
// Whether an RTCP compound (its first packet an SR or RR, the sender's SSRC in host order as
// RTPReceive leaves it,
// `bytes` long) comes from the call's peer: the source whose audio the call receives, from the
// address its RTP was latched to.
bool RtcpFromPeer(const char *packet, int32_t bytes, uint32_t audio_ssrc, const sockaddr_in &from,
                  const in_addr &peer);

}  // namespace sipline
