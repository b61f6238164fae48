#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/uas/invite_client.h"
#include "sip/uas/request.h"

namespace sipline {
namespace {

// RFC 3261 section 25.1: a quoted-string escapes '"' and '\'; everything else the caller-ID
// reader lets through (printable ASCII) stands as it is. Anything else is left out.
std::string quoted(const char *display) {
    std::string out = "\"";
    for (const char *c = display; *c != '\0'; ++c) {
        if (*c < 0x20 || *c > 0x7e) {
            continue;
        }
        if (*c == '"' || *c == '\\') {
            out += '\\';
        }
        out += *c;
    }
    return out + "\"";
}

bool sip_user(const char *number) {
    if (number == nullptr || *number == '\0' || std::strlen(number) > 32) {
        return false;
    }
    for (const char *c = number; *c != '\0'; ++c) {
        if ((*c < '0' || *c > '9') && *c != '+' && *c != '*' && *c != '#') {
            return false;
        }
    }
    return true;
}

}  // namespace

int RequestInviteSetCaller(request_t *r, const char *display, const char *number, bool anonymous) {
    if (r == nullptr || r->to_tag == nullptr || (!anonymous && !sip_user(number))) {
        return -1;
    }
    std::string uri;
    std::string name;
    if (anonymous) {
        uri = "sip:anonymous@anonymous.invalid";
        name = "\"Anonymous\" ";
    } else {
        // The host stays the gateway's own, as RequestInviteCreate put it.
        const std::string host = r->from.uri.host != nullptr ? r->from.uri.host : "";
        uri = "sip:" + std::string(number) + "@" + host;
        if (display != nullptr && *display != '\0') {
            name = quoted(display) + " ";
        }
    }
    uri_t parsed = URI_Parse(uri.c_str());
    if (parsed.host == nullptr) {
        URI_Free(&parsed);
        return -1;
    }
    URI_Free(&r->from.uri);
    r->from.uri = parsed;
    std::string value = name + "<" + uri + ">;tag=" + r->to_tag;
    headers_set(&r->headers, "From", value.c_str());
    return 0;
}

}  // namespace sipline
