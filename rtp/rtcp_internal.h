// Calls from the RTP side of the engine into its RTCP side (reception of RTCP packets, the
// report timer, BYE and time-outs). rtcp_placeholder.cpp holds narrow stand-ins until the RTCP
// side defines them.
#pragma once

#include "rtp/context_internal.h"

namespace sipline {

// Kinds of RTP event.
inline constexpr int32_t RTP_EVENT_KIND_REPORT = 1;
inline constexpr int32_t RTP_EVENT_KIND_BYE = 2;
inline constexpr int32_t RTP_EVENT_KIND_CONTRIBUTOR_BYE = 3;
inline constexpr int32_t RTP_EVENT_KIND_COLLISION_BYE = 4;

// One host-form packet of a valid compound, updating the member table (SR, RR, SDES, BYE,
// APP). position: its index in the compound, 0 for the first. Called by RTPPacketReceived for
// each packet in order; its result is not passed on.
rtperror UpdateMemberInfoByRTCP(rtp_context_t *ctx, char *packet, const sockaddr_in *from,
                                int32_t from_length, int32_t position);
// The member time-out pass; RTPPacketReceived runs it after each UpdateMemberInfoByRTCP.
void RTCPMemberTimeouts(rtp_context_t *ctx);
// Step 6 of RTPOpenConnection: counters reset, initial phase, first report scheduled.
void RTCPStart(rtp_context_t *ctx);
// First step of RTPCloseConnection: the BYE with the reason, scheduled for now.
void RTCPEnd(rtp_context_t *ctx, const char *reason);
// The schedule step: an event of kind for ssrc with a copy of reason, run at once when the
// session is idle and due has come, else handed to ScheduleRTPEvent.
void RTCPSchedule(rtp_context_t *ctx, int32_t kind, uint32_t ssrc, const char *reason,
                  const timeval &due);
// A new participant uses the SSRC of holder: a new confirmed member (state 1, or 4 as a
// contributor) chained to holder, with the callbacks and, for the own SSRC, the BYE and a new
// own SSRC. Returns the new member.
rtp_member_t *RTCPResolveCollision(rtp_context_t *ctx, rtp_member_t *holder,
                                   const sockaddr_in *from, bool rtcp, bool contributor,
                                   const timeval &now);

}  // namespace sipline
