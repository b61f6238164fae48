// SIP_Via, SIP_Address, SIP_AddressTag and SIP_Contact over any header value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/parsed_message.h"
#include "sip/message/fields.h"
#include "support/error.h"

using namespace sipline;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    ErrorInit(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string value(reinterpret_cast<const char *>(data), size);
    value = value.c_str();

    sip_address_t address = SIP_Address(value.c_str());
    SIP_AddressFree(&address);
    free(SIP_AddressTag(value.c_str()));

    std::string text = "INVITE sip:a@b SIP/2.0\r\nVia: " + value + "\r\nContact: " + value +
                       "\r\nm: " + value + "\r\n\r\n";
    parsed_message parsed(text);
    sip_via_t via = SIP_Via(&parsed.message, 1, 0, "gw");
    SIP_ViaFree(&via);
    SIP_ContactFree(SIP_Contact(&parsed.message));
    return 0;
}
