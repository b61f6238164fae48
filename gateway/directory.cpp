#include "gateway/directory.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "gateway/globals.h"
#include "media/bridge_state.h"

namespace sipline {

const char *DestinationUri = nullptr;
const char *DestinationProxy = nullptr;

namespace {

// Every address is this host's loopback, so that the project's own tests and demo can answer.
constexpr const char *kEntryAddress = "127.0.0.1";
constexpr const char *kFirstUri = "sip:100@127.0.0.1:5062";
constexpr const char *kSecondUri = "sip:102@127.0.0.1:5062";
constexpr const char *kFirstBody =
    "v=0\r\no=sipline 100 100 IN IP4 127.0.0.1\r\ns=Directory test\r\nc=IN IP4 127.0.0.1\r\n"
    "t=0 0\r\nm=audio 8188 RTP/AVP 0 3 8 101\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:3 GSM/8000\r\n"
    "a=rtpmap:8 PCMA/8000\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n";
// The first body but for its first line, which ends with a line feed alone.
constexpr const char *kSecondBody =
    "v=0\no=sipline 100 100 IN IP4 127.0.0.1\r\ns=Directory test\r\nc=IN IP4 127.0.0.1\r\n"
    "t=0 0\r\nm=audio 8188 RTP/AVP 0 3 8 101\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:3 GSM/8000\r\n"
    "a=rtpmap:8 PCMA/8000\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n";

// A body is the offer of the entry's INVITE: it names the port the entry receives on, and the
// gateway's formats as its own offer lists them.
constexpr bool offers(std::string_view body, std::string_view media_line) {
    return body.find(media_line) != std::string_view::npos;
}
static_assert(offers(kFirstBody, "m=audio 8188 RTP/AVP 0 3 8 101\r\n") &&
                  offers(kSecondBody, "m=audio 8188 RTP/AVP 0 3 8 101\r\n"),
              "the test bodies must name the entries' local port 8188 and the gateway's formats");

struct entry_t {
    const char *number;
    uint16_t dest_port;
    uint16_t local_port;
    const char *uri;   // null: the entry is not called (DestinationUri stays null)
    const char *body;  // null: the entry leaves SdpOffer as it was
};

constexpr entry_t kEntries[] = {
    {"100", 8188, 8188, kFirstUri, kFirstBody},
    {"101", 8190, 8190, nullptr, nullptr},
    {"102", 8188, 8188, kSecondUri, kSecondBody},
};

// The offer built at start-up, kept while an entry's body stands in for it.
const char *built_offer = nullptr;

// Written at start-up before the main thread's first call; read by the main thread only.
std::vector<settings_directory_entry_t> configured;

// [outbound] uri and the proxy on the way to it; "" for none. Written at start-up, read by the
// main thread; the URI of the call in hand is built in through_pbx.
std::string pbx_template;
std::string pbx_proxy;
std::string through_pbx;

// RFC 3261 section 25.1: "#" is not allowed in a user part as it stands.
std::string uri_user(const char *dial) {
    std::string user;
    for (const char *c = dial; *c != '\0'; ++c) {
        user += *c == '#' ? std::string("%23") : std::string(1, *c);
    }
    return user;
}

int lookup_pbx(const char *dial) {
    if (pbx_template.empty() || dial[0] == '\0') {
        return -1;
    }
    through_pbx = pbx_template;
    const std::string key = "{number}";
    for (size_t at = through_pbx.find(key); at != std::string::npos;
         at = through_pbx.find(key, at)) {
        const std::string user = uri_user(dial);
        through_pbx.replace(at, key.size(), user);
        at += user.size();
    }
    DestinationUri = through_pbx.c_str();
    DestinationProxy = pbx_proxy.empty() ? nullptr : pbx_proxy.c_str();
    return 0;
}

int lookup_configured(const char *dial) {
    for (const settings_directory_entry_t &entry : configured) {
        if (entry.number != dial) {
            continue;
        }
        if (entry.uri.empty()) {
            RTPDestPort = static_cast<uint16_t>(entry.media_port);
            LocalPort = static_cast<uint16_t>(entry.media_port);
            std::snprintf(RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", kEntryAddress);
        } else {
            DestinationUri = entry.uri.c_str();
        }
        return 0;
    }
    return -1;
}

}  // namespace

void DirectoryConfigure(const std::vector<settings_directory_entry_t> &entries) {
    configured = entries;
}

void DirectoryRouteOthers(const std::string &uri, const std::string &proxy) {
    pbx_template = uri;
    pbx_proxy = proxy;
}

int LookupNumber(const char *dial) {
    if (dial != nullptr && !configured.empty()) {
        return lookup_configured(dial) == 0 ? 0 : lookup_pbx(dial);
    }
    // The built-in entries are the project's own test numbers: a PBX takes every number.
    if (dial != nullptr && !pbx_template.empty()) {
        return lookup_pbx(dial);
    }
    if (dial == nullptr || std::strlen(dial) != 3) {
        return -1;
    }
    for (const entry_t &entry : kEntries) {
        if (strncasecmp(dial, entry.number, 3) != 0) {
            continue;
        }
        RTPDestPort = entry.dest_port;
        LocalPort = entry.local_port;
        std::snprintf(RTPDestAddress, RTP_DEST_ADDRESS_SIZE, "%s", kEntryAddress);
        // A SIP entry's answer replaces these; an entry without URI keeps them.
        CallMedia = MediaDescriptionBuiltIn();
        if (entry.uri != nullptr) {
            DestinationUri = entry.uri;
        }
        if (entry.body != nullptr) {
            if (built_offer == nullptr) {
                built_offer = SdpOffer;
            }
            SdpOffer = entry.body;
        }
        return 0;
    }
    return -1;
}

bool DirectoryEntryOffers() {
    return built_offer != nullptr;
}

void ForgetDirectoryEntry() {
    // An entry without URI never calls the URI of an entry found before it.
    DestinationUri = nullptr;
    DestinationProxy = nullptr;
    if (built_offer != nullptr) {
        SdpOffer = built_offer;
        built_offer = nullptr;
    }
}

}  // namespace sipline
