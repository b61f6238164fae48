// HTTP_Authorization over any Authorization value, with a From header for the pgp scheme, and
// the digest verifier over the record it reads; the same text as a proxy's challenge to the
// gateway's INVITE, and the credentials that answer it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/parsed_message.h"
#include "sip/message/digest.h"
#include "sip/message/http.h"
#include "support/error.h"

using namespace sipline;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    ErrorInit(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string value(reinterpret_cast<const char *>(data), size);
    std::string text = "REGISTER sip:h SIP/2.0\r\nFrom: <sip:u@h>\r\nAuthorization: " +
                       std::string(value.c_str()) + "\r\n\r\n";
    parsed_message parsed(text);
    http_authorization_t authorization = HTTP_Authorization(&parsed.message);
    int32_t algorithm = -1;
    uint32_t nc = 0;
    if (DigestCheckForm(&authorization, &algorithm, &nc) == DIGEST_OK) {
        char ha1[DIGEST_HEX_SIZE];
        DigestHa1(algorithm, "alice", "sipline", "secret", ha1);
        DigestVerify(&authorization, "INVITE", ha1);
    }
    HTTP_AuthorizationFree(&authorization);

    std::string response = "SIP/2.0 407 Proxy Authentication Required\r\nProxy-Authenticate: " +
                           std::string(value.c_str()) + "\r\n\r\n";
    parsed_message challenged(response);
    digest_challenge_t challenge{};
    if (DigestChallengeRead(RFC822_Find(challenged.message.headers, "Proxy-Authenticate"),
                            &challenge) == 0) {
        std::free(DigestCredentials(&challenge, "gw", "secret", "INVITE", "sip:100@h", "c"));
    }
    return 0;
}
