// Digest access authentication of SIP requests (RFC 3261 section 22.4, RFC 2617 section 3.2.2)
// with the algorithms of RFC 8760: the hashes, H(A1), the expected response, and the check of an
// Authorization record against a user's H(A1). Nonces and users belong to the caller.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sip/message/http.h"
#include "sip/message/parser.h"

namespace sipline {

inline constexpr int32_t DIGEST_MD5 = 0;
inline constexpr int32_t DIGEST_SHA256 = 1;
// Room for the lower-case hex of the longest hash and its NUL.
inline constexpr size_t DIGEST_HEX_SIZE = 65;

// DIGEST_MD5 for "MD5", DIGEST_SHA256 for "SHA-256" (any case, quoted or not; an empty name
// means MD5, RFC 2617 section 3.2.1); -1 for anything else, "-sess" variants included.
int32_t DigestAlgorithm(const char *name);
// The name the algorithm is announced with.
const char *DigestAlgorithmName(int32_t algorithm);
// Hex digits of the algorithm's hash, 32 for MD5 and 64 for SHA-256.
size_t DigestHexLength(int32_t algorithm);
// Lower-case hex of H(data) into out (DIGEST_HEX_SIZE bytes).
void DigestHash(int32_t algorithm, const char *data, size_t length, char *out);
// H(user ":" realm ":" password).
void DigestHa1(int32_t algorithm, const char *user, const char *realm, const char *password,
               char *out);
// KD(H(A1), nonce ":" nc ":" cnonce ":" qop ":" H(A2)) with A2 = method ":" uri; without qop
// (null or empty) the RFC 2069 form KD(H(A1), nonce ":" H(A2)).
void DigestResponse(int32_t algorithm, const char *ha1, const char *nonce, const char *nc,
                    const char *cnonce, const char *qop, const char *method, const char *uri,
                    char *out);
// Compares two texts in a time that depends on their lengths only.
bool DigestEqual(const char *a, const char *b);

// Why an answer to a challenge is refused; 0 when it proves knowledge of the password.
inline constexpr int32_t DIGEST_OK = 0;
inline constexpr int32_t DIGEST_NOT_DIGEST = -1;     // no Authorization, or another scheme
inline constexpr int32_t DIGEST_MALFORMED = -2;      // a field missing, unquoted or out of form
inline constexpr int32_t DIGEST_BAD_ALGORITHM = -3;  // an algorithm that was not offered
inline constexpr int32_t DIGEST_WRONG = -4;          // the response does not match

// The form of the answer: Digest scheme, a valid record, username, realm, nonce, uri and
// response present, an algorithm of ours, qop "auth" with an 8-hex-digit nc and a cnonce.
// Returns DIGEST_OK, DIGEST_NOT_DIGEST, DIGEST_MALFORMED or DIGEST_BAD_ALGORITHM; the algorithm
// in *algorithm and the nonce count in *nc when it is DIGEST_OK.
int32_t DigestCheckForm(const http_authorization_t *authorization, int32_t *algorithm,
                        uint32_t *nc);
// The response against the user's H(A1) (hex of the record's algorithm) for the method: DIGEST_OK
// or DIGEST_WRONG. Call DigestCheckForm first.
int32_t DigestVerify(const http_authorization_t *authorization, const char *method,
                     const char *ha1);

// A challenge of a WWW-Authenticate or Proxy-Authenticate header (RFC 2617 section 3.2.1) that
// the gateway can answer: Digest, MD5 or SHA-256, with qop "auth" offered or no qop at all.
inline constexpr size_t DIGEST_TEXT_SIZE = 256;
struct digest_challenge_t {
    char realm[DIGEST_TEXT_SIZE];
    char nonce[DIGEST_TEXT_SIZE];
    char opaque[DIGEST_TEXT_SIZE];  // "" when none was given
    int32_t algorithm;
    int32_t qop_auth;  // 1 when qop offers "auth"
};

// The first challenge in the header's elements (one header may carry several, each beginning
// with its scheme) that the gateway can answer: 0 and *challenge filled, or -1.
int32_t DigestChallengeRead(const parser_header_t *header, digest_challenge_t *challenge);
// The credentials answering it for the request (RFC 3261 section 22.2): the value of an
// Authorization or Proxy-Authorization header, with nc 00000001 and the cnonce given. Release
// with free().
char *DigestCredentials(const digest_challenge_t *challenge, const char *user, const char *password,
                        const char *method, const char *uri, const char *cnonce);

}  // namespace sipline
