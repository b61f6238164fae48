// A session description (RFC 4566) read whole: the session's connection and direction, and each
// media line with its formats, their rtpmap and fmtp attributes, its connection and direction.
// Offers and answers of the gateway's calls are read with it (sip/sdp/offer_answer.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sipline {

// More media lines than this make the whole description unusable; more formats than this on
// one line are not read (RTP/AVP has 128 payload types, and no sane offer lists half of them).
inline constexpr int32_t SDP_MEDIA_MAX = 16;
inline constexpr int32_t SDP_FORMATS_MAX = 64;

// RFC 3264 section 5.1: a stream's direction, as seen by the side that wrote the description.
enum sdp_direction_t : uint8_t { SDP_SENDRECV, SDP_SENDONLY, SDP_RECVONLY, SDP_INACTIVE };

struct sdp_format_t {
    int32_t payload_type = -1;  // 0-127
    std::string encoding;       // from a=rtpmap, empty without one
    int32_t clock_rate = 0;     // from a=rtpmap, 0 without one
    int32_t channels = 1;
    std::string parameters;  // from a=fmtp
};

struct sdp_media_t {
    std::string media;  // "audio", "video", ...
    uint32_t port = 0;
    std::string proto;        // "RTP/AVP", ...
    std::string format_text;  // the formats as the line gives them, for a rejected stream's echo
    std::vector<sdp_format_t> formats;
    std::string address;  // its own c= line, else the session's; empty when neither has one
    uint8_t ttl = 0;
    sdp_direction_t direction = SDP_SENDRECV;
    // The line's port, transport or a format number could not be read: the stream is not used.
    bool malformed = false;
};

struct sdp_description_t {
    std::string address;  // the session-level c= address (IPv4 only), empty without one
    uint8_t ttl = 0;
    sdp_direction_t direction = SDP_SENDRECV;
    std::vector<sdp_media_t> media;
};

// 0 when the body is a description with at most SDP_MEDIA_MAX media lines; -1 when it is none
// (no "v=0" first line) or has more. Lines the gateway has no use for are skipped.
int SdpRead(const char *body, sdp_description_t *description);

// The rtpmap encoding of a format, or the static one of RFC 3551 for payload types 0, 3 and 8.
std::string SdpFormatEncoding(const sdp_format_t &format);

}  // namespace sipline
