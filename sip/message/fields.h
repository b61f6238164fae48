// Typed readers of the SIP header fields that the user-agent server needs (RFC 3261 section 20).
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "sip/message/parser.h"

namespace sipline {

// The SIP port: where the gateway listens, and the port of a Via that names none (RFC 3261
// section 18.1.1).
inline constexpr int SIP_PORT = 5060;

inline constexpr int32_t VIA_TCP = 1;
inline constexpr int32_t VIA_UDP = 2;
inline constexpr int VIA_HOST_MAX = 255;
inline constexpr int CSEQ_METHOD_MAX = 20;

struct sip_via_t {
    int32_t transport;    // VIA_UDP (also when none is named) or VIA_TCP
    sockaddr_in address;  // family set once a host was read; port in network order
    char *host;           // owned, at most VIA_HOST_MAX characters, null when none
    int32_t ours;         // 1 when host equals the given own-host name
    int32_t branch;       // decimal value of the "branch" parameter, -1 when there is none
};

struct sip_cseq_t {
    uint32_t number;
    char method[CSEQ_METHOD_MAX + 1];  // empty when absent
};

struct sip_address_t {
    char *display;  // owned, quotes and escapes removed; null when none
    uri_t uri;
};

inline constexpr int32_t CONTACT_NONE = 0;
inline constexpr int32_t CONTACT_PROXY = 1;
inline constexpr int32_t CONTACT_REDIRECT = 2;

// The array that SIP_Contact returns ends with an entry whose address is null.
struct sip_contact_t {
    int32_t expires;  // absolute time, see SIP_Time; 0 without "expires"
    int32_t action;
    float q;        // 0 when absent
    char *address;  // owned
};

// The message's own text, or null.
char *SIP_CallID(const parser_t *message);
sip_cseq_t SIP_CSeq(const parser_t *message);
// n counts Via headers from 1; resolve non-zero resolves the host; own_host may be null.
sip_via_t SIP_Via(const parser_t *message, int n, int resolve, const char *own_host);
void SIP_ViaFree(sip_via_t *via);
sip_address_t SIP_From(const parser_t *message);
sip_address_t SIP_To(const parser_t *message);
sip_address_t SIP_Address(const char *text);
void SIP_AddressFree(sip_address_t *address);
// A copy of the address's "tag" parameter (release with free()), or null when it has none.
char *SIP_AddressTag(const char *text);
// The tag of the message's To header, as SIP_AddressTag reads it.
char *SIP_ToTag(const parser_t *message);
// A new array, or null without a Contact header.
sip_contact_t *SIP_Contact(const parser_t *message);
void SIP_ContactFree(sip_contact_t *contacts);
int32_t SIP_Expires(const parser_t *message);
// A date, or a number of seconds from now; seconds below 1 give 1; null gives 0.
int32_t SIP_Time(const char *text);

}  // namespace sipline
