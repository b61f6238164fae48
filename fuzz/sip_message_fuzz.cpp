// MessageParse over any bytes, then every reader of the parsed message.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/parsed_message.h"
#include "sip/message/fields.h"
#include "sip/message/headers.h"
#include "sip/message/http.h"
#include "support/error.h"

using namespace sipline;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    ErrorInit(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    parsed_message parsed(std::string_view(reinterpret_cast<const char *>(data), size));

    parser_t copy{};
    MessageDuplicate(&copy, &parsed.message);
    header_list_t list{};
    headers_add_message(&list, copy.headers);
    headers_free(&list);

    sip_via_t via = SIP_Via(&copy, 1, 0, "gw");
    SIP_ViaFree(&via);
    sip_address_t from = SIP_From(&copy);
    SIP_AddressFree(&from);
    sip_address_t to = SIP_To(&copy);
    SIP_AddressFree(&to);
    SIP_ContactFree(SIP_Contact(&copy));
    SIP_CSeq(&copy);
    SIP_CallID(&copy);
    SIP_Expires(&copy);
    HTTP_ContentLength(&copy);
    HTTP_ContentType(&copy);
    HTTP_Date(&copy);
    http_authorization_t authorization = HTTP_Authorization(&copy);
    HTTP_AuthorizationFree(&authorization);

    MessageFree(&copy);
    return 0;
}
