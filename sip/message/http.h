// Readers of HTTP-style headers in a parsed message: Content-Length, Content-Type, Date, Server,
// User-Agent and the authorization records (RFC 2617).
#pragma once

#include <cstdint>
#include <ctime>

#include "sip/message/parser.h"

namespace sipline {

// Every text is owned by the record, an empty text when not given.
struct http_authorization_t {
    char *method;       // the message's request method
    char *http_method;  // the scheme as written; "basic" without an Authorization header
    char *userid;
    char *password;  // Basic only
    char *realm;
    char *nonce;
    char *digest_uri;
    char *response_digest;
    char *entity_digest;
    char *opaque;
    char *algorithm;    // taken without quote removal
    char *qop;          // likewise
    char *nonce_count;  // "nc", likewise
    char *cnonce;
    char valid;  // 1 unless a parameter that must be quoted was not
    char *version;
    char *signed_by;
    char *signature;
};

struct http_authenticate_t {
    char *method;
    char *http_method;
    char *realm;
    char *domain;
    char *nonce;
    char *opaque;
    char *stale;
    char *algorithm;
};

struct http_content_type_t {
    char type[32];
    char subtype[32];
};

// 100000000 when the message has no Content-Length (or "l") header.
int32_t HTTP_ContentLength(const parser_t *message);
http_content_type_t HTTP_ContentType(const parser_t *message);
// All fields 0 without a Date header.
struct tm HTTP_Date(const parser_t *message);
// The message's own text, or an empty text.
const char *HTTP_Server(const parser_t *message);
const char *HTTP_UserAgent(const parser_t *message);
// Every field null: no challenge parameter is read.
http_authenticate_t HTTP_Authenticate(const parser_t *message);
http_authorization_t HTTP_Authorization(const parser_t *message);
void HTTP_AuthorizationFree(http_authorization_t *authorization);

}  // namespace sipline
