// Sending RTP: the header builder, the gathered send to every destination, and the
// contributor and CSRC lists that a mixer's headers carry.
#pragma once

#include <cstdint>

#include "rtp/errors.h"

namespace sipline {

// One piece of payload for RTPSendVector.
struct rtp_piece_t {
    const void *data;
    int32_t length;
};

// The first word of an RTP header extension, in host order; ext_len 32-bit words of the
// application's own follow it and are copied as they are.
struct rtp_hdr_ext_t {
    uint16_t ext_type;
    uint16_t ext_len;
};

// Writes the header for the next packet (wire order) and sets *length to its size; *length
// gives the room in buffer. The timestamp advances by timestamp_increment before it is written.
rtperror RTPBuildRTPHeader(int32_t context, int32_t timestamp_increment, char marker,
                           int16_t payload_type, char padding, int32_t payload_length, char *buffer,
                           int32_t *length);
// One datagram of header and pieces to every send address. As many pieces as one sendmsg
// takes are allowed; more fail with RTP_BAD_VALUE.
rtperror RTPSendVector(int32_t context, int32_t timestamp_increment, char marker,
                       int16_t payload_type, const rtp_piece_t *pieces, int32_t count);
rtperror RTPSend(int32_t context, int32_t timestamp_increment, char marker, int16_t payload_type,
                 const void *payload, int32_t length);
rtperror RTPSessionGetRTPHeaderLength(int32_t context, int32_t *length);
// The extension is the caller's and must outlive its use; null removes it.
rtperror RTPSessionSetExtension(int32_t context, const rtp_hdr_ext_t *extension);
rtperror RTPSessionGetExtension(int32_t context, const rtp_hdr_ext_t **extension);

rtperror RTPSessionAddToContributorList(int32_t context, uint32_t ssrc);
rtperror RTPSessionRemoveFromContributorList(int32_t context, uint32_t ssrc, const char *reason);
rtperror RTPSessionAddToCSRCList(int32_t context, uint32_t ssrc);
rtperror RTPSessionRemoveFromCSRCList(int32_t context, uint32_t ssrc);
// *count gives the room in list and receives the list's length.
rtperror RTPSessionGetCSRCList(int32_t context, uint32_t *list, int32_t *count);
rtperror RTPSessionGetUniqueIDForCSRC(int32_t context, uint32_t ssrc, int32_t *member);

}  // namespace sipline
