#include "sip/uas/route_set.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "sip/message/fields.h"
#include "sip/message/parser.h"
#include "sip/message/uri.h"
#include "sip/uas/request.h"
#include "support/error.h"
#include "support/resolve.h"

namespace sipline {

namespace {

// A name-addr's URI without its angle brackets; a bare URI is returned as it is.
std::string_view inside_brackets(std::string_view entry) {
    size_t open = entry.find('<');
    if (open == std::string_view::npos) {
        return entry;
    }
    size_t close = entry.find('>', open);
    return entry.substr(open + 1,
                        (close == std::string_view::npos ? entry.size() : close) - open - 1);
}

bool is_loose_router(const uri_t &uri) {
    for (uri_nv_t *p = uri.parameters; p != nullptr && p->name != nullptr; p++) {
        if (strcasecmp(p->name, "lr") == 0) {
            return true;
        }
    }
    return false;
}

// RFC 3261 section 8.1.2: with a loose router first, the request goes to that router.
int aim_at(request_t *r, const std::string &route) {
    uri_t uri = URI_Parse(route.c_str());
    int result = 0;
    if (uri.host != nullptr && is_loose_router(uri)) {
        in_addr address{};
        if (resolve_host(uri.host, &address) == 0) {
            r->via.address.sin_family = AF_INET;
            r->via.address.sin_addr = address;
            r->via.address.sin_port =
                htons(static_cast<uint16_t>(uri.port > 0 ? uri.port : SIP_PORT));
        } else {
            Error("RouteSetHeaders", "the first route's host %s does not resolve", uri.host);
            result = -1;
        }
    }
    URI_Free(&uri);
    return result;
}

}  // namespace

int RouteSetHeaders(request_t *r, header_list_t *headers) {
    parser_header_t *record_route = RFC822_Find(r->message.headers, "Record-Route");
    std::vector<const char *> routes;
    for (parser_element_t *e = record_route != nullptr ? record_route->elements : nullptr;
         e != nullptr; e = e->next) {
        routes.push_back(e->element);
    }
    // The caller's route set is the 2xx's Record-Route in reverse order (RFC 3261 section
    // 12.1.2).
    if (r->outgoing != 0) {
        std::reverse(routes.begin(), routes.end());
    }
    for (const char *route : routes) {
        headers_add(headers, "Route", route);
    }
    return routes.empty() ? 0 : aim_at(r, std::string(inside_brackets(routes.front())));
}

char *RouteSetRequestUri(const request_t *r) {
    // The URI inside "<>" with its own parameters (transport=udp...); those after ">" belong to
    // the Contact (expires, q) and stay out of the Request-URI.
    parser_header_t *contact = RFC822_FindEither(r->message.headers, "Contact", "m");
    if (contact != nullptr && contact->elements != nullptr) {
        std::string target(inside_brackets(contact->elements->element));
        if (!target.empty() && target != "*") {
            return strdup(target.c_str());
        }
    }
    if (r->target != nullptr) {
        return strdup(r->target);
    }
    std::string uri = std::string("sip:") + (r->to.uri.user != nullptr ? r->to.uri.user : "") +
                      "@" + (r->to.uri.host != nullptr ? r->to.uri.host : "");
    return strdup(uri.c_str());
}

}  // namespace sipline
