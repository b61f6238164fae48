#include <cstdlib>
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
        // The display name without its quotes and escapes is never longer than the text.
        auto *display = static_cast<char *>(std::malloc(input.size()));
        size_t length = 0;
        size_t pos = 1;
        while (pos < input.size() && input[pos] != '"') {
            if (input[pos] == '\\' && pos + 1 < input.size()) {
                ++pos;
            }
            display[length++] = input[pos];
            ++pos;
        }
        display[length] = '\0';
        if (pos < input.size()) {
            ++pos;
        }
        address.display = display;
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

char *SIP_AddressTag(const char *text) {
    if (text == nullptr) {
        return nullptr;
    }
    std::string_view input(text);
    // The address's own parameters follow its closing angle bracket; without brackets every
    // parameter after the URI is the address's (RFC 3261 section 20.10). A quoted display name
    // may hold any character.
    size_t pos = 0;
    if (!input.empty() && input.front() == '"') {
        for (pos = 1; pos < input.size() && input[pos] != '"'; ++pos) {
            if (input[pos] == '\\') {
                ++pos;
            }
        }
    }
    size_t angle = input.find('<', pos);
    if (angle != std::string_view::npos) {
        pos = input.find('>', angle);
        if (pos == std::string_view::npos) {
            return nullptr;
        }
    }
    while ((pos = input.find(';', pos)) != std::string_view::npos) {
        ++pos;
        while (pos < input.size() && is_space(input[pos])) {
            ++pos;
        }
        size_t end = pos;
        while (end < input.size() && input[end] != ';' && input[end] != '=' &&
               !is_space(input[end])) {
            ++end;
        }
        if (!text_equal_nocase(input.substr(pos, end - pos), "tag")) {
            continue;
        }
        while (end < input.size() && is_space(input[end])) {
            ++end;
        }
        if (end >= input.size() || input[end] != '=') {
            return nullptr;
        }
        ++end;
        while (end < input.size() && is_space(input[end])) {
            ++end;
        }
        size_t stop = end;
        while (stop < input.size() && input[stop] != ';' && !is_space(input[stop])) {
            ++stop;
        }
        return stop > end ? text_copy(input.substr(end, stop - end)) : nullptr;
    }
    return nullptr;
}

char *SIP_ToTag(const parser_t *message) {
    if (message == nullptr) {
        return nullptr;
    }
    parser_header_t *header = RFC822_FindEither(message->headers, "To", "T");
    return header != nullptr && header->elements != nullptr
               ? SIP_AddressTag(header->elements->element)
               : nullptr;
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
