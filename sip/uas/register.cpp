#include "sip/uas/register.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sip/message/uri.h"
#include "sip/uas/dialog.h"
#include "sip/uas/gateway.h"
#include "support/resolve.h"

namespace sipline {

namespace {

constexpr int kMaxForwards = 70;

std::string text_of(const char *text) {
    return text != nullptr ? text : "";
}

// The registrar's host (and port) as the address of record names it (section 10.2: To and From
// carry the address of record, the Request-URI the registrar's domain).
std::string registrar_host(const sip_register_t *reg) {
    uri_t uri = URI_Parse(text_of(reg->registrar).c_str());
    std::string host = text_of(uri.host);
    URI_Free(&uri);
    return host;
}

std::string address_of_record(const sip_register_t *reg) {
    return "sip:" + text_of(reg->user) + "@" + registrar_host(reg);
}

// Through an outbound proxy the request names it in a Route (RFC 3261 section 8.1.2).
std::string route_line(const sip_register_t *reg) {
    return text_of(reg->proxy).empty() ? "" : "Route: <" + text_of(reg->proxy) + ";lr>\r\n";
}

// The lines every request of a registration starts with; `rport` asks the registrar to answer
// where the request came from and to say which address that was (RFC 3581), which is what
// a gateway behind NAT needs.
std::string common_lines(const sip_register_t *reg, const char *method, const char *call_id,
                         uint32_t cseq, const char *branch, const std::string &tag_source) {
    const sip_gateway_t *gateway = SipGateway();
    const std::string aor = address_of_record(reg);
    return std::string(method) + " " + text_of(reg->registrar) + " SIP/2.0\r\n" +
           "Via: SIP/2.0/UDP " + SipAdvertisedAddress(gateway) + ":" +
           std::to_string(SipAdvertisedPort(gateway)) + ";branch=" + branch + ";rport\r\n" +
           "Max-Forwards: " + std::to_string(kMaxForwards) + "\r\n" + "From: <" + aor +
           ">;tag=" + tag_source + "\r\n" + "To: <" + aor + ">\r\n" + "Call-ID: " + call_id +
           "\r\n" + "CSeq: " + std::to_string(cseq) + " " + method + "\r\n" +
           "User-Agent: sipline\r\n" + route_line(reg);
}

// A From tag that stays the same for one Call-ID and differs between Call-IDs.
std::string tag_for(const char *call_id) {
    std::string id = text_of(call_id);
    return id.substr(0, id.find('@'));
}

}  // namespace

int RegisterAim(const sip_register_t *reg, sockaddr_in *to) {
    const std::string next =
        text_of(reg->proxy).empty() ? text_of(reg->registrar) : text_of(reg->proxy);
    uri_t uri = URI_Parse(next.c_str());
    in_addr address{};
    const bool found = uri.host != nullptr && resolve_host(uri.host, &address) == 0;
    if (found) {
        *to = sockaddr_in{};
        to->sin_family = AF_INET;
        to->sin_addr = address;
        to->sin_port = htons(static_cast<uint16_t>(uri.port > 0 ? uri.port : SIP_PORT));
    }
    URI_Free(&uri);
    return found ? 0 : -1;
}

request_t *RequestClientCreate(const char *call_id, uint32_t cseq, const char *method, int socket,
                               const char **branch) {
    request_t *r = RequestCreate(TRANSPORT_UDP, socket, nullptr);
    r->outgoing = 1;
    r->call_id = strdup(text_of(call_id).c_str());
    r->cseq.number = cseq;
    std::snprintf(r->cseq.method, sizeof r->cseq.method, "%s", method);
    r->branches = new sip_branch_t[1]{};
    r->branch_count = 1;
    r->branches[0].text = DialogNewBranch();
    cond_init(&r->branches[0].cond);
    *branch = r->branches[0].text;
    RequestRegister(r);
    return r;
}

char *RegisterContact(const sip_register_t *reg) {
    const sip_gateway_t *gateway = SipGateway();
    std::string contact = "sip:" + text_of(reg->user) + "@" + SipAdvertisedAddress(gateway) + ":" +
                          std::to_string(SipAdvertisedPort(gateway));
    return strdup(contact.c_str());
}

char *RegisterText(const sip_register_t *reg, const char *call_id, uint32_t cseq,
                   const char *branch, int32_t expires, const char *header,
                   const char *credentials) {
    char *contact = RegisterContact(reg);
    std::string text = common_lines(reg, "REGISTER", call_id, cseq, branch, tag_for(call_id)) +
                       "Contact: <" + contact + ">;expires=" + std::to_string(expires) + "\r\n";
    if (reg->dropped_contact != nullptr && *reg->dropped_contact != '\0' &&
        std::strcmp(reg->dropped_contact, contact) != 0) {
        text += "Contact: <" + std::string(reg->dropped_contact) + ">;expires=0\r\n";
    }
    text += "Expires: " + std::to_string(expires) + "\r\n";
    std::free(contact);
    if (header != nullptr && credentials != nullptr) {
        text += std::string(header) + ": " + credentials + "\r\n";
    }
    text += "Content-Length: 0\r\n\r\n";
    return strdup(text.c_str());
}

char *RegisterOptionsText(const sip_register_t *reg, const char *call_id, uint32_t cseq,
                          const char *branch) {
    std::string text = common_lines(reg, "OPTIONS", call_id, cseq, branch, tag_for(call_id)) +
                       "Accept: application/sdp\r\nContent-Length: 0\r\n\r\n";
    return strdup(text.c_str());
}

}  // namespace sipline
