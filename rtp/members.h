// Member access: every participant a context hears of (itself as member 0 included) is found
// by a unique id; these calls read it and, for the own member and contributors, change it.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "rtp/errors.h"
#include "rtp/receive.h"
#include "support/system.h"

namespace sipline {

// SDES item types.
inline constexpr int32_t RTP_SDES_CNAME = 1;
inline constexpr int32_t RTP_SDES_NAME = 2;
inline constexpr int32_t RTP_SDES_EMAIL = 3;
inline constexpr int32_t RTP_SDES_PHONE = 4;
inline constexpr int32_t RTP_SDES_LOC = 5;
inline constexpr int32_t RTP_SDES_TOOL = 6;
inline constexpr int32_t RTP_SDES_NOTE = 7;
inline constexpr int32_t RTP_SDES_PRIV = 8;
inline constexpr int32_t RTP_SDES_MAX = 12;

// Membership states.
inline constexpr int32_t RTP_MEMBER_NEW = 0;
inline constexpr int32_t RTP_MEMBER_CONFIRMED = 1;
inline constexpr int32_t RTP_MEMBER_EXPIRED = 2;
inline constexpr int32_t RTP_MEMBER_NEW_CONTRIBUTOR = 3;
inline constexpr int32_t RTP_MEMBER_CONFIRMED_CONTRIBUTOR = 4;
inline constexpr int32_t RTP_MEMBER_EXPIRED_CONTRIBUTOR = 5;
// Sender states.
inline constexpr int32_t RTP_SENDER_NONE = 0;
inline constexpr int32_t RTP_SENDER_ACTIVE = 1;
inline constexpr int32_t RTP_SENDER_SENDING = 2;

// Walks the member list from its least recently heard end. member is the unique id of the
// current member (-1 before the first); a deleted member ends the walk.
struct rtp_member_iterator_t {
    int32_t member;
    int32_t direction;  // 0: towards the most recently heard
};

// Walks one member's report table in order of reporter id.
struct rtp_report_iterator_t {
    int32_t member;
    int32_t reporter;  // the last reporter returned
};

// *text points into the member record (empty text when the item is not set).
rtperror RTPMemberInfoSetSDES(int32_t context, int32_t member, int32_t item, const char *text);
rtperror RTPMemberInfoGetSDES(int32_t context, int32_t member, int32_t item, const char **text);
rtperror RTPFindMember(int32_t context, int32_t item, const char *text, int32_t *member);

rtperror RTPMemberInfoSetNTP(int32_t context, int32_t member, uint32_t seconds, uint32_t fraction);
rtperror RTPMemberInfoGetNTP(int32_t context, int32_t member, uint32_t *seconds,
                             uint32_t *fraction);
rtperror RTPMemberInfoSetRTP(int32_t context, int32_t member, uint32_t timestamp);
rtperror RTPMemberInfoGetRTP(int32_t context, int32_t member, uint32_t *timestamp);
rtperror RTPMemberInfoSetPktCount(int32_t context, int32_t member, uint32_t count);
rtperror RTPMemberInfoGetPktCount(int32_t context, int32_t member, uint32_t *count);
rtperror RTPMemberInfoSetOctCount(int32_t context, int32_t member, uint32_t count);
rtperror RTPMemberInfoGetOctCount(int32_t context, int32_t member, uint32_t *count);
rtperror RTPMemberInfoSetRTCPPktCount(int32_t context, int32_t member, uint32_t count);
rtperror RTPMemberInfoGetRTCPPktCount(int32_t context, int32_t member, uint32_t *count);
rtperror RTPMemberInfoSetUserData(int32_t context, int32_t member, int32_t value);
rtperror RTPMemberInfoGetUserData(int32_t context, int32_t member, int32_t *value);
rtperror RTPMemberInfoGetSSRC(int32_t context, int32_t member, uint32_t *ssrc);
rtperror RTPMemberInfoGetStatus(int32_t context, int32_t member, int32_t *state, int32_t *sender);
rtperror RTPMemberInfoGetLastRTPTime(int32_t context, int32_t member, timeval *time);
rtperror RTPMemberInfoGetLastRTCPTime(int32_t context, int32_t member, timeval *time);
// Family 25 when the address is not known yet.
rtperror RTPMemberInfoGetRTPAddr(int32_t context, int32_t member, sockaddr_in *address);
rtperror RTPMemberInfoGetRTCPAddr(int32_t context, int32_t member, sockaddr_in *address);
// Per-thread buffers with the dotted address and the "%hu" port.
rtperror RTPMemberInfoGetRTPAddrText(int32_t context, int32_t member, const char **address,
                                     const char **port);
rtperror RTPMemberInfoGetRTCPAddrText(int32_t context, int32_t member, const char **address,
                                      const char **port);

rtperror RTPFirstMember(int32_t context, rtp_member_iterator_t *iterator, int32_t *member);
rtperror RTPCurrentMember(int32_t context, rtp_member_iterator_t *iterator, int32_t *member);
rtperror RTPNextMember(int32_t context, rtp_member_iterator_t *iterator, int32_t *member);

rtperror RTPSenderInfoGetFirstReceiverReport(int32_t context, int32_t member,
                                             rtp_report_iterator_t *iterator, rtp_report_t *report);
rtperror RTPSenderInfoGetNextReceiverReport(int32_t context, int32_t member,
                                            rtp_report_iterator_t *iterator, rtp_report_t *report);

}  // namespace sipline
