// The answer to a digest challenge that a request of the gateway met (RFC 3261 section 22.2),
// shared by every client transaction: the INVITE of a call from the line, the REGISTER.
#pragma once

#include "sip/message/parser.h"

namespace sipline {

// For a 401 (WWW-Authenticate) or 407 (Proxy-Authenticate) response: the header to add,
// "Authorization" or "Proxy-Authorization", and its value (release with free()) answering the
// first challenge the gateway can answer, for `method` and `uri`. 0, or -1 (nothing returned)
// without credentials or without a challenge it can answer.
int RequestCredentials(const parser_t *response, const char *user, const char *password,
                       const char *method, const char *uri, const char **header,
                       char **credentials);

}  // namespace sipline
