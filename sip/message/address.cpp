#include <string>
#include <string_view>

#include "sip/message/fields.h"
#include "sip/message/text.h"

namespace sipline {

namespace {

sip_address_t address_of(const parser_t *message, const char *name, const char *compact) {
    if (message == nullptr) {
        return sip_address_t{};
    }
    parser_header_t *header = RFC822_FindEither(message->headers, name, compact);
    if (header == nullptr || header->elements == nullptr) {
        return sip_address_t{};
    }
    return SIP_Address(header->elements->element);
}

}  // namespace

sip_address_t SIP_Address(const char *text) {
    sip_address_t address{};
    if (text == nullptr) {
        return address;
    }
    std::string_view input(text);
    if (!input.empty() && input.front() == '"') {
        std::string display;
        size_t pos = 1;
        while (pos < input.size() && input[pos] != '"') {
            if (input[pos] == '\\' && pos + 1 < input.size()) {
                ++pos;
            }
            display.push_back(input[pos]);
            ++pos;
        }
        if (pos < input.size()) {
            ++pos;
        }
        address.display = text_copy(display.c_str());
        address.uri = URI_Parse(text + pos);
        return address;
    }
    size_t angle = input.find('<');
    if (angle == std::string_view::npos) {
        address.display = text_copy("");
        address.uri = URI_Parse(text);
        return address;
    }
    std::string_view display = input.substr(0, angle);
    while (!display.empty() && is_space(display.back())) {
        display.remove_suffix(1);
    }
    address.display = text_copy(display);
    address.uri = URI_Parse(text + angle);
    return address;
}

sip_address_t SIP_From(const parser_t *message) {
    return address_of(message, "From", "F");
}

sip_address_t SIP_To(const parser_t *message) {
    return address_of(message, "To", "T");
}

void SIP_AddressFree(sip_address_t *address) {
    if (address == nullptr) {
        return;
    }
    std::free(address->display);
    address->display = nullptr;
    URI_Free(&address->uri);
}

}  // namespace sipline
