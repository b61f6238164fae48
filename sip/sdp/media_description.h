// What offer and answer agreed for a call's audio: where it goes, which codecs with which payload
// type numbers, the telephone-event type (RFC 4733) and the direction. The media bridge is set up
// from it; the SIP side makes it.
#pragma once

#include <cstdint>

#include "sip/sdp/sdp_reader.h"

namespace sipline {

// The codecs of the line's audio, in the order of the gateway's codec table.
enum sdp_codec_t : int8_t { SDP_CODEC_NONE = -1, SDP_CODEC_PCMU = 0, SDP_CODEC_PCMA, SDP_CODEC_GSM };
inline constexpr int32_t SDP_CODEC_COUNT = 3;
inline constexpr int32_t MEDIA_ADDRESS_SIZE = 256;
// RFC 4733 section 3.2: the events of the sixteen DTMF keys, 0-9 * # A-D.
inline constexpr uint16_t SDP_DTMF_EVENTS = 0xFFFF;

struct media_description_t {
    char address[MEDIA_ADDRESS_SIZE];  // where the gateway sends RTP; RTCP goes to port + 1
    uint8_t ttl;
    uint16_t port;
    // Each codec's payload type number in this call, -1 for a codec not agreed. Any agreed one is
    // received; the gateway sends send_codec.
    int8_t payload_type[SDP_CODEC_COUNT];
    int8_t send_codec;
    int8_t event_payload_type;  // telephone-event, -1 when not agreed
    uint16_t events;            // bit n: event n of 0-15 agreed
    // The gateway's own direction: SDP_SENDONLY sends and does not play what it receives,
    // SDP_RECVONLY plays and does not send, SDP_INACTIVE neither.
    sdp_direction_t direction;
};

// A description with nothing agreed: no address, port 0, every payload type -1.
media_description_t MediaDescriptionEmpty();

// "PCMU", "PCMA", "GSM"; null for another value.
const char *SdpCodecName(int32_t codec);
// The static payload type of RFC 3551 (0, 8, 3).
int32_t SdpCodecStaticPayloadType(int32_t codec);
// The codec of a name (case does not count), SDP_CODEC_NONE for an unknown one.
int32_t SdpCodecByName(const char *name);

}  // namespace sipline
