// The gateway's own out-of-dialog requests to a registrar (RFC 3261 section 10.2): the REGISTER
// that binds its Contact to an address of record, and the OPTIONS that keep the way to it open.
// Each transaction gets a record on the open-request list, so that ResponseProcessThread queues
// its responses where RequestResponsesTake finds them.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "sip/uas/request.h"

namespace sipline {

// What one registration binds: the address of record sip:user@ the registrar's host, the
// gateway's Contact sip:user@ its own address and port, and where the requests go.
struct sip_register_t {
    const char *registrar;  // the Request-URI, "sip:pbx.example.org[:port]"
    const char *user;
    const char *proxy;  // null or "": straight to the registrar
    // null, or a Contact URI the REGISTER also removes (expires=0): the gateway's address from
    // before a NAT's was learned.
    const char *dropped_contact = nullptr;
};

// The address the requests of a registration are sent to: the proxy's when one is given, else
// the registrar's (port 5060 when the URI names none). 0, or -1 when the host does not resolve.
int RegisterAim(const sip_register_t *reg, sockaddr_in *to);

// A record on the open-request list for one client transaction that the caller sends itself:
// its Call-ID, CSeq and branch (a new one, in *branch, owned by the record). Release it with
// RequestFree, which takes it off the list.
request_t *RequestClientCreate(const char *call_id, uint32_t cseq, const char *method, int socket,
                               const char **branch);

// The REGISTER (section 10.2) asking `expires` seconds for the Contact, with an Authorization
// or Proxy-Authorization line when header is not null. Release with free().
char *RegisterText(const sip_register_t *reg, const char *call_id, uint32_t cseq,
                   const char *branch, int32_t expires, const char *header,
                   const char *credentials);
// An OPTIONS to the registrar (RFC 3261 section 11), the keep-alive. Release with free().
char *RegisterOptionsText(const sip_register_t *reg, const char *call_id, uint32_t cseq,
                          const char *branch);

// The gateway's Contact URI, as its REGISTER names it. Release with free().
char *RegisterContact(const sip_register_t *reg);

}  // namespace sipline
