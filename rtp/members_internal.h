// The member table's operations, used by reception, sending and the RTCP side. All take the
// context record. Those that stamp a member take "now" from the caller, so that a received
// packet reads the clock once; the others use rtp_now().
#pragma once

#include "rtp/context_internal.h"

namespace sipline {

// Creates the tables' first member: the own member (id 0, SSRC 0, confirmed), kept out of
// the SSRC hash until RTPChooseSSRC gives it an SSRC.
void RTPMembersInit(rtp_context_t *ctx);
// Deletes every member (no events).
void RTPMembersClear(rtp_context_t *ctx);

// A new member with a fresh unique id: heard now, at the head of the member list, in the SSRC
// (unless that SSRC is taken) and id hashes. Raises event 0 and, when address is given and the
// id is not 0, the new address callback (rtcp: address is its RTCP source).
rtp_member_t *RTPMemberCreate(rtp_context_t *ctx, uint32_t ssrc, const sockaddr_in *address,
                              bool rtcp, int32_t state, const timeval &now);
// The member for ssrc, created (state 0, or 3 when as_csrc) if none has it. With an address,
// walks the collision chain to the member with that address (RTP ports 5004 and 5005 count as
// one), learns an unknown address; then marks it heard now.
rtp_member_t *RTPMemberFindOrCreate(rtp_context_t *ctx, uint32_t ssrc, const sockaddr_in *address,
                                    bool rtcp, bool as_csrc, const timeval &now);
// The same when the caller has already looked the SSRC up: found is RTPMemberBySSRC's answer.
rtp_member_t *RTPMemberFoundOrCreate(rtp_context_t *ctx, rtp_member_t *found, uint32_t ssrc,
                                     const sockaddr_in *address, bool rtcp, bool as_csrc,
                                     const timeval &now);
// The member of a context in use, by id (following the merge log), or null after reporting
// the unknown context or "context %d person %ld does not exist" under the caller's name.
// context_record, when given, receives the context's record once it is found.
rtp_member_t *RTPMemberFind(int32_t context, int32_t id, const char *caller, rtperror *error,
                            rtp_context_t **context_record = nullptr);
// Lookups; by id follows the merge log. Null when there is none.
rtp_member_t *RTPMemberById(rtp_context_t *ctx, int32_t id);
rtp_member_t *RTPMemberBySSRC(rtp_context_t *ctx, uint32_t ssrc);
rtp_member_t *RTPMemberByCNAME(rtp_context_t *ctx, std::string_view cname);
// Enters or removes the member's CNAME (item 1) in the CNAME hash.
void RTPCnameHashInsert(rtp_context_t *ctx, rtp_member_t *member);
void RTPCnameHashRemove(rtp_context_t *ctx, rtp_member_t *member);
// Notes that merged was folded into kept (at most 2000 pairs; then the newest 1000 stay).
void RTPMergeLogAdd(rtp_context_t *ctx, int32_t merged, int32_t kept);

// Last heard = now and to the head of the member list.
void RTPMemberHeard(rtp_context_t *ctx, rtp_member_t *member, const timeval &now);
// Counts a packet naming it as sender SSRC (or as CSRC) and confirms it when due.
void RTPMemberCountSSRC(rtp_context_t *ctx, rtp_member_t *member);
void RTPMemberCountCSRC(rtp_context_t *ctx, rtp_member_t *member);
// Sets the membership state, keeps the confirmed count and raises events 2, 9 and 10 for
// members on the member list.
void RTPMemberSetState(rtp_context_t *ctx, rtp_member_t *member, int32_t state);
// Activity of RFC 1889 section 6.3: sender true for RTP, false for report blocks.
void RTPMemberActivity(rtp_context_t *ctx, rtp_member_t *member, bool sender, const timeval &now);
// Sender status changes with their events (1, 3, 15, 16) and the sender count. Status 0 takes
// the member off the activity list and clears its report table.
void RTPMemberSetSender(rtp_context_t *ctx, rtp_member_t *member, int32_t status);
// Frees everything of the member and unlinks it from lists, hashes, report tables, its
// collision chain and the most recent senders. Never the own member.
void RTPMemberDelete(rtp_context_t *ctx, rtp_member_t *member);

// Collision chains: appends member to the chain of holder (marking both) and takes member
// out of the SSRC hash; unlinks a member, putting a chain member left alone back as the
// SSRC hash's holder.
void RTPChainAppend(rtp_context_t *ctx, rtp_member_t *holder, rtp_member_t *member);
void RTPChainUnlink(rtp_context_t *ctx, rtp_member_t *member);
// Moves the own member in the SSRC hash to a new SSRC.
void RTPMemberChangeSSRC(rtp_context_t *ctx, rtp_member_t *member, uint32_t ssrc);

// Callbacks, each called only when set.
void RTPRaiseMemberEvent(rtp_context_t *ctx, rtp_member_t *member, int32_t event,
                         const char *extra);
void RTPRaiseNewAddress(rtp_context_t *ctx, rtp_member_t *member, bool rtcp);
void RTPRaiseSDESChange(rtp_context_t *ctx, rtp_member_t *member, int32_t item);

// Two addresses of one participant: family, IPv4 address and port without its lowest bit.
bool RTPSameAddress(const sockaddr_in &a, const sockaddr_in &b);
bool RTPAddressKnown(const sockaddr_in &address);
bool RTPIsConfirmed(const rtp_member_t *member);

}  // namespace sipline
