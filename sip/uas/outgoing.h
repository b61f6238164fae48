// Requests the gateway sends itself (the BYE that ends a call) and the responses it receives.
#pragma once

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

// Refills the headers of a record holding a received INVITE for a request in the opposite
// direction of its dialog.
void RequestDialogHeaders(request_t *r);
// The result of the last send (0 or -1).
int RequestSend(request_t *r, int wait, int release);
// 1 when the record was put at the head of the open-request list, 0 without a Call-ID.
int RequestRegister(request_t *r);
// The registered record with the response's Call-ID and CSeq number, its mutex taken; or null.
request_t *RequestFindMatch(request_t *response);
// Unlinks the record from the open-request list if it is there.
void RequestUnregister(request_t *r);
void MessageEnqueue(sip_response_t **queue, const parser_t *message, const char *content_type,
                    int32_t body_length, const char *body, sip_branch_t *branch);
void *ResponseProcessThread(void *argument);

}  // namespace sipline
