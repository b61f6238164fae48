#include "sip/uas/register_answer.h"

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>

#include "sip/message/uri.h"

namespace sipline {

namespace {

// The URI of a Contact element: inside "<>" when it has them (a display name may stand before),
// else the whole value.
std::string contact_uri(const char *value) {
    std::string_view text(value != nullptr ? value : "");
    const size_t open = text.find('<');
    if (open != std::string_view::npos) {
        const size_t close = text.find('>', open);
        return std::string(text.substr(
            open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1));
    }
    return std::string(text);
}

bool same_text(const char *a, const char *b) {
    return std::string_view(a != nullptr ? a : "") == std::string_view(b != nullptr ? b : "");
}

// RFC 3261 section 19.1.4 compares more, but a registrar answers with the Contact it was sent,
// perhaps with parameters added: user, host and port decide.
bool same_binding(const uri_t &a, const uri_t &b) {
    const auto port = [](const uri_t &u) { return u.port > 0 ? u.port : 5060; };
    return same_text(a.user, b.user) && a.host != nullptr && b.host != nullptr &&
           std::string_view(a.host) == std::string_view(b.host) && port(a) == port(b);
}

}  // namespace

int32_t RegisterRetryDelay(int32_t failures) {
    int64_t delay = REGISTER_RETRY_FIRST;
    for (int32_t i = 1; i < failures && delay < REGISTER_RETRY_MAX; ++i) {
        delay *= 2;
    }
    return static_cast<int32_t>(std::min<int64_t>(delay, REGISTER_RETRY_MAX));
}

int32_t RegisterRefreshDelay(int32_t granted) {
    return std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(granted) * 9 / 10));
}

int32_t RegisterDeltaSeconds(const char *text) {
    std::string_view digits(text != nullptr ? text : "");
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) {
        digits.remove_prefix(1);
    }
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) {
        digits.remove_suffix(1);
    }
    if (digits.empty()) {
        return -1;
    }
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
    }
    return static_cast<int32_t>(value);
}

int32_t RegisterGranted(const parser_t *response, const char *contact, int32_t requested,
                        char *how) {
    int32_t granted = -2;
    char kind = 'n';
    uri_t ours = URI_Parse(contact != nullptr ? contact : "");
    parser_header_t *contacts = RFC822_FindEither(response->headers, "Contact", "m");
    for (parser_element_t *e = contacts != nullptr ? contacts->elements : nullptr;
         e != nullptr && granted == -2; e = e->next) {
        uri_t theirs = URI_Parse(contact_uri(e->value).c_str());
        const char *expires = RFC822_ParameterValue(e->parameters, "expires");
        if (expires != nullptr && same_binding(ours, theirs)) {
            granted = RegisterDeltaSeconds(expires);
            kind = 'c';
        }
        URI_Free(&theirs);
    }
    URI_Free(&ours);
    if (granted == -2) {
        parser_header_t *header = RFC822_Find(response->headers, "Expires");
        if (header != nullptr && header->elements != nullptr) {
            granted = RegisterDeltaSeconds(header->elements->value);
            kind = 'e';
        }
    }
    if (granted == -2) {
        granted = requested;
        kind = 'n';
    }
    if (how != nullptr) {
        *how = kind;
    }
    return granted < 0 ? -1 : std::min(granted, requested);
}

int32_t RegisterMinExpires(const parser_t *response, int32_t requested) {
    parser_header_t *header = RFC822_Find(response->headers, "Min-Expires");
    if (header == nullptr || header->elements == nullptr) {
        return -1;
    }
    const int32_t least = RegisterDeltaSeconds(header->elements->value);
    return least > requested && least <= REGISTER_EXPIRES_MAX ? least : -1;
}

}  // namespace sipline
