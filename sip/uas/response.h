// Answers built in the record of the request they answer, and sent with retransmission of the
// final answer to an INVITE until its ACK arrives (RFC 3261 section 17.2.1).
#pragma once

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

// A negative length means the length of the text (0 without text).
void ResponseSetBody(request_t *r, const char *body, const char *type, int32_t length);
void ResponseCopyHeaders(request_t *r);
// wait: retransmit a final answer to an INVITE until it is acknowledged. release: free the
// record at the end (the caller holds its mutex). The result of the last send (0 or -1).
int ResponseSend(request_t *r, int wait, int release);
// The whole answer to the record's request: the status with its own reason text, the headers
// copied from the request, the body (none when null; length as for ResponseSetBody), then
// ResponseSend, which with release takes the record's mutex first. The result of the send.
int ResponseAnswer(request_t *r, int32_t status, const char *body, const char *type, int32_t length,
                   int wait, int release);

// Hands an ACK to the answer it acknowledges, if that answer is still being retransmitted by a
// waiting ResponseSend (same Call-ID and CSeq number). 1 when one was found.
int ResponseAcknowledge(const request_t *ack);

}  // namespace sipline
