// The one door between the SIP side and the gateway application that owns the call: the call
// variables the SIP side reads and writes, and the posting of board events that wakes the call
// state machine. The gateway registers its variables once at start-up; tests register their own.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

#include "sip/sdp/media_description.h"

namespace sipline {

struct request_t;

// Values of CallState (10 is not used). The SIP side sets ST_SIPINV and ST_CLEANUP and tests
// for ST_WTRING; the gateway's state machine owns the rest.
inline constexpr int32_t ST_WTRING = 1;       // idle; waiting for a ring on the line
inline constexpr int32_t ST_RXOFFHK = 2;      // ring seen; waiting for the line to be off-hook
inline constexpr int32_t ST_RXGETDTMFS = 3;   // prompt played; collecting the digits dialled
inline constexpr int32_t ST_TXOFFHK = 4;      // SIP call accepted; waiting for off-hook
inline constexpr int32_t ST_TXDIAL = 5;       // dialling the line for a SIP call
inline constexpr int32_t ST_CONNECTING = 6;   // answering the SIP call, starting the media
inline constexpr int32_t ST_CLEANUP = 7;      // call connected; its end is handled here
inline constexpr int32_t ST_IODONE = 8;       // remote end; waiting for the stopped I/O
inline constexpr int32_t ST_SIPINV = 9;       // an INVITE was accepted; go off-hook
inline constexpr int32_t ST_SIPCLEANUP = 11;  // media set-up for a SIP call failed
// A call is over and the next cycle's channels are not ready: the idle record without Call-ID
// makes every INVITE meanwhile foreign, so it is refused 503 instead of taken and then lost.
inline constexpr int32_t ST_CYCLEEND = 12;
// A call from the line to a SIP callee: the INVITE is out and nothing has come back; a
// provisional answer came (ringback plays); the 2xx came and was acknowledged (the media are to
// be set up); a final refusal came or timer B fired (a busy tone plays); the line's party hung up
// before the answer and the INVITE is being cancelled.
inline constexpr int32_t ST_LINECALLING = 13;
inline constexpr int32_t ST_LINERINGING = 14;
inline constexpr int32_t ST_LINEANSWERED = 15;
inline constexpr int32_t ST_LINEREFUSED = 16;
inline constexpr int32_t ST_LINEHANGUP = 17;

inline constexpr int DIAL_STRING_SIZE = 32;
inline constexpr int RTP_DEST_ADDRESS_SIZE = 256;
static_assert(RTP_DEST_ADDRESS_SIZE == MEDIA_ADDRESS_SIZE);
// Room for the answer to a caller's offer: a refused stream's line echoes its formats.
inline constexpr int SDP_BODY_SIZE = 8192;

// Every pointer refers to storage that the gateway owns for the life of the process.
// Ordering: the SIP side writes DialString, RTPDestAddress, RTPDestPort and RTPDestTTL on a
// request thread and then posts an event; the gateway reads them on its main thread after the
// event arrives, so the event queue orders them. CallState, CurrentRequest and HangupSignalled
// are written by several threads and are atomics.
struct sip_gateway_t {
    std::atomic<int32_t> *CallState;
    // Replace it only through CurrentRequestExchange, so that no request thread is reading a
    // record while it is released.
    std::atomic<request_t *> *CurrentRequest;
    std::atomic<uint8_t> *HangupSignalled;
    char *DialString;      // DIAL_STRING_SIZE bytes
    char *RTPDestAddress;  // RTP_DEST_ADDRESS_SIZE bytes
    std::atomic<uint16_t> *RTPDestPort;
    std::atomic<uint8_t> *RTPDestTTL;
    // What offer and answer agreed for the call, and the answer's text for the 200 (SDP_BODY_SIZE
    // bytes; empty when the INVITE carried no offer and the 200 is to carry the gateway's own).
    // Written with DialString and ordered the same way.
    media_description_t *CallMedia;
    char *SdpAnswer;
    // The gateway's codecs in its order of preference (none: its built-in choice), and the port
    // its media receive on.
    const int8_t *Codecs;
    int32_t CodecCount;
    uint16_t MediaPort;
    const char *HostName;
    const char *HostShortName;
    const char *HostAddress;
    // The address a gateway behind its own NAT announces (Contact, Via, SDP) and is called at;
    // null or empty: HostAddress.
    const char *ExternalAddress;
    // Posts a board event of the given type, with no data, to the channel of the call.
    void (*PostEvent)(void *context, int32_t type);
    // A DTMF key the caller sent inside the call's dialog (SIP INFO), to be played on the line
    // for duration_ms; from a request thread.
    void (*DigitReceived)(void *context, char key, int32_t duration_ms);
    // A new offer in the call was answered (re-INVITE, UPDATE): the media follow `media`; from a
    // request thread.
    void (*MediaChanged)(void *context, const media_description_t *media);
    // A refresh granted the call a session timer anew (RFC 4028): `interval` seconds from now,
    // refreshed by the gateway when gateway_refreshes; interval 0 stops it. From a request thread.
    void (*SessionRefreshed)(void *context, int32_t interval, int32_t gateway_refreshes);
    void *context;
    // The gateway's security decision on the INVITE of a new call, before InviteHandle sees it,
    // and on a REGISTER, before it is answered 501: 0 lets it through; otherwise it has been
    // answered (or dropped) and the caller only frees the record. Called under CallLock. Every
    // request goes through when left null.
    int (*AdmitRequest)(void *admission, request_t *r);
    // Non-zero for a source whose datagrams are dropped unread, before any record or thread is
    // made for them (a banned address). None when left null.
    int (*IgnoreSource)(void *admission, const sockaddr_in *source);
    void *admission;
    // The port ReceiveUDP listens on, which the gateway's Via and Contact headers name;
    // SIP_PORT when left 0.
    int32_t SipPort;
    // The credentials that answer a challenge to the gateway's own INVITE ("" or null: none).
    const char *OutboundUser;
    const char *OutboundPassword;
    // Registration to a PBX (RFC 3261 section 10). An INVITE that the registrar routes here is
    // taken whatever its To host: one whose Request-URI is the registered Contact (user part
    // ContactUser, "" or null while the gateway registers nowhere, host the gateway's), or one
    // that FromRegistrar says came from the registrar or its outbound proxy (none when left
    // null; from a request thread). Its number is the Request-URI's user part when
    // NumberFromRequestUri is 1, else To's.
    const char *ContactUser;
    int (*FromRegistrar)(void *context, const sockaddr_in *source);
    int32_t NumberFromRequestUri;
    // 1 when the gateway runs with a configuration: an OPTIONS out of dialog, a PBX's probe, is
    // answered 200 with what the gateway supports; else 501.
    int32_t AnswerOptions;
    // For the gateway's counters: a request arrived (its method, "" when it has none) and an
    // answer went out (the method it answers, its status). From the request threads.
    void (*RequestArrived)(void *context, const char *method);
    void (*AnswerSent)(void *context, const char *method, int32_t status);
};

// Where a registrar saw the gateway's requests come from when a NAT between them changed the
// address (RFC 3581's received and rport): the registration learns it, the gateway's messages
// then announce it. Any thread. Learning is bounded: after SIP_LEARNED_MOST changes the last
// stays. The text stays valid for the life of the process.
inline constexpr int32_t SIP_LEARNED_MOST = 32;
void SipLearnPublicAddress(const sockaddr_in *seen);
const char *SipLearnedAddress();  // null when nothing was learned
int32_t SipLearnedPort();         // 0 when not known

// The address the gateway's messages announce: ExternalAddress when set, else what the
// registrar saw, else HostAddress.
inline const char *SipAdvertisedAddress(const sip_gateway_t *g) {
    if (g->ExternalAddress != nullptr && g->ExternalAddress[0] != '\0') {
        return g->ExternalAddress;
    }
    if (const char *learned = SipLearnedAddress(); learned != nullptr) {
        return learned;
    }
    return g->HostAddress != nullptr ? g->HostAddress : "";
}
// The SIP port its Contacts announce: the NAT's when one was learned, else SipPort.
inline int32_t SipAdvertisedPort(const sip_gateway_t *g) {
    const bool external = g->ExternalAddress != nullptr && g->ExternalAddress[0] != '\0';
    const int32_t learned = external ? 0 : SipLearnedPort();
    return learned > 0 ? learned : g->SipPort;
}

// Called once before ReceiveUDP starts; the record is copied, with inert defaults for the
// hooks left null.
void SipGatewayRegister(const sip_gateway_t *gateway);
// The registered gateway (all call fields null before registration).
const sip_gateway_t *SipGateway();

// Stores a new call record and returns the previous one, which the caller then releases.
// Request threads read CurrentRequest under the same lock.
request_t *CurrentRequestExchange(request_t *record);

}  // namespace sipline
