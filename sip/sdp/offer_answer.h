// Offer and answer (RFC 3264) for the gateway's one audio stream: the answer to a caller's offer,
// the gateway's own offer (an INVITE without one, a call from the line), and the reading of the
// answer to that offer.
#pragma once

#include <cstdint>

#include "sip/sdp/media_description.h"

namespace sipline {

// The gateway's side of the exchange.
struct sdp_local_t {
    const char *address;  // in its o= and c= lines
    uint16_t port;        // where it receives RTP
    // The codecs it takes, in the order it prefers to send them and offers them. None given: all
    // of them, offered as PCMU, GSM, PCMA, and GSM sent whenever the other side has it, else the
    // other side's first.
    const int8_t *codecs;
    int32_t codec_count;
    // The session version of its o= line (RFC 4566 section 5.2); 0: the first one.
    uint32_t version = 0;
};

// The status of the answer: 200 with *answer (a heap text, free() it) and *media; 488 when no
// audio stream of the offer has a codec in common with the gateway; 400 when the body is no
// session description. Outputs are written only on 200.
int SdpAnswerOffer(const char *offer, const sdp_local_t *local, media_description_t *media,
                   char **answer);

// The gateway's own offer, a heap text (free() it): one audio stream with its codecs and
// telephone-event 101 for the sixteen DTMF keys.
char *SdpBuildOffer(const sdp_local_t *local);
inline constexpr int32_t SDP_OFFER_EVENT_PAYLOAD_TYPE = 101;

// Reads the answer to the gateway's own offer into *media: 0, or -1 when it is no description or
// agrees no audio codec (the call cannot carry audio and is ended).
int SdpReadAnswer(const char *answer, const sdp_local_t *local, media_description_t *media);

}  // namespace sipline
