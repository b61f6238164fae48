// HTTP_Authorization over any Authorization value, with a From header for the pgp scheme.
#include <cstdint>
#include <string>

#include "fuzz/parsed_message.h"
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
    HTTP_AuthorizationFree(&authorization);
    return 0;
}
