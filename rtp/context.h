// RTP contexts: numbered handles to one RTP session each, with its session-wide settings and
// the callbacks through which the engine tells the application about members.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "rtp/errors.h"

namespace sipline {

// Member events (the event code of rtp_member_event_callback_t).
inline constexpr int32_t RTP_EVENT_NEW_MEMBER = 0;
inline constexpr int32_t RTP_EVENT_NEW_SENDER = 1;
inline constexpr int32_t RTP_EVENT_EXPIRED = 2;
inline constexpr int32_t RTP_EVENT_SENDER_TO_ACTIVE = 3;
inline constexpr int32_t RTP_EVENT_BYE = 4;
inline constexpr int32_t RTP_EVENT_RECONFIRMED = 9;
inline constexpr int32_t RTP_EVENT_CONFIRMED = 10;
inline constexpr int32_t RTP_EVENT_NEVER_CONFIRMED = 11;
inline constexpr int32_t RTP_EVENT_DELETED = 12;
inline constexpr int32_t RTP_EVENT_ACTIVE = 15;
inline constexpr int32_t RTP_EVENT_INACTIVE = 16;

// Codes passed to the collision callback.
inline constexpr int32_t RTP_COLLISION_CONTRIBUTOR = 6;
inline constexpr int32_t RTP_COLLISION_OWN = 14;
// The last argument of the SDES change callback.
inline constexpr int32_t RTP_SDES_CHANGED = 8;

// extra: the BYE reason for RTP_EVENT_BYE, else null.
using rtp_member_event_callback_t = void (*)(int32_t context, int32_t member, int32_t event,
                                             const char *extra);
using rtp_sdes_change_callback_t = void (*)(int32_t context, int32_t member, int32_t item,
                                            const char *text, int32_t code);
// rtcp: 1 when the address is the member's RTCP source, 0 for its RTP source.
using rtp_new_address_callback_t = void (*)(int32_t context, int32_t member,
                                            const sockaddr_in *address, int32_t rtcp);
using rtp_collision_callback_t = void (*)(int32_t context, int32_t holder, int32_t newcomer,
                                          int32_t code);
using rtp_merge_callback_t = void (*)(int32_t context, int32_t kept, int32_t merged,
                                      int32_t user_data, int32_t zero);
// The session's view of a new member address: dotted address and "%hu" port text.
using rtp_member_address_callback_t = void (*)(int32_t context, int32_t member, const char *address,
                                               const char *port, int32_t rtcp);
// A write to a send address failed: its dotted address, port (host order) and TTL.
using rtp_send_error_callback_t = void (*)(int32_t context, const char *address, int32_t port,
                                           int32_t ttl);
using rtp_key_callback_t = void (*)(int32_t context, int32_t key);
// Stored only: packets travel unencrypted.
using rtp_crypt_callback_t = int32_t (*)(int32_t context, char *buffer, int32_t *length);

rtperror RTPCreate(int32_t *context);
rtperror RTPDestroy(int32_t context);
// A context without its transport (no session record).
rtperror RTPLowLevelCreate(int32_t *context);
rtperror RTPLowLevelDestroy(int32_t context);

// Microseconds per RTP timestamp unit for a payload type (0 to 127); 0 = unknown.
rtperror RTPSessionSetRTPStampRate(int32_t context, int32_t payload_type, int32_t rate);
rtperror RTPSessionGetRTPStampRate(int32_t context, int32_t payload_type, int32_t *rate);
// bandwidth in kbit/s and the fraction of it for RTCP, both above 0.
rtperror RTPSessionSetBandwidth(int32_t context, float bandwidth, float rtcp_fraction);
rtperror RTPSessionGetBandwidth(int32_t context, float *bandwidth, float *rtcp_fraction);
// The bits of mask are taken from fixed whenever the engine chooses an SSRC.
rtperror RTPSessionSetSSRCBits(int32_t context, uint32_t fixed, uint32_t mask);
rtperror RTPSessionSetSendErrorCallback(int32_t context, rtp_send_error_callback_t callback);
rtperror RTPSessionGetSendErrorCallback(int32_t context, rtp_send_error_callback_t *callback);
rtperror RTPSessionSetMemberAddressCallback(int32_t context,
                                            rtp_member_address_callback_t callback);

rtperror RTPSessionSetReconsideration(int32_t context, int32_t mode);
rtperror RTPSessionGetReconsideration(int32_t context, int32_t *mode);
rtperror RTPSessionSetUserData(int32_t context, int32_t value);
rtperror RTPSessionGetUserData(int32_t context, int32_t *value);
rtperror RTPSessionSetMode(int32_t context, int32_t mode);
rtperror RTPSessionGetMode(int32_t context, int32_t *mode);
rtperror RTPSessionSetEncryptionKey(int32_t context, int32_t key);
rtperror RTPSessionGetEncryptionKey(int32_t context, int32_t *key);
rtperror RTPSessionSetEncryptionFuncs(int32_t context, rtp_key_callback_t key_setup,
                                      rtp_crypt_callback_t encrypt, rtp_crypt_callback_t decrypt);

rtperror RTPSetMemberEventCallback(int32_t context, rtp_member_event_callback_t callback);
rtperror RTPGetMemberEventCallback(int32_t context, rtp_member_event_callback_t *callback);
rtperror RTPSetSDESChangeCallback(int32_t context, rtp_sdes_change_callback_t callback);
rtperror RTPGetSDESChangeCallback(int32_t context, rtp_sdes_change_callback_t *callback);
rtperror RTPSetNewAddressCallback(int32_t context, rtp_new_address_callback_t callback);
rtperror RTPGetNewAddressCallback(int32_t context, rtp_new_address_callback_t *callback);
rtperror RTPSetCollisionCallback(int32_t context, rtp_collision_callback_t callback);
rtperror RTPGetCollisionCallback(int32_t context, rtp_collision_callback_t *callback);
rtperror RTPSetMergeCallback(int32_t context, rtp_merge_callback_t callback);
rtperror RTPGetMergeCallback(int32_t context, rtp_merge_callback_t *callback);

}  // namespace sipline
