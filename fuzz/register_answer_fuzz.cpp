// A registrar's answer to the gateway's REGISTER, whatever it holds: the grant read for the
// gateway's Contact, the Min-Expires of a 423, and the credentials for its challenge.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/parsed_message.h"
#include "sip/uas/credentials.h"
#include "sip/uas/register_answer.h"
#include "support/error.h"

using namespace sipline;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    ErrorInit(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    parsed_message parsed(text);
    char how = 0;
    const int32_t granted = RegisterGranted(&parsed.message, "sip:gw@192.0.2.7:5060", 3600, &how);
    if (granted > 3600) {
        std::abort();
    }
    const int32_t least = RegisterMinExpires(&parsed.message, 60);
    if (least != -1 && (least <= 60 || least > REGISTER_EXPIRES_MAX)) {
        std::abort();
    }
    const char *header = nullptr;
    char *credentials = nullptr;
    if (RequestCredentials(&parsed.message, "gw", "secret", "REGISTER", "sip:pbx", &header,
                           &credentials) == 0) {
        std::free(credentials);
    }
    return 0;
}
