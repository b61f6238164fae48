#include <arpa/inet.h>

#include <string_view>

#include "sip/message/fields.h"
#include "sip/message/text.h"
#include "support/error.h"
#include "support/resolve.h"

namespace sipline {

namespace {

sip_via_t defaults() {
    sip_via_t via{};
    via.transport = VIA_UDP;
    via.address.sin_family = AF_UNSPEC;
    via.address.sin_port = htons(SIP_PORT);
    via.address.sin_addr.s_addr = 0;
    via.host = nullptr;
    via.ours = 0;
    via.branch = -1;
    return via;
}

bool is_host_char(char c) {
    return is_alnum(c) || c == '.' || c == '-';
}

}  // namespace

sip_via_t SIP_Via(const parser_t *message, int n, int resolve, const char *own_host) {
    sip_via_t via = defaults();
    if (message == nullptr) {
        return via;
    }
    parser_header_t *header = RFC822_FindNth(message->headers, "Via", n);
    if (header == nullptr) {
        header = RFC822_FindNth(message->headers, "V", n);
    }
    const char *value = RFC822_ElementValue(header, 0, nullptr);
    if (value == nullptr) {
        return via;
    }
    std::string_view text(value);
    size_t pos = 0;
    auto skip_space = [&] {
        while (pos < text.size() && is_space(text[pos])) {
            ++pos;
        }
    };
    auto rest = [&] { return value + pos; };
    auto next_is = [&](std::string_view word) {
        return text_equal_nocase(text.substr(pos, word.size()), word);
    };

    skip_space();
    if (!next_is("SIP")) {
        Error("SIP_Via", "Invalid protocol %s", rest());
        return defaults();
    }
    pos += 3;
    skip_space();
    if (pos >= text.size() || text[pos] != '/') {
        Error("SIP_Via", "Invalid syntax %s", rest());
        return defaults();
    }
    ++pos;
    skip_space();
    if (text.substr(pos, 3) != "2.0") {
        Error("SIP_Via", "Invalid version %s", rest());
        return defaults();
    }
    pos += 3;
    skip_space();
    if (pos < text.size() && text[pos] == '/') {
        ++pos;
        skip_space();
        if (next_is("UDP")) {
            via.transport = VIA_UDP;
        } else if (next_is("TCP")) {
            via.transport = VIA_TCP;
        } else {
            Error("SIP_Via", "Invalid transport %s", rest());
            return defaults();
        }
        pos += 3;
    }
    skip_space();
    size_t host_start = pos;
    while (pos < text.size() && is_host_char(text[pos])) {
        ++pos;
    }
    std::string_view host = text.substr(host_start, pos - host_start);
    if (host.size() > VIA_HOST_MAX) {
        host = host.substr(0, VIA_HOST_MAX);
    }
    via.address.sin_family = AF_INET;
    via.host = text_copy(host);
    if (resolve != 0) {
        if (host.empty()) {
            Error("SIP_Via", "Invalid host %s", value + host_start);
            return via;
        }
        in_addr address{};
        if (resolve_host(via.host, &address) == 0) {
            via.address.sin_addr = address;
        } else {
            via.address.sin_addr.s_addr = INADDR_NONE;
        }
    }
    skip_space();
    if (pos < text.size() && text[pos] == ':') {
        ++pos;
        skip_space();
        int64_t port = 0;
        while (pos < text.size() && is_digit(text[pos])) {
            port = std::min<int64_t>(port * 10 + (text[pos] - '0'), 65535);
            ++pos;
        }
        via.address.sin_port = htons(static_cast<uint16_t>(port));
    }
    if (const char *branch = RFC822_ElementValue(header, 0, "branch"); branch != nullptr) {
        via.branch = static_cast<int32_t>(text_decimal(branch));
    }
    if (own_host != nullptr && text_equal_nocase(via.host, own_host)) {
        via.ours = 1;
    }
    return via;
}

void SIP_ViaFree(sip_via_t *via) {
    if (via != nullptr) {
        std::free(via->host);
        via->host = nullptr;
    }
}

}  // namespace sipline
