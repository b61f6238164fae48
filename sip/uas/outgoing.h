// Requests the gateway sends itself (the BYE that ends a call; the INVITE of a call from the
// line is in invite_client.h) and the responses it receives.
#pragma once

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

// Refills the headers of a record holding a received INVITE for a request in the opposite
// direction of its dialog.
void RequestDialogHeaders(request_t *r);
// The request as RequestSend sends it: request line, header lines, body. Release with free().
char *RequestText(request_t *r);
// The result of the last send (0 or -1).
int RequestSend(request_t *r, int wait, int release);
void MessageEnqueue(sip_response_t **queue, const parser_t *message, const char *content_type,
                    int32_t body_length, const char *body, sip_branch_t *branch);
void *ResponseProcessThread(void *argument);

}  // namespace sipline
