#include <cstdlib>
#include <string_view>

#include "sip/message/fields.h"
#include "sip/message/text.h"

namespace sipline {

namespace {

// The URI of a Contact value (RFC 3261 section 20.10): between "<" and ">" after an optional
// quoted display name, or the whole rest without angle brackets.
std::string_view contact_address(std::string_view value) {
    size_t pos = 0;
    while (pos < value.size() && is_space(value[pos])) {
        ++pos;
    }
    if (pos < value.size() && value[pos] == '"') {
        for (++pos; pos < value.size() && value[pos] != '"'; ++pos) {
            if (value[pos] == '\\') {
                ++pos;
            }
        }
        pos = std::min(pos + 1, value.size());
    }
    std::string_view rest = value.substr(pos);
    size_t open = rest.find('<');
    if (open == std::string_view::npos) {
        return rest;
    }
    size_t close = rest.find('>', open + 1);
    if (close == std::string_view::npos) {
        return {};
    }
    return rest.substr(open + 1, close - open - 1);
}

}  // namespace

sip_contact_t *SIP_Contact(const parser_t *message) {
    if (message == nullptr) {
        return nullptr;
    }
    parser_header_t *header = RFC822_FindEither(message->headers, "Contact", "m");
    if (header == nullptr) {
        return nullptr;
    }
    size_t count = 0;
    for (parser_element_t *e = header->elements; e != nullptr && e->value != nullptr; e = e->next) {
        ++count;
    }
    auto *contacts = static_cast<sip_contact_t *>(std::calloc(count + 1, sizeof(sip_contact_t)));
    size_t i = 0;
    for (parser_element_t *e = header->elements; i < count; e = e->next, ++i) {
        sip_contact_t &contact = contacts[i];
        contact.address = text_copy(contact_address(e->value));
        const char *q = RFC822_ParameterValue(e->parameters, "q");
        contact.q = q == nullptr ? 0.0F : std::strtof(q, nullptr);
        const char *action = RFC822_ParameterValue(e->parameters, "action");
        if (text_equal_nocase(action, "proxy")) {
            contact.action = CONTACT_PROXY;
        } else if (text_equal_nocase(action, "redirect")) {
            contact.action = CONTACT_REDIRECT;
        } else {
            contact.action = CONTACT_NONE;
        }
        contact.expires = SIP_Time(RFC822_ParameterValue(e->parameters, "expires"));
    }
    return contacts;
}

void SIP_ContactFree(sip_contact_t *contacts) {
    if (contacts == nullptr) {
        return;
    }
    for (sip_contact_t *contact = contacts; contact->address != nullptr; ++contact) {
        std::free(contact->address);
    }
    std::free(contacts);
}

}  // namespace sipline
